// Structure dumps as the loaded data source writes them: DS_Entry picks the
// structure by the data argument type; a null pData gets the call's lines
// and no block, failed or not.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "DataSourceHarness.h"

namespace {

std::string Triplet(int seq, const std::string& names) { return Format("[%05d] [APP] %s\r\n", seq, names.c_str()); }

TEST(StructureTrace, EachDataArgumentTypeDumpsItsOwnStructureAndNoneForANullPData) {
    const struct {
        TW_UINT32 dg;
        TW_UINT16 dat;
        const char* name;
        const char* header;  // null: no block
    } types[] = {
        {DG_CONTROL, DAT_NULL, "DAT_NULL", nullptr},
        {DG_CONTROL, DAT_CAPABILITY, "DAT_CAPABILITY", "  TW_CAPABILITY = {"},
        {DG_CONTROL, DAT_EVENT, "DAT_EVENT", nullptr},  // TWMessage 0
        {DG_CONTROL, DAT_IDENTITY, "DAT_IDENTITY", "  TW_IDENTITY = {"},
        {DG_CONTROL, DAT_PARENT, "DAT_PARENT", nullptr},
        {DG_CONTROL, DAT_PENDINGXFERS, "DAT_PENDINGXFERS", "  TW_PENDINGXFERS = {"},
        {DG_CONTROL, DAT_SETUPMEMXFER, "DAT_SETUPMEMXFER", "  TW_SETUPMEMXFER = {"},
        {DG_CONTROL, DAT_SETUPFILEXFER, "DAT_SETUPFILEXFER", "  TW_SETUPFILEXFER = {"},
        {DG_CONTROL, DAT_STATUS, "DAT_STATUS", "  TW_STATUS = {"},
        {DG_CONTROL, DAT_USERINTERFACE, "DAT_USERINTERFACE", "  TW_USERINTERFACE = {"},
        {DG_CONTROL, DAT_XFERGROUP, "DAT_XFERGROUP", "  TW_UINT32 = {"},
        {DG_CONTROL, DAT_TWUNKIDENTITY, "DAT_TWUNKIDENTITY", nullptr},
        {DG_CONTROL, DAT_CUSTOMDSDATA, "DAT_CUSTOMDSDATA", "  TW_CUSTOMDSDATA = {"},
        {DG_IMAGE, DAT_IMAGEINFO, "DAT_IMAGEINFO", "  TW_IMAGEINFO = {"},
        {DG_IMAGE, DAT_IMAGELAYOUT, "DAT_IMAGELAYOUT", "  TW_IMAGELAYOUT = {"},
        {DG_IMAGE, DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER", "  TW_IMAGEMEMXFER = {"},
        {DG_IMAGE, DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER", "  TW_UINT32 = {"},
        {DG_IMAGE, DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER", nullptr},
        {DG_IMAGE, DAT_CIECOLOR, "DAT_CIECOLOR", "  TW_CIECOLOR = {"},
        {DG_IMAGE, DAT_GRAYRESPONSE, "DAT_GRAYRESPONSE", "  TW_GRAYRESPONSE = {"},
        {DG_IMAGE, DAT_RGBRESPONSE, "DAT_RGBRESPONSE", "  TW_RGBRESPONSE = {"},
        {DG_IMAGE, DAT_JPEGCOMPRESSION, "DAT_JPEGCOMPRESSION", "  TW_JPEGCOMPRESSION = {"},
        {DG_IMAGE, DAT_PALETTE8, "DAT_PALETTE8", "  TW_PALETTE8 = { it does not display. }"},
        {DG_IMAGE, DAT_EXTIMAGEINFO, "DAT_EXTIMAGEINFO", "  TW_EXTIMAGEINFO = {"},
        {DG_CONTROL, DAT_NV_AUTOEXPOSURE, "DAT_NV_AUTOEXPOSURE", "  TWNV_AUTOEXPOSURE = {"},
        {DG_CONTROL, DAT_NV_RGBMATRIX, "DAT_NV_RGBMATRIX", "  TWNV_RGBMATRIX = {"},
        {DG_CONTROL, DAT_NV_COLORSMOOTHING, "DAT_NV_COLORSMOOTHING", "  TWNV_COLORSMOOTHING = {"},
        {DG_CONTROL, DAT_NV_EVENT, "DAT_NV_EVENT", nullptr},
        {DG_CONTROL, DAT_NV_HARDWAREINFO, "DAT_NV_HARDWAREINFO", "  TWNV_HARDWAREINFO = {"},
        {DG_CONTROL, DAT_NV_SKEWINFO, "DAT_NV_SKEWINFO", "  TWNV_LOCATIONDATA = {"},
        {DG_CONTROL, DAT_NV_UNSHARPMASKPARAM, "DAT_NV_UNSHARPMASKPARAM", "    TWNV_USMPARAM = {"},  // four blanks
        {DG_CONTROL, DAT_NV_REDCORRECTIONMATRIX, "DAT_NV_REDCORRECTIONMATRIX", nullptr},
        {DG_CONTROL, DAT_NV_TWAINCALLBACKMSG, "DAT_NV_TWAINCALLBACKMSG", nullptr},
        {DG_CONTROL, DAT_NV_SETTINGFRAME, "DAT_NV_SETTINGFRAME", "  TWNV_SETTINGFRAME = {"},
        {DG_CONTROL, DAT_NV_USMINFO, "DAT_NV_USMINFO", "  TWNV_USMINFO = {"},
        {DG_CONTROL, 0x8015, "DAT_NV_EDGEFILLAREA", nullptr},  // named, no formatter
    };
    LoadedDataSource ds;
    ASSERT_NE(ds.control, nullptr);
    alignas(16) static unsigned char data[2048] = {};  // room for the largest (a palette), zeroed
    for (const auto& t : types) {
        ds.control->rc = TWRC_SUCCESS;
        ds.Call(t.dg, t.dat, MSG_GET, data);
        ds.Call(t.dg, t.dat, MSG_GET, nullptr);
        ds.control->rc = TWRC_FAILURE;
        EXPECT_EQ(ds.Call(t.dg, t.dat, MSG_SET, nullptr), TWRC_FAILURE);
    }
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    const std::string result = ResultLines("TWRC_SUCCESS", data);
    size_t at = 0;
    int seq = 0;
    for (const auto& t : types) {
        SCOPED_TRACE(t.name);
        // A capability call names its capability from pData: nothing to name.
        const std::string names = std::string(t.dg == DG_IMAGE ? "DG_IMAGE/" : "DG_CONTROL/") + t.name;
        const char* noCap = t.dat == DAT_CAPABILITY ? " ()" : "";
        const std::string nullCalls = Triplet(seq + 2, names + "/MSG_GET" + noCap) +
                                      ResultLines("TWRC_SUCCESS", nullptr) + StateLine(3) +
                                      Triplet(seq + 3, names + "/MSG_SET" + noCap) +
                                      ResultLines("TWRC_FAILURE", nullptr) + MarkerBlock();
        seq += 3;
        const size_t block = log.find(result, at);
        const size_t next = log.find(nullCalls, block);
        ASSERT_NE(next, std::string::npos);
        const std::string dump = log.substr(block + result.size(), next - block - result.size());
        if (t.header)
            EXPECT_EQ(dump.substr(0, dump.find("\r\n")), t.header);
        else
            EXPECT_EQ(dump, StateLine(3));
        at = next + nullCalls.size();
    }
    EXPECT_EQ(at, log.size());
}

TEST(StructureTrace, OpeningTheManagerDumpsTheOriginIdentityNotPData) {
    LoadedDataSource ds;
    TW_IDENTITY other{};
    strcpy(other.ProductName, "never shown");
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other);
    EXPECT_EQ(ds.CallFrom(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &other), TWRC_SUCCESS);  // no identity
    ds.Unload();
    const std::string log = LoadedDataSource::Log();
    EXPECT_EQ(LineOf(log, "  pOrigin:"), "  pOrigin:TW_IDENTITY = {");
    EXPECT_EQ(LineOf(log, "    ProductName "), "    ProductName     = [Test application]");
    EXPECT_EQ(log.find("never shown"), std::string::npos);
    EXPECT_EQ(log.substr(log.find("[00002]")),
              Triplet(2, "DG_CONTROL/DAT_PARENT/MSG_OPENDSM") + ResultLines("TWRC_SUCCESS", &other) + StateLine(3));
}

}  // namespace
