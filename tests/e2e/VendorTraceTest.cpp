// Vendor operations through the loaded data source: the companion answers a
// DAT_NV_* triplet, and the log holds the triplet line, the result lines,
// the TWNV_* block of that operation and the state line, byte for byte.
#include <gtest/gtest.h>

#include <string.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "DataSourceHarness.h"
#include "tracelet/twain_nv.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// What the companion writes behind pData.
struct Answer {
    const void* bytes = nullptr;
    size_t size = 0;
};

void WriteAnswer(void* context, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
    const Answer* a = static_cast<const Answer*>(context);
    if (pData && a && a->bytes) memcpy(pData, a->bytes, a->size);
}

template <class T>
void Script(LoadedDataSource& ds, Answer& answer, const T& value) {
    answer.bytes = &value;
    answer.size = sizeof value;
    ds.control->context = &answer;
    ds.control->fill = WriteAnswer;
    ds.control->rc = TWRC_SUCCESS;
}

// The application's pData: a heap block of exactly the structure's size,
// so that the sanitizer build reports any read past it.
template <class T>
struct AppBlock {
    std::unique_ptr<unsigned char[]> bytes{new unsigned char[sizeof(T)]()};
    void* get() { return bytes.get(); }
};

std::string TheLog(LoadedDataSource& ds) {
    ds.Unload();
    return LoadedDataSource::Log();
}

std::string Triplet(const char* dat) {
    return std::string("[00001] [APP] DG_CONTROL/") + dat + "/MSG_GET\r\n";
}

TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

void Identity(TW_FIX32 (&m)[9]) {
    for (int i = 0; i < 9; ++i) m[i] = Fix(i % 4 == 0 ? 1 : 0);
}

const char kIdentity[] = "1.000,0.000,0.000,0.000,1.000,0.000,0.000,0.000,1.000";

// --- One block per operation -------------------------------------------------------------

TEST(VendorTrace, AutoExposureNamesFilmTypeAndGammaAndSignsItsEdges) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_AUTOEXPOSURE v{};
    v.Handle = 0xCAFE;
    v.Left = -1;
    v.Top = 0;
    v.Right = 2550;
    v.Bottom = 3507;
    v.FilmType = 4;
    v.PreScanGamma = 2;
    v.ScreenGamma = Fix(2, 0x8000);
    v.GrayBalance = 0xFFFF;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_AUTOEXPOSURE> app;
    ASSERT_EQ(ds.Call(DG_CONTROL, DAT_NV_AUTOEXPOSURE, MSG_GET, app.get()), TWRC_SUCCESS);
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_AUTOEXPOSURE") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_AUTOEXPOSURE = {",
                                  "    Handle       = <0x0000cafe>",
                                  "    Left         = [-1]",
                                  "    Top          = [0]",
                                  "    Right        = [2550]",
                                  "    Bottom       = [3507]",
                                  "    FilmType     = [TWNV_FT_REFLECTIVEDOCUMENT]",
                                  "    PreScanGamma = [ERROR!(2)]",
                                  "    ScreenGamma  = [2.500]",
                                  "    GrayBalance  = [65535]",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, RgbMatrixPrintsTheIdentityCoefficients) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_RGBMATRIX v;
    Identity(v.ColorCoeff);
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_RGBMATRIX> app;
    ds.Call(DG_CONTROL, DAT_NV_RGBMATRIX, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_RGBMATRIX") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_RGBMATRIX = {",
                                  std::string("    ColorCoeff = {") + kIdentity + "}",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, ColorSmoothingPrintsUnsignedCorners) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_COLORSMOOTHING v{};
    v.Handle = 0x80000001u;
    v.LeftX = 1;
    v.LeftY = 2;
    v.TopX = 3;
    v.TopY = 4;
    v.RightX = 5;
    v.RightY = 6;
    v.BottomX = 7;
    v.BottomY = 8;
    v.Reserved = 0xFFFFFFFFu;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_COLORSMOOTHING> app;
    ds.Call(DG_CONTROL, DAT_NV_COLORSMOOTHING, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_COLORSMOOTHING") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_COLORSMOOTHING = {",
                                  "    Handle       = <0x80000001>",
                                  "    LeftX        = [1]",
                                  "    LeftY        = [2]",
                                  "    TopX         = [3]",
                                  "    TopY         = [4]",
                                  "    RightX       = [5]",
                                  "    RightY       = [6]",
                                  "    BottomX      = [7]",
                                  "    BottomY      = [8]",
                                  "    Reserved     = [4294967295]",
                                  "  }",
                              }) +
                              StateLine(3));
}

void SetPascal(TWNV_STR32P& field, const char* text) {
    memset(field, 0, sizeof field);
    field[0] = static_cast<unsigned char>(strlen(text));
    memcpy(field + 1, text, strlen(text));
}

TEST(VendorTrace, HardwareInfoPrintsEveryLine) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_HARDWAREINFO v;
    memset(&v, 0, sizeof v);
    v.ModelID = 0xB;
    SetPascal(v.ProductName, "Vistrel 9000");
    SetPascal(v.ModelName, "");
    v.OptXResolution = 4800;
    v.OptYResolution = 9600;
    v.MinResolution = 50;
    v.MaxResolution = 12800;
    v.MaxMoireResolution = 600;
    v.MaxPixelofWidth = 40800;
    v.PixelSizeofFB[0] = 10;
    v.PixelSizeofFB[1] = 11;
    v.PixelSizeofADF[0] = 12;
    v.PixelSizeofADF[1] = 13;
    v.PixelSizeofTPU[0] = 14;
    v.PixelSizeofTPU[1] = 15;
    v.BitDepth = 0x10;
    v.InterfaceSupport = 1;
    v.CommandType = 2;
    v.ConnectInterfaceType = 3;
    v.StandAloneModeSupport = 0;
    v.FullAutoModeSupport = 1;
    v.DocumentModeSupport = 1;
    v.HMPSupport = 1;
    v.AutoLayoutSupportADF = 1;
    v.HTModeSupport = 1;
    v.HTAASSupport = 1;
    v.TableArrangement = 0;
    v.OptionSupport = 0x0102;
    v.FocusSupport = 1;
    v.FocusArea[0] = 0;
    v.FocusArea[1] = 4294967295u;
    strcpy(v.ProfileNameFB, "FB");
    strcpy(v.ProfileNameTPU, "");
    Identity(v.ColorCorrectionFB);
    Identity(v.ColorCorrectionPOSI);
    Identity(v.ColorCorrectionNEGA);
    Identity(v.HMPColorCorrectionFB);
    Identity(v.HMPColorCorrectionPOSI);
    Identity(v.HMPColorCorrectionNEGA);
    v.HMPColorCorrectionPOSI[0] = Fix(1, 0x2000);  // 1.125
    strcpy(v.ROMVersion, "1.0.3");
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_HARDWAREINFO> app;
    ds.Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, app.get());
    const std::string id = kIdentity;
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_HARDWAREINFO") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_HARDWAREINFO = {",
                                  "    ModelID                = [0x0b]",
                                  "    ProductName            = [Vistrel 9000]",
                                  "    ModelName              = []",
                                  "    OptXResolution         = [4800]",
                                  "    OptYResolution         = [9600]",
                                  "    MinResolution          = [50]",
                                  "    MaxResolution          = [12800]",
                                  "    MaxMoireResolution     = [600]",
                                  "    MaxPixelofWidth        = [40800]",
                                  "    PixelSizeofFB[0]       = [10]",
                                  "    PixelSizeofFB[1]       = [11]",
                                  "    PixelSizeofADF[0]      = [12]",
                                  "    PixelSizeofADF[1]      = [13]",
                                  "    PixelSizeofTPU[0]      = [14]",
                                  "    PixelSizeofTPU[1]      = [15]",
                                  "    BitDepth               = [0x10]",
                                  "    InterfaceSupport       = [1]",
                                  "    CommandType            = [2]",
                                  "    ConnectInterfaceType   = [3]",
                                  "    StandAloneModeSupport  = [false]",
                                  "    FullAutoModeSupport    = [true]",
                                  "    SimpleModeSupport      = [false]",
                                  "    DocumentModeSupport    = [true]",
                                  "    AdvancedModeSupport    = [false]",
                                  "    HMPSupport             = [true]",
                                  "    FIT3                   = [false]",
                                  "    AutoLayoutSupportFB    = [false]",
                                  "    AutoLayoutSupportADF   = [true]",
                                  "    HalftoneSupport        = [false]",
                                  "    HTModeSupport          = [true]",
                                  "    HTDitherSupport        = [false]",
                                  "    HTAASSupport           = [true]",
                                  "    HTTETSupport           = [false]",
                                  "    TableArrangement       = [0]",
                                  "    OptionSupport          = [0x0102]",
                                  "    FocusSupport           = [1]",
                                  "    FocusArea[0]           = [0]",
                                  "    FocusArea[1]           = [4294967295]",
                                  "    ProfileNameFB          = [FB]",
                                  "    ProfileNameTPU         = []",
                                  "    ColorCorrectionFB      = [" + id + "]",
                                  "    ColorCorrectionPOSI    = [" + id + "]",
                                  "    ColorCorrectionNEGA    = [" + id + "]",
                                  "    HMPColorCorrectionFB   = [" + id + "]",
                                  "    HMPColorCorrectionPOSI = [1.125" + id.substr(5) + "]",
                                  "    HMPColorCorrectionNEGA = [" + id + "]",
                                  "    ROMVersion             = [1.0.3]",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, SkewInfoPrintsTheLocationData) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_LOCATIONDATA v{};
    v.BitsPerPixel = 24;
    v.topPoint = 1;
    v.leftPoint = 2;
    v.locateW = 3;
    v.locateH = 4;
    v.ActualImgW = 5;
    v.ActualImgH = 6;
    v.xTangent = 7;
    v.yTangent = 8;
    v.Theta = Fix(0, 0x1000);  // 0.0625
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_LOCATIONDATA> app;
    ds.Call(DG_CONTROL, DAT_NV_SKEWINFO, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_SKEWINFO") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_LOCATIONDATA = {",
                                  "    BitsPerPixel = [24]",
                                  "    topPoint     = [1]",
                                  "    leftPoint    = [2]",
                                  "    locateW      = [3]",
                                  "    locateH      = [4]",
                                  "    ActualImgW   = [5]",
                                  "    ActualImgH   = [6]",
                                  "    xTangent     = [7]",
                                  "    yTangent     = [8]",
                                  "    Theta        = [0.062]",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, UnsharpMaskParamKeepsItsFourBlankIndentAtTopLevel) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_USMPARAM v;
    v.Amount = 150;
    v.Radius = -2;
    v.Threshold = 3;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_USMPARAM> app;
    ds.Call(DG_CONTROL, DAT_NV_UNSHARPMASKPARAM, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_UNSHARPMASKPARAM") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "    TWNV_USMPARAM = {",
                                  "      Amount    = [150]",
                                  "      Radius    = [-2]",
                                  "      Threshold = [3]",
                                  "    }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, SettingFramePrintsBothCounts) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_SETTINGFRAME v;
    v.NumFrame = 6;
    v.CurrentNum = 40000;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_SETTINGFRAME> app;
    ds.Call(DG_CONTROL, DAT_NV_SETTINGFRAME, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_SETTINGFRAME") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_SETTINGFRAME = {",
                                  "    NumFrame    = [6]",
                                  "    CurrentNum  = [40000]",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(VendorTrace, UsmInfoNestsItsBlocksInOrderWithTheirOwnIndentation) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_USMINFO v;
    v.InputResolution = 1200;
    v.InUSMLevel = 1;
    v.InFilmType = 2;
    v.USMParm.Amount = 100;
    v.USMParm.Radius = 2;
    v.USMParm.Threshold = -3;
    v.ReviseParm.InputRevise = {1, 2, 3, 4};
    v.ReviseParm.OutputRevise = {5, 6, 65535, 8};
    v.ReviseParm.BlurMax = 9;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_USMINFO> app;
    ds.Call(DG_CONTROL, DAT_NV_USMINFO, MSG_GET, app.get());
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_USMINFO") + ResultLines("TWRC_SUCCESS", app.get()) +
                              Lines({
                                  "  TWNV_USMINFO = {",
                                  "    InputResolution = [1200]",
                                  "    InUSMLevel      = [1]",
                                  "    InFilmType      = [2]",
                                  "    USMParm         = ",
                                  "    TWNV_USMPARAM = {",
                                  "      Amount    = [100]",
                                  "      Radius    = [2]",
                                  "      Threshold = [-3]",
                                  "    }",
                                  "    ReviseParm      = ",
                                  "    TWNV_REVISEBASEPARM = {",
                                  "      InputRevise  = ",
                                  "      TWNV_THRESHOLDINFO = {",
                                  "        ShadowL    = [1]",
                                  "        ShadowH    = [2]",
                                  "        HighlightH = [3]",
                                  "        HighlightL = [4]",
                                  "      }",
                                  "      OutputRevise = ",
                                  "      TWNV_THRESHOLDINFO = {",
                                  "        ShadowL    = [5]",
                                  "        ShadowH    = [6]",
                                  "        HighlightH = [65535]",
                                  "        HighlightL = [8]",
                                  "      }",
                                  "      BlurMax      = [9]",
                                  "    }",
                                  "  }",
                              }) +
                              StateLine(3));
}

// --- Operations without a block ---------------------------------------------------------------

TEST(VendorTrace, OperationsWithoutAStructurePrintNoBlock) {
    struct Op {
        TW_UINT16 dat;
        const char* name;
    };
    const Op ops[] = {
        {DAT_NV_EVENT, "DAT_NV_EVENT"},
        {DAT_NV_REDCORRECTIONMATRIX, "DAT_NV_REDCORRECTIONMATRIX"},
        {DAT_NV_TWAINCALLBACKMSG, "DAT_NV_TWAINCALLBACKMSG"},
        // Named operations that have no formatter at all.
        {0x8015, "DAT_NV_EDGEFILLAREA"},
        {0x8016, "DAT_NV_COLORFILTER"},
        {0x8017, "DAT_NV_DUALIMAGE"},
    };
    for (const Op& op : ops) {
        LoadedDataSource ds;
        ASSERT_NE(ds.control, nullptr);
        unsigned char data[64];
        memset(data, 0x41, sizeof data);
        ds.Call(DG_CONTROL, op.dat, MSG_GET, data);
        EXPECT_EQ(TheLog(ds), Triplet(op.name) + ResultLines("TWRC_SUCCESS", data) + StateLine(3))
            << op.name;
    }
}

TEST(VendorTrace, NullPDataPrintsNoBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    ds.Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, nullptr);
    EXPECT_EQ(TheLog(ds), Triplet("DAT_NV_HARDWAREINFO") + ResultLines("TWRC_SUCCESS", nullptr) +
                              StateLine(3));
}

// --- Hostile structures ---------------------------------------------------------------------

TEST(VendorTrace, HostileHardwareInfoPrintsWithinItsFields) {
    // Length bytes of 255, no NUL anywhere, in a block of exactly the
    // structure's size: the texts stop at their fields and nothing past the
    // block is read (the sanitizer build reports it otherwise).
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_HARDWAREINFO v;
    memset(&v, 'H', sizeof v);
    v.ProductName[0] = 255;
    v.ModelName[0] = 255;
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_HARDWAREINFO> app;
    ds.Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, app.get());
    const std::string log = TheLog(ds);
    const std::string h33(33, 'H'), h34(34, 'H');
    EXPECT_NE(log.find("    ProductName            = [" + h33 + "]\r\n"), std::string::npos);
    EXPECT_NE(log.find("    ModelName              = [" + h33 + "]\r\n"), std::string::npos);
    EXPECT_NE(log.find("    ProfileNameFB          = [" + h34 + "]\r\n"), std::string::npos);
    EXPECT_NE(log.find("    ProfileNameTPU         = [" + h34 + "]\r\n"), std::string::npos);
    EXPECT_NE(log.find("    ROMVersion             = [" + h34 + "]\r\n  }\r\n" + StateLine(3)),
              std::string::npos);
    EXPECT_EQ(log.find("Size of CAP_xxx too long"), std::string::npos);
}

TEST(VendorTrace, EveryNestedBlockOfAnAllOnesUsmInfoStaysInItsBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TWNV_USMINFO v;
    memset(&v, 0xFF, sizeof v);
    Answer answer;
    Script(ds, answer, v);
    AppBlock<TWNV_USMINFO> app;
    ds.Call(DG_CONTROL, DAT_NV_USMINFO, MSG_GET, app.get());
    const std::string log = TheLog(ds);
    EXPECT_NE(log.find("    InputResolution = [65535]\r\n"), std::string::npos);
    EXPECT_NE(log.find("      Amount    = [-1]\r\n"), std::string::npos);
    EXPECT_NE(log.find("      BlurMax      = [65535]\r\n    }\r\n  }\r\n" + StateLine(3)),
              std::string::npos);
}

}  // namespace
