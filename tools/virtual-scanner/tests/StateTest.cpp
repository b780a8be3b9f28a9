// The scanner follows the TWAIN states 3 to 7: each triplet is accepted only
// in its states, and one out of turn fails with TWCC_SEQERROR and changes
// nothing.
#include "ScannerHarness.h"

namespace vstest {
namespace {

using StateTest = ScannerTest;

TEST_F(StateTest, ALoadedSourceTellsItsIdentityToAManagerThatGivesNoOrigin) {
    TW_IDENTITY id{};
    id.Id = 77;
    ASSERT_EQ(TWRC_SUCCESS, m_ds->TripletEntry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_EQ(77u, Field(id.Id)) << "the Id is the manager's";
    EXPECT_EQ(2, id.ProtocolMajor);
    EXPECT_EQ(TW_UINT32(DG_CONTROL | DG_IMAGE | DF_DS2), Field(id.SupportedGroups));
    EXPECT_STRNE("", id.ProductName);
    EXPECT_STRNE("", id.Manufacturer);
}

TEST_F(StateTest, BeforeOpeningOnlyIdentityEntryPointAndStatusAreAnswered) {
    TW_CAPABILITY cap{};
    cap.Cap = ICAP_PIXELTYPE;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_EVENT event{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_IDENTITY id{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    // Still closed: opening works.
    Open();
}

TEST_F(StateTest, OpeningTwiceIsASequenceError) {
    Open();
    TW_IDENTITY id{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
}

TEST_F(StateTest, AnEnabledSourceCannotBeClosedOrEnabledAgainUntilDisabled) {
    Open();
    Enable();
    TW_IDENTITY id{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    // The pending transfer-ready event is still delivered: state 6, where
    // disabling is out of turn too.
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_DSEVENT, ProcessEvent(&message));
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_PENDINGXFERS px{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px));
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
}

TEST_F(StateTest, NegotiationEndsWhenTheSourceIsEnabledButValuesStayReadable) {
    Open();
    Enable();
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_CAPABILITY reset{};
    reset.Cap = ICAP_PIXELTYPE;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &reset));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_IMAGELAYOUT layout{};
    layout.Frame = MakeFrame(0, 0, 1, 1);
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWPT_RGB), c.items.at(0)) << "the refused value did not stick";
}

TEST_F(StateTest, NothingIsTransferredBeforeTheSourceSaysAPageIsReady) {
    Open();
    Enable();  // state 5: the event is pending, not yet delivered
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_HANDLE h = nullptr;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    EXPECT_EQ(nullptr, h);
    TW_PENDINGXFERS px{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
}

TEST_F(StateTest, APageGoesOutByOneMechanismAndOnlyOnce) {
    Open();
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 1));
    ToTransferReady();
    std::vector<unsigned char> buffer(1 << 20);
    TW_IMAGEMEMXFER x{};
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = static_cast<TW_UINT32>(buffer.size());
    x.Memory.TheMem = buffer.data();
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "first of several strips";
    TW_HANDLE h = nullptr;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h)) << "native in the middle";
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_PENDINGXFERS px{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px)) << "reset is for state 6";
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    while (Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x) == TWRC_SUCCESS) {
    }
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "the page is done";
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_UINT16 count = 9;
    EXPECT_EQ(TWRC_SUCCESS, EndXfer(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h)) << "no page left";
    EXPECT_EQ(TWCC_SEQERROR, Condition());
}

TEST_F(StateTest, ExtendedImageInformationIsForThePageBeingTransferred) {
    Open();
    ToTransferReady();
    alignas(8) unsigned char block[sizeof(TW_EXTIMAGEINFO) + sizeof(TW_INFO)] = {};
    auto* ext = reinterpret_cast<TW_EXTIMAGEINFO*>(block);
    ext->NumInfos = 2;
    auto* infos = reinterpret_cast<TW_INFO*>(block + offsetof(TW_EXTIMAGEINFO, Info));
    infos[0].InfoID = TWEI_PAGENUMBER;
    infos[1].InfoID = 0x1202 /* TWEI_BARCODETEXT: no barcodes here */;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, ext)) << "state 6";
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    TW_HANDLE h = nullptr;
    ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h));
    TwainDisposeHandle(h);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, ext));
    EXPECT_EQ(TWRC_SUCCESS, infos[0].CondCode);
    EXPECT_EQ(1u, static_cast<std::uint32_t>(infos[0].Item));
    EXPECT_EQ(TWRC_INFONOTSUPPORTED, infos[1].CondCode);
    EXPECT_EQ(0, infos[1].NumItems);
}

TEST_F(StateTest, ClosingAndReopeningStartsFromTheFactorySettings) {
    Open();
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW));
    TW_IDENTITY id{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
    Open();
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWPT_RGB), c.items.at(0));
}

}  // namespace
}  // namespace vstest
