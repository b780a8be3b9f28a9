// The image description dumps: TW_FIX32 values with three rounded decimals,
// value lists, nested blocks, and the shapes log readers rely on (the
// TW_IMAGEMEMXFER brace at column 0, the unclosed TW_JPEGCOMPRESSION labels,
// eight BitsPerSample values, only the first response element and the first
// CIE sample). Structures are filled through their declarations, so the same
// tests run under either TWAIN layout.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <initializer_list>
#include <string>

#include "analyzer/ParaAnalyze.h"
#include "LogText.h"

namespace {

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

TW_MEMREF Ptr(uint64_t v) { return reinterpret_cast<TW_MEMREF>(static_cast<uintptr_t>(v)); }

struct ImageDump : ::testing::Test {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1] = {};

    template <class T, class F>
    std::string Dump(const T* p, F formatter) {
        memset(buf, 0, sizeof buf);
        pa.SetOutput(buf, kLogTextSize);
        (pa.*formatter)(p);
        EXPECT_FALSE(pa.OutputCut());
        return buf;
    }
};

// The lines of a TW_MEMORY block, from the log's formats.
std::string MemoryBlock(unsigned flags, long length, unsigned mem) {
    return Printf("    TW_MEMORY = {\r\n      Flags  = [0x%x]\r\n      Length = [%ld]\r\n"
                  "      TheMem = <0x%08x>\r\n    }\r\n", flags, length, mem);
}

TEST_F(ImageDump, Fix32ValuesPrintWholePlusFractionWithThreeRoundedDecimals) {
    const struct {
        TW_INT16 whole;
        TW_UINT16 frac;
        const char* text;
    } cases[] = {
        {1, 32768, "1.500"},     {-1, 32768, "-0.500"},     {300, 0, "300.000"},
        {-32768, 0, "-32768.000"}, {32767, 65535, "32768.000"},
        {0, 32, "0.000"},        {0, 33, "0.001"},          // 0.000488 rounds down, 0.000504 up
        {-1, 65504, "-0.000"},   {-1, 65503, "-0.001"},     // the same below zero
    };
    for (const auto& c : cases) {
        TW_FRAME f{};
        f.Left = Fix(c.whole, c.frac);
        EXPECT_EQ(LineOf(Dump(&f, &CParaAnalyze::TwFrameAnalyze), "      Left"),
                  Printf("      Left   = [%s]", c.text));
    }
}

TEST_F(ImageDump, ImageInfoPrintsEightBitsPerSampleAndReadsItsNumbersSigned) {
    TW_IMAGEINFO info{};
    info.XResolution = Fix(300);
    info.YResolution = Fix(600, 32768);
    info.ImageWidth = 2550;
    info.ImageLength = -1;
    info.SamplesPerPixel = 1;  // still eight values
    info.BitsPerSample[0] = 8;
    info.BitsPerSample[7] = -32768;
    info.BitsPerPixel = 8;
    info.Planar = 0x100;
    info.PixelType = TWPT_RGB;
    info.Compression = 0;
    EXPECT_EQ(Dump(&info, &CParaAnalyze::TwImageInfoAnalyze), Lines({
                                                                  "  TW_IMAGEINFO = {",
                                                                  "    XResolution      = [300.000]",
                                                                  "    YResolution      = [600.500]",
                                                                  "    ImageWidth       = [2550]",
                                                                  "    ImageLength      = [-1]",
                                                                  "    SamplesPerPixel  = [1]",
                                                                  "    BitsPerSamples[] = {8,0,0,0,0,0,0,-32768}",
                                                                  "    BitsPerPixel     = [8]",
                                                                  "    Planar           = [true]",
                                                                  "    PixelType        = [TWPT_RGB]",
                                                                  "    Compression      = [TWCP_NONE]",
                                                                  "  }",
                                                              }));
    // PixelType is sign-extended before the lookup; Compression is not.
    info.PixelType = -1;
    info.Compression = 13;
    std::string text = Dump(&info, &CParaAnalyze::TwImageInfoAnalyze);
    EXPECT_EQ(LineOf(text, "    PixelType"), "    PixelType        = [ERROR!(-1)]");
    EXPECT_EQ(LineOf(text, "    Compression"), "    Compression      = [ERROR!(13)]");
    info.Compression = 0xFFFF;
    text = Dump(&info, &CParaAnalyze::TwImageInfoAnalyze);
    EXPECT_EQ(LineOf(text, "    Compression"), "    Compression      = [ERROR!(65535)]");
}

TEST_F(ImageDump, ImageLayoutNestsItsFrame) {
    TW_IMAGELAYOUT l{};
    l.Frame.Left = Fix(0, 32768);
    l.Frame.Top = Fix(-1, 32768);
    l.Frame.Right = Fix(8, 32768);
    l.Frame.Bottom = Fix(11);
    l.DocumentNumber = 1;
    l.PageNumber = 0x80000000u;
    l.FrameNumber = 0xFFFFFFFFu;
    EXPECT_EQ(Dump(&l, &CParaAnalyze::TwImageLayoutAnalyze),
              Lines({"  TW_IMAGELAYOUT = {", "    Frame          =", "    TW_FRAME = {", "      Left   = [0.500]",
                     "      Top    = [-0.500]", "      Right  = [8.500]", "      Bottom = [11.000]", "    }",
                     "    DocumentNumber = [1]", "    PageNumber     = [2147483648]",
                     "    FrameNumber    = [4294967295]", "  }"}));
}

TEST_F(ImageDump, AMemoryTransferClosesWithABraceAtTheStartOfTheLine) {
    TW_IMAGEMEMXFER x{};
    x.Compression = 5;
    x.BytesPerRow = 7650;
    x.Columns = 2550;
    x.Rows = 64;
    x.XOffset = 0;
    x.YOffset = 3264;
    x.BytesWritten = 0xFFFFFFFFu;
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = 489600;
    x.Memory.TheMem = Ptr(0x7ffd0badf00dull);
    EXPECT_EQ(Dump(&x, &CParaAnalyze::TwImageMemXferAnalyze),
              Lines({"  TW_IMAGEMEMXFER = {", "    Compression  = [TWCP_GROUP4]", "    BytesPerRow  = [7650]",
                     "    Columns      = [2550]", "    Rows         = [64]", "    XOffset      = [0]",
                     "    YOffset      = [3264]", "    BytesWritten = [4294967295]", "    Memory       ="}) +
                  MemoryBlock(9, 489600, 0x0badf00d) + "}\r\n");
}

TEST_F(ImageDump, JpegCompressionRunsEachTableLabelIntoItsMemoryBlockAndNeverClosesIt) {
    TW_JPEGCOMPRESSION j{};
    j.ColorSpace = TWPT_GRAY;
    j.SubSampling = 0xFFFFFFFFu;
    j.NumComponents = 3;
    j.RestartFrequency = 65535;
    const TW_UINT16 quant[4] = {0, 1, 1, 0}, huff[4] = {0, 65535, 1, 2};
    for (int i = 0; i < 4; ++i) {
        j.QuantMap[i] = quant[i];
        j.HuffmanMap[i] = huff[i];
        j.QuantTable[i].Flags = TWMF_DSOWNS;
        j.QuantTable[i].Length = 64 + i;
        j.QuantTable[i].TheMem = Ptr(0x1000 + i);
    }
    for (int i = 0; i < 2; ++i) {
        j.HuffmanDC[i].Length = 28 + i;
        j.HuffmanDC[i].TheMem = Ptr(0x2000 + i);
        j.HuffmanAC[i].Length = 178 + i;
        j.HuffmanAC[i].TheMem = Ptr(0x3000 + i);
    }
    std::string expected = Lines({"  TW_JPEGCOMPRESSION = {", "    ColorSpace       = [TWPT_GRAY]",
                                  "    SubSampling      = [4294967295]", "    NumComponents    = [3]",
                                  "    RestartFrequency = [65535]", "    QuantMap[]       = {0,1,1,0}"});
    for (int i = 0; i < 4; ++i) expected += Printf("    QuantTable[%d]   = {", i) + MemoryBlock(4, 64 + i, 0x1000 + i);
    expected += "    HuffmanMap[]     = {0,65535,1,2}\r\n";
    for (int i = 0; i < 2; ++i) expected += Printf("    HuffmanDC[%d]    = {", i) + MemoryBlock(0, 28 + i, 0x2000 + i);
    for (int i = 0; i < 2; ++i) expected += Printf("    HuffmanAC[%d]    = {", i) + MemoryBlock(0, 178 + i, 0x3000 + i);
    EXPECT_EQ(Dump(&j, &CParaAnalyze::TwJpegCompressionAnalyze), expected + "  }\r\n");
}

TEST_F(ImageDump, PalettesPrintANoticeAndResponsesOnlyTheirFirstElement) {
    TW_PALETTE8 palette{};
    palette.NumColors = 256;
    EXPECT_EQ(Dump(&palette, &CParaAnalyze::TwPalette8Analyze), "  TW_PALETTE8 = { it does not display. }\r\n");

    TW_ELEMENT8 response[256];  // as long as the bit depth asks
    for (int i = 0; i < 256; ++i)
        response[i] = TW_ELEMENT8{static_cast<TW_UINT8>(i), 1, 2, 3};
    response[0] = TW_ELEMENT8{200, 128, 255, 0};
    const std::string element = Lines({"    Response[0] =", "    TW_ELEMENT8 = {", "      Index    = [200]",
                                       "      Channel1 = [128]", "      Channel2 = [255]", "      Channel3 = [0]",
                                       "    }", "  }"});
    EXPECT_EQ(Dump(reinterpret_cast<const TW_GRAYRESPONSE*>(response), &CParaAnalyze::TwGrayResponseAnalyze),
              "  TW_GRAYRESPONSE = {\r\n" + element);
    EXPECT_EQ(Dump(reinterpret_cast<const TW_RGBRESPONSE*>(response), &CParaAnalyze::TwRgbResponseAnalyze),
              "  TW_RGBRESPONSE = {\r\n" + element);
}

// --- CIE colour ------------------------------------------------------------------------

// A stage whose Decode[i] members print decode[i] and whose Mix values print
// mix[i][j] ... built from the log's formats.
std::string StageBlock(const char* const (&decode)[3], const char* const (&mix)[9]) {
    std::string text = "    TW_TRANSFORMSTAGE = {\r\n";
    for (int i = 0; i < 3; ++i) {
        text += Printf("      Decode[%d] =\r\n      TW_DECODEFUNCTION = {\r\n", i);
        for (const char* name : {"StartIn    ", "BreakIn    ", "EndIn      ", "StartOut   ", "BreakOut   ",
                                 "EndOut     ", "Gamma      ", "SampleCount"})
            text += Printf("        %s = [%s]\r\n", name, decode[i]);
        text += "      }\r\n";
    }
    for (int k = 0; k < 9; ++k) text += Printf("      Mix[%d][%d] = [%s]\r\n", k / 3, k % 3, mix[k]);
    return text + "    }\r\n";
}

std::string PointBlock(const char* x, const char* y, const char* z) {
    return Printf("    TW_CIEPOINT = {\r\n      X = [%s]\r\n      Y = [%s]\r\n      Z = [%s]\r\n    }\r\n", x, y, z);
}

void Fill(TW_DECODEFUNCTION& d, TW_FIX32 f) {
    d.StartIn = d.BreakIn = d.EndIn = d.StartOut = d.BreakOut = d.EndOut = d.Gamma = d.SampleCount = f;
}

TEST_F(ImageDump, ADecodeFunctionPrintsItsValuesInOrder) {
    const TW_DECODEFUNCTION d{Fix(1), Fix(2), Fix(3), Fix(4), Fix(5), Fix(6), Fix(2, 13107), Fix(-8)};
    EXPECT_EQ(Dump(&d, &CParaAnalyze::TwDecodeFunctionAnalyze),
              Lines({"      TW_DECODEFUNCTION = {", "        StartIn     = [1.000]", "        BreakIn     = [2.000]",
                     "        EndIn       = [3.000]", "        StartOut    = [4.000]", "        BreakOut    = [5.000]",
                     "        EndOut      = [6.000]", "        Gamma       = [2.200]", "        SampleCount = [-8.000]",
                     "      }"}));
}

TEST_F(ImageDump, ACieColorNestsTwoStagesAndFourPointsAndShowsOnlyTheFirstSample) {
    struct {
        TW_CIECOLOR c;
        TW_FIX32 more[2];  // further samples
    } s{};
    s.c.ColorSpace = TWPT_CIEXYZ;
    s.c.LowEndian = -1;
    s.c.DeviceDependent = 32767;
    s.c.VersionNumber = static_cast<TW_INT32>(0x80000001u);
    for (int i = 0; i < 3; ++i) {
        Fill(s.c.StageABC.Decode[i], Fix(static_cast<TW_INT16>(i + 1)));
        Fill(s.c.StageLMN.Decode[i], Fix(static_cast<TW_INT16>(-i - 1)));
        for (int j = 0; j < 3; ++j) s.c.StageABC.Mix[i][j] = Fix(static_cast<TW_INT16>(10 * i + j));
    }
    s.c.WhitePoint = TW_CIEPOINT{Fix(95, 2753), Fix(100), Fix(108, 58982)};
    s.c.BlackPoint = TW_CIEPOINT{Fix(4), Fix(5), Fix(6)};
    s.c.WhitePaper = TW_CIEPOINT{Fix(7), Fix(8), Fix(9)};
    s.c.BlackInk = TW_CIEPOINT{Fix(-1), Fix(-2), Fix(-3)};
    s.c.Samples[0] = Fix(-5, 49152);
    s.more[0] = s.more[1] = Fix(77);
    const char* const zeros[9] = {"0.000", "0.000", "0.000", "0.000", "0.000", "0.000", "0.000", "0.000", "0.000"};
    EXPECT_EQ(Dump(&s.c, &CParaAnalyze::TwCieColorAnalyze),
              Lines({"  TW_CIECOLOR = {", "    ColorSpace      = [TWPT_CIEXYZ]", "    LowEndian       = [-1]",
                     "    DeviceDependent = [32767]", "    VersionNumber   = [2147483649]", "    StageABC="}) +
                  StageBlock({"1.000", "2.000", "3.000"}, {"0.000", "1.000", "2.000", "10.000", "11.000", "12.000",
                                                           "20.000", "21.000", "22.000"}) +
                  "    StageLMN=\r\n" + StageBlock({"-1.000", "-2.000", "-3.000"}, zeros) +
                  "    WhitePoint=\r\n" + PointBlock("95.042", "100.000", "108.900") +
                  "    BlackPoint=\r\n" + PointBlock("4.000", "5.000", "6.000") +
                  "    WhitePaper=\r\n" + PointBlock("7.000", "8.000", "9.000") +
                  "    BlackInk=\r\n" + PointBlock("-1.000", "-2.000", "-3.000") +
                  Lines({"    Samples[]       = [-4.250]", "  }"}));
}

TEST_F(ImageDump, TheWidestCieColorFitsTheLogTextWithRoomForTheResultLines) {
    TW_CIECOLOR c{};
    c.ColorSpace = 0xFFFF;
    c.LowEndian = c.DeviceDependent = -32768;
    c.VersionNumber = -1;
    const TW_FIX32 f = Fix(-32768);
    for (TW_TRANSFORMSTAGE* st : {&c.StageABC, &c.StageLMN})
        for (int i = 0; i < 3; ++i) {
            Fill(st->Decode[i], f);
            for (int j = 0; j < 3; ++j) st->Mix[i][j] = f;
        }
    for (TW_CIEPOINT* p : {&c.WhitePoint, &c.BlackPoint, &c.WhitePaper, &c.BlackInk}) *p = TW_CIEPOINT{f, f, f};
    c.Samples[0] = f;
    const std::string text = Dump(&c, &CParaAnalyze::TwCieColorAnalyze);
    const char* const w = "-32768.000";
    const std::string stage = StageBlock({w, w, w}, {w, w, w, w, w, w, w, w, w});
    const std::string point = PointBlock(w, w, w);
    EXPECT_EQ(text, Lines({"  TW_CIECOLOR = {", "    ColorSpace      = [ERROR!(65535)]", "    LowEndian       = [-32768]",
                           "    DeviceDependent = [-32768]", "    VersionNumber   = [4294967295]", "    StageABC="}) +
                        stage + "    StageLMN=\r\n" + stage + "    WhitePoint=\r\n" + point + "    BlackPoint=\r\n" +
                        point + "    WhitePaper=\r\n" + point + "    BlackInk=\r\n" + point +
                        Lines({"    Samples[]       = [-32768.000]", "  }"}));
    EXPECT_LT(text.size() + 100, kLogTextSize);  // the result lines around it take under 100 bytes
}

// --- Null pointers, odd addresses ----------------------------------------------------

TEST_F(ImageDump, NullStructurePointersWriteNothing) {
    EXPECT_EQ(Dump<TW_IMAGEINFO>(nullptr, &CParaAnalyze::TwImageInfoAnalyze), "");
    EXPECT_EQ(Dump<TW_IMAGELAYOUT>(nullptr, &CParaAnalyze::TwImageLayoutAnalyze), "");
    EXPECT_EQ(Dump<TW_FRAME>(nullptr, &CParaAnalyze::TwFrameAnalyze), "");
    EXPECT_EQ(Dump<TW_IMAGEMEMXFER>(nullptr, &CParaAnalyze::TwImageMemXferAnalyze), "");
    EXPECT_EQ(Dump<TW_JPEGCOMPRESSION>(nullptr, &CParaAnalyze::TwJpegCompressionAnalyze), "");
    EXPECT_EQ(Dump<TW_PALETTE8>(nullptr, &CParaAnalyze::TwPalette8Analyze), "");
    EXPECT_EQ(Dump<TW_GRAYRESPONSE>(nullptr, &CParaAnalyze::TwGrayResponseAnalyze), "");
    EXPECT_EQ(Dump<TW_RGBRESPONSE>(nullptr, &CParaAnalyze::TwRgbResponseAnalyze), "");
    EXPECT_EQ(Dump<TW_ELEMENT8>(nullptr, &CParaAnalyze::TwElement8Analyze), "");
    EXPECT_EQ(Dump<TW_CIECOLOR>(nullptr, &CParaAnalyze::TwCieColorAnalyze), "");
    EXPECT_EQ(Dump<TW_TRANSFORMSTAGE>(nullptr, &CParaAnalyze::TwTransformStageAnalyze), "");
    EXPECT_EQ(Dump<TW_DECODEFUNCTION>(nullptr, &CParaAnalyze::TwDecodeFunctionAnalyze), "");
    EXPECT_EQ(Dump<TW_CIEPOINT>(nullptr, &CParaAnalyze::TwCiePointAnalyze), "");
}

TEST_F(ImageDump, AStructureAtAnOddAddressPrintsTheSame) {
    TW_IMAGEMEMXFER x{};
    x.BytesPerRow = 5;
    x.Memory.TheMem = Ptr(0xabcdef);
    alignas(16) unsigned char bytes[sizeof x + 1];
    memcpy(bytes + 1, &x, sizeof x);
    EXPECT_EQ(Dump(reinterpret_cast<const TW_IMAGEMEMXFER*>(bytes + 1), &CParaAnalyze::TwImageMemXferAnalyze),
              Dump(&x, &CParaAnalyze::TwImageMemXferAnalyze));
}

}  // namespace
