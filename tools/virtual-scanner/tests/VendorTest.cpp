// The vendor operations: hardware facts, and image processing parameters
// that are kept between a set and a get, checked when set, and negotiated
// in state 4 like capabilities.
#include "ScannerHarness.h"
#include "tracelet/twain_nv.h"

namespace vstest {
namespace {

class VendorTest : public ScannerTest {
protected:
    void SetUp() override { Open(); }
};

TEST_F(VendorTest, HardwareInformationNamesTheModelInPascalStrings) {
    TWNV_HARDWAREINFO hw;
    std::memset(&hw, 0xee, sizeof hw);
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_GET, &hw));
    const std::string product(reinterpret_cast<const char*>(hw.ProductName + 1), hw.ProductName[0]);
    EXPECT_EQ("Tracelet Virtual Scanner", product);
    EXPECT_EQ(6, hw.ModelName[0]);
    EXPECT_LE(Field(hw.MinResolution), 75u);
    EXPECT_GE(Field(hw.MaxResolution), 600u);
    EXPECT_EQ(0, hw.ROMVersion[sizeof hw.ROMVersion - 1]) << "texts are terminated";
    EXPECT_EQ(1, hw.ColorCorrectionFB[0].Whole) << "identity matrix";
    EXPECT_EQ(0, hw.ColorCorrectionFB[1].Whole);
}

TEST_F(VendorTest, UnsharpMaskParametersAreKeptAndCheckedInState4Only) {
    TWNV_USMPARAM usm{250, 3, 10};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, &usm));
    TWNV_USMPARAM back{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_GET, &back));
    EXPECT_EQ(250, back.Amount);
    EXPECT_EQ(3, back.Radius);
    EXPECT_EQ(10, back.Threshold);
    TWNV_USMPARAM tooMuch{501, 3, 10};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, &tooMuch));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    Enable();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_SET, &usm));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    EXPECT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_UNSHARPMASKPARAM, MSG_GET, &back));
}

TEST_F(VendorTest, AutoExposureMeasuresTheFrameAndItsFilmTypeIsTheCapabilitys) {
    ASSERT_EQ(TWRC_SUCCESS, SetFrame(MakeFrame(1, 2, 3, 4)));
    TWNV_AUTOEXPOSURE ae{};
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_AUTOEXPOSURE, MSG_GET, &ae));
    EXPECT_EQ(150, ae.Left) << "pixels at the default 150 dpi";
    EXPECT_EQ(600, ae.Bottom);
    EXPECT_EQ(TWNV_FT_REFLECTIVE, ae.FilmType);
    ae.FilmType = TWNV_FT_NEGA;
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_AUTOEXPOSURE, MSG_SET, &ae));
    Container c;
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_NV_FILMTYPE, MSG_GETCURRENT, &c));
    EXPECT_EQ(std::uint32_t(TWNV_FT_NEGA), c.items.at(0));
    ae.FilmType = 9;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_NV_AUTOEXPOSURE, MSG_SET, &ae));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

TEST_F(VendorTest, SkewIsMeasuredOnAReadyPage) {
    TWNV_LOCATIONDATA loc{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_NV_SKEWINFO, MSG_GET, &loc));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    ToTransferReady();
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_NV_SKEWINFO, MSG_GET, &loc));
    const TW_IMAGEINFO info = ImageInfo();
    EXPECT_EQ(std::uint32_t(info.ImageWidth), Field(loc.ActualImgW));
    EXPECT_EQ(std::uint32_t(info.ImageLength), Field(loc.ActualImgH));
    EXPECT_EQ(info.BitsPerPixel, loc.BitsPerPixel);
}

TEST_F(VendorTest, OperationsThisModelLacksAreBadProtocol) {
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_NV_EVENT, MSG_GET, nullptr));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    TWNV_HARDWAREINFO hw{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_NV_HARDWAREINFO, MSG_SET, &hw));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
}

}  // namespace
}  // namespace vstest
