// DAT_STATUS tells why the last triplet failed: TWCC_CAPUNSUPPORTED for a
// capability the scanner lacks, TWCC_BADVALUE for a value it does not offer,
// and so on; a later success clears it.
#include "Faults.h"
#include "ScannerHarness.h"

namespace vstest {
namespace {

class ConditionCodeTest : public ScannerTest {
protected:
    void SetUp() override { Open(); }
};

TEST_F(ConditionCodeTest, AnUnsupportedCapabilityIsReportedUntilTheNextCallSucceeds) {
    Container c;
    EXPECT_EQ(TWRC_FAILURE, Get(CAP_DEVICEONLINE, MSG_GET, &c));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, Condition());
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, Condition()) << "asking does not clear it";
    TW_UINT16 message = 0;
    EXPECT_EQ(TWRC_NOTDSEVENT, ProcessEvent(&message)) << "state 4: no event of this source";
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, Condition()) << "event polling does not clear it";
    ASSERT_EQ(TWRC_SUCCESS, Get(ICAP_PIXELTYPE, MSG_GET, &c));
    EXPECT_EQ(TWCC_SUCCESS, Condition());
}

TEST_F(ConditionCodeTest, ValuesTheScannerDoesNotOfferAreBadValues) {
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_CIEXYZ));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_XRESOLUTION, TWTY_FIX32, Fix(123)));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(CAP_XFERCOUNT, TWTY_INT16, 0));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_BITDEPTH, TWTY_UINT16, 1)) << "one bit is for black and white";
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_BRIGHTNESS, TWTY_FIX32, Fix(1000.5)));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_SUCCESS, SetOne(CAP_XFERCOUNT, TWTY_INT16, 0xFFFF)) << "-1: every page there is";
}

TEST_F(ConditionCodeTest, AValueOfTheWrongItemTypeOrContainerIsABadValue) {
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_XRESOLUTION, TWTY_UINT16, 300)) << "resolutions are TW_FIX32";
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY, TWON_ENUMERATION));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    TW_CAPABILITY empty{};
    empty.Cap = ICAP_PIXELTYPE;
    empty.ConType = TWON_ONEVALUE;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &empty)) << "no container";
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

TEST_F(ConditionCodeTest, ReadOnlyCapabilitiesRefuseSetAndReset) {
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_PHYSICALWIDTH, TWTY_FIX32, Fix(4)));
    EXPECT_EQ(TWCC_CAPBADOPERATION, Condition());
    TW_CAPABILITY cap{};
    cap.Cap = CAP_SUPPORTEDCAPS;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_RESET, &cap));
    EXPECT_EQ(TWCC_CAPBADOPERATION, Condition());
}

TEST_F(ConditionCodeTest, OperationsOutsideTheProtocolAreBadProtocol) {
    TW_UINT32 anything = 0;
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_FILESYSTEM, MSG_GET, &anything));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    TW_IMAGEINFO info{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_IMAGEINFO, MSG_GET, &info)) << "an image operation in DG_CONTROL";
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    TW_USERINTERFACE ui{};
    EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &ui));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
}

TEST_F(ConditionCodeTest, AMemoryBufferSmallerThanARowIsRefusedAndThePageStaysReady) {
    ToTransferReady();
    const TW_IMAGEINFO info = ImageInfo();
    const std::uint32_t row = (std::uint32_t(info.ImageWidth) * info.BitsPerPixel + 7) / 8;
    std::vector<unsigned char> small(row - 1);
    TW_IMAGEMEMXFER x{};
    x.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    x.Memory.Length = row - 1;
    x.Memory.TheMem = small.data();
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    x.Memory.Length = row;
    x.Memory.Flags = TWMF_POINTER;  // the application must own it
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    int strips = 0;
    MemoryPage(64 * 1024, &strips);
    EXPECT_GT(strips, 1);
}

TEST_F(ConditionCodeTest, AnEmptyFrameIsABadValueAndOneOffTheGlassIsClipped) {
    TW_IMAGELAYOUT layout{};
    layout.Frame = MakeFrame(2, 2, 2, 5);
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    layout.Frame = MakeFrame(9, 0, 10, 1);  // right of the 8.5-inch glass
    EXPECT_EQ(TWRC_FAILURE, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    layout.Frame = MakeFrame(1, 1, 20, 3);
    EXPECT_EQ(TWRC_CHECKSTATUS, Call(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout));
    EXPECT_DOUBLE_EQ(8.5, FixValue(layout.Frame.Right)) << "the clipped frame comes back";
    EXPECT_DOUBLE_EQ(1.0, FixValue(layout.Frame.Left));
}

}  // namespace
}  // namespace vstest

namespace vstest {
namespace {

// The fault switches a conformance run is tried on; each is shown to be
// caught by that run's own tests.
TEST(FaultSwitchTest, NamesAreReadFromACommaSeparatedListAndUnknownOnesAreKept) {
    std::string unknown;
    const vscan::Faults f = vscan::ParseFaults("stale-status,,leak-fd,no-such-fault,short-strip", &unknown);
    EXPECT_TRUE(f.staleStatus && f.leakFd && f.shortStrip);
    EXPECT_FALSE(f.getCurrentContainer || f.resetKeepsValue || f.noSeqError);
    EXPECT_EQ("no-such-fault", unknown);
}

}  // namespace
}  // namespace vstest
