// Image description structures: image information and layout, memory
// transfers, JPEG compression, palettes, responses and CIE colour.
//
// As with the control structures, each formatter prints from a copy of its
// structure, one line per member in log order, nested structures through
// their own formatters. TW_FIX32 values go through Fix32ToDouble.
#include "analyzer/ParaAnalyze.h"

namespace {

// A TW_UINT32 for "%ld": zero-extended, so it prints as an unsigned decimal.
inline long U32(TW_UINT32 v) { return static_cast<long>(v); }

// A list of numbers on one line: the label as it stands, the values with
// "%d" separated by "," (no blank), then "}" and CR LF.
template <class T, size_t N>
void ValueList(CParaAnalyze& a, const char* label, const T (&values)[N]) {
    a.Append(label);
    for (size_t i = 0; i + 1 < N; ++i) a.AppendF("%d,", static_cast<int>(values[i]));
    a.AppendF("%d", static_cast<int>(values[N - 1]));
    a.AppendF("}%s", CRLF);
}

}  // namespace

bool CParaAnalyze::TwImageInfoAnalyze(const TW_IMAGEINFO* p) {
    if (!p) return true;
    const TW_IMAGEINFO v = CopyIn<TW_IMAGEINFO>(p);
    AppendF("  TW_IMAGEINFO = {%s", CRLF);
    AppendF("    XResolution      = [%.3f]%s", Fix32ToDouble(v.XResolution), CRLF);
    AppendF("    YResolution      = [%.3f]%s", Fix32ToDouble(v.YResolution), CRLF);
    AppendF("    ImageWidth       = [%d]%s", v.ImageWidth, CRLF);
    AppendF("    ImageLength      = [%d]%s", v.ImageLength, CRLF);
    AppendF("    SamplesPerPixel  = [%d]%s", v.SamplesPerPixel, CRLF);
    // All eight, however many samples a pixel has.
    ValueList(*this, "    BitsPerSamples[] = {", v.BitsPerSample);
    AppendF("    BitsPerPixel     = [%d]%s", v.BitsPerPixel, CRLF);
    AppendF("    Planar           = [%s]%s", BoolText(v.Planar), CRLF);
    // Sign-extended, so a negative pixel type finds no row: ERROR!(-1).
    AppendF("    PixelType        = [%s]%s",
            Name(twpt_macros, static_cast<uint64_t>(static_cast<int64_t>(v.PixelType))), CRLF);
    AppendF("    Compression      = [%s]%s", Name(twcp_macros, v.Compression), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwImageLayoutAnalyze(const TW_IMAGELAYOUT* p) {
    if (!p) return true;
    const TW_IMAGELAYOUT v = CopyIn<TW_IMAGELAYOUT>(p);
    AppendF("  TW_IMAGELAYOUT = {%s", CRLF);
    AppendF("    Frame          =%s", CRLF);
    TwFrameAnalyze(&v.Frame);
    AppendF("    DocumentNumber = [%ld]%s", U32(v.DocumentNumber), CRLF);
    AppendF("    PageNumber     = [%ld]%s", U32(v.PageNumber), CRLF);
    AppendF("    FrameNumber    = [%ld]%s", U32(v.FrameNumber), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwFrameAnalyze(const TW_FRAME* p) {
    if (!p) return true;
    const TW_FRAME v = CopyIn<TW_FRAME>(p);
    AppendF("    TW_FRAME = {%s", CRLF);
    AppendF("      Left   = [%.3f]%s", Fix32ToDouble(v.Left), CRLF);
    AppendF("      Top    = [%.3f]%s", Fix32ToDouble(v.Top), CRLF);
    AppendF("      Right  = [%.3f]%s", Fix32ToDouble(v.Right), CRLF);
    AppendF("      Bottom = [%.3f]%s", Fix32ToDouble(v.Bottom), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwImageMemXferAnalyze(const TW_IMAGEMEMXFER* p) {
    if (!p) return true;
    const TW_IMAGEMEMXFER v = CopyIn<TW_IMAGEMEMXFER>(p);
    AppendF("  TW_IMAGEMEMXFER = {%s", CRLF);
    AppendF("    Compression  = [%s]%s", Name(twcp_macros, v.Compression), CRLF);
    AppendF("    BytesPerRow  = [%ld]%s", U32(v.BytesPerRow), CRLF);
    AppendF("    Columns      = [%ld]%s", U32(v.Columns), CRLF);
    AppendF("    Rows         = [%ld]%s", U32(v.Rows), CRLF);
    AppendF("    XOffset      = [%ld]%s", U32(v.XOffset), CRLF);
    AppendF("    YOffset      = [%ld]%s", U32(v.YOffset), CRLF);
    AppendF("    BytesWritten = [%ld]%s", U32(v.BytesWritten), CRLF);
    AppendF("    Memory       =%s", CRLF);
    TwMemoryAnalyze(&v.Memory);
    // This block's brace has always stood at the start of its line; log
    // readers compare against that.
    AppendF("}%s", CRLF);
    return true;
}

bool CParaAnalyze::TwJpegCompressionAnalyze(const TW_JPEGCOMPRESSION* p) {
    if (!p) return true;
    const TW_JPEGCOMPRESSION v = CopyIn<TW_JPEGCOMPRESSION>(p);
    AppendF("  TW_JPEGCOMPRESSION = {%s", CRLF);
    AppendF("    ColorSpace       = [%s]%s", Name(twpt_macros, v.ColorSpace), CRLF);
    AppendF("    SubSampling      = [%ld]%s", U32(v.SubSampling), CRLF);
    AppendF("    NumComponents    = [%d]%s", v.NumComponents, CRLF);
    AppendF("    RestartFrequency = [%d]%s", v.RestartFrequency, CRLF);
    ValueList(*this, "    QuantMap[]       = {", v.QuantMap);
    // Each table label runs on into its TW_MEMORY header, and its "{" is
    // never closed: the log has always looked like this.
    for (int i = 0; i < 4; ++i) {
        AppendF("    QuantTable[%d]   = {", i);
        TwMemoryAnalyze(&v.QuantTable[i]);
    }
    ValueList(*this, "    HuffmanMap[]     = {", v.HuffmanMap);
    for (int i = 0; i < 2; ++i) {
        AppendF("    HuffmanDC[%d]    = {", i);
        TwMemoryAnalyze(&v.HuffmanDC[i]);
    }
    for (int i = 0; i < 2; ++i) {
        AppendF("    HuffmanAC[%d]    = {", i);
        TwMemoryAnalyze(&v.HuffmanAC[i]);
    }
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwPalette8Analyze(const TW_PALETTE8* p) {
    if (!p) return true;
    // Nothing of the palette is read.
    AppendF("  TW_PALETTE8 = { it does not display. }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwGrayResponseAnalyze(const TW_GRAYRESPONSE* p) {
    if (!p) return true;
    // Only the first element: the array's length is not known here.
    const TW_GRAYRESPONSE v = CopyIn<TW_GRAYRESPONSE>(p);
    AppendF("  TW_GRAYRESPONSE = {%s", CRLF);
    AppendF("    Response[0] =%s", CRLF);
    TwElement8Analyze(&v.Response[0]);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwRgbResponseAnalyze(const TW_RGBRESPONSE* p) {
    if (!p) return true;
    const TW_RGBRESPONSE v = CopyIn<TW_RGBRESPONSE>(p);
    AppendF("  TW_RGBRESPONSE = {%s", CRLF);
    AppendF("    Response[0] =%s", CRLF);
    TwElement8Analyze(&v.Response[0]);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwElement8Analyze(const TW_ELEMENT8* p) {
    if (!p) return true;
    const TW_ELEMENT8 v = CopyIn<TW_ELEMENT8>(p);
    AppendF("    TW_ELEMENT8 = {%s", CRLF);
    AppendF("      Index    = [%d]%s", v.Index, CRLF);
    AppendF("      Channel1 = [%d]%s", v.Channel1, CRLF);
    AppendF("      Channel2 = [%d]%s", v.Channel2, CRLF);
    AppendF("      Channel3 = [%d]%s", v.Channel3, CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwCieColorAnalyze(const TW_CIECOLOR* p) {
    if (!p) return true;
    const TW_CIECOLOR v = CopyIn<TW_CIECOLOR>(p);
    AppendF("  TW_CIECOLOR = {%s", CRLF);
    AppendF("    ColorSpace      = [%s]%s", Name(twpt_macros, v.ColorSpace), CRLF);
    AppendF("    LowEndian       = [%d]%s", v.LowEndian, CRLF);
    AppendF("    DeviceDependent = [%d]%s", v.DeviceDependent, CRLF);
    AppendF("    VersionNumber   = [%ld]%s", U32(static_cast<TW_UINT32>(v.VersionNumber)), CRLF);
    AppendF("    StageABC=%s", CRLF);
    TwTransformStageAnalyze(&v.StageABC);
    AppendF("    StageLMN=%s", CRLF);
    TwTransformStageAnalyze(&v.StageLMN);
    AppendF("    WhitePoint=%s", CRLF);
    TwCiePointAnalyze(&v.WhitePoint);
    AppendF("    BlackPoint=%s", CRLF);
    TwCiePointAnalyze(&v.BlackPoint);
    AppendF("    WhitePaper=%s", CRLF);
    TwCiePointAnalyze(&v.WhitePaper);
    AppendF("    BlackInk=%s", CRLF);
    TwCiePointAnalyze(&v.BlackInk);
    // The first sample only: the array's length is not known here.
    AppendF("    Samples[]       = [%.3f]%s", Fix32ToDouble(v.Samples[0]), CRLF);
    AppendF("  }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwTransformStageAnalyze(const TW_TRANSFORMSTAGE* p) {
    if (!p) return true;
    const TW_TRANSFORMSTAGE v = CopyIn<TW_TRANSFORMSTAGE>(p);
    AppendF("    TW_TRANSFORMSTAGE = {%s", CRLF);
    for (int i = 0; i < 3; ++i) {
        AppendF("      Decode[%d] =%s", i, CRLF);
        TwDecodeFunctionAnalyze(&v.Decode[i]);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            AppendF("      Mix[%d][%d] = [%.3f]%s", i, j, Fix32ToDouble(v.Mix[i][j]), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwDecodeFunctionAnalyze(const TW_DECODEFUNCTION* p) {
    if (!p) return true;
    const TW_DECODEFUNCTION v = CopyIn<TW_DECODEFUNCTION>(p);
    AppendF("      TW_DECODEFUNCTION = {%s", CRLF);
    AppendF("        StartIn     = [%.3f]%s", Fix32ToDouble(v.StartIn), CRLF);
    AppendF("        BreakIn     = [%.3f]%s", Fix32ToDouble(v.BreakIn), CRLF);
    AppendF("        EndIn       = [%.3f]%s", Fix32ToDouble(v.EndIn), CRLF);
    AppendF("        StartOut    = [%.3f]%s", Fix32ToDouble(v.StartOut), CRLF);
    AppendF("        BreakOut    = [%.3f]%s", Fix32ToDouble(v.BreakOut), CRLF);
    AppendF("        EndOut      = [%.3f]%s", Fix32ToDouble(v.EndOut), CRLF);
    AppendF("        Gamma       = [%.3f]%s", Fix32ToDouble(v.Gamma), CRLF);
    AppendF("        SampleCount = [%.3f]%s", Fix32ToDouble(v.SampleCount), CRLF);
    AppendF("      }%s", CRLF);
    return true;
}

bool CParaAnalyze::TwCiePointAnalyze(const TW_CIEPOINT* p) {
    if (!p) return true;
    const TW_CIEPOINT v = CopyIn<TW_CIEPOINT>(p);
    AppendF("    TW_CIEPOINT = {%s", CRLF);
    AppendF("      X = [%.3f]%s", Fix32ToDouble(v.X), CRLF);
    AppendF("      Y = [%.3f]%s", Fix32ToDouble(v.Y), CRLF);
    AppendF("      Z = [%.3f]%s", Fix32ToDouble(v.Z), CRLF);
    AppendF("    }%s", CRLF);
    return true;
}
