// Capability negotiation: values set are read back, the ones that depend on
// others follow them, and values the scanner does not offer fail with the
// condition code that says why.
#include "ScannerHarness.h"

namespace vstest {
namespace {

class CapabilityTest : public ScannerTest {
protected:
    void SetUp() override { Open(); }
};

// (The conformance run checks that every listed capability answers.)
TEST_F(CapabilityTest, ReadOnlyCapabilitiesSaySoAndRangesCarryTheirFields) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PHYSICALHEIGHT, MSG_QUERYSUPPORT, &c));
    EXPECT_EQ(std::uint32_t(TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT), c.items.at(0)) << "read-only";
    EXPECT_EQ(TWRC_FAILURE, Get(CAP_DEVICEONLINE, MSG_QUERYSUPPORT, &c)) << "not listed, not answered";
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_CONTRAST, MSG_GET, &c));
    EXPECT_EQ(TWON_RANGE, c.conType);
    EXPECT_EQ((std::vector<double>{-1000, 1000, 1, 0}),
              (std::vector<double>{Fix32Value(c.minValue), Fix32Value(c.maxValue), Fix32Value(c.stepSize), Fix32Value(c.currentValue)}));
}

// (The conformance run checks MSG_GETCURRENT, MSG_GETDEFAULT and MSG_RESET
// of every capability.)
TEST_F(CapabilityTest, ASetValueIsCurrentWhileTheDefaultStaysUntilReset) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GET, &c));
    ASSERT_EQ((std::vector<std::uint32_t>{TWPT_BW, TWPT_GRAY, TWPT_RGB}), c.items);
    EXPECT_EQ(1u, c.currentIndex);
    EXPECT_EQ(2u, c.defaultIndex);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_RESET, &c));
    EXPECT_EQ(2u, c.currentIndex) << "reset answers with the value it restored";
}

// CAP_FEEDERLOADED is read only, as a real feeder's paper sensor: no set or
// reset changes it, only paper going through the feeder does.
TEST_F(CapabilityTest, TheFeederSaysWhetherPaperIsInItAndNoResetTouchesIt) {
    auto loaded = [this](TW_UINT16 msg) {
        Container c;
        EXPECT_EQ(TWRC_SUCCESS, Get(CAP_FEEDERLOADED, msg, &c));
        return c.items.empty() ? 99u : c.items.at(0);
    };
    EXPECT_EQ(1u, loaded(MSG_GETCURRENT));
    EXPECT_EQ(0u, loaded(MSG_GETDEFAULT));
    EXPECT_EQ(std::uint32_t(TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT), loaded(MSG_QUERYSUPPORT));
    Container c;
    EXPECT_EQ(TWRC_FAILURE, SetOne(CAP_FEEDERLOADED, TWTY_BOOL, 0));
    EXPECT_EQ(TWRC_FAILURE, Get(CAP_FEEDERLOADED, MSG_RESET, &c));
    TW_CAPABILITY all{CAP_SUPPORTEDCAPS, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all));
    EXPECT_EQ(1u, loaded(MSG_GETCURRENT)) << "after MSG_RESETALL";

    // A batch from the feeder takes its sheets one by one; the operator puts
    // them back once the source is disabled.
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_FEEDERENABLED, TWTY_BOOL, 1));
    ToTransferReady();
    int sheets = 0;
    for (TW_UINT16 count = 1; count > 0 && sheets < 10; ++sheets) {
        EXPECT_EQ(1u, loaded(MSG_GETCURRENT)) << "before sheet " << sheets;
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(&count));
    }
    EXPECT_EQ(3, sheets);
    EXPECT_EQ(0u, loaded(MSG_GETCURRENT)) << "the batch emptied the feeder";
    TW_USERINTERFACE ui{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(1u, loaded(MSG_GETCURRENT));
}

TEST_F(CapabilityTest, DependentValuesFollowPixelTypeUnitsAndPaperSize) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BITDEPTH, TWTY_UINT16, 16));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BITDEPTH, MSG_GET, &c));
    EXPECT_EQ(std::vector<std::uint32_t>{1}, c.items);
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BITDEPTH, MSG_GET, &c));
    EXPECT_EQ((std::vector<std::uint32_t>{8, 16}), c.items);
    EXPECT_EQ(8u, c.items.at(c.currentIndex)) << "a new pixel type starts at its own default depth";

    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_XRESOLUTION, MSG_GETCURRENT, &c));
    EXPECT_NEAR(150 / 2.54, Fix32Value(c.items.at(0)), 1e-4);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PHYSICALWIDTH, MSG_GET, &c));
    EXPECT_NEAR(8.5 * 2.54, Fix32Value(c.items.at(0)), 1e-4);
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix32Word(300 / 2.54)));  // 300 dpi, per centimetre
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_YRESOLUTION, MSG_GETCURRENT, &c));
    EXPECT_NEAR(300.0, Fix32Value(c.items.at(0)), 1e-3);

    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A5));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_FRAMES, MSG_GET, &c));
    ASSERT_EQ(1u, c.frames.size());
    EXPECT_NEAR(148 / 25.4, TwainFix32Value(c.frames[0].Right), 1e-4);
    EXPECT_NEAR(210 / 25.4, TwainFix32Value(c.frames[0].Bottom), 1e-4);
    ASSERT_EQ(TWRC_SUCCESS, SetFrame(Frame(1, 1, 3, 4)));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_SUPPORTEDSIZES, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWSS_NONE), c.items.at(0)) << "a frame clears the paper size";
    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
    EXPECT_DOUBLE_EQ(3.0, TwainFix32Value(layout.Frame.Right)) << "the frame capability and the layout are one";
}

TEST_F(CapabilityTest, ValuesTheScannerDoesNotOfferFailWithTheirConditionCode) {
    const struct {
        TW_UINT16 cap, itemType;
        std::uint32_t value;
        TW_UINT16 rc, cc, conType;
    } rows[] = {
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CIEXYZ, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY, TWRC_FAILURE, TWCC_BADVALUE, TWON_ENUMERATION},
        {ICAP_XRESOLUTION, TWTY_UINT16, 300, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},  // not a TW_FIX32
        {ICAP_XRESOLUTION, TWTY_FIX32, Fix32Word(123), TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {CAP_XFERCOUNT, TWTY_INT16, 0, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {CAP_XFERCOUNT, TWTY_INT16, 0xffff, TWRC_SUCCESS, TWCC_SUCCESS, TWON_ONEVALUE},  // -1: every page
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {ICAP_BITDEPTH, TWTY_UINT16, 1, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},  // for black and white
        {ICAP_BRIGHTNESS, TWTY_FIX32, Fix32Word(1000.5), TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {ICAP_BRIGHTNESS, TWTY_FIX32, Fix32Word(10.25), TWRC_CHECKSTATUS, TWCC_SUCCESS, TWON_ONEVALUE},  // off the step
        {ICAP_BRIGHTNESS, TWTY_FIX32, Fix32Word(-1000), TWRC_SUCCESS, TWCC_SUCCESS, TWON_ONEVALUE},
        {ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_PLANAR, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {CAP_NV_UIMODE, TWTY_UINT16, 7, TWRC_FAILURE, TWCC_BADVALUE, TWON_ONEVALUE},
        {ICAP_PHYSICALWIDTH, TWTY_FIX32, Fix32Word(4), TWRC_FAILURE, TWCC_CAPBADOPERATION, TWON_ONEVALUE},
        {CAP_DEVICEONLINE, TWTY_BOOL, 1, TWRC_FAILURE, TWCC_CAPUNSUPPORTED, TWON_ONEVALUE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "cap 0x" << std::hex << row.cap << " value " << row.value);
        EXPECT_EQ(row.rc, SetOne(row.cap, row.itemType, row.value, row.conType));
        EXPECT_EQ(row.cc, Condition());
    }
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BRIGHTNESS, MSG_GET, &c));
    EXPECT_EQ(-1000.0, Fix32Value(c.currentValue));
    TW_CAPABILITY cap{ICAP_PIXELTYPE, TWON_ONEVALUE, nullptr};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap)) << "no container";
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    cap.Cap = CAP_SUPPORTEDCAPS;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &cap));
    EXPECT_EQ(TWCC_CAPBADOPERATION, Condition());
}

}  // namespace
}  // namespace vstest
