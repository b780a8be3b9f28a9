// The vendor-extension dumps: each TWNV_* structure prints its block line for
// line, with names, signs, widths and nesting as the vendor layout gives
// them, and never reads outside the structure whatever its bytes hold.
#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analyzer/ParaAnalyze.h"
#include "LogText.h"

namespace {

void Identity(TW_FIX32 (&m)[9]) {
    for (int i = 0; i < 9; ++i) m[i] = Fix(i % 4 == 0 ? 1 : 0, 0);
}

void SetPascal(TWNV_STR32P& field, const char* text) {
    memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(strlen(text));
    memcpy(field + 1, text, strlen(text));
}

// The structure copied into a heap block of exactly its size, so that any
// read past it is an overflow the sanitizer build reports; rendered by `f`.
template <class T>
std::string Render(const T& v, bool (CParaAnalyze::*f)(const T*), bool* cut = nullptr) {
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[sizeof v]);
    memcpy(bytes.get(), &v, sizeof v);
    CParaAnalyze a;
    char buffer[kLogTextSize + 1] = {};
    a.SetOutput(buffer, kLogTextSize);
    EXPECT_TRUE((a.*f)(reinterpret_cast<const T*>(bytes.get())));
    if (cut) *cut = a.OutputCut();
    return buffer;
}

// The value between the brackets of the line `label`.
std::string Field(const std::string& text, const std::string& label) {
    const size_t at = text.find("    " + label + " ");
    if (at == std::string::npos) return "(no line)";
    const size_t open = text.find('[', at) + 1;
    return text.substr(open, text.find("]\r\n", open) - open);
}

const std::string kId = "1.000,0.000,0.000,0.000,1.000,0.000,0.000,0.000,1.000";

TWNV_AUTOEXPOSURE Exposure() {
    TWNV_AUTOEXPOSURE v{};
    v.Handle = 0xffffffff;
    v.Left = -1;
    v.Top = 20;
    v.Right = 3000;
    v.Bottom = -32768;
    v.FilmType = 1;
    v.PreScanGamma = 0;
    v.ScreenGamma = Fix(-1, 0x8000);  // -1 + 0.5, not -1.5
    v.GrayBalance = 0xFFFF;
    return v;
}

TWNV_USMPARAM UsmParam() { return TWNV_USMPARAM{-5, 32767, static_cast<TW_INT16>(0x8000)}; }
const std::string kUsmParam =
    "    TWNV_USMPARAM = {\r\n      Amount    = [-5]\r\n      Radius    = [32767]\r\n"
    "      Threshold = [-32768]\r\n    }\r\n";

TWNV_REVISEBASEPARM Revise() {
    TWNV_REVISEBASEPARM v;
    v.InputRevise = TWNV_THRESHOLDINFO{10, 11, 12, 13};
    v.OutputRevise = TWNV_THRESHOLDINFO{65532, 65533, 65534, 65535};
    v.BlurMax = 0xFFFF;
    return v;
}
const std::string kRevise =
    "    TWNV_REVISEBASEPARM = {\r\n      InputRevise  = \r\n"
    "      TWNV_THRESHOLDINFO = {\r\n        ShadowL    = [10]\r\n        ShadowH    = [11]\r\n"
    "        HighlightH = [12]\r\n        HighlightL = [13]\r\n      }\r\n      OutputRevise = \r\n"
    "      TWNV_THRESHOLDINFO = {\r\n        ShadowL    = [65532]\r\n        ShadowH    = [65533]\r\n"
    "        HighlightH = [65534]\r\n        HighlightL = [65535]\r\n      }\r\n"
    "      BlurMax      = [65535]\r\n    }\r\n";

TWNV_HARDWAREINFO Hardware() {
    TWNV_HARDWAREINFO v;
    memset(&v, 0, sizeof v);
    v.ModelID = 0xABCDEF12;
    SetPascal(v.ProductName, "Vistrel 9000");
    SetPascal(v.ModelName, "V9K-F");
    const TW_UINT32 words[] = {4800, 9600, 50, 0xFFFFFFFF, 600, 40800};
    memcpy(&v.OptXResolution, words, sizeof words);
    for (int i = 0; i < 2; ++i) {
        v.PixelSizeofFB[i] = 1 + i;
        v.PixelSizeofADF[i] = 3 + i;
        v.PixelSizeofTPU[i] = 5 + i;
    }
    v.InterfaceSupport = 0xFFFF;
    v.CommandType = 2;
    v.ConnectInterfaceType = 0;
    v.StandAloneModeSupport = 0x0200;  // the flag at offset 136, not the interface type
    v.FullAutoModeSupport = 1;
    v.DocumentModeSupport = 2;
    v.HMPSupport = 0xFFFF;
    v.AutoLayoutSupportFB = 1;
    v.HalftoneSupport = 1;
    v.HTDitherSupport = 1;
    v.HTTETSupport = 0x100;
    v.Reserved1 = 0xBEEF;  // reserved bytes print no line
    v.Reserved2[1] = 0xBEEF;
    v.TableArrangement = 1;
    v.OptionSupport = 0x1A;
    v.FocusSupport = 2;
    v.FocusArea[0] = 100;
    v.FocusArea[1] = 0x80000000u;
    strcpy(v.ProfileNameFB, "Reflective.icc");
    memset(v.ProfileNameTPU, 'T', sizeof v.ProfileNameTPU);  // no NUL: its 34 bytes only
    for (TW_FIX32* m : {v.ColorCorrectionFB, v.ColorCorrectionPOSI, v.ColorCorrectionNEGA,
                        v.HMPColorCorrectionFB, v.HMPColorCorrectionPOSI, v.HMPColorCorrectionNEGA})
        memset(m, 0x7F, 9 * sizeof *m);
    Identity(v.ColorCorrectionFB);
    Identity(v.HMPColorCorrectionNEGA);
    v.ColorCorrectionNEGA[0] = Fix(-32768, 0);
    v.ColorCorrectionNEGA[8] = Fix(-1, 0x4000);
    memcpy(v.ROMVersion, "2.10\0junk", 9);
    return v;
}

struct Case {
    const char* name;
    std::function<std::string()> render;
    std::string expected;
};

const std::string k7F = "32639.498";
const std::string k7FList = k7F + "," + k7F + "," + k7F + "," + k7F + "," + k7F + "," + k7F + "," + k7F +
                            "," + k7F + "," + k7F;

const std::vector<Case> kCases = {
    {"AutoExposure", [] { return Render(Exposure(), &CParaAnalyze::TwNvAutoExposureAnalyze); },
     "  TWNV_AUTOEXPOSURE = {\r\n    Handle       = <0xffffffff>\r\n    Left         = [-1]\r\n"
     "    Top          = [20]\r\n    Right        = [3000]\r\n    Bottom       = [-32768]\r\n"
     "    FilmType     = [TWNV_FT_NEGA]\r\n    PreScanGamma = [TWNV_PG_10]\r\n"
     "    ScreenGamma  = [-0.500]\r\n    GrayBalance  = [65535]\r\n  }\r\n"},
    {"RgbMatrix",
     [] {
         TWNV_RGBMATRIX v;
         const TW_FIX32 m[9] = {Fix(-32768, 0), Fix(32767, 0xFFFF), Fix(-2, 0x4000), Fix(0, 0x8000), Fix(1, 0),
                                Fix(2, 0), Fix(0, 1), Fix(4, 0), Fix(-1, 0)};
         memcpy(v.ColorCoeff, m, sizeof m);
         return Render(v, &CParaAnalyze::TwNvRgbMatrixAnalyze);
     },
     "  TWNV_RGBMATRIX = {\r\n    ColorCoeff = {-32768.000,32768.000,-1.750,0.500,1.000,2.000,0.000,4.000,"
     "-1.000}\r\n  }\r\n"},
    {"ColorSmoothing",
     [] {
         const TWNV_COLORSMOOTHING v{0x12, 1, 2, 3, 4, 5, 6, 7, 0x80000000u, 0xFFFFFFFFu};
         return Render(v, &CParaAnalyze::TwNvColorSmoothingAnalyze);
     },
     "  TWNV_COLORSMOOTHING = {\r\n    Handle       = <0x00000012>\r\n    LeftX        = [1]\r\n"
     "    LeftY        = [2]\r\n    TopX         = [3]\r\n    TopY         = [4]\r\n    RightX       = [5]\r\n"
     "    RightY       = [6]\r\n    BottomX      = [7]\r\n    BottomY      = [2147483648]\r\n"
     "    Reserved     = [4294967295]\r\n  }\r\n"},
    {"HardwareInfo", [] { return Render(Hardware(), &CParaAnalyze::TwHardwareInfoAnalyze); },
     "  TWNV_HARDWAREINFO = {\r\n"
     "    ModelID                = [0xabcdef12]\r\n    ProductName            = [Vistrel 9000]\r\n"
     "    ModelName              = [V9K-F]\r\n    OptXResolution         = [4800]\r\n"
     "    OptYResolution         = [9600]\r\n    MinResolution          = [50]\r\n"
     "    MaxResolution          = [4294967295]\r\n    MaxMoireResolution     = [600]\r\n"
     "    MaxPixelofWidth        = [40800]\r\n    PixelSizeofFB[0]       = [1]\r\n"
     "    PixelSizeofFB[1]       = [2]\r\n    PixelSizeofADF[0]      = [3]\r\n"
     "    PixelSizeofADF[1]      = [4]\r\n    PixelSizeofTPU[0]      = [5]\r\n"
     "    PixelSizeofTPU[1]      = [6]\r\n    BitDepth               = [0x00]\r\n"
     "    InterfaceSupport       = [65535]\r\n    CommandType            = [2]\r\n"
     "    ConnectInterfaceType   = [0]\r\n    StandAloneModeSupport  = [true]\r\n"
     "    FullAutoModeSupport    = [true]\r\n    SimpleModeSupport      = [false]\r\n"
     "    DocumentModeSupport    = [true]\r\n    AdvancedModeSupport    = [false]\r\n"
     "    HMPSupport             = [true]\r\n    FIT3                   = [false]\r\n"
     "    AutoLayoutSupportFB    = [true]\r\n    AutoLayoutSupportADF   = [false]\r\n"
     "    HalftoneSupport        = [true]\r\n    HTModeSupport          = [false]\r\n"
     "    HTDitherSupport        = [true]\r\n    HTAASSupport           = [false]\r\n"
     "    HTTETSupport           = [true]\r\n    TableArrangement       = [1]\r\n"
     "    OptionSupport          = [0x001a]\r\n    FocusSupport           = [2]\r\n"
     "    FocusArea[0]           = [100]\r\n    FocusArea[1]           = [2147483648]\r\n"
     "    ProfileNameFB          = [Reflective.icc]\r\n"
     "    ProfileNameTPU         = [" + std::string(34, 'T') + "]\r\n"
     "    ColorCorrectionFB      = [" + kId + "]\r\n    ColorCorrectionPOSI    = [" + k7FList + "]\r\n"
     "    ColorCorrectionNEGA    = [-32768.000," + k7F + "," + k7F + "," + k7F + "," + k7F + "," + k7F + "," +
         k7F + "," + k7F + ",-0.750]\r\n"
     "    HMPColorCorrectionFB   = [" + k7FList + "]\r\n    HMPColorCorrectionPOSI = [" + k7FList + "]\r\n"
     "    HMPColorCorrectionNEGA = [" + kId + "]\r\n    ROMVersion             = [2.10]\r\n  }\r\n"},
    {"SkewInfo",
     [] {
         TWNV_LOCATIONDATA v{};
         v.BitsPerPixel = -1;
         v.Reserved = 0xBEEF;
         const TW_UINT32 words[] = {11, 12, 13, 14, 15, 16, 0xFFFFFFFF, 18};
         memcpy(&v.topPoint, words, sizeof words);
         v.Theta = Fix(-3, 0xC000);
         return Render(v, &CParaAnalyze::TwNvSkewInfoAnalyze);
     },
     "  TWNV_LOCATIONDATA = {\r\n    BitsPerPixel = [-1]\r\n    topPoint     = [11]\r\n"
     "    leftPoint    = [12]\r\n    locateW      = [13]\r\n    locateH      = [14]\r\n"
     "    ActualImgW   = [15]\r\n    ActualImgH   = [16]\r\n    xTangent     = [4294967295]\r\n"
     "    yTangent     = [18]\r\n    Theta        = [-2.250]\r\n  }\r\n"},
    {"UnsharpMask", [] { return Render(UsmParam(), &CParaAnalyze::TwUnsharpMaskAnalyze); }, kUsmParam},
    {"SettingFrame", [] { return Render(TWNV_SETTINGFRAME{0xFFFF, 3}, &CParaAnalyze::TwNvSettingFrameAnalyze); },
     "  TWNV_SETTINGFRAME = {\r\n    NumFrame    = [65535]\r\n    CurrentNum  = [3]\r\n  }\r\n"},
    {"UsmInfo",
     [] {
         TWNV_USMINFO v;
         v.InputResolution = 0xFFFF;
         v.InUSMLevel = 2;
         v.InFilmType = 1;
         v.USMParm = UsmParam();
         v.ReviseParm = Revise();
         return Render(v, &CParaAnalyze::TwNvUsmInfoAnalyze);
     },
     "  TWNV_USMINFO = {\r\n    InputResolution = [65535]\r\n    InUSMLevel      = [2]\r\n"
     "    InFilmType      = [1]\r\n    USMParm         = \r\n" + kUsmParam + "    ReviseParm      = \r\n" +
         kRevise + "  }\r\n"},
};

TEST(VendorDump, EachStructurePrintsItsBlockInFieldOrder) {
    for (const Case& c : kCases) EXPECT_EQ(c.render(), c.expected) << c.name;
}

TEST(VendorDump, UnknownEnumerationValuesPrintTheirErrorText) {
    TWNV_AUTOEXPOSURE v = Exposure();
    v.FilmType = 0xFFFF;  // zero-extended, not -1
    v.PreScanGamma = 2;
    const std::string text = Render(v, &CParaAnalyze::TwNvAutoExposureAnalyze);
    EXPECT_EQ(Field(text, "FilmType"), "ERROR!(65535)");
    EXPECT_EQ(Field(text, "PreScanGamma"), "ERROR!(2)");
    v.FilmType = 4;
    EXPECT_EQ(Field(Render(v, &CParaAnalyze::TwNvAutoExposureAnalyze), "FilmType"), "TWNV_FT_REFLECTIVEDOCUMENT");
}

TEST(VendorDump, PascalStringsTakeTheirLengthCutToTheField) {
    TWNV_HARDWAREINFO v = Hardware();
    memset(v.ProductName, 'P', sizeof v.ProductName);
    v.ProductName[0] = 255;  // lying length: 33 characters, the field's room
    memset(v.ModelName, 'Z', sizeof v.ModelName);
    v.ModelName[0] = 3;  // exactly its length, not up to a NUL
    const std::string text = Render(v, &CParaAnalyze::TwHardwareInfoAnalyze);
    EXPECT_EQ(Field(text, "ProductName"), std::string(33, 'P'));
    EXPECT_EQ(Field(text, "ModelName"), "ZZZ");
    v.ProductName[0] = 0;
    memcpy(v.ModelName, "\x05" "ab\0cd", 6);  // a NUL among the characters ends the text
    const std::string again = Render(v, &CParaAnalyze::TwHardwareInfoAnalyze);
    EXPECT_EQ(Field(again, "ProductName"), "");
    EXPECT_EQ(Field(again, "ModelName"), "ab");
}

TEST(VendorDump, NoNulAnywhereStaysInsideTheStructureAndFitsTheBuffer) {
    // Every byte 0xA5 (or 0xFF, every number at its widest): lengths past
    // the field, no NUL in any text, the widest block the log can get.
    for (const unsigned char fill : {0xA5, 0xFF}) {
        TWNV_HARDWAREINFO v;
        memset(&v, fill, sizeof v);
        bool cut = true;
        const std::string text = Render(v, &CParaAnalyze::TwHardwareInfoAnalyze, &cut);
        EXPECT_FALSE(cut);
        EXPECT_EQ(Field(text, "ProductName"), std::string(33, static_cast<char>(fill)));
        EXPECT_EQ(Field(text, "ROMVersion"), std::string(34, static_cast<char>(fill)));
        EXPECT_EQ(text.substr(text.size() - 5), "  }\r\n");
    }
}

TEST(VendorDump, ReadsAStructureAtAnOddAddress) {
    const TWNV_AUTOEXPOSURE v = Exposure();
    std::vector<unsigned char> bytes(sizeof v + 1);
    memcpy(bytes.data() + 1, &v, sizeof v);
    CParaAnalyze a;
    char buffer[kLogTextSize + 1] = {};
    a.SetOutput(buffer, kLogTextSize);
    a.TwNvAutoExposureAnalyze(reinterpret_cast<const TWNV_AUTOEXPOSURE*>(bytes.data() + 1));
    EXPECT_EQ(std::string(buffer), kCases[0].expected);
}

TEST(VendorDump, EveryFormatterGivenNullPrintsNothingAndSucceeds) {
    CParaAnalyze a;
    char buffer[kLogTextSize + 1] = {};
    a.SetOutput(buffer, kLogTextSize);
    EXPECT_TRUE(a.TwNvAutoExposureAnalyze(nullptr) && a.TwNvRgbMatrixAnalyze(nullptr) &&
                a.TwNvColorSmoothingAnalyze(nullptr) && a.TwHardwareInfoAnalyze(nullptr) &&
                a.TwNvSkewInfoAnalyze(nullptr) && a.TwUnsharpMaskAnalyze(nullptr) &&
                a.TwNvSettingFrameAnalyze(nullptr) && a.TwNvThresholdInfoAnalyze(nullptr) &&
                a.TwNvReviseBaseParamAnalyze(nullptr) && a.TwNvUsmInfoAnalyze(nullptr));
    a.SetColorCoeffData(nullptr);
    EXPECT_EQ(std::string(buffer), "");
}

}  // namespace
