// The scanner follows the TWAIN states 3 to 7: each triplet is accepted only
// in its states, one out of turn fails with TWCC_SEQERROR, and operations
// outside the protocol fail with TWCC_BADPROTOCOL.
#include "ScannerHarness.h"
#include "tracelet/twain_nv.h"

namespace vstest {
namespace {

class StateTest : public ScannerTest {
protected:
    void ToState(int state) {
        if (state >= 4) Open();
        if (state == 5) Enable();
        if (state >= 6) ToTransferReady();
        if (state == 7) {
            std::vector<unsigned char> buffer(64 * 1024);
            TW_IMAGEMEMXFER x{};
            x.Memory = {TWMF_APPOWNS | TWMF_POINTER, TW_UINT32(buffer.size()), buffer.data()};
            ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x)) << "the first of several strips";
        }
    }
};

TEST_F(StateTest, ATripletOutOfItsStatesFailsWithItsConditionCode) {
    const struct {
        int state;
        TW_UINT32 dg;
        TW_UINT16 dat, msg, rc, cc;
        bool nullData;
    } rows[] = {
        {3, DG_CONTROL, DAT_CAPABILITY, MSG_GET, TWRC_FAILURE, TWCC_SEQERROR, false},
        {3, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_FAILURE, TWCC_SEQERROR, false},
        {4, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE, TWCC_SEQERROR, false},
        {4, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, TWRC_FAILURE, TWCC_BADVALUE, true},
        {4, DG_IMAGE, DAT_NV_SKEWINFO, MSG_GET, TWRC_FAILURE, TWCC_SEQERROR, false},
        {4, DG_CONTROL, DAT_IMAGEINFO, MSG_GET, TWRC_FAILURE, TWCC_BADPROTOCOL, false},  // an image operation
        {4, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, TWRC_FAILURE, TWCC_BADPROTOCOL, false},
        {4, DG_CONTROL, DAT_NV_EVENT, MSG_GET, TWRC_FAILURE, TWCC_BADPROTOCOL, true},
        {4, DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_SET, TWRC_FAILURE, TWCC_BADPROTOCOL, false},
        {5, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, TWRC_FAILURE, TWCC_SEQERROR, false},
        {5, DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, TWRC_FAILURE, TWCC_SEQERROR, false},
        {5, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, TWRC_FAILURE, TWCC_SEQERROR, false},
        {5, DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, TWRC_FAILURE, TWCC_SEQERROR, false},
        {5, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, TWRC_FAILURE, TWCC_SEQERROR, false},  // the page is not yet ready
        {6, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, TWRC_FAILURE, TWCC_SEQERROR, false},
        {6, DG_IMAGE, DAT_EXTIMAGEINFO, MSG_GET, TWRC_FAILURE, TWCC_SEQERROR, false},
        {7, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, TWRC_FAILURE, TWCC_SEQERROR, false},  // one mechanism a page
        {7, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, TWRC_FAILURE, TWCC_SEQERROR, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "state " << row.state << " DAT 0x" << std::hex << row.dat << " MSG 0x"
                                        << row.msg);
        m_ds.reset(CreateVirtualScanner());
        ToState(row.state);
        alignas(8) unsigned char data[1024] = {};
        EXPECT_EQ(row.rc, Call(row.dg, row.dat, row.msg, row.nullData ? nullptr : data));
        EXPECT_EQ(row.cc, Condition());
        EXPECT_EQ(0, data[0] | data[1] | data[2] | data[3]) << "a failed call writes nothing";
    }
}

TEST_F(StateTest, NegotiationEndsWhenTheSourceIsEnabledAndClosingForgetsIt) {
    Open();
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW));
    Enable();
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c)) << "values stay readable";
    EXPECT_EQ(std::uint32_t(TWPT_BW), c.items.at(0)) << "the refused value did not stick";
    TW_USERINTERFACE ui{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    TW_IDENTITY id{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &id));
    Open();
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWPT_RGB), c.items.at(0)) << "reopened with the factory settings";
}

// The vendor operations: hardware facts in Pascal strings, and unsharp mask
// parameters kept between a set and a get, checked when set.
TEST_F(StateTest, VendorOperationsKeepAndCheckTheirParameters) {
    Open();
    TWNV_HARDWAREINFO hw;
    std::memset(&hw, 0xee, sizeof hw);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, &hw));
    EXPECT_EQ("Tracelet Virtual Scanner", std::string(reinterpret_cast<const char*>(hw.ProductName + 1),
                                                      hw.ProductName[0]));
    EXPECT_EQ(0, hw.ROMVersion[sizeof hw.ROMVersion - 1]) << "texts are terminated";
    TWNV_USMPARAM usm{250, 3, 10}, back{}, tooMuch{501, 3, 10};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, &usm));
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_GET, &back));
    EXPECT_EQ(0, std::memcmp(&usm, &back, sizeof usm));
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, &tooMuch));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

}  // namespace
}  // namespace vstest
