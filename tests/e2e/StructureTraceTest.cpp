// Structure and capability dumps as the loaded data source writes them:
// DS_Entry picks the structure by the data argument type (a null pData gets
// the call's lines and no block, failed or not); the scripted companion
// answers DAT_CAPABILITY with a container in a handle of the layout built.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "ContainerBytes.h"
#include "DataSourceHarness.h"

namespace {

std::string Triplet(int seq, const std::string& names) { return Format("[%05d] [APP] %s\r\n", seq, names.c_str()); }

TEST(StructureTrace, EachDataArgumentTypeDumpsItsOwnStructureAndNoneForANullPData) {
    const struct {
        TW_UINT32 dg;
        TW_UINT16 dat;
        const char* name;
        const char* header;  // null: no block
    } types[] = {
        {DG_CONTROL, DAT_NULL, "DAT_NULL", nullptr},
        {DG_CONTROL, DAT_CAPABILITY, "DAT_CAPABILITY", "  TW_CAPABILITY = {"},
        {DG_CONTROL, DAT_EVENT, "DAT_EVENT", nullptr},  // TWMessage 0
        {DG_CONTROL, DAT_IDENTITY, "DAT_IDENTITY", "  TW_IDENTITY = {"},
        {DG_CONTROL, DAT_PARENT, "DAT_PARENT", nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, "DAT_PENDINGXFERS", "  TW_PENDINGXFERS = {"},
        {DG_CONTROL, DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER", "  TW_SETUPMEMXFER = {"},
        {DG_CONTROL, DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER", "  TW_SETUPFILEXFER = {"},
        {DG_CONTROL, DAT_STATUS, "DAT_STATUS", "  TW_STATUS = {"},
        {DG_CONTROL, DAT_USERINTERFACE, "DAT_USERINTERFACE", "  TW_USERINTERFACE = {"},
        {DG_CONTROL, DAT_XFERGROUP, "DAT_XFERGROUP", "  TW_UINT32 = {"},
        {DG_CONTROL, DAT_TWUNKIDENTITY, "DAT_TWUNKIDENTITY", nullptr},
        {DG_CONTROL, DAT_CUSTOMDSDATA, "DAT_CUSTOMDSDATA", "  TW_CUSTOMDSDATA = {"},
        {DG_IMAGE, DAT_IMAGEINFO, "DAT_IMAGEINFO", "  TW_IMAGEINFO = {"},
        {DG_IMAGE, DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT", "  TW_IMAGELAYOUT = {"},
        {DG_IMAGE, DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER", "  TW_IMAGEMEMXFER = {"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER", "  TW_UINT32 = {"},
        {DG_IMAGE, DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER", nullptr},
        {DG_IMAGE, DAT_CIECOLOR, "DAT_CIECOLOR", "  TW_CIECOLOR = {"},
        {DG_IMAGE, DAT_GRAYRESPONSE, "DAT_GRAYRESPONSE", "  TW_GRAYRESPONSE = {"},
        {DG_IMAGE, DAT_RGBRESPONSE, "DAT_RGBRESPONSE", "  TW_RGBRESPONSE = {"},
        {DG_IMAGE, DAT_JPEGCOMPRESSION, "DAT_JPEGCOMPRESSION", "  TW_JPEGCOMPRESSION = {"},
        {DG_IMAGE, DAT_PALETTE8, "DAT_PALETTE8", "  TW_PALETTE8 = { it does not display. }"},
        {DG_IMAGE, DAT_EXTIMAGEINFO, "DAT_EXTIMAGEINFO", "  TW_EXTIMAGEINFO = {"},
        {DG_CONTROL, DAT_NV_AUTOEXPOSURE, "DAT_NV_AUTOEXPOSURE", "  TWNV_AUTOEXPOSURE = {"},
        {DG_CONTROL, DAT_NV_RGBMATRIX, "DAT_NV_RGBMATRIX", "  TWNV_RGBMATRIX = {"},
        {DG_CONTROL, DAT_NV_COLORSMOOTHING, "DAT_NV_COLORSMOOTHING", "  TWNV_COLORSMOOTHING = {"},
        {DG_CONTROL, DAT_NV_EVENT, "DAT_NV_EVENT", nullptr},
        {DG_CONTROL, DAT_NV_HARDWAREINFO, "DAT_NV_HARDWAREINFO", "  TWNV_HARDWAREINFO = {"},
        {DG_CONTROL, DAT_NV_SKEWINFO, "DAT_NV_SKEWINFO", "  TWNV_LOCATIONDATA = {"},
        {DG_CONTROL, DAT_NV_UNSHARPMASKPARAM, "DAT_NV_UNSHARPMASKPARAM", "    TWNV_USMPARAM = {"},  // four blanks
        {DG_CONTROL, DAT_NV_REDCORRECTIONMATRIX, "DAT_NV_REDCORRECTIONMATRIX", nullptr},
        {DG_CONTROL, DAT_NV_TWAINCALLBACKMSG, "DAT_NV_TWAINCALLBACKMSG", nullptr},
        {DG_CONTROL, DAT_NV_SETTINGFRAME, "DAT_NV_SETTINGFRAME", "  TWNV_SETTINGFRAME = {"},
        {DG_CONTROL, DAT_NV_USMINFO, "DAT_NV_USMINFO", "  TWNV_USMINFO = {"},
        {DG_CONTROL, 0x8015, "DAT_NV_EDGEFILLAREA", nullptr},  // named, no formatter
    };
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    alignas(16) static unsigned char data[2048] = {};  // room for the largest (a palette), zeroed
    for (const auto& t : types) {
        ds.control->rc = TWRC_SUCCESS;
        ds.Call(t.dg, t.dat, MSG_GET, data);
        ds.Call(t.dg, t.dat, MSG_GET, nullptr);
        ds.control->rc = TWRC_FAILURE;
        EXPECT_EQ(ds.Call(t.dg, t.dat, MSG_SET, nullptr), TWRC_FAILURE);
    }
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    const std::string result = ResultLines("TWRC_SUCCESS", data);
    size_t at = 0;
    int seq = 0;
    for (const auto& t : types) {
        SCOPED_TRACE(t.name);
        // A capability call names its capability from pData: nothing to name.
        const std::string names = std::string(t.dg == DG_IMAGE ? "DG_IMAGE/" : "DG_CONTROL/") + t.name;
        const char* noCap = t.dat == DAT_CAPABILITY ? " ()" : "";
        const std::string nullCalls = Triplet(seq + 2, names + "/MSG_GET" + noCap) +
                                      ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3) +
                                      Triplet(seq + 3, names + "/MSG_SET" + noCap) +
                                      ResultLines("TWRC_FAILURE", nullptr) + MarkerBlock();
        seq += 3;
        const size_t block = log.find(result, at);
        const size_t next = log.find(nullCalls, block);
        ASSERT_NE(next, std::string::npos);
        const std::string dump = log.substr(block + result.size(), next - block - result.size());
        if (t.header)
            EXPECT_EQ(dump.substr(0, dump.find("\r\n")), t.header);
        else
            EXPECT_EQ(dump, StateLine(3));
        at = next + nullCalls.size();
    }
    EXPECT_EQ(at, log.size());
}

TEST(StructureTrace, OpeningTheManagerDumpsTheOriginIdentityNotPData) {
    LoadedDataSource ds;
    TW_IDENTITY other{};
    strcpy(other.ProductName, "never shown");
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other);
    EXPECT_EQ(ds.CallFrom(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other), TWRC_SUCCESS);  // no identity
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    EXPECT_EQ(LineOf(log, "  pOrigin:"), "  pOrigin:TW_IDENTITY = {");
    EXPECT_EQ(LineOf(log, "    ProductName "), "    ProductName     = [Test application]");
    EXPECT_EQ(log.find("never shown"), std::string::npos);
    EXPECT_EQ(log.substr(log.find("[00002]")),
              Triplet(2, "DG_CONTROL/DAT_PARENT/MSG_OPENDSM") + ResultLines("TWRC_SUCCESS", &other) + StateLine(3));
}

const std::string kGet = "[%05d] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (%s)\r\n";

// Has the companion answer with `cap` holding `h`; returns the request.
TW_CAPABILITY Answer(LoadedDataSource& ds, TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE h) {
    TW_CAPABILITY answer{};
    answer.Cap = cap, answer.ConType = conType, answer.hContainer = h;
    ds.AnswerWith(&answer, sizeof answer);
    answer.ConType = TWON_DONTCARE16, answer.hContainer = nullptr;
    return answer;
}
std::vector<unsigned char> With(std::vector<unsigned char> head, std::initializer_list<TW_UINT16> items) {
    for (TW_UINT16 x : items) Put(head, x);
    return head;
}
const std::string kListEnd = Lines({"      }", "    }", "  }"});

TEST(CapabilityTrace, EachContainerIsTracedWithItsItemsAndAFailedCallWithNone) {
    const struct {
        TW_UINT16 cap, conType, rc;
        const char *capName, *conName;
        std::vector<unsigned char> bytes;
        std::string block;
    } cases[] = {
        {ICAP_PIXELTYPE, TWON_ENUMERATION, TWRC_SUCCESS, "ICAP_PIXELTYPE", "TWON_ENUMERATION",
         With(EnumerationHead(TWTY_UINT16, 3, 2, 1), {0, 1, 2}),
         Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_UINT16]", "      NumItems     = [3]",
                "      CurrentIndex = [2]", "      DefaultIndex = [1]", "      ItemList = {", "          0:TWPT_BW,",
                "          1:TWPT_GRAY,", "          2:TWPT_RGB"}) + kListEnd},
        // A vendor capability's value, named through its own table.
        {CAP_NV_UIMODE, TWON_ONEVALUE, TWRC_SUCCESS, "CAP_NV_UIMODE", "TWON_ONEVALUE", OneValueOf<TW_UINT32>(TWTY_UINT16, 2),
         Lines({"    TW_ONEVALUE = {", "      ItemType = [TWTY_UINT16]", "      Item     = [TWNV_UI_EASY]", "    }", "  }"})},
        {CAP_SUPPORTEDCAPS, TWON_ARRAY, TWRC_SUCCESS, "CAP_SUPPORTEDCAPS", "TWON_ARRAY",
         With(ArrayHead(TWTY_UINT16, 3), {0x1005, 0x8001, 0x1201}),
         Lines({"    TW_ARRAY = {", "      ItemType = [TWTY_UINT16]", "      NumItems = [3]", "      ItemList = {",
                "          0:CAP_SUPPORTEDCAPS,", "          1:CAP_NV_VERSION,", "          2:ERROR!(4609)"}) + kListEnd},
        {ICAP_PIXELTYPE, TWON_ENUMERATION, TWRC_FAILURE, "ICAP_PIXELTYPE", "TWON_ENUMERATION",
         With(EnumerationHead(TWTY_UINT16, 1, 0, 0), {2}), Lines({"  }"})},
    };
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    std::string expected;
    int seq = 0;
    for (const auto& c : cases) {
        Handle h(c.bytes);
        TW_CAPABILITY cap = Answer(ds, c.cap, c.conType, h.get());
        ds.control->rc = c.rc;
        EXPECT_EQ(ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), c.rc);
        const bool failed = c.rc == TWRC_FAILURE;
        expected += Format(kGet.c_str(), ++seq, c.capName) +
                    ResultLines(failed ? "TWRC_FAILURE" : "TWRC_SUCCESS", &cap) +
                    CapabilityHead(c.capName, c.conName, h.get()) + c.block + (failed ? MarkerBlock() : StateLine(3));
    }
    ds.Unload();
    EXPECT_EQ(LoadedDataSource::Log(), expected);
}

// A result text of exactly the buffer is written whole; one byte more is cut
// there and followed by the note, with the next triplet on the same line.
TEST(CapabilityTrace, AResultOfExactly5120BytesIsWrittenWholeAndOneMoreByteIsCut) {
    for (size_t total : {5120, 5121}) {
        std::vector<std::string> texts(30);
        auto result = [&](TW_HANDLE h, const TW_CAPABILITY* p) {
            std::string s = ResultLines("TWRC_SUCCESS", p) + CapabilityHead("ICAP_PIXELTYPE", "TWON_ENUMERATION", h) +
                            Lines({"    TW_ENUMERATION = {", "      ItemType     = [TWTY_STR255]",
                                   "      NumItems     = [30]", "      CurrentIndex = [0]", "      DefaultIndex = [0]",
                                   "      ItemList = {"});
            for (size_t i = 0; i < texts.size(); ++i)
                s += Format("        %3zu:%s%s\r\n", i, texts[i].c_str(), i + 1 < texts.size() ? "," : "");
            return s + kListEnd + StateLine(3);
        };
        TW_CAPABILITY cap{};
        const size_t extra = total - result(nullptr, &cap).size();  // the handle's text has a fixed width
        for (size_t i = 0; i < texts.size(); ++i) texts[i].assign(extra / 30 + (i < extra % 30), char('A' + i));
        std::vector<unsigned char> bytes = EnumerationHead(TWTY_STR255, 30, 0, 0);
        for (const std::string& t : texts) PutText(bytes, t, sizeof(TW_STR255));
        Handle h(bytes);
        LoadedDataSource ds;
        cap = Answer(ds, ICAP_PIXELTYPE, TWON_ENUMERATION, h.get());
        ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap);
        ds.StopAnswering();
        ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr);
        ds.Unload();
        const std::string whole = result(h.get(), &cap);
        ASSERT_EQ(whole.size(), total);
        EXPECT_EQ(LoadedDataSource::Log(), Format(kGet.c_str(), 1, "ICAP_PIXELTYPE") +
                                               (total == 5120 ? whole : whole.substr(0, 5120) + "Size of CAP_xxx too long") +
                                               Triplet(2, "DG_CONTROL/DAT_STATUS/MSG_GET") +
                                               ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3));
    }
}

}  // namespace
