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

// Every operation with a structure dumps that structure's block, and only
// it, between the pData line and the state line. The lines themselves are
// checked structure by structure in the unit tests.
TEST(VendorTrace, EachOperationDumpsItsOwnBlockBetweenPDataAndTheState) {
    struct Op {
        TW_UINT16 dat;
        const char* name;
        size_t size;
        const char* opening;
        const char* closing;
        size_t lines;
    };
    const Op ops[] = {
        {DAT_NV_AUTOEXPOSURE, "DAT_NV_AUTOEXPOSURE", sizeof(TWNV_AUTOEXPOSURE),
         "  TWNV_AUTOEXPOSURE = {", "  }", 11},
        {DAT_NV_RGBMATRIX, "DAT_NV_RGBMATRIX", sizeof(TWNV_RGBMATRIX),
         "  TWNV_RGBMATRIX = {", "  }", 3},
        {DAT_NV_COLORSMOOTHING, "DAT_NV_COLORSMOOTHING", sizeof(TWNV_COLORSMOOTHING),
         "  TWNV_COLORSMOOTHING = {", "  }", 12},
        {DAT_NV_HARDWAREINFO, "DAT_NV_HARDWAREINFO", sizeof(TWNV_HARDWAREINFO),
         "  TWNV_HARDWAREINFO = {", "  }", 49},
        {DAT_NV_SKEWINFO, "DAT_NV_SKEWINFO", sizeof(TWNV_LOCATIONDATA),
         "  TWNV_LOCATIONDATA = {", "  }", 12},
        // Four blanks also at the top level.
        {DAT_NV_UNSHARPMASKPARAM, "DAT_NV_UNSHARPMASKPARAM", sizeof(TWNV_USMPARAM),
         "    TWNV_USMPARAM = {", "    }", 5},
        {DAT_NV_SETTINGFRAME, "DAT_NV_SETTINGFRAME", sizeof(TWNV_SETTINGFRAME),
         "  TWNV_SETTINGFRAME = {", "  }", 4},
        {DAT_NV_USMINFO, "DAT_NV_USMINFO", sizeof(TWNV_USMINFO),
         "  TWNV_USMINFO = {", "  }", 29},
    };
    for (const Op& op : ops) {
        LoadedDataSource ds;
        ASSERT_NE(ds.control, nullptr);
        std::unique_ptr<unsigned char[]> app(new unsigned char[op.size]());
        ds.Call(DG_CONTROL, op.dat, MSG_GET, app.get());
        const std::string log = TheLog(ds);
        const std::string head = Triplet(op.name) + ResultLines("TWRC_SUCCESS", app.get());
        const std::string tail = StateLine(3);
        ASSERT_GT(log.size(), head.size() + tail.size()) << op.name;
        EXPECT_EQ(log.substr(0, head.size()), head) << op.name;
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << op.name;
        const std::string block = log.substr(head.size(), log.size() - head.size() - tail.size());
        EXPECT_EQ(block.substr(0, strlen(op.opening) + 2), std::string(op.opening) + "\r\n") << op.name;
        EXPECT_EQ(block.substr(block.size() - strlen(op.closing) - 2), std::string(op.closing) + "\r\n")
            << op.name;
        size_t lines = 0;
        for (size_t at = block.find("\r\n"); at != std::string::npos; at = block.find("\r\n", at + 2)) ++lines;
        EXPECT_EQ(lines, op.lines) << op.name;
    }
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
