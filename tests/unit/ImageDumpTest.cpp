// The image description dumps, formatter by formatter: TW_FIX32 values with
// three rounded decimals, the value lists, the nested blocks, and the
// long-standing quirks of the log (the TW_IMAGEMEMXFER brace at column 0,
// the unclosed TW_JPEGCOMPRESSION labels, eight BitsPerSample values, only
// the first response element and the first CIE sample).
//
// Structures are filled through their declarations only, so the same tests
// run under either TWAIN layout.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "analyzer/ParaAnalyze.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string LineStarting(const std::string& text, const std::string& prefix) {
    std::string found;
    int hits = 0;
    for (const std::string& line : SplitLines(text))
        if (line.compare(0, prefix.size(), prefix) == 0) {
            found = line;
            ++hits;
        }
    EXPECT_LE(hits, 1) << "several lines start with \"" << prefix << "\"";
    return found;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

template <class H>
H WideHandle(uint64_t v) {
    return reinterpret_cast<H>(static_cast<uintptr_t>(v));
}

struct ImageDump : ::testing::Test {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1] = {};

    std::string Dump(const std::function<void(CParaAnalyze&)>& formatter) {
        memset(buf, 0, sizeof buf);
        pa.SetOutput(buf, kLogTextSize);
        formatter(pa);
        EXPECT_FALSE(pa.OutputCut());
        return buf;
    }
    // The four lines of a TW_FRAME whose members are all `f`.
    std::string FrameLeft(TW_FIX32 f) {
        TW_FRAME fr{};
        fr.Left = f;
        return LineStarting(Dump([&](CParaAnalyze& a) { a.TwFrameAnalyze(&fr); }), "      Left");
    }
};

// --- TW_FIX32 ------------------------------------------------------------------------

TEST_F(ImageDump, Fix32ValuesPrintWholePlusFractionWithThreeRoundedDecimals) {
    const struct {
        TW_INT16 whole;
        TW_UINT16 frac;
        const char* text;
    } cases[] = {
        {1, 32768, "1.500"},        {-1, 32768, "-0.500"},       {300, 0, "300.000"},
        {0, 0, "0.000"},            {0, 16384, "0.250"},          {-32768, 0, "-32768.000"},
        {32767, 0, "32767.000"},    {32767, 65535, "32768.000"},  // 32767.99998 rounds up
        {0, 32, "0.000"},           {0, 33, "0.001"},             // 0.000488 down, 0.000504 up
        {-1, 65504, "-0.000"},      {-1, 65503, "-0.001"},        // the same below zero
        {0, 65535, "1.000"},        {2, 6554, "2.100"},           {-3, 0, "-3.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameLeft(Fix(c.whole, c.frac)), Printf("      Left   = [%s]", c.text))
            << c.whole << " + " << c.frac << "/65536";
}

// --- TW_IMAGEINFO --------------------------------------------------------------------

TW_IMAGEINFO ColourImage() {
    TW_IMAGEINFO info{};
    info.XResolution = Fix(300);
    info.YResolution = Fix(600, 32768);
    info.ImageWidth = 2550;
    info.ImageLength = 3300;
    info.SamplesPerPixel = 3;
    info.BitsPerSample[0] = 8;
    info.BitsPerSample[1] = 8;
    info.BitsPerSample[2] = 8;
    info.BitsPerPixel = 24;
    info.Planar = 0;
    info.PixelType = TWPT_RGB;
    info.Compression = TWCP_NONE;
    return info;
}

TEST_F(ImageDump, ImageInfoListsEveryMemberAndAllEightBitsPerSample) {
    const TW_IMAGEINFO info = ColourImage();
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwImageInfoAnalyze(&info); }), Lines({
                  "  TW_IMAGEINFO = {",
                  "    XResolution      = [300.000]",
                  "    YResolution      = [600.500]",
                  "    ImageWidth       = [2550]",
                  "    ImageLength      = [3300]",
                  "    SamplesPerPixel  = [3]",
                  "    BitsPerSamples[] = {8,8,8,0,0,0,0,0}",
                  "    BitsPerPixel     = [24]",
                  "    Planar           = [false]",
                  "    PixelType        = [TWPT_RGB]",
                  "    Compression      = [TWCP_NONE]",
                  "  }",
              }));
}

TEST_F(ImageDump, ImageInfoPrintsEightBitsPerSampleWhateverSamplesPerPixelSays) {
    TW_IMAGEINFO info = ColourImage();
    info.SamplesPerPixel = 1;
    info.BitsPerSample[0] = 8;
    info.BitsPerSample[1] = info.BitsPerSample[2] = 0;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwImageInfoAnalyze(&info); }), "    BitsPerSamples"),
              "    BitsPerSamples[] = {8,0,0,0,0,0,0,0}");
    for (int i = 0; i < 8; ++i) info.BitsPerSample[i] = static_cast<TW_INT16>(i - 4);
    info.BitsPerSample[7] = -32768;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwImageInfoAnalyze(&info); }), "    BitsPerSamples"),
              "    BitsPerSamples[] = {-4,-3,-2,-1,0,1,2,-32768}");
}

TEST_F(ImageDump, ImageInfoReadsItsSizesAndCountsSigned) {
    TW_IMAGEINFO info = ColourImage();
    info.ImageWidth = -1;
    info.ImageLength = static_cast<TW_INT32>(0x80000000u);
    info.SamplesPerPixel = -2;
    info.BitsPerPixel = static_cast<TW_INT16>(0xFFFF);
    info.Planar = 0x100;
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwImageInfoAnalyze(&info); });
    EXPECT_EQ(LineStarting(text, "    ImageWidth"), "    ImageWidth       = [-1]");
    EXPECT_EQ(LineStarting(text, "    ImageLength"), "    ImageLength      = [-2147483648]");
    EXPECT_EQ(LineStarting(text, "    SamplesPerPixel"), "    SamplesPerPixel  = [-2]");
    EXPECT_EQ(LineStarting(text, "    BitsPerPixel"), "    BitsPerPixel     = [-1]");
    EXPECT_EQ(LineStarting(text, "    Planar"), "    Planar           = [true]");
}

TEST_F(ImageDump, PixelTypeIsLookedUpSignedAndCompressionUnsigned) {
    TW_IMAGEINFO info = ColourImage();
    const struct {
        TW_INT16 pixelType;
        TW_UINT16 compression;
        const char *pixelName, *compressionName;
    } cases[] = {
        {2, 0, "TWPT_RGB", "TWCP_NONE"},
        {8, 12, "TWPT_CIEXYZ", "TWCP_BITFIELDS"},
        {-1, 13, "ERROR!(-1)", "ERROR!(13)"},
        {9, 0xFFFF, "ERROR!(9)", "ERROR!(65535)"},
        {-32768, 6, "ERROR!(-32768)", "TWCP_JPEG"},
    };
    for (const auto& c : cases) {
        info.PixelType = c.pixelType;
        info.Compression = c.compression;
        const std::string text = Dump([&](CParaAnalyze& a) { a.TwImageInfoAnalyze(&info); });
        EXPECT_EQ(LineStarting(text, "    PixelType"), Printf("    PixelType        = [%s]", c.pixelName));
        EXPECT_EQ(LineStarting(text, "    Compression"), Printf("    Compression      = [%s]", c.compressionName));
    }
}

// --- TW_IMAGELAYOUT and TW_FRAME ----------------------------------------------------

TEST_F(ImageDump, ImageLayoutNestsItsFrameAndPrintsUnsignedNumbers) {
    TW_IMAGELAYOUT l{};
    l.Frame.Left = Fix(0, 32768);
    l.Frame.Top = Fix(-1, 32768);
    l.Frame.Right = Fix(8, 32768);
    l.Frame.Bottom = Fix(11);
    l.DocumentNumber = 1;
    l.PageNumber = 0x80000000u;
    l.FrameNumber = 0xFFFFFFFFu;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwImageLayoutAnalyze(&l); }), Lines({
                  "  TW_IMAGELAYOUT = {",
                  "    Frame          =",
                  "    TW_FRAME = {",
                  "      Left   = [0.500]",
                  "      Top    = [-0.500]",
                  "      Right  = [8.500]",
                  "      Bottom = [11.000]",
                  "    }",
                  "    DocumentNumber = [1]",
                  "    PageNumber     = [2147483648]",
                  "    FrameNumber    = [4294967295]",
                  "  }",
              }));
}

// --- TW_IMAGEMEMXFER -----------------------------------------------------------------

TEST_F(ImageDump, AMemoryTransferClosesWithABraceAtTheStartOfTheLine) {
    TW_IMAGEMEMXFER x{};
    x.Compression = TWCP_NONE;
    x.BytesPerRow = 7650;
    x.Columns = 2550;
    x.Rows = 64;
    x.XOffset = 0;
    x.YOffset = 3264;
    x.BytesWritten = 0xFFFFFFFFu;
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = 489600;
    x.Memory.TheMem = WideHandle<TW_MEMREF>(0x7ffd0badf00dull);
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwImageMemXferAnalyze(&x); });
    EXPECT_EQ(text, Lines({
                        "  TW_IMAGEMEMXFER = {",
                        "    Compression  = [TWCP_NONE]",
                        "    BytesPerRow  = [7650]",
                        "    Columns      = [2550]",
                        "    Rows         = [64]",
                        "    XOffset      = [0]",
                        "    YOffset      = [3264]",
                        "    BytesWritten = [4294967295]",
                        "    Memory       =",
                        "    TW_MEMORY = {",
                        "      Flags  = [0x9]",
                        "      Length = [489600]",
                        "      TheMem = <0x0badf00d>",
                        "    }",
                        "}",
                    }));
    x.Compression = 14;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwImageMemXferAnalyze(&x); }), "    Compression"),
              "    Compression  = [ERROR!(14)]");
}

// --- TW_JPEGCOMPRESSION --------------------------------------------------------------

TEST_F(ImageDump, JpegCompressionRunsEachTableLabelIntoItsMemoryBlockAndNeverClosesIt) {
    TW_JPEGCOMPRESSION j{};
    j.ColorSpace = TWPT_RGB;
    j.SubSampling = 0x10110000u;
    j.NumComponents = 3;
    j.RestartFrequency = 65535;
    const TW_UINT16 quant[4] = {0, 1, 1, 0};
    const TW_UINT16 huff[4] = {0, 65535, 1, 2};
    for (int i = 0; i < 4; ++i) {
        j.QuantMap[i] = quant[i];
        j.HuffmanMap[i] = huff[i];
        j.QuantTable[i].Flags = TWMF_DSOWNS;
        j.QuantTable[i].Length = 64 + i;
        j.QuantTable[i].TheMem = WideHandle<TW_MEMREF>(0x1000 + i);
    }
    for (int i = 0; i < 2; ++i) {
        j.HuffmanDC[i].Flags = TWMF_HANDLE;
        j.HuffmanDC[i].Length = 28 + i;
        j.HuffmanDC[i].TheMem = WideHandle<TW_MEMREF>(0x2000 + i);
        j.HuffmanAC[i].Flags = TWMF_HANDLE | TWMF_APPOWNS;
        j.HuffmanAC[i].Length = 178 + i;
        j.HuffmanAC[i].TheMem = WideHandle<TW_MEMREF>(0x3000 + i);
    }
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwJpegCompressionAnalyze(&j); }), Lines({
                  "  TW_JPEGCOMPRESSION = {",
                  "    ColorSpace       = [TWPT_RGB]",
                  "    SubSampling      = [269549568]",
                  "    NumComponents    = [3]",
                  "    RestartFrequency = [65535]",
                  "    QuantMap[]       = {0,1,1,0}",
                  "    QuantTable[0]   = {    TW_MEMORY = {",
                  "      Flags  = [0x4]",
                  "      Length = [64]",
                  "      TheMem = <0x00001000>",
                  "    }",
                  "    QuantTable[1]   = {    TW_MEMORY = {",
                  "      Flags  = [0x4]",
                  "      Length = [65]",
                  "      TheMem = <0x00001001>",
                  "    }",
                  "    QuantTable[2]   = {    TW_MEMORY = {",
                  "      Flags  = [0x4]",
                  "      Length = [66]",
                  "      TheMem = <0x00001002>",
                  "    }",
                  "    QuantTable[3]   = {    TW_MEMORY = {",
                  "      Flags  = [0x4]",
                  "      Length = [67]",
                  "      TheMem = <0x00001003>",
                  "    }",
                  "    HuffmanMap[]     = {0,65535,1,2}",
                  "    HuffmanDC[0]    = {    TW_MEMORY = {",
                  "      Flags  = [0x10]",
                  "      Length = [28]",
                  "      TheMem = <0x00002000>",
                  "    }",
                  "    HuffmanDC[1]    = {    TW_MEMORY = {",
                  "      Flags  = [0x10]",
                  "      Length = [29]",
                  "      TheMem = <0x00002001>",
                  "    }",
                  "    HuffmanAC[0]    = {    TW_MEMORY = {",
                  "      Flags  = [0x11]",
                  "      Length = [178]",
                  "      TheMem = <0x00003000>",
                  "    }",
                  "    HuffmanAC[1]    = {    TW_MEMORY = {",
                  "      Flags  = [0x11]",
                  "      Length = [179]",
                  "      TheMem = <0x00003001>",
                  "    }",
                  "  }",
              }));
}

TEST_F(ImageDump, JpegColorSpaceIsAPixelTypeAndSubSamplingAnUnsignedNumber) {
    TW_JPEGCOMPRESSION j{};
    j.ColorSpace = 10;
    j.SubSampling = 0xFFFFFFFFu;
    std::string text = Dump([&](CParaAnalyze& a) { a.TwJpegCompressionAnalyze(&j); });
    EXPECT_EQ(LineStarting(text, "    ColorSpace"), "    ColorSpace       = [ERROR!(10)]");
    EXPECT_EQ(LineStarting(text, "    SubSampling"), "    SubSampling      = [4294967295]");
    j.ColorSpace = TWPT_GRAY;
    text = Dump([&](CParaAnalyze& a) { a.TwJpegCompressionAnalyze(&j); });
    EXPECT_EQ(LineStarting(text, "    ColorSpace"), "    ColorSpace       = [TWPT_GRAY]");
}

// --- TW_PALETTE8, TW_GRAYRESPONSE, TW_RGBRESPONSE, TW_ELEMENT8 --------------------------

TEST_F(ImageDump, APaletteIsANoticeLineWhateverItHolds) {
    TW_PALETTE8 p{};
    p.NumColors = 256;
    p.PaletteType = TWPT_RGB;
    for (int i = 0; i < 256; ++i) p.Colors[i].Index = static_cast<TW_UINT8>(i);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwPalette8Analyze(&p); }),
              "  TW_PALETTE8 = { it does not display. }\r\n");
}

TEST_F(ImageDump, AGrayResponseShowsOnlyItsFirstElement) {
    // A response is as long as the bit depth asks: 256 elements here.
    TW_ELEMENT8 response[256];
    for (int i = 0; i < 256; ++i) {
        response[i].Index = static_cast<TW_UINT8>(i);
        response[i].Channel1 = response[i].Channel2 = response[i].Channel3 = static_cast<TW_UINT8>(255 - i);
    }
    response[0].Channel2 = 128;
    const std::string text = Dump([&](CParaAnalyze& a) {
        a.TwGrayResponseAnalyze(reinterpret_cast<const TW_GRAYRESPONSE*>(response));
    });
    EXPECT_EQ(text, Lines({
                        "  TW_GRAYRESPONSE = {",
                        "    Response[0] =",
                        "    TW_ELEMENT8 = {",
                        "      Index    = [0]",
                        "      Channel1 = [255]",
                        "      Channel2 = [128]",
                        "      Channel3 = [255]",
                        "    }",
                        "  }",
                    }));
}

TEST_F(ImageDump, AnRgbResponseIsTheSameBlockUnderItsOwnHeader) {
    TW_RGBRESPONSE r[2] = {};
    r[0].Response[0].Index = 1;
    r[0].Response[0].Channel1 = 2;
    r[0].Response[0].Channel2 = 3;
    r[0].Response[0].Channel3 = 4;
    r[1].Response[0].Index = 99;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwRgbResponseAnalyze(&r[0]); }), Lines({
                  "  TW_RGBRESPONSE = {",
                  "    Response[0] =",
                  "    TW_ELEMENT8 = {",
                  "      Index    = [1]",
                  "      Channel1 = [2]",
                  "      Channel2 = [3]",
                  "      Channel3 = [4]",
                  "    }",
                  "  }",
              }));
}

TEST_F(ImageDump, ElementBytesAreUnsigned) {
    TW_ELEMENT8 e;
    e.Index = 200;
    e.Channel1 = 128;
    e.Channel2 = 255;
    e.Channel3 = 0;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwElement8Analyze(&e); }), Lines({
                  "    TW_ELEMENT8 = {",
                  "      Index    = [200]",
                  "      Channel1 = [128]",
                  "      Channel2 = [255]",
                  "      Channel3 = [0]",
                  "    }",
              }));
}

// --- TW_CIECOLOR, TW_TRANSFORMSTAGE, TW_DECODEFUNCTION, TW_CIEPOINT ---------------------

TEST_F(ImageDump, ACiePointPrintsItsThreeCoordinates) {
    TW_CIEPOINT p;
    p.X = Fix(95, 2753);   // 95.042
    p.Y = Fix(100);
    p.Z = Fix(108, 58982); // 108.900
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwCiePointAnalyze(&p); }), Lines({
                  "    TW_CIEPOINT = {",
                  "      X = [95.042]",
                  "      Y = [100.000]",
                  "      Z = [108.900]",
                  "    }",
              }));
}

TEST_F(ImageDump, ADecodeFunctionPrintsItsEightValuesInOrderAtDepthThree) {
    TW_DECODEFUNCTION d;
    d.StartIn = Fix(1);
    d.BreakIn = Fix(2);
    d.EndIn = Fix(3);
    d.StartOut = Fix(4);
    d.BreakOut = Fix(5);
    d.EndOut = Fix(6);
    d.Gamma = Fix(2, 13107);  // 2.2
    d.SampleCount = Fix(-8);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwDecodeFunctionAnalyze(&d); }), Lines({
                  "      TW_DECODEFUNCTION = {",
                  "        StartIn     = [1.000]",
                  "        BreakIn     = [2.000]",
                  "        EndIn       = [3.000]",
                  "        StartOut    = [4.000]",
                  "        BreakOut    = [5.000]",
                  "        EndOut      = [6.000]",
                  "        Gamma       = [2.200]",
                  "        SampleCount = [-8.000]",
                  "      }",
              }));
}

TEST_F(ImageDump, ATransformStageListsThreeDecodeFunctionsThenTheMixRowByRow) {
    TW_TRANSFORMSTAGE s{};
    for (int i = 0; i < 3; ++i) {
        s.Decode[i].StartIn = Fix(static_cast<TW_INT16>(100 * (i + 1)));
        for (int j = 0; j < 3; ++j) s.Mix[i][j] = Fix(static_cast<TW_INT16>(10 * i + j));
    }
    std::string expected = Lines({"    TW_TRANSFORMSTAGE = {"});
    for (int i = 0; i < 3; ++i)
        expected += Lines({
            Printf("      Decode[%d] =", i),
            "      TW_DECODEFUNCTION = {",
            Printf("        StartIn     = [%d.000]", 100 * (i + 1)),
            "        BreakIn     = [0.000]",
            "        EndIn       = [0.000]",
            "        StartOut    = [0.000]",
            "        BreakOut    = [0.000]",
            "        EndOut      = [0.000]",
            "        Gamma       = [0.000]",
            "        SampleCount = [0.000]",
            "      }",
        });
    expected += Lines({
        "      Mix[0][0] = [0.000]",  "      Mix[0][1] = [1.000]",  "      Mix[0][2] = [2.000]",
        "      Mix[1][0] = [10.000]", "      Mix[1][1] = [11.000]", "      Mix[1][2] = [12.000]",
        "      Mix[2][0] = [20.000]", "      Mix[2][1] = [21.000]", "      Mix[2][2] = [22.000]",
        "    }",
    });
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwTransformStageAnalyze(&s); }), expected);
}

// The TW_FIX32 texts of a TW_CIECOLOR: every value of a stage or point is the
// same, each member its own.
struct CieTexts {
    const char *abc, *lmn, *whitePoint, *blackPoint, *whitePaper, *blackInk, *sample;
};

CieTexts AllAt(const char* fix) { return {fix, fix, fix, fix, fix, fix, fix}; }

// Every line of a TW_CIECOLOR block, built from the log's formats.
std::string CieColorBlock(const char* colorSpace, int lowEndian, int deviceDependent,
                          const char* version, const CieTexts& fix) {
    auto stage = [](const char* value) {
        std::string decode = Lines({"      TW_DECODEFUNCTION = {"});
        for (const char* name : {"StartIn    ", "BreakIn    ", "EndIn      ", "StartOut   ",
                                 "BreakOut   ", "EndOut     ", "Gamma      ", "SampleCount"})
            decode += Printf("        %s = [%s]\r\n", name, value);
        decode += Lines({"      }"});
        std::string text = Lines({"    TW_TRANSFORMSTAGE = {"});
        for (int i = 0; i < 3; ++i) text += Printf("      Decode[%d] =\r\n", i) + decode;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) text += Printf("      Mix[%d][%d] = [%s]\r\n", i, j, value);
        return text + Lines({"    }"});
    };
    auto point = [](const char* value) {
        return Lines({"    TW_CIEPOINT = {", Printf("      X = [%s]", value), Printf("      Y = [%s]", value),
                      Printf("      Z = [%s]", value), "    }"});
    };
    return Lines({"  TW_CIECOLOR = {", Printf("    ColorSpace      = [%s]", colorSpace),
                  Printf("    LowEndian       = [%d]", lowEndian),
                  Printf("    DeviceDependent = [%d]", deviceDependent),
                  Printf("    VersionNumber   = [%s]", version)}) +
           Lines({"    StageABC="}) + stage(fix.abc) + Lines({"    StageLMN="}) + stage(fix.lmn) +
           Lines({"    WhitePoint="}) + point(fix.whitePoint) + Lines({"    BlackPoint="}) +
           point(fix.blackPoint) + Lines({"    WhitePaper="}) + point(fix.whitePaper) +
           Lines({"    BlackInk="}) + point(fix.blackInk) +
           Lines({Printf("    Samples[]       = [%s]", fix.sample), "  }"});
}

void FillFix32(TW_TRANSFORMSTAGE& s, TW_FIX32 f) {
    for (TW_DECODEFUNCTION& d : s.Decode)
        d.StartIn = d.BreakIn = d.EndIn = d.StartOut = d.BreakOut = d.EndOut = d.Gamma = d.SampleCount = f;
    for (auto& row : s.Mix)
        for (TW_FIX32& m : row) m = f;
}

void FillFix32(TW_CIEPOINT& p, TW_FIX32 f) { p.X = p.Y = p.Z = f; }

// A TW_CIECOLOR followed by further samples, as a source returns it.
struct CieColorWithSamples {
    TW_CIECOLOR c;
    TW_FIX32 more[3];
};

CieColorWithSamples EveryFix32At(TW_FIX32 f) {
    CieColorWithSamples s{};
    FillFix32(s.c.StageABC, f);
    FillFix32(s.c.StageLMN, f);
    FillFix32(s.c.WhitePoint, f);
    FillFix32(s.c.BlackPoint, f);
    FillFix32(s.c.WhitePaper, f);
    FillFix32(s.c.BlackInk, f);
    s.c.Samples[0] = f;
    for (TW_FIX32& m : s.more) m = Fix(7, 7);
    return s;
}

TEST_F(ImageDump, ACieColorNestsTwoStagesAndFourPointsAndShowsOnlyTheFirstSample) {
    CieColorWithSamples s = EveryFix32At(Fix(0));
    s.c.ColorSpace = TWPT_CIEXYZ;
    s.c.LowEndian = -1;
    s.c.DeviceDependent = 1;
    s.c.VersionNumber = 1;
    FillFix32(s.c.StageABC, Fix(1, 32768));
    FillFix32(s.c.StageLMN, Fix(2, 16384));
    FillFix32(s.c.WhitePoint, Fix(3));
    FillFix32(s.c.BlackPoint, Fix(4));
    FillFix32(s.c.WhitePaper, Fix(5));
    FillFix32(s.c.BlackInk, Fix(6));
    s.c.Samples[0] = Fix(-5, 49152);
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwCieColorAnalyze(&s.c); });
    EXPECT_EQ(text, CieColorBlock("TWPT_CIEXYZ", -1, 1, "1",
                                  {"1.500", "2.250", "3.000", "4.000", "5.000", "6.000", "-4.250"}));
    EXPECT_EQ(Count(text, "    TW_TRANSFORMSTAGE = {\r\n"), 2u);
    EXPECT_EQ(Count(text, "      TW_DECODEFUNCTION = {\r\n"), 6u);
    EXPECT_EQ(Count(text, "    TW_CIEPOINT = {\r\n"), 4u);
    EXPECT_EQ(Count(text, "Samples[]"), 1u);
    EXPECT_EQ(text.find("7.000"), std::string::npos);  // the second sample is not shown
}

TEST_F(ImageDump, ACieColorReadsItsVersionUnsignedAndItsFlagsSigned) {
    CieColorWithSamples s = EveryFix32At(Fix(0));
    s.c.ColorSpace = 0xFFFF;
    s.c.LowEndian = -32768;
    s.c.DeviceDependent = 32767;
    s.c.VersionNumber = static_cast<TW_INT32>(0x80000001u);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwCieColorAnalyze(&s.c); }),
              CieColorBlock("ERROR!(65535)", -32768, 32767, "2147483649", AllAt("0.000")));
}

TEST_F(ImageDump, TheWidestCieColorFitsTheLogTextWithRoomForTheResultLines) {
    CieColorWithSamples s = EveryFix32At(Fix(-32768));
    s.c.ColorSpace = 0xFFFF;  // the longest name text, ERROR!(65535)
    s.c.LowEndian = -32768;
    s.c.DeviceDependent = -32768;
    s.c.VersionNumber = -1;
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwCieColorAnalyze(&s.c); });
    EXPECT_EQ(text, CieColorBlock("ERROR!(65535)", -32768, -32768, "4294967295", AllAt("-32768.000")));
    // The return code and pData lines and the state line take under 100 bytes.
    EXPECT_LT(text.size() + 100, kLogTextSize);
}

// --- Null pointers --------------------------------------------------------------------

TEST_F(ImageDump, NullStructurePointersWriteNothing) {
    const std::function<void(CParaAnalyze&)> formatters[] = {
        [](CParaAnalyze& a) { a.TwImageInfoAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwImageLayoutAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwFrameAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwImageMemXferAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwJpegCompressionAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwPalette8Analyze(nullptr); },
        [](CParaAnalyze& a) { a.TwGrayResponseAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwRgbResponseAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwElement8Analyze(nullptr); },
        [](CParaAnalyze& a) { a.TwCieColorAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwTransformStageAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwDecodeFunctionAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwCiePointAnalyze(nullptr); },
    };
    for (const auto& f : formatters) EXPECT_EQ(Dump(f), "");
}

TEST_F(ImageDump, StructuresAtOddAddressesPrintTheSame) {
    CieColorWithSamples s = EveryFix32At(Fix(-2, 1));
    s.c.ColorSpace = TWPT_RGB;
    s.c.VersionNumber = 3;
    alignas(16) unsigned char bytes[sizeof(TW_CIECOLOR) + 3];
    memcpy(bytes + 3, &s.c, sizeof s.c);
    const std::string odd = Dump([&](CParaAnalyze& a) {
        a.TwCieColorAnalyze(reinterpret_cast<const TW_CIECOLOR*>(bytes + 3));
    });
    EXPECT_EQ(odd, Dump([&](CParaAnalyze& a) { a.TwCieColorAnalyze(&s.c); }));

    TW_IMAGEMEMXFER x{};
    x.BytesPerRow = 5;
    x.Memory.TheMem = WideHandle<TW_MEMREF>(0xabcdef);
    alignas(16) unsigned char xbytes[sizeof(TW_IMAGEMEMXFER) + 1];
    memcpy(xbytes + 1, &x, sizeof x);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwImageMemXferAnalyze(reinterpret_cast<const TW_IMAGEMEMXFER*>(xbytes + 1)); }),
              Dump([&](CParaAnalyze& a) { a.TwImageMemXferAnalyze(&x); }));
}

}  // namespace
