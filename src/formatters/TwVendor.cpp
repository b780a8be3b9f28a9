// Vendor-extension structures exchanged through the DAT_NV_* operations.
//
// Each formatter copies its structure out of pData first and prints only
// from the copy, so no line reads outside the structure whatever its bytes
// hold. Texts are bounded by their fields: the Pascal strings by their 34
// bytes whatever the length byte says, the NUL-terminated texts by their
// 34-byte width when no NUL comes first.
#include "analyzer/ParaAnalyze.h"

namespace {

constexpr size_t kCoeffCount = 9;

// Text of a vendor Pascal string: the length byte, then the characters in
// the system's single-byte encoding, copied as they are. The count is the
// length byte, cut to the 33 characters the field has room for; a NUL among
// the characters ends the text there, as it would end a converted string.
struct PascalText {
    char s[sizeof(TWNV_STR32P)];
    explicit PascalText(const TWNV_STR32P& field) {
        size_t n = field[0];
        if (n > sizeof field - 1) n = sizeof field - 1;
        memcpy(s, field + 1, n);
        s[n] = '\0';
    }
    const char* c_str() const { return s; }
};

using Str32Text = FieldText<sizeof(TW_STR32)>;

}  // namespace

// The nine coefficients of a colour matrix in memory order, "%.3f" each,
// separated by "," and with no line end.
void CParaAnalyze::SetColorCoeffData(const TW_FIX32* coeff) {
    if (!coeff) return;
    for (size_t i = 0; i < kCoeffCount; ++i) {
        const TW_FIX32 c = CopyIn<TW_FIX32>(coeff + i);
        if (i + 1 < kCoeffCount)
            AppendF("%.3f,", Fix32ToDouble(c));
        else
            AppendF("%.3f", Fix32ToDouble(c));
    }
}

bool CParaAnalyze::TwNvAutoExposureAnalyze(const TWNV_AUTOEXPOSURE* p) {
    if (!p) return true;
    const TWNV_AUTOEXPOSURE v = CopyIn<TWNV_AUTOEXPOSURE>(p);
    AppendF("  TWNV_AUTOEXPOSURE = {%s", CRLF);
    AppendF("    Handle       = <0x%08x>%s", v.Handle, CRLF);
    AppendF("    Left         = [%d]%s", v.Left, CRLF);
    AppendF("    Top          = [%d]%s", v.Top, CRLF);
    AppendF("    Right        = [%d]%s", v.Right, CRLF);
    AppendF("    Bottom       = [%d]%s", v.Bottom, CRLF);
    AppendF("    FilmType     = [%s]%s", Name(twnv_ft_macros, v.FilmType), CRLF);
    AppendF("    PreScanGamma = [%s]%s", Name(twnv_pg_macros, v.PreScanGamma), CRLF);
    AppendF("    ScreenGamma  = [%.3f]%s", Fix32ToDouble(v.ScreenGamma), CRLF);
    AppendF("    GrayBalance  = [%lu]%s", static_cast<unsigned long>(v.GrayBalance), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwNvRgbMatrixAnalyze(const TWNV_RGBMATRIX* p) {
    if (!p) return true;
    const TWNV_RGBMATRIX v = CopyIn<TWNV_RGBMATRIX>(p);
    AppendF("  TWNV_RGBMATRIX = {%s", CRLF);
    Append("    ColorCoeff = {");
    SetColorCoeffData(v.ColorCoeff);
    AppendF("}%s", CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwNvColorSmoothingAnalyze(const TWNV_COLORSMOOTHING* p) {
    if (!p) return true;
    const TWNV_COLORSMOOTHING v = CopyIn<TWNV_COLORSMOOTHING>(p);
    AppendF("  TWNV_COLORSMOOTHING = {%s", CRLF);
    AppendF("    Handle       = <0x%08x>%s", v.Handle, CRLF);
    AppendF("    LeftX        = [%lu]%s", static_cast<unsigned long>(v.LeftX), CRLF);
    AppendF("    LeftY        = [%lu]%s", static_cast<unsigned long>(v.LeftY), CRLF);
    AppendF("    TopX         = [%lu]%s", static_cast<unsigned long>(v.TopX), CRLF);
    AppendF("    TopY         = [%lu]%s", static_cast<unsigned long>(v.TopY), CRLF);
    AppendF("    RightX       = [%lu]%s", static_cast<unsigned long>(v.RightX), CRLF);
    AppendF("    RightY       = [%lu]%s", static_cast<unsigned long>(v.RightY), CRLF);
    AppendF("    BottomX      = [%lu]%s", static_cast<unsigned long>(v.BottomX), CRLF);
    AppendF("    BottomY      = [%lu]%s", static_cast<unsigned long>(v.BottomY), CRLF);
    AppendF("    Reserved     = [%lu]%s", static_cast<unsigned long>(v.Reserved), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwHardwareInfoAnalyze(const TWNV_HARDWAREINFO* p) {
    if (!p) return true;
    const TWNV_HARDWAREINFO v = CopyIn<TWNV_HARDWAREINFO>(p);
    auto u32 = [](TW_UINT32 x) { return static_cast<unsigned long>(x); };
    auto matrix = [this](const char* label, const TW_FIX32* coeff) {
        Append(label);
        SetColorCoeffData(coeff);
        AppendF("]%s", CRLF);
    };

    AppendF("  TWNV_HARDWAREINFO = {%s", CRLF);
    AppendF("    ModelID                = [0x%02x]%s", v.ModelID, CRLF);
    AppendF("    ProductName            = [%s]%s", PascalText(v.ProductName).c_str(), CRLF);
    AppendF("    ModelName              = [%s]%s", PascalText(v.ModelName).c_str(), CRLF);
    AppendF("    OptXResolution         = [%lu]%s", u32(v.OptXResolution), CRLF);
    AppendF("    OptYResolution         = [%lu]%s", u32(v.OptYResolution), CRLF);
    AppendF("    MinResolution          = [%lu]%s", u32(v.MinResolution), CRLF);
    AppendF("    MaxResolution          = [%lu]%s", u32(v.MaxResolution), CRLF);
    AppendF("    MaxMoireResolution     = [%lu]%s", u32(v.MaxMoireResolution), CRLF);
    AppendF("    MaxPixelofWidth        = [%lu]%s", u32(v.MaxPixelofWidth), CRLF);
    AppendF("    PixelSizeofFB[0]       = [%lu]%s", u32(v.PixelSizeofFB[0]), CRLF);
    AppendF("    PixelSizeofFB[1]       = [%lu]%s", u32(v.PixelSizeofFB[1]), CRLF);
    AppendF("    PixelSizeofADF[0]      = [%lu]%s", u32(v.PixelSizeofADF[0]), CRLF);
    AppendF("    PixelSizeofADF[1]      = [%lu]%s", u32(v.PixelSizeofADF[1]), CRLF);
    AppendF("    PixelSizeofTPU[0]      = [%lu]%s", u32(v.PixelSizeofTPU[0]), CRLF);
    AppendF("    PixelSizeofTPU[1]      = [%lu]%s", u32(v.PixelSizeofTPU[1]), CRLF);
    AppendF("    BitDepth               = [0x%02x]%s", v.BitDepth, CRLF);
    AppendF("    InterfaceSupport       = [%d]%s", v.InterfaceSupport, CRLF);
    AppendF("    CommandType            = [%lu]%s", u32(v.CommandType), CRLF);
    AppendF("    ConnectInterfaceType   = [%lu]%s", u32(v.ConnectInterfaceType), CRLF);
    AppendF("    StandAloneModeSupport  = [%s]%s", BoolText(v.StandAloneModeSupport), CRLF);
    AppendF("    FullAutoModeSupport    = [%s]%s", BoolText(v.FullAutoModeSupport), CRLF);
    AppendF("    SimpleModeSupport      = [%s]%s", BoolText(v.SimpleModeSupport), CRLF);
    AppendF("    DocumentModeSupport    = [%s]%s", BoolText(v.DocumentModeSupport), CRLF);
    AppendF("    AdvancedModeSupport    = [%s]%s", BoolText(v.AdvancedModeSupport), CRLF);
    AppendF("    HMPSupport             = [%s]%s", BoolText(v.HMPSupport), CRLF);
    AppendF("    FIT3                   = [%s]%s", BoolText(v.FIT3), CRLF);
    AppendF("    AutoLayoutSupportFB    = [%s]%s", BoolText(v.AutoLayoutSupportFB), CRLF);
    AppendF("    AutoLayoutSupportADF   = [%s]%s", BoolText(v.AutoLayoutSupportADF), CRLF);
    AppendF("    HalftoneSupport        = [%s]%s", BoolText(v.HalftoneSupport), CRLF);
    AppendF("    HTModeSupport          = [%s]%s", BoolText(v.HTModeSupport), CRLF);
    AppendF("    HTDitherSupport        = [%s]%s", BoolText(v.HTDitherSupport), CRLF);
    AppendF("    HTAASSupport           = [%s]%s", BoolText(v.HTAASSupport), CRLF);
    AppendF("    HTTETSupport           = [%s]%s", BoolText(v.HTTETSupport), CRLF);
    AppendF("    TableArrangement       = [%d]%s", v.TableArrangement, CRLF);
    AppendF("    OptionSupport          = [0x%04x]%s", v.OptionSupport, CRLF);
    AppendF("    FocusSupport           = [%d]%s", v.FocusSupport, CRLF);
    AppendF("    FocusArea[0]           = [%lu]%s", u32(v.FocusArea[0]), CRLF);
    AppendF("    FocusArea[1]           = [%lu]%s", u32(v.FocusArea[1]), CRLF);
    AppendF("    ProfileNameFB          = [%s]%s", Str32Text(v.ProfileNameFB).c_str(), CRLF);
    AppendF("    ProfileNameTPU         = [%s]%s", Str32Text(v.ProfileNameTPU).c_str(), CRLF);
    matrix("    ColorCorrectionFB      = [", v.ColorCorrectionFB);
    matrix("    ColorCorrectionPOSI    = [", v.ColorCorrectionPOSI);
    matrix("    ColorCorrectionNEGA    = [", v.ColorCorrectionNEGA);
    matrix("    HMPColorCorrectionFB   = [", v.HMPColorCorrectionFB);
    matrix("    HMPColorCorrectionPOSI = [", v.HMPColorCorrectionPOSI);
    matrix("    HMPColorCorrectionNEGA = [", v.HMPColorCorrectionNEGA);
    AppendF("    ROMVersion             = [%s]%s", Str32Text(v.ROMVersion).c_str(), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwNvSkewInfoAnalyze(const TWNV_LOCATIONDATA* p) {
    if (!p) return true;
    const TWNV_LOCATIONDATA v = CopyIn<TWNV_LOCATIONDATA>(p);
    AppendF("  TWNV_LOCATIONDATA = {%s", CRLF);
    AppendF("    BitsPerPixel = [%d]%s", v.BitsPerPixel, CRLF);
    AppendF("    topPoint     = [%lu]%s", static_cast<unsigned long>(v.topPoint), CRLF);
    AppendF("    leftPoint    = [%lu]%s", static_cast<unsigned long>(v.leftPoint), CRLF);
    AppendF("    locateW      = [%lu]%s", static_cast<unsigned long>(v.locateW), CRLF);
    AppendF("    locateH      = [%lu]%s", static_cast<unsigned long>(v.locateH), CRLF);
    AppendF("    ActualImgW   = [%lu]%s", static_cast<unsigned long>(v.ActualImgW), CRLF);
    AppendF("    ActualImgH   = [%lu]%s", static_cast<unsigned long>(v.ActualImgH), CRLF);
    AppendF("    xTangent     = [%lu]%s", static_cast<unsigned long>(v.xTangent), CRLF);
    AppendF("    yTangent     = [%lu]%s", static_cast<unsigned long>(v.yTangent), CRLF);
    AppendF("    Theta        = [%.3f]%s", Fix32ToDouble(v.Theta), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

// Opens with four blanks wherever it is printed, also inside TWNV_USMINFO.
bool CParaAnalyze::TwUnsharpMaskAnalyze(const TWNV_USMPARAM* p) {
    if (!p) return true;
    const TWNV_USMPARAM v = CopyIn<TWNV_USMPARAM>(p);
    AppendF("    TWNV_USMPARAM = {%s", CRLF);
    AppendF("      Amount    = [%d]%s", v.Amount, CRLF);
    AppendF("      Radius    = [%d]%s", v.Radius, CRLF);
    AppendF("      Threshold = [%d]%s", v.Threshold, CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwNvSettingFrameAnalyze(const TWNV_SETTINGFRAME* p) {
    if (!p) return true;
    const TWNV_SETTINGFRAME v = CopyIn<TWNV_SETTINGFRAME>(p);
    AppendF("  TWNV_SETTINGFRAME = {%s", CRLF);
    AppendF("    NumFrame    = [%d]%s", v.NumFrame, CRLF);
    AppendF("    CurrentNum  = [%d]%s", v.CurrentNum, CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

// Opens with six blanks: it is only ever printed inside TWNV_REVISEBASEPARM.
bool CParaAnalyze::TwNvThresholdInfoAnalyze(const TWNV_THRESHOLDINFO* p) {
    if (!p) return true;
    const TWNV_THRESHOLDINFO v = CopyIn<TWNV_THRESHOLDINFO>(p);
    AppendF("      TWNV_THRESHOLDINFO = {%s", CRLF);
    AppendF("        ShadowL    = [%d]%s", v.ShadowL, CRLF);
    AppendF("        ShadowH    = [%d]%s", v.ShadowH, CRLF);
    AppendF("        HighlightH = [%d]%s", v.HighlightH, CRLF);
    AppendF("        HighlightL = [%d]%s", v.HighlightL, CRLF);
    AppendF("      }%s", CRLF);
    return true;
}

// Opens with four blanks; each threshold block follows its label line.
bool CParaAnalyze::TwNvReviseBaseParamAnalyze(const TWNV_REVISEBASEPARM* p) {
    if (!p) return true;
    const TWNV_REVISEBASEPARM v = CopyIn<TWNV_REVISEBASEPARM>(p);
    AppendF("    TWNV_REVISEBASEPARM = {%s", CRLF);
    AppendF("      InputRevise  = %s", CRLF);
    TwNvThresholdInfoAnalyze(&v.InputRevise);
    AppendF("      OutputRevise = %s", CRLF);
    TwNvThresholdInfoAnalyze(&v.OutputRevise);
    AppendF("      BlurMax      = [%d]%s", v.BlurMax, CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwNvUsmInfoAnalyze(const TWNV_USMINFO* p) {
    if (!p) return true;
    const TWNV_USMINFO v = CopyIn<TWNV_USMINFO>(p);
    AppendF("  TWNV_USMINFO = {%s", CRLF);
    AppendF("    InputResolution = [%d]%s", v.InputResolution, CRLF);
    AppendF("    InUSMLevel      = [%d]%s", v.InUSMLevel, CRLF);
    AppendF("    InFilmType      = [%d]%s", v.InFilmType, CRLF);
    AppendF("    USMParm         = %s", CRLF);
    TwUnsharpMaskAnalyze(&v.USMParm);
    AppendF("    ReviseParm      = %s", CRLF);
    TwNvReviseBaseParamAnalyze(&v.ReviseParm);
    AppendF("  }%s", CRLF);
    return true;
}

// These operations carry nothing the trace shows.
bool CParaAnalyze::TwNvEventAnalyze() { return true; }
bool CParaAnalyze::TwNvRedCorrectionMatrixAnalyze() { return true; }
bool CParaAnalyze::TwNvTwainCallbackMsgAnalyze() { return true; }
