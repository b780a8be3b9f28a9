// The control and transfer structure dumps: every line of each block, the
// signedness of each reading, first-row names, text members bounded by their
// declared width, and nothing at all for a null pointer or an empty event.
// Structures are filled through their declarations, so the same tests run
// under either TWAIN layout.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "analyzer/ParaAnalyze.h"
#include "LogText.h"

namespace {

template <class H>
H Wide(uint64_t v) {  // a handle or pointer that needs more than 32 bits
    return reinterpret_cast<H>(static_cast<uintptr_t>(v));
}

struct ControlDump : ::testing::Test {
    CParaAnalyze pa;
    char buf[kLogTextSize + 1] = {};

    template <class T, class F>
    std::string Dump(const T* p, F formatter) {
        memset(buf, 0, sizeof buf);
        pa.SetOutput(buf, kLogTextSize);
        (pa.*formatter)(p);
        return buf;
    }
};

TW_IDENTITY Scanner() {
    TW_IDENTITY id{};
    id.Id = 4711;
    id.Version.MajorNum = 3;
    id.Version.MinorNum = 12;
    id.Version.Language = 2;
    id.Version.Country = 1;
    strcpy(id.Version.Info, "3.12 build 7");
    id.ProtocolMajor = 2;
    id.ProtocolMinor = 4;
    id.SupportedGroups = 0xFFFFFFFFu;
    strcpy(id.Manufacturer, "Example Imaging");
    strcpy(id.ProductFamily, "Flatbed");
    strcpy(id.ProductName, "Model 9000");
    return id;
}

// --- Identities ------------------------------------------------------------------

TEST_F(ControlDump, AnIdentityNestsItsVersionAndIsHeadedAsTheOriginWhenTheManagerOpens) {
    const TW_IDENTITY id = Scanner();
    const std::string body = Lines({
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
        "    SupportedGroups = [4294967295]",
        "    Manufacturer    = [Example Imaging]",
        "    ProductFamily   = [Flatbed]",
        "    ProductName     = [Model 9000]",
        "  }",
    });
    pa.m_MSG = MSG_GET;
    EXPECT_EQ(Dump(&id, &CParaAnalyze::TwIdentityAnalyze), "  TW_IDENTITY = {\r\n" + body);
    pa.m_MSG = MSG_OPENDSM;
    EXPECT_EQ(Dump(&id, &CParaAnalyze::TwIdentityAnalyze), "  pOrigin:TW_IDENTITY = {\r\n" + body);
}

TEST_F(ControlDump, LanguageAndCountryAreNamedByTheFirstRowHoldingTheValue) {
    const struct {
        TW_UINT16 language, country;
        const char *languageLine, *countryLine;
    } cases[] = {
        {0, 33, "      Language = [TWLG_DAN]", "      Country  = [TWCY_FRANCE]"},      // not DANISH, MONACO
        {13, 27, "      Language = [TWLG_USA]", "      Country  = [TWCY_ANDORRA]"},     // not ENGLISH_USA, SOUTHAFRICA
        {5, 39, "      Language = [TWLG_FRN]", "      Country  = [TWCY_ITALY]"},       // not FRENCH, SANMARINO
        // Read unsigned: the all-ones TWLG_USERLOCALE row never matches.
        {0xFFFF, 0xFFFF, "      Language = [ERROR!(65535)]", "      Country  = [ERROR!(65535)]"},
    };
    for (const auto& c : cases) {
        TW_VERSION v{};
        v.Language = c.language;
        v.Country = c.country;
        const std::string text = Dump(&v, &CParaAnalyze::TwVersionAnalyze);
        EXPECT_EQ(LineOf(text, "      Language"), c.languageLine);
        EXPECT_EQ(LineOf(text, "      Country"), c.countryLine);
    }
}

TEST_F(ControlDump, TextMembersEndAtTheirNulAndNeverRunPastTheirDeclaredWidth) {
    TW_IDENTITY id = Scanner();
    memset(id.Manufacturer, 'M', sizeof id.Manufacturer);  // no NUL: 34 bytes, none of ProductFamily
    memcpy(id.ProductFamily, "Flat\0bed", 9);               // nothing after the NUL
    memset(id.ProductName, 'N', sizeof id.ProductName);     // the last member: nothing after it
    memset(id.Version.Info, 'I', sizeof id.Version.Info);
    std::string text = Dump(&id, &CParaAnalyze::TwIdentityAnalyze);
    EXPECT_EQ(LineOf(text, "    Manufacturer"), "    Manufacturer    = [" + std::string(34, 'M') + "]");
    EXPECT_EQ(LineOf(text, "    ProductFamily"), "    ProductFamily   = [Flat]");
    EXPECT_EQ(LineOf(text, "    ProductName"), "    ProductName     = [" + std::string(34, 'N') + "]");
    EXPECT_EQ(LineOf(text, "      Info"), "      Info     = [" + std::string(34, 'I') + "]");

    TW_SETUPFILEXFER f{};
    memset(f.FileName, 'b', sizeof f.FileName);
    f.Format = 0x4242;  // the bytes right after the name
    text = Dump(&f, &CParaAnalyze::TwSetupFileXferAnalyze);
    EXPECT_EQ(LineOf(text, "    FileName"), "    FileName = [" + std::string(256, 'b') + "]");
}

#if defined(TRACELET_TWAIN_ABI_MACOS)
TEST_F(ControlDump, APointerSizedIdPrintsAsASigned64BitNumber) {
    TW_IDENTITY id = Scanner();
    id.Id = static_cast<TW_UINTPTR>(0x123456789ull);
    EXPECT_EQ(LineOf(Dump(&id, &CParaAnalyze::TwIdentityAnalyze), "    Id "), "    Id              = [4886718345]");
    id.Id = static_cast<TW_UINTPTR>(-2);
    EXPECT_EQ(LineOf(Dump(&id, &CParaAnalyze::TwIdentityAnalyze), "    Id "), "    Id              = [-2]");
}
#else
TEST_F(ControlDump, A32BitIdPrintsUnsigned) {
    TW_IDENTITY id = Scanner();
    id.Id = 0xFFFFFFFFu;
    EXPECT_EQ(LineOf(Dump(&id, &CParaAnalyze::TwIdentityAnalyze), "    Id "), "    Id              = [4294967295]");
}
#endif

// --- Events ----------------------------------------------------------------------

TEST_F(ControlDump, AnEventShowsItsPointerAndNamesItsMessageFromTheStandardOrVendorTable) {
    TW_EVENT e{};
    e.pEvent = Wide<TW_MEMREF>(0x7f00000012abull);
    e.TWMessage = MSG_XFERREADY;
    EXPECT_EQ(Dump(&e, &CParaAnalyze::TwEventAnalyze), Lines({
                                                            "  TW_EVENT = {",
                                                            "    pEvent    = <0x000012ab>",
                                                            "    TWMessage = [MSG_XFERREADY]",
                                                            "  }",
                                                        }));
    const std::pair<TW_UINT16, const char*> names[] = {
        {0x8000, "MSG_CUSTOMBASE"},     {0x8001, "MSG_NV_TIMERRESET"}, {0x8002, "MSG_NV_XFERREQUEST"},
        {0x8003, "ERROR!(32771)"},      {0x0999, "ERROR!(2457)"}};
    for (const auto& n : names) {
        e.TWMessage = n.first;
        EXPECT_EQ(LineOf(Dump(&e, &CParaAnalyze::TwEventAnalyze), "    TWMessage"),
                  std::string("    TWMessage = [") + n.second + "]");
    }
    e.TWMessage = MSG_NULL;
    EXPECT_EQ(Dump(&e, &CParaAnalyze::TwEventAnalyze), "");
}

// --- Transfers -------------------------------------------------------------------

TEST_F(ControlDump, TransferBlocksReadCountAndVolumeSignedAndSizesUnsigned) {
    TW_PENDINGXFERS p{};
    p.Count = 65535;
    p.EOJ = 4294967295u;
    EXPECT_EQ(Dump(&p, &CParaAnalyze::TwPendingXfersAnalyze),
              Lines({"  TW_PENDINGXFERS = {", "    Count = [-1]", "    EOJ   = [4294967295]", "  }"}));

    TW_SETUPMEMXFER m{};
    m.MinBufSize = 16384;
    m.MaxBufSize = 0x80000000u;
    m.Preferred = 0xFFFFFFFFu;
    EXPECT_EQ(Dump(&m, &CParaAnalyze::TwSetupMemXferAnalyze),
              Lines({"  TW_SETUPMEMXFER = {", "    MinBufSize = [16384]", "    MaxBufSize = [2147483648]",
                     "    Preferred  = [4294967295]", "  }"}));

    TW_SETUPFILEXFER f{};
    strcpy(f.FileName, "/tmp/scan 0001.tif");
    f.Format = 9;
    f.VRefNum = -1;
    EXPECT_EQ(Dump(&f, &CParaAnalyze::TwSetupFileXferAnalyze),
              Lines({"  TW_SETUPFILEXFER = {", "    FileName = [/tmp/scan 0001.tif]", "    Format   = [TWFF_EXIF]",
                     "    VRefNum  = [-1]", "  }"}));
    f.Format = 10;
    EXPECT_EQ(LineOf(Dump(&f, &CParaAnalyze::TwSetupFileXferAnalyze), "    Format"), "    Format   = [ERROR!(10)]");
}

TEST_F(ControlDump, TransferGroupAndNativeTransferItemsPrintAsHandlesAnyOtherAsANumber) {
    auto item = [&](TW_UINT16 dat, const void* p) {
        pa.m_DAT = dat;
        return Dump(p, &CParaAnalyze::TwUint32);
    };
    const TW_UINT32 group = DG_IMAGE;
    EXPECT_EQ(item(DAT_XFERGROUP, &group), Lines({"  TW_UINT32 = {", "    Item = <0x00000002>", "  }"}));
    const TW_HANDLE image = Wide<TW_HANDLE>(0x00007f3a9c0de5a8ull);  // its first four bytes
    EXPECT_EQ(LineOf(item(DAT_IMAGENATIVEXFER, &image), "    Item"), "    Item = <0x9c0de5a8>");
    const TW_UINT32 big = 0xFFFFFFFEu;
    EXPECT_EQ(LineOf(item(DAT_STATUS, &big), "    Item"), "    Item = [4294967294]");
}

// --- Status, user interface, custom data --------------------------------------------

TEST_F(ControlDump, StatusUserInterfaceAndCustomDataBlocks) {
    TW_STATUS s{};
    s.ConditionCode = 4;
    s.Data = 0x1234;  // not shown
    EXPECT_EQ(Dump(&s, &CParaAnalyze::TwStatusAnalyze),
              Lines({"  TW_STATUS = {", "    ConditionCode = [TWCC_MAXCONNECTIONS]", "  }"}));
    s.ConditionCode = 7;
    EXPECT_EQ(LineOf(Dump(&s, &CParaAnalyze::TwStatusAnalyze), "    Cond"), "    ConditionCode = [ERROR!(7)]");

    TW_USERINTERFACE ui{};
    ui.ShowUI = 2;  // any non-zero value is true
    ui.ModalUI = 0;
    ui.hParent = Wide<TW_HANDLE>(0x0000123400000abcull);
    EXPECT_EQ(Dump(&ui, &CParaAnalyze::TwUserInterfaceAnalyze),
              Lines({"  TW_USERINTERFACE = {", "    ShowUI  = [true]", "    ModalUI = [false]",
                     "    hParent = <0x00000abc>", "  }"}));

    TW_CUSTOMDSDATA c{};
    c.InfoLength = 0x80000000u;
    c.hData = Wide<TW_HANDLE>(0xdeadbeefcafef00dull);
    EXPECT_EQ(Dump(&c, &CParaAnalyze::TwCustomDsDataAnalyze),
              Lines({"  TW_CUSTOMDSDATA = {", "    InfoLength = [-2147483648]", "    hData      = <0xcafef00d>", "  }"}));
}

// --- Extended image information and memory -------------------------------------------

TEST_F(ControlDump, ExtendedImageInfoShowsOnlyItsFirstEntryWhateverTheCount) {
    struct {
        TW_EXTIMAGEINFO ext;
        TW_INFO more[2];  // an application's further entries
    } r{};
    r.ext.NumInfos = 3;
    r.ext.Info[0].InfoID = 0x1200;
    r.ext.Info[0].ItemType = TWTY_STR255;
    r.ext.Info[0].NumItems = 1;
    r.ext.Info[0].CondCode = TWRC_INFONOTSUPPORTED;
    r.ext.Info[0].Item = 0xFFFFFFFFu;
    r.more[0].InfoID = r.more[1].InfoID = 0x1201;
    EXPECT_EQ(Dump(&r.ext, &CParaAnalyze::TwExtImageInfoAnalyze), Lines({
                                                                      "  TW_EXTIMAGEINFO = {",
                                                                      "    NumInfos = [3]",
                                                                      "    Info     =",
                                                                      "    TW_INFO = {",
                                                                      "      InfoID   = [4608]",
                                                                      "      ItemType = [TWTY_STR255]",
                                                                      "      NumItems = [1]",
                                                                      "      CondCode = [TWRC_INFONOTSUPPORTED]",
                                                                      "      Item     = [4294967295]",
                                                                      "    }",
                                                                      "  }",
                                                                  }));
    r.ext.NumInfos = 0;  // still the first entry
    r.ext.Info[0].ItemType = 13;
    r.ext.Info[0].CondCode = 0x8000;
    const std::string text = Dump(&r.ext, &CParaAnalyze::TwExtImageInfoAnalyze);
    EXPECT_EQ(LineOf(text, "      InfoID"), "      InfoID   = [4608]");
    EXPECT_EQ(LineOf(text, "      ItemType"), "      ItemType = [ERROR!(13)]");
    EXPECT_EQ(LineOf(text, "      CondCode"), "      CondCode = [TWRC_CUSTOMBASE]");
}

#if !defined(TRACELET_TWAIN_ABI_MACOS)
TEST_F(ControlDump, APointerSizedInfoItemShowsItsLow32Bits) {
    TW_INFO info{};
    info.Item = static_cast<TW_UINTPTR>(0x0000000500000007ull);
    EXPECT_EQ(LineOf(Dump(&info, &CParaAnalyze::TwInfoAnalyze), "      Item "), "      Item     = [7]");
}
#endif

TEST_F(ControlDump, MemoryShowsFlagsInHexWithoutLeadingZeros) {
    TW_MEMORY m{};
    m.Flags = TWMF_APPOWNS | TWMF_POINTER;
    m.Length = 0xFFFFFFFFu;
    m.TheMem = Wide<TW_MEMREF>(0x00005555000000f0ull);
    EXPECT_EQ(Dump(&m, &CParaAnalyze::TwMemoryAnalyze),
              Lines({"    TW_MEMORY = {", "      Flags  = [0x9]", "      Length = [4294967295]",
                     "      TheMem = <0x000000f0>", "    }"}));
    m.Flags = 0xABCDEF12u;
    EXPECT_EQ(LineOf(Dump(&m, &CParaAnalyze::TwMemoryAnalyze), "      Flags"), "      Flags  = [0xabcdef12]");
}

// --- Null pointers, odd addresses ----------------------------------------------------

TEST_F(ControlDump, NullStructurePointersWriteNothing) {
    pa.m_MSG = MSG_OPENDSM;
    pa.m_DAT = DAT_XFERGROUP;
    EXPECT_EQ(Dump<TW_IDENTITY>(nullptr, &CParaAnalyze::TwIdentityAnalyze), "");
    EXPECT_EQ(Dump<TW_VERSION>(nullptr, &CParaAnalyze::TwVersionAnalyze), "");
    EXPECT_EQ(Dump<TW_EVENT>(nullptr, &CParaAnalyze::TwEventAnalyze), "");
    EXPECT_EQ(Dump<TW_PENDINGXFERS>(nullptr, &CParaAnalyze::TwPendingXfersAnalyze), "");
    EXPECT_EQ(Dump<TW_SETUPMEMXFER>(nullptr, &CParaAnalyze::TwSetupMemXferAnalyze), "");
    EXPECT_EQ(Dump<TW_SETUPFILEXFER>(nullptr, &CParaAnalyze::TwSetupFileXferAnalyze), "");
    EXPECT_EQ(Dump<TW_STATUS>(nullptr, &CParaAnalyze::TwStatusAnalyze), "");
    EXPECT_EQ(Dump<TW_USERINTERFACE>(nullptr, &CParaAnalyze::TwUserInterfaceAnalyze), "");
    EXPECT_EQ(Dump<TW_CUSTOMDSDATA>(nullptr, &CParaAnalyze::TwCustomDsDataAnalyze), "");
    EXPECT_EQ(Dump<void>(nullptr, &CParaAnalyze::TwUint32), "");
    EXPECT_EQ(Dump<TW_EXTIMAGEINFO>(nullptr, &CParaAnalyze::TwExtImageInfoAnalyze), "");
    EXPECT_EQ(Dump<TW_INFO>(nullptr, &CParaAnalyze::TwInfoAnalyze), "");
    EXPECT_EQ(Dump<TW_MEMORY>(nullptr, &CParaAnalyze::TwMemoryAnalyze), "");
}

TEST_F(ControlDump, AnIdentityAtAnOddAddressPrintsTheSame) {
    const TW_IDENTITY id = Scanner();
    alignas(16) unsigned char bytes[sizeof id + 1];
    memcpy(bytes + 1, &id, sizeof id);
    EXPECT_EQ(Dump(reinterpret_cast<const TW_IDENTITY*>(bytes + 1), &CParaAnalyze::TwIdentityAnalyze),
              Dump(&id, &CParaAnalyze::TwIdentityAnalyze));
}

}  // namespace
