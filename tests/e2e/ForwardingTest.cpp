// A data source loaded like a manager loads it forwards every triplet
// unchanged and writes its trace.
#include <gtest/gtest.h>

#include "DataSourceHarness.h"

namespace {

void FillStatus(void*, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF pData) {
    if (pData) static_cast<TW_STATUS*>(pData)->ConditionCode = TWCC_SEQERROR;
}

TEST(Forwarding, EveryTripletReachesTheCompanionUnchangedAndItsAnswerComesBack) {
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    TW_STATUS status{};
    const TW_UINT16 codes[] = {TWRC_SUCCESS, TWRC_FAILURE, TWRC_CHECKSTATUS, TWRC_CANCEL,
                               TWRC_DSEVENT, TWRC_NOTDSEVENT, TWRC_XFERDONE, 0x8001, 0xFFFF};
    for (TW_UINT16 rc : codes) {
        ds.control->rc = rc;
        ds.control->fill = FillStatus;
        EXPECT_EQ(ds.Call(0xDEADBEEF, DAT_STATUS, MSG_GET, &status), rc);
        EXPECT_EQ(ds.control->lastOrigin, &ds.app);
        EXPECT_EQ(ds.control->lastDG, 0xDEADBEEFu);
        EXPECT_EQ(ds.control->lastDAT, DAT_STATUS);
        EXPECT_EQ(ds.control->lastMSG, MSG_GET);
        EXPECT_EQ(ds.control->lastData, &status);
        EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);  // what the companion wrote stays
    }
    EXPECT_EQ(ds.control->calls, 9);
}

}  // namespace
