// The vendor operations DAT_NV_* of the virtual scanner: what a real model
// of the family would report about its hardware and keep as its image
// processing parameters.
#ifndef TRACELET_VS_VENDOR_OPS_H
#define TRACELET_VS_VENDOR_OPS_H

#include "Capabilities.h"
#include "ScanSettings.h"
#include "tracelet/twain_nv.h"

namespace vscan {

struct VendorState {
    VendorState();

    TW_UINT16 preScanGamma;
    TW_FIX32 screenGamma;
    TW_UINT16 grayBalance;
    TWNV_RGBMATRIX rgbMatrix;
    TWNV_COLORSMOOTHING colorSmoothing;
    TWNV_USMPARAM unsharpMask;
    TW_UINT16 usmLevel;
    TWNV_REVISEBASEPARM revise;
    TWNV_SETTINGFRAME settingFrame;
};

bool IsVendorOperation(TW_UINT16 dat);

// One DAT_NV_* triplet. MSG_GET is answered in states 4 to 7 (the skew of
// the page only once a page is ready: states 6 and 7, `page` then set),
// MSG_SET only in state 4.
Outcome HandleVendorOperation(TW_UINT16 dat, TW_UINT16 msg, void* data, int state, VendorState& vendor,
                              ScanSettings& settings, const PageGeometry* page);

}  // namespace vscan

#endif  // TRACELET_VS_VENDOR_OPS_H
