// The vendor-extension dumps: each TWNV_* structure prints its block line for
// line, with names, signs, widths and nesting as the vendor layout gives
// them, and never reads outside the structure whatever its bytes hold.
#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "analyzer/ParaAnalyze.h"

namespace {

// A fresh analyzer writing into its own log text buffer.
struct Dump {
    CParaAnalyze analyzer;
    char buffer[kLogTextSize + 1] = {};
    Dump() { analyzer.SetOutput(buffer, kLogTextSize); }
    std::string Text() const { return buffer; }
};

TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

void Identity(TW_FIX32 (&m)[9]) {
    for (int i = 0; i < 9; ++i) m[i] = Fix(i % 4 == 0 ? 1 : 0, 0);
}

// A structure in a heap block of exactly its size, so that any read past it
// is a heap overflow the sanitizer build reports.
template <class T>
struct Exact {
    std::unique_ptr<unsigned char[]> bytes{new unsigned char[sizeof(T)]};
    explicit Exact(const T& v) { memcpy(bytes.get(), &v, sizeof v); }
    explicit Exact(unsigned char fill) { memset(bytes.get(), fill, sizeof(T)); }
    const T* get() const { return reinterpret_cast<const T*>(bytes.get()); }
    unsigned char* raw() { return bytes.get(); }
};

const char kIdentityList[] = "1.000,0.000,0.000,0.000,1.000,0.000,0.000,0.000,1.000";

// ---------------------------------------------------------------------------
// TWNV_AUTOEXPOSURE

TWNV_AUTOEXPOSURE SampleExposure() {
    TWNV_AUTOEXPOSURE v{};
    v.Handle = 0x0bf3a1d0;
    v.Left = 10;
    v.Top = 20;
    v.Right = 3000;
    v.Bottom = 4000;
    v.FilmType = 1;
    v.PreScanGamma = 0;
    v.ScreenGamma = Fix(2, 0x399A);  // 2.225
    v.GrayBalance = 128;
    return v;
}

TEST(VendorAutoExposure, PrintsEveryFieldInOrderWithItsNames) {
    Dump d;
    const TWNV_AUTOEXPOSURE v = SampleExposure();
    EXPECT_TRUE(d.analyzer.TwNvAutoExposureAnalyze(&v));
    EXPECT_EQ(d.Text(),
              "  TWNV_AUTOEXPOSURE = {\r\n"
              "    Handle       = <0x0bf3a1d0>\r\n"
              "    Left         = [10]\r\n"
              "    Top          = [20]\r\n"
              "    Right        = [3000]\r\n"
              "    Bottom       = [4000]\r\n"
              "    FilmType     = [TWNV_FT_NEGA]\r\n"
              "    PreScanGamma = [TWNV_PG_10]\r\n"
              "    ScreenGamma  = [2.225]\r\n"
              "    GrayBalance  = [128]\r\n"
              "  }\r\n");
}

std::string ExposureLine(const TWNV_AUTOEXPOSURE& v, const char* label) {
    Dump d;
    d.analyzer.TwNvAutoExposureAnalyze(&v);
    const std::string text = d.Text();
    const size_t at = text.find(label);
    if (at == std::string::npos) return "(no line)";
    return text.substr(at, text.find("\r\n", at) - at);
}

TEST(VendorAutoExposure, FilmTypeIsNamedFromItsTableAndUnknownValuesPrintTheirErrorText) {
    TWNV_AUTOEXPOSURE v = SampleExposure();
    v.FilmType = 4;
    EXPECT_EQ(ExposureLine(v, "FilmType"), "FilmType     = [TWNV_FT_REFLECTIVEDOCUMENT]");
    v.FilmType = 5;
    EXPECT_EQ(ExposureLine(v, "FilmType"), "FilmType     = [ERROR!(5)]");
    v.FilmType = 0xFFFF;  // zero-extended, not -1
    EXPECT_EQ(ExposureLine(v, "FilmType"), "FilmType     = [ERROR!(65535)]");
}

TEST(VendorAutoExposure, PreScanGammaIsNamedFromItsTableAndUnknownValuesPrintTheirErrorText) {
    TWNV_AUTOEXPOSURE v = SampleExposure();
    v.PreScanGamma = 1;
    EXPECT_EQ(ExposureLine(v, "PreScanGamma"), "PreScanGamma = [TWNV_PG_18]");
    v.PreScanGamma = 2;
    EXPECT_EQ(ExposureLine(v, "PreScanGamma"), "PreScanGamma = [ERROR!(2)]");
}

TEST(VendorAutoExposure, SignedEdgesAreSignExtendedAndUnsignedOnesAreNot) {
    TWNV_AUTOEXPOSURE v = SampleExposure();
    v.Left = static_cast<TW_INT16>(0xFFFF);
    v.Bottom = static_cast<TW_INT16>(0x8000);
    v.GrayBalance = 0xFFFF;
    v.Handle = 0xFFFFFFFF;
    EXPECT_EQ(ExposureLine(v, "Left"), "Left         = [-1]");
    EXPECT_EQ(ExposureLine(v, "Bottom"), "Bottom       = [-32768]");
    EXPECT_EQ(ExposureLine(v, "GrayBalance"), "GrayBalance  = [65535]");
    EXPECT_EQ(ExposureLine(v, "Handle"), "Handle       = <0xffffffff>");
}

TEST(VendorAutoExposure, ScreenGammaIsWholePlusFractionOver65536) {
    TWNV_AUTOEXPOSURE v = SampleExposure();
    v.ScreenGamma = Fix(2, 0x8000);
    EXPECT_EQ(ExposureLine(v, "ScreenGamma"), "ScreenGamma  = [2.500]");
    v.ScreenGamma = Fix(-1, 0x8000);  // -1 + 0.5, not -1.5
    EXPECT_EQ(ExposureLine(v, "ScreenGamma"), "ScreenGamma  = [-0.500]");
    v.ScreenGamma = Fix(0, 0x0001);
    EXPECT_EQ(ExposureLine(v, "ScreenGamma"), "ScreenGamma  = [0.000]");
}

TEST(VendorAutoExposure, ReadsAStructureAtAnOddAddress) {
    const TWNV_AUTOEXPOSURE v = SampleExposure();
    std::vector<unsigned char> bytes(sizeof v + 1);
    memcpy(bytes.data() + 1, &v, sizeof v);
    Dump odd, aligned;
    odd.analyzer.TwNvAutoExposureAnalyze(reinterpret_cast<const TWNV_AUTOEXPOSURE*>(bytes.data() + 1));
    aligned.analyzer.TwNvAutoExposureAnalyze(&v);
    EXPECT_EQ(odd.Text(), aligned.Text());
}

// ---------------------------------------------------------------------------
// Coefficient lists and TWNV_RGBMATRIX

TEST(VendorCoefficients, IdentityMatrixIsNineValuesWithCommasAndNoLineEnd) {
    Dump d;
    TW_FIX32 m[9];
    Identity(m);
    d.analyzer.SetColorCoeffData(m);
    EXPECT_EQ(d.Text(), kIdentityList);
}

TEST(VendorCoefficients, ValuesPrintInMemoryOrderWithThreeDecimals) {
    Dump d;
    TW_FIX32 m[9] = {Fix(-32768, 0), Fix(32767, 0xFFFF), Fix(-2, 0x4000), Fix(0, 0x8000), Fix(1, 0),
                     Fix(2, 0), Fix(3, 0), Fix(4, 0), Fix(-1, 0)};
    d.analyzer.SetColorCoeffData(m);
    EXPECT_EQ(d.Text(), "-32768.000,32768.000,-1.750,0.500,1.000,2.000,3.000,4.000,-1.000");
}

TEST(VendorCoefficients, ANullListAppendsNothing) {
    Dump d;
    d.analyzer.SetColorCoeffData(nullptr);
    EXPECT_EQ(d.Text(), "");
}

TEST(VendorRgbMatrix, ColorCoeffLineHoldsTheListInBraces) {
    Dump d;
    TWNV_RGBMATRIX v;
    Identity(v.ColorCoeff);
    EXPECT_TRUE(d.analyzer.TwNvRgbMatrixAnalyze(&v));
    EXPECT_EQ(d.Text(), std::string("  TWNV_RGBMATRIX = {\r\n") + "    ColorCoeff = {" + kIdentityList +
                            "}\r\n" + "  }\r\n");
}

// ---------------------------------------------------------------------------
// TWNV_COLORSMOOTHING

TEST(VendorColorSmoothing, PrintsTheHandleAndNineUnsignedWords) {
    Dump d;
    TWNV_COLORSMOOTHING v{};
    v.Handle = 0x12;
    v.LeftX = 1;
    v.LeftY = 2;
    v.TopX = 3;
    v.TopY = 4;
    v.RightX = 5;
    v.RightY = 6;
    v.BottomX = 7;
    v.BottomY = 0x80000000u;
    v.Reserved = 0xFFFFFFFFu;
    EXPECT_TRUE(d.analyzer.TwNvColorSmoothingAnalyze(&v));
    EXPECT_EQ(d.Text(),
              "  TWNV_COLORSMOOTHING = {\r\n"
              "    Handle       = <0x00000012>\r\n"
              "    LeftX        = [1]\r\n"
              "    LeftY        = [2]\r\n"
              "    TopX         = [3]\r\n"
              "    TopY         = [4]\r\n"
              "    RightX       = [5]\r\n"
              "    RightY       = [6]\r\n"
              "    BottomX      = [7]\r\n"
              "    BottomY      = [2147483648]\r\n"
              "    Reserved     = [4294967295]\r\n"
              "  }\r\n");
}

// ---------------------------------------------------------------------------
// TWNV_HARDWAREINFO

void SetPascal(TWNV_STR32P& field, const char* text) {
    memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(strlen(text));
    memcpy(field + 1, text, strlen(text));
}

TWNV_HARDWAREINFO SampleHardware() {
    TWNV_HARDWAREINFO v;
    memset(&v, 0, sizeof v);
    v.ModelID = 0x5;
    SetPascal(v.ProductName, "Vistrel 9000");
    SetPascal(v.ModelName, "V9K-F");
    v.OptXResolution = 4800;
    v.OptYResolution = 9600;
    v.MinResolution = 50;
    v.MaxResolution = 12800;
    v.MaxMoireResolution = 600;
    v.MaxPixelofWidth = 40800;
    v.PixelSizeofFB[0] = 1;
    v.PixelSizeofFB[1] = 2;
    v.PixelSizeofADF[0] = 3;
    v.PixelSizeofADF[1] = 4;
    v.PixelSizeofTPU[0] = 5;
    v.PixelSizeofTPU[1] = 6;
    v.BitDepth = 0x30;
    v.InterfaceSupport = 3;
    v.CommandType = 2;
    v.ConnectInterfaceType = 1;
    v.StandAloneModeSupport = 1;
    v.FullAutoModeSupport = 1;
    v.SimpleModeSupport = 0;
    v.DocumentModeSupport = 2;
    v.AdvancedModeSupport = 0;
    v.HMPSupport = 0xFFFF;
    v.FIT3 = 0;
    v.AutoLayoutSupportFB = 1;
    v.AutoLayoutSupportADF = 0;
    v.HalftoneSupport = 1;
    v.HTModeSupport = 0;
    v.HTDitherSupport = 1;
    v.HTAASSupport = 0;
    v.HTTETSupport = 0x100;
    v.TableArrangement = 1;
    v.OptionSupport = 0x1A;
    v.FocusSupport = 2;
    v.FocusArea[0] = 100;
    v.FocusArea[1] = 200;
    strcpy(v.ProfileNameFB, "Reflective.icc");
    strcpy(v.ProfileNameTPU, "Film.icc");
    Identity(v.ColorCorrectionFB);
    Identity(v.ColorCorrectionPOSI);
    Identity(v.ColorCorrectionNEGA);
    Identity(v.HMPColorCorrectionFB);
    Identity(v.HMPColorCorrectionPOSI);
    Identity(v.HMPColorCorrectionNEGA);
    v.ColorCorrectionNEGA[8] = Fix(-1, 0x4000);  // -0.750
    strcpy(v.ROMVersion, "1.02");
    return v;
}

std::string SampleHardwareBlock() {
    const std::string id = kIdentityList;
    return "  TWNV_HARDWAREINFO = {\r\n"
           "    ModelID                = [0x05]\r\n"
           "    ProductName            = [Vistrel 9000]\r\n"
           "    ModelName              = [V9K-F]\r\n"
           "    OptXResolution         = [4800]\r\n"
           "    OptYResolution         = [9600]\r\n"
           "    MinResolution          = [50]\r\n"
           "    MaxResolution          = [12800]\r\n"
           "    MaxMoireResolution     = [600]\r\n"
           "    MaxPixelofWidth        = [40800]\r\n"
           "    PixelSizeofFB[0]       = [1]\r\n"
           "    PixelSizeofFB[1]       = [2]\r\n"
           "    PixelSizeofADF[0]      = [3]\r\n"
           "    PixelSizeofADF[1]      = [4]\r\n"
           "    PixelSizeofTPU[0]      = [5]\r\n"
           "    PixelSizeofTPU[1]      = [6]\r\n"
           "    BitDepth               = [0x30]\r\n"
           "    InterfaceSupport       = [3]\r\n"
           "    CommandType            = [2]\r\n"
           "    ConnectInterfaceType   = [1]\r\n"
           "    StandAloneModeSupport  = [true]\r\n"
           "    FullAutoModeSupport    = [true]\r\n"
           "    SimpleModeSupport      = [false]\r\n"
           "    DocumentModeSupport    = [true]\r\n"
           "    AdvancedModeSupport    = [false]\r\n"
           "    HMPSupport             = [true]\r\n"
           "    FIT3                   = [false]\r\n"
           "    AutoLayoutSupportFB    = [true]\r\n"
           "    AutoLayoutSupportADF   = [false]\r\n"
           "    HalftoneSupport        = [true]\r\n"
           "    HTModeSupport          = [false]\r\n"
           "    HTDitherSupport        = [true]\r\n"
           "    HTAASSupport           = [false]\r\n"
           "    HTTETSupport           = [true]\r\n"
           "    TableArrangement       = [1]\r\n"
           "    OptionSupport          = [0x001a]\r\n"
           "    FocusSupport           = [2]\r\n"
           "    FocusArea[0]           = [100]\r\n"
           "    FocusArea[1]           = [200]\r\n"
           "    ProfileNameFB          = [Reflective.icc]\r\n"
           "    ProfileNameTPU         = [Film.icc]\r\n"
           "    ColorCorrectionFB      = [" + id + "]\r\n"
           "    ColorCorrectionPOSI    = [" + id + "]\r\n"
           "    ColorCorrectionNEGA    = [1.000,0.000,0.000,0.000,1.000,0.000,0.000,0.000,-0.750]\r\n"
           "    HMPColorCorrectionFB   = [" + id + "]\r\n"
           "    HMPColorCorrectionPOSI = [" + id + "]\r\n"
           "    HMPColorCorrectionNEGA = [" + id + "]\r\n"
           "    ROMVersion             = [1.02]\r\n"
           "  }\r\n";
}

std::string HardwareLine(const TWNV_HARDWAREINFO* p, const char* label) {
    Dump d;
    d.analyzer.TwHardwareInfoAnalyze(p);
    const std::string text = d.Text();
    const size_t at = text.find(std::string("    ") + label + " ");
    if (at == std::string::npos) return "(no line)";
    const size_t open = text.find("= [", at) + 2;
    return text.substr(open + 1, text.find("]\r\n", open) - open - 1);
}

TEST(VendorHardwareInfo, PrintsEveryLineInFieldOrder) {
    Dump d;
    const TWNV_HARDWAREINFO v = SampleHardware();
    EXPECT_TRUE(d.analyzer.TwHardwareInfoAnalyze(&v));
    EXPECT_EQ(d.Text(), SampleHardwareBlock());
}

TEST(VendorHardwareInfo, HexadecimalFieldsUseTheirMinimumWidths) {
    TWNV_HARDWAREINFO v = SampleHardware();
    v.ModelID = 0xABCDEF12;
    v.BitDepth = 0;
    v.OptionSupport = 0xFFFF;
    EXPECT_EQ(HardwareLine(&v, "ModelID"), "0xabcdef12");
    EXPECT_EQ(HardwareLine(&v, "BitDepth"), "0x00");
    EXPECT_EQ(HardwareLine(&v, "OptionSupport"), "0xffff");
}

TEST(VendorHardwareInfo, UnsignedWordsPrintAsUnsignedDecimals) {
    TWNV_HARDWAREINFO v = SampleHardware();
    v.MaxResolution = 0xFFFFFFFF;
    v.FocusArea[1] = 0x80000000u;
    v.InterfaceSupport = 0xFFFF;
    EXPECT_EQ(HardwareLine(&v, "MaxResolution"), "4294967295");
    EXPECT_EQ(HardwareLine(&v, "FocusArea[1]"), "2147483648");
    EXPECT_EQ(HardwareLine(&v, "InterfaceSupport"), "65535");
}

TEST(VendorHardwareInfo, StandAloneModeSupportIsTheFlagAtOffset136NotTheInterfaceType) {
    TWNV_HARDWAREINFO v = SampleHardware();
    v.ConnectInterfaceType = 0;
    v.StandAloneModeSupport = 0x0200;
    EXPECT_EQ(HardwareLine(&v, "StandAloneModeSupport"), "true");
    v.ConnectInterfaceType = 7;
    v.StandAloneModeSupport = 0;
    v.Reserved2[0] = v.Reserved2[1] = v.Reserved2[2] = 0xFFFF;  // the reserved bytes after it
    EXPECT_EQ(HardwareLine(&v, "StandAloneModeSupport"), "false");
}

TEST(VendorHardwareInfo, ReservedBytesPrintNoLine) {
    TWNV_HARDWAREINFO v = SampleHardware();
    v.Reserved1 = 0xBEEF;
    v.Reserved2[1] = 0xBEEF;
    Dump a, b;
    a.analyzer.TwHardwareInfoAnalyze(&v);
    const TWNV_HARDWAREINFO plain = SampleHardware();
    b.analyzer.TwHardwareInfoAnalyze(&plain);
    EXPECT_EQ(a.Text(), b.Text());
}

TEST(VendorHardwareInfo, PascalStringWithLengthZeroPrintsEmptyBrackets) {
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ProductName, 'X', sizeof v.ProductName);
    v.ProductName[0] = 0;
    EXPECT_EQ(HardwareLine(&v, "ProductName"), "");
}

TEST(VendorHardwareInfo, PascalStringTakesExactlyItsLengthNotUpToANul) {
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ModelName, 'Z', sizeof v.ModelName);
    v.ModelName[0] = 3;
    memcpy(v.ModelName + 1, "abcdef", 6);
    EXPECT_EQ(HardwareLine(&v, "ModelName"), "abc");
}

TEST(VendorHardwareInfo, PascalStringBytesAreCopiedAsTheyAre) {
    TWNV_HARDWAREINFO v = SampleHardware();
    const unsigned char text[] = {0x83, 0x58, 0x83, 0x4C, 0xE9, 0x7F, 0x20};  // single-byte text
    v.ProductName[0] = sizeof text;
    memcpy(v.ProductName + 1, text, sizeof text);
    EXPECT_EQ(HardwareLine(&v, "ProductName"), std::string(reinterpret_cast<const char*>(text), sizeof text));
}

TEST(VendorHardwareInfo, PascalLengthPastTheFieldIsCutToTheFieldsThirtyThreeCharacters) {
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ProductName, 'P', sizeof v.ProductName);
    v.ProductName[0] = 255;
    memset(v.ModelName, 'M', sizeof v.ModelName);
    v.ModelName[0] = 34;
    Exact<TWNV_HARDWAREINFO> block(v);
    EXPECT_EQ(HardwareLine(block.get(), "ProductName"), std::string(33, 'P'));
    EXPECT_EQ(HardwareLine(block.get(), "ModelName"), std::string(33, 'M'));
}

TEST(VendorHardwareInfo, ProfileNamesWithoutANulPrintTheirThirtyFourBytesOnly) {
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ProfileNameFB, 'F', sizeof v.ProfileNameFB);
    memset(v.ProfileNameTPU, 'T', sizeof v.ProfileNameTPU);
    memset(v.ColorCorrectionFB, 0x7F, sizeof v.ColorCorrectionFB);  // no NUL right after either
    EXPECT_EQ(HardwareLine(&v, "ProfileNameFB"), std::string(34, 'F'));
    EXPECT_EQ(HardwareLine(&v, "ProfileNameTPU"), std::string(34, 'T'));
}

TEST(VendorHardwareInfo, RomVersionStopsAtItsNul) {
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ROMVersion, 'R', sizeof v.ROMVersion);
    memcpy(v.ROMVersion, "2.10\0junk", 9);
    EXPECT_EQ(HardwareLine(&v, "ROMVersion"), "2.10");
}

TEST(VendorHardwareInfo, RomVersionWithoutANulEndsAtTheStructuresEnd) {
    // The structure in a larger block whose next bytes are text too: only
    // the 34 bytes of the field are printed.
    std::vector<char> bytes(sizeof(TWNV_HARDWAREINFO) + 64, 'Q');
    TWNV_HARDWAREINFO v = SampleHardware();
    memset(v.ROMVersion, 'R', sizeof v.ROMVersion);
    memcpy(bytes.data(), &v, sizeof v);
    const auto* p = reinterpret_cast<const TWNV_HARDWAREINFO*>(bytes.data());
    EXPECT_EQ(HardwareLine(p, "ROMVersion"), std::string(34, 'R'));
}

TEST(VendorHardwareInfo, NoNulAnywhereStaysInsideTheStructure) {
    // Every byte 0xA5: lengths 165, no NUL in any text. Run under the
    // sanitizer build, a read past the 502-byte block is reported.
    Exact<TWNV_HARDWAREINFO> block(static_cast<unsigned char>(0xA5));
    Dump d;
    EXPECT_TRUE(d.analyzer.TwHardwareInfoAnalyze(block.get()));
    const std::string a5(34, '\xA5');
    EXPECT_EQ(HardwareLine(block.get(), "ProductName"), std::string(33, '\xA5'));
    EXPECT_EQ(HardwareLine(block.get(), "ProfileNameFB"), a5);
    EXPECT_EQ(HardwareLine(block.get(), "ROMVersion"), a5);
    EXPECT_FALSE(d.analyzer.OutputCut());
    const std::string text = d.Text();
    EXPECT_EQ(text.substr(text.size() - 5), "  }\r\n");
}

TEST(VendorHardwareInfo, LargestBlockFitsTheLogTextBuffer) {
    TWNV_HARDWAREINFO v;
    memset(&v, 0xFF, sizeof v);  // every number at its widest, every flag true
    for (TW_FIX32* m : {v.ColorCorrectionFB, v.ColorCorrectionPOSI, v.ColorCorrectionNEGA,
                        v.HMPColorCorrectionFB, v.HMPColorCorrectionPOSI, v.HMPColorCorrectionNEGA})
        for (int i = 0; i < 9; ++i) m[i] = Fix(-32768, 0);  // "-32768.000", the widest value
    memset(v.ProfileNameFB, '~', sizeof v.ProfileNameFB);
    memset(v.ProfileNameTPU, '~', sizeof v.ProfileNameTPU);
    memset(v.ROMVersion, '~', sizeof v.ROMVersion);
    Exact<TWNV_HARDWAREINFO> block(v);
    Dump d;
    d.analyzer.TwHardwareInfoAnalyze(block.get());
    const std::string text = d.Text();
    EXPECT_FALSE(d.analyzer.OutputCut());
    EXPECT_LT(text.size(), 3072u);
    std::string list;
    for (int i = 0; i < 9; ++i) list += i ? ",-32768.000" : "-32768.000";
    EXPECT_NE(text.find("    HMPColorCorrectionNEGA = [" + list + "]\r\n"), std::string::npos);
    EXPECT_NE(text.find("    ModelID                = [0xffffffff]\r\n"), std::string::npos);
    EXPECT_NE(text.find("    ROMVersion             = [" + std::string(34, '~') + "]\r\n  }\r\n"),
              std::string::npos);
    EXPECT_EQ(HardwareLine(block.get(), "ProductName"), std::string(33, '\xFF'));
}

// ---------------------------------------------------------------------------
// TWNV_LOCATIONDATA

TEST(VendorSkewInfo, PrintsTheLocationWithASignedDepthAndTheta) {
    Dump d;
    TWNV_LOCATIONDATA v{};
    v.BitsPerPixel = -1;
    v.Reserved = 0xBEEF;
    v.topPoint = 11;
    v.leftPoint = 12;
    v.locateW = 13;
    v.locateH = 14;
    v.ActualImgW = 15;
    v.ActualImgH = 16;
    v.xTangent = 0xFFFFFFFF;
    v.yTangent = 18;
    v.Theta = Fix(-3, 0xC000);  // -2.250
    EXPECT_TRUE(d.analyzer.TwNvSkewInfoAnalyze(&v));
    EXPECT_EQ(d.Text(),
              "  TWNV_LOCATIONDATA = {\r\n"
              "    BitsPerPixel = [-1]\r\n"
              "    topPoint     = [11]\r\n"
              "    leftPoint    = [12]\r\n"
              "    locateW      = [13]\r\n"
              "    locateH      = [14]\r\n"
              "    ActualImgW   = [15]\r\n"
              "    ActualImgH   = [16]\r\n"
              "    xTangent     = [4294967295]\r\n"
              "    yTangent     = [18]\r\n"
              "    Theta        = [-2.250]\r\n"
              "  }\r\n");
}

// ---------------------------------------------------------------------------
// TWNV_USMPARAM, TWNV_SETTINGFRAME, TWNV_THRESHOLDINFO, TWNV_REVISEBASEPARM

const char kUsmParamBlock[] =
    "    TWNV_USMPARAM = {\r\n"
    "      Amount    = [-5]\r\n"
    "      Radius    = [32767]\r\n"
    "      Threshold = [-32768]\r\n"
    "    }\r\n";

TWNV_USMPARAM SampleUsmParam() {
    TWNV_USMPARAM v;
    v.Amount = -5;
    v.Radius = 32767;
    v.Threshold = static_cast<TW_INT16>(0x8000);
    return v;
}

TEST(VendorUnsharpMask, OpensWithFourBlanksAlsoWhenDumpedByItself) {
    Dump d;
    const TWNV_USMPARAM v = SampleUsmParam();
    EXPECT_TRUE(d.analyzer.TwUnsharpMaskAnalyze(&v));
    EXPECT_EQ(d.Text(), kUsmParamBlock);
}

TEST(VendorSettingFrame, PrintsBothCountsUnsigned) {
    Dump d;
    TWNV_SETTINGFRAME v;
    v.NumFrame = 0xFFFF;
    v.CurrentNum = 3;
    EXPECT_TRUE(d.analyzer.TwNvSettingFrameAnalyze(&v));
    EXPECT_EQ(d.Text(),
              "  TWNV_SETTINGFRAME = {\r\n"
              "    NumFrame    = [65535]\r\n"
              "    CurrentNum  = [3]\r\n"
              "  }\r\n");
}

TWNV_THRESHOLDINFO Threshold(TW_UINT16 base) {
    TWNV_THRESHOLDINFO t;
    t.ShadowL = base;
    t.ShadowH = static_cast<TW_UINT16>(base + 1);
    t.HighlightH = static_cast<TW_UINT16>(base + 2);
    t.HighlightL = static_cast<TW_UINT16>(base + 3);
    return t;
}

std::string ThresholdBlock(int base) {
    char text[512];
    snprintf(text, sizeof text,
             "      TWNV_THRESHOLDINFO = {\r\n"
             "        ShadowL    = [%d]\r\n"
             "        ShadowH    = [%d]\r\n"
             "        HighlightH = [%d]\r\n"
             "        HighlightL = [%d]\r\n"
             "      }\r\n",
             base, base + 1, base + 2, base + 3);
    return text;
}

TEST(VendorThresholdInfo, OpensWithSixBlanksAndPrintsFourUnsignedValues) {
    Dump d;
    const TWNV_THRESHOLDINFO v = Threshold(65532);
    EXPECT_TRUE(d.analyzer.TwNvThresholdInfoAnalyze(&v));
    EXPECT_EQ(d.Text(), ThresholdBlock(65532));
}

TWNV_REVISEBASEPARM SampleRevise() {
    TWNV_REVISEBASEPARM v;
    v.InputRevise = Threshold(10);
    v.OutputRevise = Threshold(200);
    v.BlurMax = 0xFFFF;
    return v;
}

std::string ReviseBlock() {
    return "    TWNV_REVISEBASEPARM = {\r\n"
           "      InputRevise  = \r\n" +
           ThresholdBlock(10) +
           "      OutputRevise = \r\n" +
           ThresholdBlock(200) +
           "      BlurMax      = [65535]\r\n"
           "    }\r\n";
}

TEST(VendorReviseBaseParam, LabelsEachThresholdBlockAndEndsWithBlurMax) {
    Dump d;
    const TWNV_REVISEBASEPARM v = SampleRevise();
    EXPECT_TRUE(d.analyzer.TwNvReviseBaseParamAnalyze(&v));
    EXPECT_EQ(d.Text(), ReviseBlock());
}

// ---------------------------------------------------------------------------
// TWNV_USMINFO

TEST(VendorUsmInfo, NestsTheUnsharpMaskAndReviseBlocksInFieldOrder) {
    Dump d;
    TWNV_USMINFO v;
    v.InputResolution = 0xFFFF;
    v.InUSMLevel = 2;
    v.InFilmType = 1;
    v.USMParm = SampleUsmParam();
    v.ReviseParm = SampleRevise();
    Exact<TWNV_USMINFO> block(v);
    EXPECT_TRUE(d.analyzer.TwNvUsmInfoAnalyze(block.get()));
    EXPECT_EQ(d.Text(),
              "  TWNV_USMINFO = {\r\n"
              "    InputResolution = [65535]\r\n"
              "    InUSMLevel      = [2]\r\n"
              "    InFilmType      = [1]\r\n"
              "    USMParm         = \r\n" +
                  std::string(kUsmParamBlock) +
                  "    ReviseParm      = \r\n" +
                  ReviseBlock() +
                  "  }\r\n");
}

// ---------------------------------------------------------------------------
// Null structures and the operations without a structure

TEST(VendorNullStructures, EveryFormatterGivenNullPrintsNothingAndSucceeds) {
    Dump d;
    CParaAnalyze& a = d.analyzer;
    EXPECT_TRUE(a.TwNvAutoExposureAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvRgbMatrixAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvColorSmoothingAnalyze(nullptr));
    EXPECT_TRUE(a.TwHardwareInfoAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvSkewInfoAnalyze(nullptr));
    EXPECT_TRUE(a.TwUnsharpMaskAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvSettingFrameAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvThresholdInfoAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvReviseBaseParamAnalyze(nullptr));
    EXPECT_TRUE(a.TwNvUsmInfoAnalyze(nullptr));
    EXPECT_EQ(d.Text(), "");
}

TEST(VendorNoStructure, EventRedCorrectionAndCallbackOperationsPrintNothing) {
    Dump d;
    EXPECT_TRUE(d.analyzer.TwNvEventAnalyze());
    EXPECT_TRUE(d.analyzer.TwNvRedCorrectionMatrixAnalyze());
    EXPECT_TRUE(d.analyzer.TwNvTwainCallbackMsgAnalyze());
    EXPECT_EQ(d.Text(), "");
}

TEST(VendorOutput, ABlockAppendsAfterTextAlreadyInTheBuffer) {
    char buffer[kLogTextSize + 1] = "pData   = <0x00000000>\r\n";
    CParaAnalyze a;
    a.SetOutput(buffer, kLogTextSize);
    TWNV_SETTINGFRAME v{1, 2};
    a.TwNvSettingFrameAnalyze(&v);
    EXPECT_EQ(std::string(buffer),
              "pData   = <0x00000000>\r\n"
              "  TWNV_SETTINGFRAME = {\r\n"
              "    NumFrame    = [1]\r\n"
              "    CurrentNum  = [2]\r\n"
              "  }\r\n");
}

}  // namespace
