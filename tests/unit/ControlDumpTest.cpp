// The control and transfer structure dumps, formatter by formatter: every
// line of each block, the signedness of each reading, the names, the text
// members' bounds, and what a null pointer or an empty event writes.
//
// Structures are filled through their declarations only, so the same tests
// run under either TWAIN layout.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "analyzer/ParaAnalyze.h"

namespace {

// The expected text of a block: each line with its CR LF.
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

// The one line of `text` that starts with `prefix` ("" when none does, and
// a test failure when several do).
std::string LineStarting(const std::string& text, const std::string& prefix) {
    std::string found;
    int hits = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.compare(0, prefix.size(), prefix) == 0) {
            found = line;
            ++hits;
        }
        at = end + 2;
    }
    EXPECT_LE(hits, 1) << "several lines start with \"" << prefix << "\"";
    return found;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A handle value that needs more than 32 bits.
template <class H>
H WideHandle(uint64_t v) {
    return reinterpret_cast<H>(static_cast<uintptr_t>(v));
}

struct ControlDump : ::testing::Test {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1] = {};

    // Runs one formatter on a fresh buffer and returns what it wrote.
    std::string Dump(const std::function<void(CParaAnalyze&)>& formatter) {
        memset(buf, 0, sizeof buf);
        pa.SetOutput(buf, kLogTextSize);
        formatter(pa);
        EXPECT_FALSE(pa.OutputCut());
        return buf;
    }
    std::string Identity(const TW_IDENTITY& id, TW_UINT16 msg = MSG_GET) {
        pa.m_MSG = msg;
        return Dump([&](CParaAnalyze& a) { a.TwIdentityAnalyze(&id); });
    }
    std::string Version(const TW_VERSION& v) {
        return Dump([&](CParaAnalyze& a) { a.TwVersionAnalyze(&v); });
    }
    std::string Event(TW_UINT16 message, TW_MEMREF pEvent = nullptr) {
        TW_EVENT e{};
        e.pEvent = pEvent;
        e.TWMessage = message;
        return Dump([&](CParaAnalyze& a) { a.TwEventAnalyze(&e); });
    }
    std::string Item(TW_UINT16 dat, const void* p) {
        pa.m_DAT = dat;
        return Dump([&](CParaAnalyze& a) { a.TwUint32(p); });
    }
};

TW_IDENTITY ScannerIdentity() {
    TW_IDENTITY id{};
    id.Id = 4711;
    id.Version.MajorNum = 3;
    id.Version.MinorNum = 12;
    id.Version.Language = 2;  // TWLG_ENG
    id.Version.Country = 1;   // TWCY_USA
    strcpy(id.Version.Info, "3.12 build 7");
    id.ProtocolMajor = 2;
    id.ProtocolMinor = 4;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    strcpy(id.Manufacturer, "Example Imaging");
    strcpy(id.ProductFamily, "Flatbed");
    strcpy(id.ProductName, "Model 9000");
    return id;
}

// --- TW_IDENTITY and TW_VERSION ----------------------------------------------------

TEST_F(ControlDump, AnIdentityListsEveryMemberWithItsVersionOneLevelDeeper) {
    EXPECT_EQ(Identity(ScannerIdentity()), Lines({
                  "  TW_IDENTITY = {",
                  "    Id              = [4711]",
                  "    Version         =",
                  "    TW_VERSION = {",
                  "      MajorNum = [3]",
                  "      MinorNum = [12]",
                  "      Language = [TWLG_ENG]",
                  "      Country  = [TWCY_USA]",
                  "      Info     = [3.12 build 7]",
                  "    }",
                  "    ProtocolMajor   = [2]",
                  "    ProtocolMinor   = [4]",
                  "    SupportedGroups = [1073741827]",
                  "    Manufacturer    = [Example Imaging]",
                  "    ProductFamily   = [Flatbed]",
                  "    ProductName     = [Model 9000]",
                  "  }",
              }));
}

TEST_F(ControlDump, TheIdentityHandedOverWhenTheManagerOpensIsHeadedAsTheOrigin) {
    const std::string opened = Identity(ScannerIdentity(), MSG_OPENDSM);
    EXPECT_EQ(opened.substr(0, opened.find("\r\n") + 2), "  pOrigin:TW_IDENTITY = {\r\n");
    // Everything after the header is the same block.
    const std::string got = Identity(ScannerIdentity(), MSG_GET);
    EXPECT_EQ(opened.substr(opened.find("\r\n")), got.substr(got.find("\r\n")));
    for (TW_UINT16 msg : {MSG_GET, MSG_GETFIRST, MSG_USERSELECT, MSG_OPENDS, MSG_CLOSEDSM}) {
        const std::string text = Identity(ScannerIdentity(), msg);
        EXPECT_EQ(text.substr(0, text.find("\r\n") + 2), "  TW_IDENTITY = {\r\n") << msg;
    }
}

TEST_F(ControlDump, IdAndSupportedGroupsAreNeverNegativeFromA32BitValue) {
    TW_IDENTITY id = ScannerIdentity();
    id.Id = 0xFFFFFFFFu;
    id.SupportedGroups = 0xFFFFFFFFu;
    const std::string text = Identity(id);
    EXPECT_EQ(LineStarting(text, "    Id "), "    Id              = [4294967295]");
    EXPECT_EQ(LineStarting(text, "    SupportedGroups"), "    SupportedGroups = [4294967295]");
}

#if defined(TRACELET_TWAIN_ABI_MACOS)
TEST_F(ControlDump, APointerSizedIdPrintsAsASigned64BitNumber) {
    TW_IDENTITY id = ScannerIdentity();
    id.Id = static_cast<TW_UINTPTR>(0x123456789ull);
    EXPECT_EQ(LineStarting(Identity(id), "    Id "), "    Id              = [4886718345]");
    id.Id = static_cast<TW_UINTPTR>(-2);
    EXPECT_EQ(LineStarting(Identity(id), "    Id "), "    Id              = [-2]");
}
#endif

TEST_F(ControlDump, LanguageAndCountryAreNamedByTheFirstRowHoldingTheValue) {
    TW_VERSION v{};
    struct Case {
        TW_UINT16 language, country;
        const char *languageName, *countryName;
    } cases[] = {
        {0, 33, "TWLG_DAN", "TWCY_FRANCE"},      // not TWLG_DANISH, not TWCY_MONACO
        {13, 27, "TWLG_USA", "TWCY_ANDORRA"},    // not TWLG_ENGLISH_USA, not TWCY_SOUTHAFRICA
        {5, 39, "TWLG_FRN", "TWCY_ITALY"},       // not TWLG_FRENCH, not TWCY_SANMARINO
        {12, 41, "TWLG_SWE", "TWCY_LIECHTENSTEIN"},
        // 0xFFFF is read unsigned: the all-ones TWLG_USERLOCALE row never matches.
        {0xFFFF, 0xFFFF, "ERROR!(65535)", "ERROR!(65535)"},
        {999, 2, "ERROR!(999)", "TWCY_CANADA"},
    };
    for (const Case& c : cases) {
        v.Language = c.language;
        v.Country = c.country;
        const std::string text = Version(v);
        EXPECT_EQ(LineStarting(text, "      Language"), Printf("      Language = [%s]", c.languageName));
        EXPECT_EQ(LineStarting(text, "      Country"), Printf("      Country  = [%s]", c.countryName));
    }
}

TEST_F(ControlDump, AVersionBlockStandsAloneAtDepthTwo) {
    TW_VERSION v{};
    v.MajorNum = 65535;
    v.MinorNum = 0;
    v.Language = 6;
    v.Country = 49;
    EXPECT_EQ(Version(v), Lines({
                  "    TW_VERSION = {",
                  "      MajorNum = [65535]",
                  "      MinorNum = [0]",
                  "      Language = [TWLG_GER]",
                  "      Country  = [TWCY_GERMANY]",
                  "      Info     = []",
                  "    }",
              }));
}

TEST_F(ControlDump, TextMembersEndAtTheirNulAndNeverRunPastTheirDeclaredWidth) {
    TW_IDENTITY id = ScannerIdentity();
    // No NUL anywhere in Manufacturer: all 34 bytes, not a byte of ProductFamily.
    memset(id.Manufacturer, 'M', sizeof id.Manufacturer);
    // Text after the NUL is not shown.
    memcpy(id.ProductFamily, "Flat\0bed", 9);
    memset(id.ProductName, 'N', sizeof id.ProductName);
    memset(id.Version.Info, 'I', sizeof id.Version.Info);
    const std::string text = Identity(id);
    EXPECT_EQ(LineStarting(text, "    Manufacturer"), "    Manufacturer    = [" + std::string(34, 'M') + "]");
    EXPECT_EQ(LineStarting(text, "    ProductFamily"), "    ProductFamily   = [Flat]");
    EXPECT_EQ(LineStarting(text, "    ProductName"), "    ProductName     = [" + std::string(34, 'N') + "]");
    EXPECT_EQ(LineStarting(text, "      Info"), "      Info     = [" + std::string(34, 'I') + "]");
}

TEST_F(ControlDump, AnIdentityAtAnOddAddressPrintsTheSame) {
    const TW_IDENTITY id = ScannerIdentity();
    const std::string aligned = Identity(id);
    alignas(16) unsigned char bytes[sizeof(TW_IDENTITY) + 1];
    memcpy(bytes + 1, &id, sizeof id);
    pa.m_MSG = MSG_GET;
    const std::string odd = Dump([&](CParaAnalyze& a) {
        a.TwIdentityAnalyze(reinterpret_cast<const TW_IDENTITY*>(bytes + 1));
    });
    EXPECT_EQ(odd, aligned);
}

// --- TW_EVENT -------------------------------------------------------------------------

TEST_F(ControlDump, AnEventShowsItsPointerAndNamesItsMessage) {
    EXPECT_EQ(Event(MSG_XFERREADY, WideHandle<TW_MEMREF>(0x7f00000012abull)), Lines({
                  "  TW_EVENT = {",
                  "    pEvent    = <0x000012ab>",
                  "    TWMessage = [MSG_XFERREADY]",
                  "  }",
              }));
}

TEST_F(ControlDump, EventMessagesAboveTheCustomBaseAreNamedByTheVendorTable) {
    const std::pair<TW_UINT16, const char*> cases[] = {
        {0x0102, "MSG_CLOSEDSREQ"},    {0x0104, "MSG_DEVICEEVENT"},
        {0x8000, "MSG_CUSTOMBASE"},    {0x8001, "MSG_NV_TIMERRESET"},
        {0x8002, "MSG_NV_XFERREQUEST"}, {0x8003, "ERROR!(32771)"},
        {0x0999, "ERROR!(2457)"},      {0xFFFF, "ERROR!(65535)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LineStarting(Event(c.first), "    TWMessage"), Printf("    TWMessage = [%s]", c.second));
}

TEST_F(ControlDump, AnEventWithoutAMessageWritesNothing) {
    int anything = 0;
    EXPECT_EQ(Event(MSG_NULL, &anything), "");
    EXPECT_EQ(Event(MSG_NULL), "");
}

// --- Transfers: TW_PENDINGXFERS, TW_SETUPMEMXFER, TW_SETUPFILEXFER, TW_UINT32 ---------

TEST_F(ControlDump, PendingTransfersReadTheCountSignedAndEndOfJobUnsigned) {
    TW_PENDINGXFERS p{};
    p.Count = 65535;
    p.EOJ = 4294967295u;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwPendingXfersAnalyze(&p); }), Lines({
                  "  TW_PENDINGXFERS = {",
                  "    Count = [-1]",
                  "    EOJ   = [4294967295]",
                  "  }",
              }));
    p.Count = 0x8000;
    p.EOJ = 0;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwPendingXfersAnalyze(&p); }), "    Count"),
              "    Count = [-32768]");
    p.Count = 32767;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwPendingXfersAnalyze(&p); }), "    Count"),
              "    Count = [32767]");
}

TEST_F(ControlDump, MemoryTransferSetUpPrintsThreeUnsignedSizes) {
    TW_SETUPMEMXFER s{};
    s.MinBufSize = 16384;
    s.MaxBufSize = 0x80000000u;
    s.Preferred = 0xFFFFFFFFu;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwSetupMemXferAnalyze(&s); }), Lines({
                  "  TW_SETUPMEMXFER = {",
                  "    MinBufSize = [16384]",
                  "    MaxBufSize = [2147483648]",
                  "    Preferred  = [4294967295]",
                  "  }",
              }));
}

TEST_F(ControlDump, FileTransferSetUpNamesTheFormatAndReadsTheVolumeSigned) {
    TW_SETUPFILEXFER f{};
    strcpy(f.FileName, "/tmp/scan 0001.tif");
    f.Format = 0;
    f.VRefNum = static_cast<TW_INT16>(0xFFFF);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwSetupFileXferAnalyze(&f); }), Lines({
                  "  TW_SETUPFILEXFER = {",
                  "    FileName = [/tmp/scan 0001.tif]",
                  "    Format   = [TWFF_TIFF]",
                  "    VRefNum  = [-1]",
                  "  }",
              }));
    const std::pair<TW_UINT16, const char*> formats[] = {
        {4, "TWFF_JFIF"}, {9, "TWFF_EXIF"}, {10, "ERROR!(10)"}, {0xFFFF, "ERROR!(65535)"}};
    for (const auto& c : formats) {
        f.Format = c.first;
        EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwSetupFileXferAnalyze(&f); }), "    Format"),
                  Printf("    Format   = [%s]", c.second));
    }
}

TEST_F(ControlDump, AFileNameFillingAllOfItsBytesPrintsThemAllAndNoMore) {
    TW_SETUPFILEXFER f{};
    memset(f.FileName, 'a', sizeof f.FileName - 1);  // the longest name with its NUL
    f.Format = 2;
    std::string text = Dump([&](CParaAnalyze& a) { a.TwSetupFileXferAnalyze(&f); });
    EXPECT_EQ(LineStarting(text, "    FileName"), "    FileName = [" + std::string(255, 'a') + "]");

    memset(f.FileName, 'b', sizeof f.FileName);  // no NUL at all
    f.Format = 0x4242;                            // bytes that would follow the name
    text = Dump([&](CParaAnalyze& a) { a.TwSetupFileXferAnalyze(&f); });
    EXPECT_EQ(LineStarting(text, "    FileName"), "    FileName = [" + std::string(256, 'b') + "]");
    EXPECT_EQ(LineStarting(text, "    Format"), "    Format   = [ERROR!(16962)]");
}

TEST_F(ControlDump, TransferGroupAndNativeTransferItemsPrintAsHandles) {
    TW_UINT32 group = DG_IMAGE;
    EXPECT_EQ(Item(DAT_XFERGROUP, &group), Lines({
                  "  TW_UINT32 = {",
                  "    Item = <0x00000002>",
                  "  }",
              }));
    // A native transfer returns a handle: its first four bytes are shown.
    TW_HANDLE returned = WideHandle<TW_HANDLE>(0x00007f3a9c0de5a8ull);
    EXPECT_EQ(LineStarting(Item(DAT_IMAGENATIVEXFER, &returned), "    Item"), "    Item = <0x9c0de5a8>");
    TW_UINT32 big = 0xFFFFFFFFu;
    EXPECT_EQ(LineStarting(Item(DAT_XFERGROUP, &big), "    Item"), "    Item = <0xffffffff>");
}

TEST_F(ControlDump, AnItemOfAnyOtherTypePrintsAsAnUnsignedNumber) {
    TW_UINT32 v = 0xFFFFFFFEu;
    EXPECT_EQ(Item(DAT_STATUS, &v), Lines({
                  "  TW_UINT32 = {",
                  "    Item = [4294967294]",
                  "  }",
              }));
    v = 10;
    EXPECT_EQ(LineStarting(Item(DAT_IMAGEFILEXFER, &v), "    Item"), "    Item = [10]");
}

// --- TW_STATUS, TW_USERINTERFACE, TW_CUSTOMDSDATA -------------------------------------

TEST_F(ControlDump, StatusNamesItsConditionCodeAndLeavesDataOut) {
    TW_STATUS s{};
    s.ConditionCode = 4;
    s.Data = 0x1234;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwStatusAnalyze(&s); }), Lines({
                  "  TW_STATUS = {",
                  "    ConditionCode = [TWCC_MAXCONNECTIONS]",
                  "  }",
              }));
    const std::pair<TW_UINT16, const char*> codes[] = {
        {0, "TWCC_SUCCESS"}, {0x8000, "TWCC_CUSTOMBASE"}, {23, "TWCC_CHECKDEVICEONLINE"},
        {7, "ERROR!(7)"},    {24, "ERROR!(24)"},          {0x8001, "ERROR!(32769)"}};
    for (const auto& c : codes) {
        s.ConditionCode = c.first;
        EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwStatusAnalyze(&s); }), "    ConditionCode"),
                  Printf("    ConditionCode = [%s]", c.second));
    }
}

TEST_F(ControlDump, UserInterfaceFlagsAreTrueForAnyNonZeroValue) {
    TW_USERINTERFACE ui{};
    ui.ShowUI = 2;
    ui.ModalUI = 0;
    ui.hParent = WideHandle<TW_HANDLE>(0x0000123400000abcull);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwUserInterfaceAnalyze(&ui); }), Lines({
                  "  TW_USERINTERFACE = {",
                  "    ShowUI  = [true]",
                  "    ModalUI = [false]",
                  "    hParent = <0x00000abc>",
                  "  }",
              }));
    ui.ShowUI = 0;
    ui.ModalUI = 0x8000;
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwUserInterfaceAnalyze(&ui); });
    EXPECT_EQ(LineStarting(text, "    ShowUI"), "    ShowUI  = [false]");
    EXPECT_EQ(LineStarting(text, "    ModalUI"), "    ModalUI = [true]");
}

TEST_F(ControlDump, CustomDataReadsItsLengthSignedAndShowsOnlyTheHandle) {
    TW_CUSTOMDSDATA c{};
    c.InfoLength = 0x80000000u;
    c.hData = WideHandle<TW_HANDLE>(0xdeadbeefcafef00dull);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwCustomDsDataAnalyze(&c); }), Lines({
                  "  TW_CUSTOMDSDATA = {",
                  "    InfoLength = [-2147483648]",
                  "    hData      = <0xcafef00d>",
                  "  }",
              }));
    c.InfoLength = 512;
    c.hData = nullptr;
    const std::string text = Dump([&](CParaAnalyze& a) { a.TwCustomDsDataAnalyze(&c); });
    EXPECT_EQ(LineStarting(text, "    InfoLength"), "    InfoLength = [512]");
    EXPECT_EQ(LineStarting(text, "    hData"), "    hData      = <0x00000000>");
}

// --- TW_EXTIMAGEINFO, TW_INFO, TW_MEMORY ------------------------------------------------

// An extended image information request with three entries, laid out the
// way an application allocates it: the structure, then further TW_INFOs.
struct ThreeInfos {
    TW_EXTIMAGEINFO ext;
    TW_INFO more[2];
};

TEST_F(ControlDump, ExtendedImageInfoShowsOnlyTheFirstEntryWhateverTheCount) {
    ThreeInfos r{};
    r.ext.NumInfos = 3;
    r.ext.Info[0].InfoID = 0x1200;  // TWEI_BARCODEX
    r.ext.Info[0].ItemType = TWTY_UINT32;
    r.ext.Info[0].NumItems = 1;
    r.ext.Info[0].CondCode = TWRC_SUCCESS;
    r.ext.Info[0].Item = 1234;
    r.more[0].InfoID = 0x1201;
    r.more[0].ItemType = TWTY_STR255;
    r.more[1].InfoID = 0x1202;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwExtImageInfoAnalyze(&r.ext); }), Lines({
                  "  TW_EXTIMAGEINFO = {",
                  "    NumInfos = [3]",
                  "    Info     =",
                  "    TW_INFO = {",
                  "      InfoID   = [4608]",
                  "      ItemType = [TWTY_UINT32]",
                  "      NumItems = [1]",
                  "      CondCode = [TWRC_SUCCESS]",
                  "      Item     = [1234]",
                  "    }",
                  "  }",
              }));

    r.ext.NumInfos = 0;  // still the first entry
    const std::string none = Dump([&](CParaAnalyze& a) { a.TwExtImageInfoAnalyze(&r.ext); });
    EXPECT_EQ(LineStarting(none, "    NumInfos"), "    NumInfos = [0]");
    EXPECT_EQ(Count(none, "    TW_INFO = {\r\n"), 1u);
    EXPECT_EQ(LineStarting(none, "      InfoID"), "      InfoID   = [4608]");

    r.ext.NumInfos = 0xFFFFFFFFu;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwExtImageInfoAnalyze(&r.ext); }), "    NumInfos"),
              "    NumInfos = [4294967295]");
}

TEST_F(ControlDump, AnInfoEntryNamesItsTypeAndReturnCodeAndPrintsItsItemAsANumber) {
    TW_INFO info{};
    info.InfoID = 0xFFFF;
    info.ItemType = TWTY_STR255;
    info.NumItems = 65535;
    info.CondCode = TWRC_INFONOTSUPPORTED;
    info.Item = 0xFFFFFFFFu;
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwInfoAnalyze(&info); }), Lines({
                  "    TW_INFO = {",
                  "      InfoID   = [65535]",
                  "      ItemType = [TWTY_STR255]",
                  "      NumItems = [65535]",
                  "      CondCode = [TWRC_INFONOTSUPPORTED]",
                  "      Item     = [4294967295]",
                  "    }",
              }));
    info.ItemType = 13;
    info.CondCode = 10;
    std::string text = Dump([&](CParaAnalyze& a) { a.TwInfoAnalyze(&info); });
    EXPECT_EQ(LineStarting(text, "      ItemType"), "      ItemType = [ERROR!(13)]");
    EXPECT_EQ(LineStarting(text, "      CondCode"), "      CondCode = [ERROR!(10)]");
    info.ItemType = TWTY_INT8;
    info.CondCode = 0x8000;
    text = Dump([&](CParaAnalyze& a) { a.TwInfoAnalyze(&info); });
    EXPECT_EQ(LineStarting(text, "      ItemType"), "      ItemType = [TWTY_INT8]");
    EXPECT_EQ(LineStarting(text, "      CondCode"), "      CondCode = [TWRC_CUSTOMBASE]");
}

#if !defined(TRACELET_TWAIN_ABI_MACOS)
TEST_F(ControlDump, APointerSizedInfoItemShowsItsLow32Bits) {
    TW_INFO info{};
    info.ItemType = TWTY_UINT32;
    info.Item = static_cast<TW_UINTPTR>(0x0000000500000007ull);
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwInfoAnalyze(&info); }), "      Item "),
              "      Item     = [7]");
}
#endif

TEST_F(ControlDump, MemoryShowsFlagsInHexWithoutLeadingZerosAndItsPointer) {
    TW_MEMORY m{};
    m.Flags = TWMF_APPOWNS | TWMF_POINTER;
    m.Length = 0xFFFFFFFFu;
    m.TheMem = WideHandle<TW_MEMREF>(0x00005555000000f0ull);
    EXPECT_EQ(Dump([&](CParaAnalyze& a) { a.TwMemoryAnalyze(&m); }), Lines({
                  "    TW_MEMORY = {",
                  "      Flags  = [0x9]",
                  "      Length = [4294967295]",
                  "      TheMem = <0x000000f0>",
                  "    }",
              }));
    m.Flags = 0;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwMemoryAnalyze(&m); }), "      Flags"),
              "      Flags  = [0x0]");
    m.Flags = 0xABCDEF12u;
    EXPECT_EQ(LineStarting(Dump([&](CParaAnalyze& a) { a.TwMemoryAnalyze(&m); }), "      Flags"),
              "      Flags  = [0xabcdef12]");
}

// --- Null pointers and the operations that print nothing ----------------------------

TEST_F(ControlDump, NullStructurePointersWriteNothing) {
    pa.m_MSG = MSG_OPENDSM;
    pa.m_DAT = DAT_XFERGROUP;
    const std::function<void(CParaAnalyze&)> formatters[] = {
        [](CParaAnalyze& a) { a.TwIdentityAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwVersionAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwEventAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwPendingXfersAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwSetupMemXferAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwSetupFileXferAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwStatusAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwUserInterfaceAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwCustomDsDataAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwUint32(nullptr); },
        [](CParaAnalyze& a) { a.TwExtImageInfoAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwInfoAnalyze(nullptr); },
        [](CParaAnalyze& a) { a.TwMemoryAnalyze(nullptr); },
    };
    for (const auto& f : formatters) EXPECT_EQ(Dump(f), "");
}

TEST_F(ControlDump, TheTwunkOperationsWriteNothing) {
    EXPECT_EQ(Dump([](CParaAnalyze& a) { EXPECT_TRUE(a.TwTwunkIdentityAnalyze()); }), "");
    EXPECT_EQ(Dump([](CParaAnalyze& a) { EXPECT_TRUE(a.TwTwunkDsentryParamsAnalyze()); }), "");
    EXPECT_EQ(Dump([](CParaAnalyze& a) { EXPECT_TRUE(a.TwTwunkDsentryReturnAnalyze()); }), "");
}

TEST_F(ControlDump, ABlockIsAppendedAfterTextAlreadyInTheBuffer) {
    TW_STATUS s{};
    s.ConditionCode = TWCC_BUMMER;
    strcpy(buf, "before\r\n");
    pa.SetOutput(buf, kLogTextSize);
    pa.TwStatusAnalyze(&s);
    EXPECT_EQ(std::string(buf), "before\r\n" + Lines({
                                    "  TW_STATUS = {",
                                    "    ConditionCode = [TWCC_BUMMER]",
                                    "  }",
                                }));
}

}  // namespace
