#include "VendorOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "TwainValues.h"

namespace vscan {

using tracelet::values::PutFieldText;

namespace {

void PutPascal(unsigned char* dst, std::size_t size, const char* text) {
    const std::size_t n = std::min(std::strlen(text), std::min<std::size_t>(size - 1, 255));
    std::memset(dst, 0, size);
    dst[0] = static_cast<unsigned char>(n);
    std::memcpy(dst + 1, text, n);
}

void IdentityMatrix(TW_FIX32* m) {
    for (int i = 0; i < 9; ++i) m[i] = TwainFix32Of(i % 4 == 0 ? 1.0 : 0.0);
}

TW_INT16 ToPixels(double inches, double dpi) {
    return static_cast<TW_INT16>(std::clamp(std::lround(inches * dpi), 0L, 32767L));
}

bool ValidUnsharpMask(const TWNV_USMPARAM& p) {
    return p.Amount >= 0 && p.Amount <= 500 && p.Radius >= 1 && p.Radius <= 250 && p.Threshold >= 0 &&
           p.Threshold <= 255;
}

bool ValidFilmType(TW_UINT16 t) { return t == TWNV_FT_POSI || t == TWNV_FT_NEGA || t == TWNV_FT_REFLECTIVE; }

void FillHardwareInfo(TWNV_HARDWAREINFO* hw) {
    std::memset(hw, 0, sizeof *hw);
    hw->ModelID = 0x51;
    PutPascal(hw->ProductName, sizeof hw->ProductName, "Tracelet Virtual Scanner");
    PutPascal(hw->ModelName, sizeof hw->ModelName, "VS-100");
    hw->OptXResolution = 600;
    hw->OptYResolution = 600;
    hw->MinResolution = 75;
    hw->MaxResolution = 600;
    hw->MaxMoireResolution = 300;
    hw->MaxPixelofWidth = static_cast<TW_UINT32>(kBedWidthInches * 600);
    hw->PixelSizeofFB[0] = static_cast<TW_UINT32>(kBedWidthInches * 600);
    hw->PixelSizeofFB[1] = static_cast<TW_UINT32>(kBedHeightInches * 600);
    hw->PixelSizeofADF[0] = static_cast<TW_UINT32>(kBedWidthInches * 600);
    hw->PixelSizeofADF[1] = static_cast<TW_UINT32>(kBedHeightInches * 600);
    hw->BitDepth = 0x10;  // up to 16 bits a sample
    hw->InterfaceSupport = 1;
    hw->CommandType = 0;
    hw->ConnectInterfaceType = 1;
    hw->StandAloneModeSupport = 0;
    hw->FullAutoModeSupport = 1;
    hw->SimpleModeSupport = 1;
    hw->DocumentModeSupport = 1;
    hw->AdvancedModeSupport = 1;
    hw->AutoLayoutSupportFB = 1;
    hw->TableArrangement = 0;
    hw->OptionSupport = 0x0001;  // document feeder
    PutFieldText(hw->ProfileNameFB, "sRGB IEC61966-2.1");
    IdentityMatrix(hw->ColorCorrectionFB);
    IdentityMatrix(hw->ColorCorrectionPOSI);
    IdentityMatrix(hw->ColorCorrectionNEGA);
    IdentityMatrix(hw->HMPColorCorrectionFB);
    IdentityMatrix(hw->HMPColorCorrectionPOSI);
    IdentityMatrix(hw->HMPColorCorrectionNEGA);
    PutFieldText(hw->ROMVersion, "1.00");
}

}  // namespace

VendorState::VendorState() {
    preScanGamma = 1;  // 1.8
    screenGamma = TwainFix32Of(2.2);
    grayBalance = 0;
    IdentityMatrix(rgbMatrix.ColorCoeff);
    std::memset(&colorSmoothing, 0, sizeof colorSmoothing);
    unsharpMask.Amount = 100;
    unsharpMask.Radius = 1;
    unsharpMask.Threshold = 0;
    usmLevel = 1;
    revise.InputRevise = {0, 0, 255, 255};
    revise.OutputRevise = {0, 0, 255, 255};
    revise.BlurMax = 0;
    settingFrame.NumFrame = 1;
    settingFrame.CurrentNum = 1;
}

bool IsVendorOperation(TW_UINT16 dat) { return dat >= DAT_NV_AUTOEXPOSURE && dat <= DAT_NV_USMINFO; }

Outcome HandleVendorOperation(TW_UINT16 dat, TW_UINT16 msg, void* data, int state, VendorState& v,
                              ScanSettings& s, const PageGeometry* page) {
    // Operations of the family that this model does not implement.
    if (dat == DAT_NV_EVENT || dat == DAT_NV_REDCORRECTIONMATRIX || dat == DAT_NV_TWAINCALLBACKMSG)
        return Failure(TWCC_BADPROTOCOL);
    if (msg != MSG_GET && msg != MSG_SET) return Failure(TWCC_BADPROTOCOL);
    if (dat == DAT_NV_HARDWAREINFO && msg == MSG_SET) return Failure(TWCC_BADPROTOCOL);
    if (dat == DAT_NV_SKEWINFO && msg == MSG_SET) return Failure(TWCC_BADPROTOCOL);
    if (msg == MSG_SET && state != 4) return Failure(TWCC_SEQERROR);
    if (msg == MSG_GET && (state < 4 || (dat == DAT_NV_SKEWINFO && (state < 6 || !page))))
        return Failure(TWCC_SEQERROR);
    if (!data) return Failure(TWCC_BADVALUE);
    const bool get = msg == MSG_GET;

    switch (dat) {
    case DAT_NV_HARDWAREINFO:
        FillHardwareInfo(static_cast<TWNV_HARDWAREINFO*>(data));
        return Success();

    case DAT_NV_AUTOEXPOSURE: {
        auto* ae = static_cast<TWNV_AUTOEXPOSURE*>(data);
        if (get) {
            // The area the exposure was measured on: the frame, in pixels.
            ae->Handle = 0;
            ae->Left = ToPixels(s.frame.left, s.xResolution);
            ae->Top = ToPixels(s.frame.top, s.yResolution);
            ae->Right = ToPixels(s.frame.right, s.xResolution);
            ae->Bottom = ToPixels(s.frame.bottom, s.yResolution);
            ae->FilmType = s.filmType;
            ae->PreScanGamma = v.preScanGamma;
            ae->ScreenGamma = v.screenGamma;
            ae->GrayBalance = v.grayBalance;
            return Success();
        }
        if (!ValidFilmType(ae->FilmType) || ae->PreScanGamma > 1 || TwainFix32Value(ae->ScreenGamma) <= 0)
            return Failure(TWCC_BADVALUE);
        s.filmType = ae->FilmType;
        v.preScanGamma = ae->PreScanGamma;
        v.screenGamma = ae->ScreenGamma;
        v.grayBalance = ae->GrayBalance;
        return Success();
    }

    case DAT_NV_RGBMATRIX: {
        auto* m = static_cast<TWNV_RGBMATRIX*>(data);
        if (get)
            *m = v.rgbMatrix;
        else
            v.rgbMatrix = *m;
        return Success();
    }

    case DAT_NV_COLORSMOOTHING: {
        auto* cs = static_cast<TWNV_COLORSMOOTHING*>(data);
        if (get)
            *cs = v.colorSmoothing;
        else
            v.colorSmoothing = *cs;
        return Success();
    }

    case DAT_NV_SKEWINFO: {
        // The virtual page lies straight on the glass: no skew.
        auto* loc = static_cast<TWNV_LOCATIONDATA*>(data);
        std::memset(loc, 0, sizeof *loc);
        loc->BitsPerPixel = static_cast<TW_INT16>(page->bitsPerPixel);
        loc->locateW = page->width;
        loc->locateH = page->height;
        loc->ActualImgW = page->width;
        loc->ActualImgH = page->height;
        loc->Theta = TwainFix32Of(0);
        return Success();
    }

    case DAT_NV_UNSHARPMASKPARAM: {
        auto* p = static_cast<TWNV_USMPARAM*>(data);
        if (get) {
            *p = v.unsharpMask;
            return Success();
        }
        if (!ValidUnsharpMask(*p)) return Failure(TWCC_BADVALUE);
        v.unsharpMask = *p;
        return Success();
    }

    case DAT_NV_SETTINGFRAME: {
        auto* f = static_cast<TWNV_SETTINGFRAME*>(data);
        if (get) {
            *f = v.settingFrame;
            return Success();
        }
        // One frame on this model.
        if (f->NumFrame != 1 || f->CurrentNum != 1) return Failure(TWCC_BADVALUE);
        v.settingFrame = *f;
        return Success();
    }

    case DAT_NV_USMINFO: {
        auto* u = static_cast<TWNV_USMINFO*>(data);
        if (get) {
            u->InputResolution = static_cast<TW_UINT16>(s.xResolution);
            u->InUSMLevel = v.usmLevel;
            u->InFilmType = s.filmType;
            u->USMParm = v.unsharpMask;
            u->ReviseParm = v.revise;
            return Success();
        }
        if (!ValidUnsharpMask(u->USMParm) || u->InUSMLevel > 3) return Failure(TWCC_BADVALUE);
        v.usmLevel = u->InUSMLevel;
        v.unsharpMask = u->USMParm;
        v.revise = u->ReviseParm;
        return Success();
    }

    default: return Failure(TWCC_BADPROTOCOL);
    }
}

}  // namespace vscan
