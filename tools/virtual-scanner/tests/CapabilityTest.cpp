// Capability negotiation: every capability the scanner lists answers in its
// container type, values set are read back, and the ones that depend on
// others follow them.
#include <algorithm>

#include "ScannerHarness.h"

namespace vstest {
namespace {

class CapabilityTest : public ScannerTest {
protected:
    void SetUp() override { Open(); }

    std::vector<TW_UINT16> Supported() {
        Container c;
        EXPECT_EQ(TWRC_SUCCESS, Get(CAP_SUPPORTEDCAPS, MSG_GET, &c));
        EXPECT_EQ(TWON_ARRAY, c.conType);
        EXPECT_EQ(TWTY_UINT16, c.itemType);
        return std::vector<TW_UINT16>(c.items.begin(), c.items.end());
    }
};

TEST_F(CapabilityTest, TheListedCapabilitiesAreTheOnesThatAnswer) {
    const std::vector<TW_UINT16> listed = Supported();
    const TW_UINT16 expected[] = {CAP_SUPPORTEDCAPS,  CAP_XFERCOUNT,      CAP_UICONTROLLABLE,  CAP_FEEDERENABLED,
                                  ICAP_PIXELTYPE,     ICAP_XRESOLUTION,   ICAP_YRESOLUTION,    ICAP_BITDEPTH,
                                  ICAP_XFERMECH,      ICAP_UNITS,         ICAP_COMPRESSION,    ICAP_FRAMES,
                                  ICAP_SUPPORTEDSIZES, ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT, CAP_NV_VERSION,
                                  CAP_NV_UIMODE,      ICAP_NV_FILMTYPE,   ICAP_PLANARCHUNKY,   ICAP_PIXELFLAVOR,
                                  ICAP_BITORDER};
    for (TW_UINT16 id : expected)
        EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), id)) << "capability 0x" << std::hex << id;
    for (TW_UINT16 id : listed) {
        Container c;
        EXPECT_EQ(TWRC_SUCCESS, Get(id, MSG_GET, &c)) << "capability 0x" << std::hex << id;
        EXPECT_EQ(TWRC_SUCCESS, Get(id, MSG_QUERYSUPPORT, &c)) << "capability 0x" << std::hex << id;
        EXPECT_EQ(TWON_ONEVALUE, c.conType);
        EXPECT_EQ(TWTY_INT32, c.itemType);
        EXPECT_TRUE(c.items.at(0) & TWQC_GET);
    }
    Container c;
    EXPECT_EQ(TWRC_FAILURE, Get(CAP_DEVICEONLINE, MSG_QUERYSUPPORT, &c)) << "not listed, not answered";
}

TEST_F(CapabilityTest, EveryContainerTypeIsUsed) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(CAP_XFERCOUNT, MSG_GET, &c));
    EXPECT_EQ(TWON_ONEVALUE, c.conType);
    EXPECT_EQ(TWTY_INT16, c.itemType);
    EXPECT_EQ(0xffffu, c.items.at(0)) << "-1: any number of pages";
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GET, &c));
    EXPECT_EQ(TWON_ENUMERATION, c.conType);
    ASSERT_EQ(TWRC_SUCCESS, Get(CAP_SUPPORTEDCAPS, MSG_GET, &c));
    EXPECT_EQ(TWON_ARRAY, c.conType);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_CONTRAST, MSG_GET, &c));
    EXPECT_EQ(TWON_RANGE, c.conType);
    EXPECT_EQ(TWTY_FIX32, c.itemType);
    EXPECT_EQ(-1000.0, FixValue(c.minValue));
    EXPECT_EQ(1000.0, FixValue(c.maxValue));
    EXPECT_EQ(1.0, FixValue(c.stepSize));
    EXPECT_EQ(0.0, FixValue(c.currentValue));
}

TEST_F(CapabilityTest, ASetValueIsCurrentWhileTheDefaultStays) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GET, &c));
    ASSERT_EQ((std::vector<std::uint32_t>{TWPT_BW, TWPT_GRAY, TWPT_RGB}), c.items);
    EXPECT_EQ(1u, c.currentIndex);
    EXPECT_EQ(2u, c.defaultIndex);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(TWON_ONEVALUE, c.conType);
    EXPECT_EQ(std::uint32_t(TWPT_GRAY), c.items.at(0));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETDEFAULT, &c));
    EXPECT_EQ(std::uint32_t(TWPT_RGB), c.items.at(0));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_RESET, &c));
    EXPECT_EQ(2u, c.currentIndex) << "reset answers with the value it restored";
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWPT_RGB), c.items.at(0));
}

TEST_F(CapabilityTest, BitDepthsFollowThePixelType) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BITDEPTH, TWTY_UINT16, 16));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_BW));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BITDEPTH, MSG_GET, &c));
    EXPECT_EQ(std::vector<std::uint32_t>{1}, c.items);
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BITDEPTH, MSG_GET, &c));
    EXPECT_EQ((std::vector<std::uint32_t>{8, 16}), c.items);
    EXPECT_EQ(8u, c.items.at(c.currentIndex)) << "a new pixel type starts at its own default depth";
}

TEST_F(CapabilityTest, ResolutionsAndSizesAreInTheCurrentUnits) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_XRESOLUTION, MSG_GETCURRENT, &c));
    EXPECT_NEAR(150 / 2.54, FixValue(c.items.at(0)), 1e-4);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PHYSICALWIDTH, MSG_GET, &c));
    EXPECT_NEAR(8.5 * 2.54, FixValue(c.items.at(0)), 1e-4);
    // 300 dots per inch, said in dots per centimetre.
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_YRESOLUTION, TWTY_FIX32, Fix(300 / 2.54)));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_YRESOLUTION, MSG_GETCURRENT, &c));
    EXPECT_NEAR(300.0, FixValue(c.items.at(0)), 1e-3);
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_FRAMES, MSG_GETCURRENT, &c));
    ASSERT_EQ(1u, c.frames.size());
    EXPECT_NEAR(11.0, FixValue(c.frames[0].Bottom), 1e-4);
}

TEST_F(CapabilityTest, APaperSizeSetsTheFrameAndAFrameClearsThePaperSize) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_SUPPORTEDSIZES, TWTY_UINT16, TWSS_A5));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_FRAMES, MSG_GET, &c));
    ASSERT_EQ(1u, c.frames.size());
    EXPECT_NEAR(148 / 25.4, FixValue(c.frames[0].Right), 1e-4);
    EXPECT_NEAR(210 / 25.4, FixValue(c.frames[0].Bottom), 1e-4);
    ASSERT_EQ(TWRC_SUCCESS, SetFrame(MakeFrame(1, 1, 3, 4)));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_SUPPORTEDSIZES, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWSS_NONE), c.items.at(0));
    TW_IMAGELAYOUT layout{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout));
    EXPECT_DOUBLE_EQ(3.0, FixValue(layout.Frame.Right)) << "the frame capability and the layout are one";
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, &layout));
    EXPECT_DOUBLE_EQ(8.5, FixValue(layout.Frame.Right));
    EXPECT_DOUBLE_EQ(11.0, FixValue(layout.Frame.Bottom));
}

TEST_F(CapabilityTest, RangeValuesOffTheStepAreRoundedWithCheckStatus) {
    EXPECT_EQ(TWRC_CHECKSTATUS, SetOne(ICAP_BRIGHTNESS, TWTY_FIX32, Fix(10.25)));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_BRIGHTNESS, MSG_GET, &c));
    EXPECT_EQ(10.0, FixValue(c.currentValue));
    EXPECT_EQ(TWRC_SUCCESS, SetOne(ICAP_BRIGHTNESS, TWTY_FIX32, Fix(-1000)));
}

TEST_F(CapabilityTest, ReadOnlyAndSettableCapabilitiesSayWhichOperationsTheyTake) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PHYSICALHEIGHT, MSG_QUERYSUPPORT, &c));
    EXPECT_EQ(std::uint32_t(TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT), c.items.at(0));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_NV_FILMTYPE, MSG_QUERYSUPPORT, &c));
    EXPECT_EQ(std::uint32_t(TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT | TWQC_SET | TWQC_RESET), c.items.at(0));
}

// The layout of the pages the scanner draws: one value each, which can be
// set (to itself) and reset, and no other.
TEST_F(CapabilityTest, ThePageLayoutCapabilitiesOfferTheOneLayoutThePagesHave) {
    const struct {
        TW_UINT16 cap, value, other;
    } cases[] = {{ICAP_PLANARCHUNKY, TWPC_CHUNKY, TWPC_PLANAR},
                 {ICAP_PIXELFLAVOR, TWPF_CHOCOLATE, TWPF_VANILLA},
                 {ICAP_BITORDER, TWBO_MSBFIRST, TWBO_LSBFIRST}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.cap);
        Container c;
        ASSERT_EQ(TWRC_SUCCESS, Get(k.cap, MSG_GET, &c));
        EXPECT_EQ(TWTY_UINT16, c.itemType);
        EXPECT_EQ(std::vector<std::uint32_t>{k.value}, c.items);
        for (TW_UINT16 msg : {MSG_GETCURRENT, MSG_GETDEFAULT}) {
            ASSERT_EQ(TWRC_SUCCESS, Get(k.cap, msg, &c));
            EXPECT_EQ(TWON_ONEVALUE, c.conType);
            EXPECT_EQ(std::vector<std::uint32_t>{k.value}, c.items);
        }
        EXPECT_EQ(TWRC_SUCCESS, SetOne(k.cap, TWTY_UINT16, k.value));
        EXPECT_EQ(TWRC_FAILURE, SetOne(k.cap, TWTY_UINT16, k.other));
        EXPECT_EQ(TWCC_BADVALUE, Condition());
        EXPECT_EQ(TWRC_SUCCESS, Get(k.cap, MSG_RESET, &c));
    }
}

TEST_F(CapabilityTest, ResetAllRestoresEveryDefaultInState4Only) {
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_BITDEPTH, TWTY_UINT16, 16));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_UNITS, TWTY_UINT16, TWUN_CENTIMETERS));
    ASSERT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 2));
    ASSERT_EQ(TWRC_SUCCESS, SetFrame(MakeFrame(1, 1, 2, 2)));
    TW_CAPABILITY all{};
    all.Cap = CAP_SUPPORTEDCAPS;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all));
    EXPECT_EQ(nullptr, Field(all.hContainer)) << "nothing is handed back";
    Container listed;
    ASSERT_EQ(TWRC_SUCCESS, Get(CAP_SUPPORTEDCAPS, MSG_GET, &listed));
    for (std::uint32_t id : listed.items) {
        Container current, def;
        ASSERT_EQ(TWRC_SUCCESS, Get(static_cast<TW_UINT16>(id), MSG_GETCURRENT, &current));
        ASSERT_EQ(TWRC_SUCCESS, Get(static_cast<TW_UINT16>(id), MSG_GETDEFAULT, &def));
        EXPECT_EQ(def.items, current.items) << "capability 0x" << std::hex << id;
        if (!def.frames.empty()) {
            EXPECT_EQ(0, std::memcmp(&def.frames[0], &current.frames[0], sizeof(TW_FRAME)));
        }
    }
    Enable();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
}

TEST_F(CapabilityTest, VendorCapabilitiesCarryTheirVendorValues) {
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(CAP_NV_VERSION, MSG_GET, &c));
    EXPECT_EQ(TWON_ONEVALUE, c.conType);
    EXPECT_EQ(0x0100u, c.items.at(0)) << "version 1.0";
    ASSERT_EQ(TWRC_SUCCESS, SetOne(ICAP_NV_FILMTYPE, TWTY_UINT16, TWNV_FT_NEGA));
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_NV_FILMTYPE, MSG_GET, &c));
    EXPECT_EQ(std::uint32_t(TWNV_FT_NEGA), c.items.at(c.currentIndex));
    EXPECT_EQ(std::uint32_t(TWNV_FT_REFLECTIVE), c.items.at(c.defaultIndex));
    EXPECT_EQ(TWRC_FAILURE, SetOne(CAP_NV_UIMODE, TWTY_UINT16, 7));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

}  // namespace
}  // namespace vstest
