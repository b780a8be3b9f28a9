// Vendor-extension structures exchanged through the DAT_NV_* operations.
//
// Each formatter copies its structure out of pData first and prints only
// from the copy, so no line reads outside the structure whatever its bytes
// hold. Texts are bounded by their fields: the Pascal strings by their 34
// bytes whatever the length byte says, the NUL-terminated texts by their
// 34-byte width when no NUL comes first.
#include "formatters/Formatters.h"

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

}  // namespace

// The nine coefficients of a colour matrix in memory order, "%.3f" each,
// separated by "," and with no line end.
void DumpColorCoeff(TextOut& out, const TW_FIX32 (&coeff)[9]) {
    static_assert(sizeof coeff / sizeof coeff[0] == kCoeffCount, "a 3 x 3 matrix");
    for (size_t i = 0; i < kCoeffCount; ++i) {
        const TW_FIX32 c = coeff[i];
        if (i + 1 < kCoeffCount)
            TRACE_APPEND(out, "%.3f,", Fix(c));
        else
            TRACE_APPEND(out, "%.3f", Fix(c));
    }
}

void DumpNvAutoExposure(TextOut& out, const TWNV_AUTOEXPOSURE& v) {
    TRACE_APPEND(out, "  TWNV_AUTOEXPOSURE = {%s", CRLF);
    TRACE_APPEND(out, "    Handle       = <0x%08x>%s", v.Handle, CRLF);
    TRACE_APPEND(out, "    Left         = [%d]%s", v.Left, CRLF);
    TRACE_APPEND(out, "    Top          = [%d]%s", v.Top, CRLF);
    TRACE_APPEND(out, "    Right        = [%d]%s", v.Right, CRLF);
    TRACE_APPEND(out, "    Bottom       = [%d]%s", v.Bottom, CRLF);
    TRACE_APPEND(out, "    FilmType     = [%s]%s", Name(twnv_ft_macros, v.FilmType).c_str(), CRLF);
    TRACE_APPEND(out, "    PreScanGamma = [%s]%s", Name(twnv_pg_macros, v.PreScanGamma).c_str(), CRLF);
    TRACE_APPEND(out, "    ScreenGamma  = [%.3f]%s", Fix(v.ScreenGamma), CRLF);
    TRACE_APPEND(out, "    GrayBalance  = [%lu]%s", Unsigned(v.GrayBalance), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpNvRgbMatrix(TextOut& out, const TWNV_RGBMATRIX& v) {
    TRACE_APPEND(out, "  TWNV_RGBMATRIX = {%s", CRLF);
    out.Append("    ColorCoeff = {");
    DumpColorCoeff(out, v.ColorCoeff);
    TRACE_APPEND(out, "}%s", CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpNvColorSmoothing(TextOut& out, const TWNV_COLORSMOOTHING& v) {
    TRACE_APPEND(out, "  TWNV_COLORSMOOTHING = {%s", CRLF);
    TRACE_APPEND(out, "    Handle       = <0x%08x>%s", v.Handle, CRLF);
    TRACE_APPEND(out, "    LeftX        = [%lu]%s", Unsigned(v.LeftX), CRLF);
    TRACE_APPEND(out, "    LeftY        = [%lu]%s", Unsigned(v.LeftY), CRLF);
    TRACE_APPEND(out, "    TopX         = [%lu]%s", Unsigned(v.TopX), CRLF);
    TRACE_APPEND(out, "    TopY         = [%lu]%s", Unsigned(v.TopY), CRLF);
    TRACE_APPEND(out, "    RightX       = [%lu]%s", Unsigned(v.RightX), CRLF);
    TRACE_APPEND(out, "    RightY       = [%lu]%s", Unsigned(v.RightY), CRLF);
    TRACE_APPEND(out, "    BottomX      = [%lu]%s", Unsigned(v.BottomX), CRLF);
    TRACE_APPEND(out, "    BottomY      = [%lu]%s", Unsigned(v.BottomY), CRLF);
    TRACE_APPEND(out, "    Reserved     = [%lu]%s", Unsigned(v.Reserved), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpHardwareInfo(TextOut& out, const TWNV_HARDWAREINFO& v) {
    auto matrix = [&out](const char* label, const TW_FIX32(&coeff)[9]) {
        out.Append(label);
        DumpColorCoeff(out, coeff);
        TRACE_APPEND(out, "]%s", CRLF);
    };

    TRACE_APPEND(out, "  TWNV_HARDWAREINFO = {%s", CRLF);
    TRACE_APPEND(out, "    ModelID                = [0x%02x]%s", v.ModelID, CRLF);
    TRACE_APPEND(out, "    ProductName            = [%s]%s", PascalText(v.ProductName).c_str(), CRLF);
    TRACE_APPEND(out, "    ModelName              = [%s]%s", PascalText(v.ModelName).c_str(), CRLF);
    TRACE_APPEND(out, "    OptXResolution         = [%lu]%s", Unsigned(v.OptXResolution), CRLF);
    TRACE_APPEND(out, "    OptYResolution         = [%lu]%s", Unsigned(v.OptYResolution), CRLF);
    TRACE_APPEND(out, "    MinResolution          = [%lu]%s", Unsigned(v.MinResolution), CRLF);
    TRACE_APPEND(out, "    MaxResolution          = [%lu]%s", Unsigned(v.MaxResolution), CRLF);
    TRACE_APPEND(out, "    MaxMoireResolution     = [%lu]%s", Unsigned(v.MaxMoireResolution), CRLF);
    TRACE_APPEND(out, "    MaxPixelofWidth        = [%lu]%s", Unsigned(v.MaxPixelofWidth), CRLF);
    TRACE_APPEND(out, "    PixelSizeofFB[0]       = [%lu]%s", Unsigned(v.PixelSizeofFB[0]), CRLF);
    TRACE_APPEND(out, "    PixelSizeofFB[1]       = [%lu]%s", Unsigned(v.PixelSizeofFB[1]), CRLF);
    TRACE_APPEND(out, "    PixelSizeofADF[0]      = [%lu]%s", Unsigned(v.PixelSizeofADF[0]), CRLF);
    TRACE_APPEND(out, "    PixelSizeofADF[1]      = [%lu]%s", Unsigned(v.PixelSizeofADF[1]), CRLF);
    TRACE_APPEND(out, "    PixelSizeofTPU[0]      = [%lu]%s", Unsigned(v.PixelSizeofTPU[0]), CRLF);
    TRACE_APPEND(out, "    PixelSizeofTPU[1]      = [%lu]%s", Unsigned(v.PixelSizeofTPU[1]), CRLF);
    TRACE_APPEND(out, "    BitDepth               = [0x%02x]%s", v.BitDepth, CRLF);
    TRACE_APPEND(out, "    InterfaceSupport       = [%d]%s", v.InterfaceSupport, CRLF);
    TRACE_APPEND(out, "    CommandType            = [%lu]%s", Unsigned(v.CommandType), CRLF);
    TRACE_APPEND(out, "    ConnectInterfaceType   = [%lu]%s", Unsigned(v.ConnectInterfaceType), CRLF);
    TRACE_APPEND(out, "    StandAloneModeSupport  = [%s]%s", Bool(v.StandAloneModeSupport), CRLF);
    TRACE_APPEND(out, "    FullAutoModeSupport    = [%s]%s", Bool(v.FullAutoModeSupport), CRLF);
    TRACE_APPEND(out, "    SimpleModeSupport      = [%s]%s", Bool(v.SimpleModeSupport), CRLF);
    TRACE_APPEND(out, "    DocumentModeSupport    = [%s]%s", Bool(v.DocumentModeSupport), CRLF);
    TRACE_APPEND(out, "    AdvancedModeSupport    = [%s]%s", Bool(v.AdvancedModeSupport), CRLF);
    TRACE_APPEND(out, "    HMPSupport             = [%s]%s", Bool(v.HMPSupport), CRLF);
    TRACE_APPEND(out, "    FIT3                   = [%s]%s", Bool(v.FIT3), CRLF);
    TRACE_APPEND(out, "    AutoLayoutSupportFB    = [%s]%s", Bool(v.AutoLayoutSupportFB), CRLF);
    TRACE_APPEND(out, "    AutoLayoutSupportADF   = [%s]%s", Bool(v.AutoLayoutSupportADF), CRLF);
    TRACE_APPEND(out, "    HalftoneSupport        = [%s]%s", Bool(v.HalftoneSupport), CRLF);
    TRACE_APPEND(out, "    HTModeSupport          = [%s]%s", Bool(v.HTModeSupport), CRLF);
    TRACE_APPEND(out, "    HTDitherSupport        = [%s]%s", Bool(v.HTDitherSupport), CRLF);
    TRACE_APPEND(out, "    HTAASSupport           = [%s]%s", Bool(v.HTAASSupport), CRLF);
    TRACE_APPEND(out, "    HTTETSupport           = [%s]%s", Bool(v.HTTETSupport), CRLF);
    TRACE_APPEND(out, "    TableArrangement       = [%d]%s", v.TableArrangement, CRLF);
    TRACE_APPEND(out, "    OptionSupport          = [0x%04x]%s", v.OptionSupport, CRLF);
    TRACE_APPEND(out, "    FocusSupport           = [%d]%s", v.FocusSupport, CRLF);
    TRACE_APPEND(out, "    FocusArea[0]           = [%lu]%s", Unsigned(v.FocusArea[0]), CRLF);
    TRACE_APPEND(out, "    FocusArea[1]           = [%lu]%s", Unsigned(v.FocusArea[1]), CRLF);
    TRACE_APPEND(out, "    ProfileNameFB          = [%s]%s", Text(v.ProfileNameFB).c_str(), CRLF);
    TRACE_APPEND(out, "    ProfileNameTPU         = [%s]%s", Text(v.ProfileNameTPU).c_str(), CRLF);
    matrix("    ColorCorrectionFB      = [", v.ColorCorrectionFB);
    matrix("    ColorCorrectionPOSI    = [", v.ColorCorrectionPOSI);
    matrix("    ColorCorrectionNEGA    = [", v.ColorCorrectionNEGA);
    matrix("    HMPColorCorrectionFB   = [", v.HMPColorCorrectionFB);
    matrix("    HMPColorCorrectionPOSI = [", v.HMPColorCorrectionPOSI);
    matrix("    HMPColorCorrectionNEGA = [", v.HMPColorCorrectionNEGA);
    TRACE_APPEND(out, "    ROMVersion             = [%s]%s", Text(v.ROMVersion).c_str(), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpNvSkewInfo(TextOut& out, const TWNV_LOCATIONDATA& v) {
    TRACE_APPEND(out, "  TWNV_LOCATIONDATA = {%s", CRLF);
    TRACE_APPEND(out, "    BitsPerPixel = [%d]%s", v.BitsPerPixel, CRLF);
    TRACE_APPEND(out, "    topPoint     = [%lu]%s", Unsigned(v.topPoint), CRLF);
    TRACE_APPEND(out, "    leftPoint    = [%lu]%s", Unsigned(v.leftPoint), CRLF);
    TRACE_APPEND(out, "    locateW      = [%lu]%s", Unsigned(v.locateW), CRLF);
    TRACE_APPEND(out, "    locateH      = [%lu]%s", Unsigned(v.locateH), CRLF);
    TRACE_APPEND(out, "    ActualImgW   = [%lu]%s", Unsigned(v.ActualImgW), CRLF);
    TRACE_APPEND(out, "    ActualImgH   = [%lu]%s", Unsigned(v.ActualImgH), CRLF);
    TRACE_APPEND(out, "    xTangent     = [%lu]%s", Unsigned(v.xTangent), CRLF);
    TRACE_APPEND(out, "    yTangent     = [%lu]%s", Unsigned(v.yTangent), CRLF);
    TRACE_APPEND(out, "    Theta        = [%.3f]%s", Fix(v.Theta), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

// Opens with four blanks wherever it is printed, also inside TWNV_USMINFO.
void DumpUnsharpMask(TextOut& out, const TWNV_USMPARAM& v) {
    TRACE_APPEND(out, "    TWNV_USMPARAM = {%s", CRLF);
    TRACE_APPEND(out, "      Amount    = [%d]%s", v.Amount, CRLF);
    TRACE_APPEND(out, "      Radius    = [%d]%s", v.Radius, CRLF);
    TRACE_APPEND(out, "      Threshold = [%d]%s", v.Threshold, CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpNvSettingFrame(TextOut& out, const TWNV_SETTINGFRAME& v) {
    TRACE_APPEND(out, "  TWNV_SETTINGFRAME = {%s", CRLF);
    TRACE_APPEND(out, "    NumFrame    = [%d]%s", v.NumFrame, CRLF);
    TRACE_APPEND(out, "    CurrentNum  = [%d]%s", v.CurrentNum, CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

// Opens with six blanks: it is only ever printed inside TWNV_REVISEBASEPARM.
void DumpNvThresholdInfo(TextOut& out, const TWNV_THRESHOLDINFO& v) {
    TRACE_APPEND(out, "      TWNV_THRESHOLDINFO = {%s", CRLF);
    TRACE_APPEND(out, "        ShadowL    = [%d]%s", v.ShadowL, CRLF);
    TRACE_APPEND(out, "        ShadowH    = [%d]%s", v.ShadowH, CRLF);
    TRACE_APPEND(out, "        HighlightH = [%d]%s", v.HighlightH, CRLF);
    TRACE_APPEND(out, "        HighlightL = [%d]%s", v.HighlightL, CRLF);
    TRACE_APPEND(out, "      }%s", CRLF);
}

// Opens with four blanks; each threshold block follows its label line.
void DumpNvReviseBaseParam(TextOut& out, const TWNV_REVISEBASEPARM& v) {
    TRACE_APPEND(out, "    TWNV_REVISEBASEPARM = {%s", CRLF);
    TRACE_APPEND(out, "      InputRevise  = %s", CRLF);
    DumpNvThresholdInfo(out, v.InputRevise);
    TRACE_APPEND(out, "      OutputRevise = %s", CRLF);
    DumpNvThresholdInfo(out, v.OutputRevise);
    TRACE_APPEND(out, "      BlurMax      = [%d]%s", v.BlurMax, CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpNvUsmInfo(TextOut& out, const TWNV_USMINFO& v) {
    TRACE_APPEND(out, "  TWNV_USMINFO = {%s", CRLF);
    TRACE_APPEND(out, "    InputResolution = [%d]%s", v.InputResolution, CRLF);
    TRACE_APPEND(out, "    InUSMLevel      = [%d]%s", v.InUSMLevel, CRLF);
    TRACE_APPEND(out, "    InFilmType      = [%d]%s", v.InFilmType, CRLF);
    TRACE_APPEND(out, "    USMParm         = %s", CRLF);
    DumpUnsharpMask(out, v.USMParm);
    TRACE_APPEND(out, "    ReviseParm      = %s", CRLF);
    DumpNvReviseBaseParam(out, v.ReviseParm);
    TRACE_APPEND(out, "  }%s", CRLF);
}
