// Structure dumps as the loaded data source writes them: the companion fills
// pData, DS_Entry picks the structure by the data argument type, and the log
// holds the triplet line, the result lines, the block and the state line.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "DataSourceHarness.h"

namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// The companion writes the structure a test prepared into pData.
struct Answer {
    const void* bytes = nullptr;
    size_t size = 0;
};

void WriteAnswer(void* context, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
    const Answer* a = static_cast<const Answer*>(context);
    if (pData && a && a->bytes) memcpy(pData, a->bytes, a->size);
}

template <class T>
void Script(LoadedDataSource& ds, Answer& answer, const T& value, TW_UINT16 rc = TWRC_SUCCESS) {
    answer.bytes = &value;
    answer.size = sizeof value;
    ds.control->context = &answer;
    ds.control->fill = WriteAnswer;
    ds.control->rc = rc;
}

std::string TheLog(LoadedDataSource& ds) {
    ds.Unload();
    return LoadedDataSource::Log();
}

TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

// --- Identities ------------------------------------------------------------------------

TEST(StructureTrace, OpeningTheManagerDumpsTheOriginIdentityNotPData) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    ds.app.Id = 12;
    ds.app.Version.MajorNum = 2;
    ds.app.Version.MinorNum = 5;
    ds.app.Version.Language = 0;  // TWLG_DAN, the first of the rows holding 0
    ds.app.Version.Country = 33;  // TWCY_FRANCE, before TWCY_MONACO
    strcpy(ds.app.Version.Info, "2.5");
    TW_IDENTITY other{};
    strcpy(other.ProductName, "never shown");
    ASSERT_EQ(ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other), TWRC_SUCCESS);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_PARENT/MSG_OPENDSM\r\n" +
                              ResultLines("TWRC_SUCCESS", &other) +
                              Lines({
                                  "  pOrigin:TW_IDENTITY = {",
                                  "    Id              = [12]",
                                  "    Version         =",
                                  "    TW_VERSION = {",
                                  "      MajorNum = [2]",
                                  "      MinorNum = [5]",
                                  "      Language = [TWLG_DAN]",
                                  "      Country  = [TWCY_FRANCE]",
                                  "      Info     = [2.5]",
                                  "    }",
                                  "    ProtocolMajor   = [2]",
                                  "    ProtocolMinor   = [4]",
                                  "    SupportedGroups = [536870915]",
                                  "    Manufacturer    = [Tracelet tests]",
                                  "    ProductFamily   = [Harness]",
                                  "    ProductName     = [Test application]",
                                  "  }",
                              }) +
                              StateLine(3));
}

TEST(StructureTrace, ClosingTheManagerDumpsNoIdentity) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_IDENTITY other{};
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &other);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_PARENT/MSG_CLOSEDSM\r\n" +
                              ResultLines("TWRC_SUCCESS", &other) + StateLine(2));
}

TEST(StructureTrace, AnIdentityRequestDumpsTheIdentityTheSourceReturned) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_IDENTITY source{};
    source.Id = 3;
    source.Version.Language = 13;  // TWLG_USA, before TWLG_ENGLISH_USA
    source.Version.Country = 27;   // TWCY_ANDORRA, before TWCY_SOUTHAFRICA
    memset(source.Version.Info, 'v', sizeof source.Version.Info);  // no NUL
    source.ProtocolMajor = 2;
    source.ProtocolMinor = 3;
    source.SupportedGroups = 0xFFFFFFFFu;
    strcpy(source.Manufacturer, "Maker");
    strcpy(source.ProductFamily, "Family");
    memset(source.ProductName, 'p', sizeof source.ProductName);  // no NUL
    Answer answer;
    Script(ds, answer, source);
    TW_IDENTITY returned{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &returned);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_IDENTITY/MSG_GET\r\n" +
                              ResultLines("TWRC_SUCCESS", &returned) +
                              Lines({
                                  "  TW_IDENTITY = {",
                                  "    Id              = [3]",
                                  "    Version         =",
                                  "    TW_VERSION = {",
                                  "      MajorNum = [0]",
                                  "      MinorNum = [0]",
                                  "      Language = [TWLG_USA]",
                                  "      Country  = [TWCY_ANDORRA]",
                                  "      Info     = [" + std::string(34, 'v') + "]",
                                  "    }",
                                  "    ProtocolMajor   = [2]",
                                  "    ProtocolMinor   = [3]",
                                  "    SupportedGroups = [4294967295]",
                                  "    Manufacturer    = [Maker]",
                                  "    ProductFamily   = [Family]",
                                  "    ProductName     = [" + std::string(34, 'p') + "]",
                                  "  }",
                              }) +
                              StateLine(3));
}

// --- Items shown as handles --------------------------------------------------------------

TEST(StructureTrace, TheTransferGroupPrintsAsAHandle) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    const TW_UINT32 group = DG_IMAGE;
    Answer answer;
    Script(ds, answer, group);
    TW_UINT32 item = 0;
    ds.Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &item);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_XFERGROUP/MSG_GET\r\n" +
                              ResultLines("TWRC_SUCCESS", &item) +
                              Lines({"  TW_UINT32 = {", "    Item = <0x00000002>", "  }"}) + StateLine(3));
}

TEST(StructureTrace, ANativeTransferPrintsTheLowHalfOfTheReturnedHandle) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    const TW_HANDLE image = reinterpret_cast<TW_HANDLE>(static_cast<uintptr_t>(0x00007f12a5b6c7d8ull));
    Answer answer;
    Script(ds, answer, image, TWRC_XFERDONE);
    TW_HANDLE returned = nullptr;
    ds.Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &returned);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET\r\n" +
                              ResultLines("TWRC_XFERDONE", &returned) +
                              Lines({"  TW_UINT32 = {", "    Item = <0xa5b6c7d8>", "  }"}) + StateLine(3));
}

// --- Events ------------------------------------------------------------------------------

TEST(StructureTrace, AClaimedTransferReadyEventIsDumpedWithoutATripletLine) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_USERINTERFACE ui{};
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr);  // state 4
    ds.Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);  // state 5
    ds.control->rc = TWRC_DSEVENT;
    TW_EVENT event{};
    event.pEvent = reinterpret_cast<TW_MEMREF>(static_cast<uintptr_t>(0x10000beefull));
    event.TWMessage = MSG_XFERREADY;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    const std::string log = TheLog(ds);
    const std::string tail = ResultLines("TWRC_DSEVENT", &event) +
                             Lines({"  TW_EVENT = {", "    pEvent    = <0x0000beef>",
                                    "    TWMessage = [MSG_XFERREADY]", "  }"}) +
                             StateLine(6);
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_EQ(log.find("DAT_EVENT"), std::string::npos);
}

TEST(StructureTrace, AnEventThatIsNotTheSourcesLeavesNoText) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_EVENT event{};
    event.TWMessage = MSG_NULL;
    ds.control->rc = TWRC_NOTDSEVENT;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    ds.control->rc = TWRC_DSEVENT;
    event.TWMessage = MSG_CLOSEDSOK;
    ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
    EXPECT_EQ(TheLog(ds), "");
}

// --- Failures ----------------------------------------------------------------------------

TEST(StructureTrace, AFailedCallStillDumpsItsStructureThenTheMarkerBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_STATUS status{};
    status.ConditionCode = TWCC_SEQERROR;
    Answer answer;
    Script(ds, answer, status, TWRC_FAILURE);
    TW_STATUS returned{};
    ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &returned);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_CONTROL/DAT_STATUS/MSG_GET\r\n" +
                              ResultLines("TWRC_FAILURE", &returned) +
                              Lines({"  TW_STATUS = {", "    ConditionCode = [TWCC_SEQERROR]", "  }"}) +
                              MarkerBlock());
}

TEST(StructureTrace, ANullPDataGetsItsResultLinesButNoBlock) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    ds.Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, nullptr);
    ds.Call(DG_CONTROL, DAT_EXTIMAGEINFO, MSG_GET, nullptr);
    EXPECT_EQ(TheLog(ds), "[00001] [APP] DG_IMAGE/DAT_IMAGEINFO/MSG_GET\r\n" +
                              ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3) +
                              "[00002] [APP] DG_CONTROL/DAT_EXTIMAGEINFO/MSG_GET\r\n" +
                              ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3));
}

// --- Every structure type reaches its formatter -----------------------------------------

TEST(StructureTrace, EachDataArgumentTypeDumpsItsOwnStructure) {
    const struct {
        TW_UINT32 dg;
        TW_UINT16 dat;
        const char* header;
    } cases[] = {
        {DG_CONTROL, DAT_EVENT, nullptr},  // an event without a message shows nothing
        {DG_CONTROL, DAT_IDENTITY, "  TW_IDENTITY = {"},
        {DG_CONTROL, DAT_PENDINGXFERS, "  TW_PENDINGXFERS = {"},
        {DG_CONTROL, DAT_SETUPMEMXFER, "  TW_SETUPMEMXFER = {"},
        {DG_CONTROL, DAT_SETUPFILEXFER, "  TW_SETUPFILEXFER = {"},
        {DG_CONTROL, DAT_STATUS, "  TW_STATUS = {"},
        {DG_CONTROL, DAT_USERINTERFACE, "  TW_USERINTERFACE = {"},
        {DG_CONTROL, DAT_XFERGROUP, "  TW_UINT32 = {"},
        {DG_CONTROL, DAT_TWUNKIDENTITY, nullptr},
        {DG_CONTROL, DAT_CUSTOMDSDATA, "  TW_CUSTOMDSDATA = {"},
        {DG_IMAGE, DAT_IMAGEINFO, "  TW_IMAGEINFO = {"},
        {DG_IMAGE, DAT_IMAGELAYOUT, "  TW_IMAGELAYOUT = {"},
        {DG_IMAGE, DAT_IMAGEMEMXFER, "  TW_IMAGEMEMXFER = {"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, "  TW_UINT32 = {"},
        {DG_IMAGE, DAT_IMAGEFILEXFER, nullptr},
        {DG_IMAGE, DAT_CIECOLOR, "  TW_CIECOLOR = {"},
        {DG_IMAGE, DAT_GRAYRESPONSE, "  TW_GRAYRESPONSE = {"},
        {DG_IMAGE, DAT_RGBRESPONSE, "  TW_RGBRESPONSE = {"},
        {DG_IMAGE, DAT_JPEGCOMPRESSION, "  TW_JPEGCOMPRESSION = {"},
        {DG_IMAGE, DAT_PALETTE8, "  TW_PALETTE8 = { it does not display. }"},
        {DG_IMAGE, DAT_EXTIMAGEINFO, "  TW_EXTIMAGEINFO = {"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dat);
        LoadedDataSource ds;
        ASSERT_NE(ds.control, nullptr);
        // Room for the largest of these structures (a palette), zeroed.
        alignas(16) unsigned char data[2048] = {};
        ds.Call(c.dg, c.dat, MSG_GET, data);
        const std::string log = TheLog(ds);
        const std::string result = ResultLines("TWRC_SUCCESS", data);
        const size_t at = log.find(result);
        ASSERT_NE(at, std::string::npos);
        const std::string after = log.substr(at + result.size());
        if (c.header)
            EXPECT_EQ(after.substr(0, after.find("\r\n")), c.header);
        else
            EXPECT_EQ(after, StateLine(3));
    }
}

// --- The largest blocks -------------------------------------------------------------------

TEST(StructureTrace, TheWidestCieColorIsWrittenWholeWithoutTheOverflowNote) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_CIECOLOR widest{};
    widest.ColorSpace = 0xFFFF;
    widest.LowEndian = -32768;
    widest.DeviceDependent = -32768;
    widest.VersionNumber = -1;
    const TW_FIX32 f = Fix(-32768);
    for (TW_TRANSFORMSTAGE* s : {&widest.StageABC, &widest.StageLMN}) {
        for (TW_DECODEFUNCTION& d : s->Decode)
            d.StartIn = d.BreakIn = d.EndIn = d.StartOut = d.BreakOut = d.EndOut = d.Gamma = d.SampleCount = f;
        for (auto& row : s->Mix)
            for (TW_FIX32& m : row) m = f;
    }
    for (TW_CIEPOINT* p : {&widest.WhitePoint, &widest.BlackPoint, &widest.WhitePaper, &widest.BlackInk})
        p->X = p->Y = p->Z = f;
    widest.Samples[0] = f;
    Answer answer;
    Script(ds, answer, widest);
    TW_CIECOLOR returned{};
    ds.Call(DG_IMAGE, DAT_CIECOLOR, MSG_GET, &returned);
    const std::string log = TheLog(ds);
    EXPECT_EQ(log.find("Size of CAP_xxx too long"), std::string::npos);
    const std::string tail = Lines({"    Samples[]       = [-32768.000]", "  }"}) + StateLine(3);
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    size_t lines = 0;
    for (size_t at = log.find("= [-32768.000]"); at != std::string::npos; at = log.find("= [-32768.000]", at + 1))
        ++lines;
    // 2 stages x (3 x 8 decode values + 9 mix values), 4 points x 3, 1 sample.
    EXPECT_EQ(lines, 2u * (24 + 9) + 12 + 1);
}

TEST(StructureTrace, AMemoryTransferAndAJpegSetUpKeepTheirLongStandingShape) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_IMAGEMEMXFER x{};
    x.Compression = 5;  // TWCP_GROUP4
    x.Rows = 1;
    Answer answer;
    Script(ds, answer, x, TWRC_XFERDONE);
    TW_IMAGEMEMXFER returned{};
    ds.Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &returned);
    TW_JPEGCOMPRESSION j{};
    j.ColorSpace = TWPT_GRAY;
    Script(ds, answer, j);
    TW_JPEGCOMPRESSION jreturned{};
    ds.Call(DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GET, &jreturned);
    const std::string log = TheLog(ds);
    const std::string memory =
        Lines({"    TW_MEMORY = {", "      Flags  = [0x0]", "      Length = [0]", "      TheMem = <0x00000000>", "    }"});
    EXPECT_NE(log.find("    Compression  = [TWCP_GROUP4]\r\n"), std::string::npos);
    EXPECT_NE(log.find("    Memory       =\r\n" + memory + "}\r\n" + StateLine(3)), std::string::npos);
    EXPECT_NE(log.find("    QuantMap[]       = {0,0,0,0}\r\n"
                       "    QuantTable[0]   = {" + memory + "    QuantTable[1]   = {" + memory +
                       "    QuantTable[2]   = {" + memory + "    QuantTable[3]   = {" + memory +
                       "    HuffmanMap[]     = {0,0,0,0}\r\n"
                       "    HuffmanDC[0]    = {" + memory + "    HuffmanDC[1]    = {" + memory +
                       "    HuffmanAC[0]    = {" + memory + "    HuffmanAC[1]    = {" + memory + "  }\r\n" +
                       StateLine(3)),
              std::string::npos);
}

}  // namespace
