// Image description structures: image information and layout, memory
// transfers, JPEG compression, palettes, responses and CIE colour.
//
// As with the control structures, each formatter prints from a copy of its
// structure, one line per member in log order, nested structures through
// their own formatters.
#include "formatters/Formatters.h"

namespace {

// A list of numbers on one line: the label as it stands, the values with
// "%d" separated by "," (no blank), then "}" and CR LF.
template <class T, size_t N>
void ValueList(TextOut& out, const char* label, const T (&values)[N]) {
    out.Append(label);
    for (size_t i = 0; i + 1 < N; ++i) TRACE_APPEND(out, "%d,", static_cast<int>(values[i]));
    TRACE_APPEND(out, "%d", static_cast<int>(values[N - 1]));
    TRACE_APPEND(out, "}%s", CRLF);
}

}  // namespace

void DumpImageInfo(TextOut& out, const TW_IMAGEINFO& v) {
    TRACE_APPEND(out, "  TW_IMAGEINFO = {%s", CRLF);
    TRACE_APPEND(out, "    XResolution      = [%.3f]%s", Fix(v.XResolution), CRLF);
    TRACE_APPEND(out, "    YResolution      = [%.3f]%s", Fix(v.YResolution), CRLF);
    TRACE_APPEND(out, "    ImageWidth       = [%d]%s", v.ImageWidth, CRLF);
    TRACE_APPEND(out, "    ImageLength      = [%d]%s", v.ImageLength, CRLF);
    TRACE_APPEND(out, "    SamplesPerPixel  = [%d]%s", v.SamplesPerPixel, CRLF);
    // All eight, however many samples a pixel has.
    ValueList(out, "    BitsPerSamples[] = {", v.BitsPerSample);
    TRACE_APPEND(out, "    BitsPerPixel     = [%d]%s", v.BitsPerPixel, CRLF);
    TRACE_APPEND(out, "    Planar           = [%s]%s", Bool(v.Planar), CRLF);
    // Sign-extended, so a negative pixel type finds no row: ERROR!(-1).
    TRACE_APPEND(out, "    PixelType        = [%s]%s",
            Name(twpt_macros, static_cast<uint64_t>(static_cast<int64_t>(v.PixelType))).c_str(), CRLF);
    TRACE_APPEND(out, "    Compression      = [%s]%s", Name(twcp_macros, v.Compression).c_str(), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpImageLayout(TextOut& out, const TW_IMAGELAYOUT& v) {
    TRACE_APPEND(out, "  TW_IMAGELAYOUT = {%s", CRLF);
    TRACE_APPEND(out, "    Frame          =%s", CRLF);
    DumpFrame(out, v.Frame);
    TRACE_APPEND(out, "    DocumentNumber = [%lu]%s", Unsigned(v.DocumentNumber), CRLF);
    TRACE_APPEND(out, "    PageNumber     = [%lu]%s", Unsigned(v.PageNumber), CRLF);
    TRACE_APPEND(out, "    FrameNumber    = [%lu]%s", Unsigned(v.FrameNumber), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpFrame(TextOut& out, const TW_FRAME& v) {
    TRACE_APPEND(out, "    TW_FRAME = {%s", CRLF);
    TRACE_APPEND(out, "      Left   = [%.3f]%s", Fix(v.Left), CRLF);
    TRACE_APPEND(out, "      Top    = [%.3f]%s", Fix(v.Top), CRLF);
    TRACE_APPEND(out, "      Right  = [%.3f]%s", Fix(v.Right), CRLF);
    TRACE_APPEND(out, "      Bottom = [%.3f]%s", Fix(v.Bottom), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpImageMemXfer(TextOut& out, const TW_IMAGEMEMXFER& v) {
    TRACE_APPEND(out, "  TW_IMAGEMEMXFER = {%s", CRLF);
    TRACE_APPEND(out, "    Compression  = [%s]%s", Name(twcp_macros, v.Compression).c_str(), CRLF);
    TRACE_APPEND(out, "    BytesPerRow  = [%lu]%s", Unsigned(v.BytesPerRow), CRLF);
    TRACE_APPEND(out, "    Columns      = [%lu]%s", Unsigned(v.Columns), CRLF);
    TRACE_APPEND(out, "    Rows         = [%lu]%s", Unsigned(v.Rows), CRLF);
    TRACE_APPEND(out, "    XOffset      = [%lu]%s", Unsigned(v.XOffset), CRLF);
    TRACE_APPEND(out, "    YOffset      = [%lu]%s", Unsigned(v.YOffset), CRLF);
    TRACE_APPEND(out, "    BytesWritten = [%lu]%s", Unsigned(v.BytesWritten), CRLF);
    TRACE_APPEND(out, "    Memory       =%s", CRLF);
    DumpMemory(out, v.Memory);
    // This block's brace has always stood at the start of its line; log
    // readers compare against that.
    TRACE_APPEND(out, "}%s", CRLF);
}

void DumpJpegCompression(TextOut& out, const TW_JPEGCOMPRESSION& v) {
    TRACE_APPEND(out, "  TW_JPEGCOMPRESSION = {%s", CRLF);
    TRACE_APPEND(out, "    ColorSpace       = [%s]%s", Name(twpt_macros, v.ColorSpace).c_str(), CRLF);
    TRACE_APPEND(out, "    SubSampling      = [%lu]%s", Unsigned(v.SubSampling), CRLF);
    TRACE_APPEND(out, "    NumComponents    = [%d]%s", v.NumComponents, CRLF);
    TRACE_APPEND(out, "    RestartFrequency = [%d]%s", v.RestartFrequency, CRLF);
    ValueList(out, "    QuantMap[]       = {", v.QuantMap);
    // Each table label runs on into its TW_MEMORY header, and its "{" is
    // never closed: the log has always looked like this.
    for (int i = 0; i < 4; ++i) {
        TRACE_APPEND(out, "    QuantTable[%d]   = {", i);
        DumpMemory(out, v.QuantTable[i]);
    }
    ValueList(out, "    HuffmanMap[]     = {", v.HuffmanMap);
    for (int i = 0; i < 2; ++i) {
        TRACE_APPEND(out, "    HuffmanDC[%d]    = {", i);
        DumpMemory(out, v.HuffmanDC[i]);
    }
    for (int i = 0; i < 2; ++i) {
        TRACE_APPEND(out, "    HuffmanAC[%d]    = {", i);
        DumpMemory(out, v.HuffmanAC[i]);
    }
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpPalette8(TextOut& out) {
    // Nothing of the palette is read.
    TRACE_APPEND(out, "  TW_PALETTE8 = { it does not display. }%s", CRLF);
}

void DumpGrayResponse(TextOut& out, const TW_GRAYRESPONSE& v) {
    // Only the first element: the array's length is not known here.
    TRACE_APPEND(out, "  TW_GRAYRESPONSE = {%s", CRLF);
    TRACE_APPEND(out, "    Response[0] =%s", CRLF);
    DumpElement8(out, v.Response[0]);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpRgbResponse(TextOut& out, const TW_RGBRESPONSE& v) {
    TRACE_APPEND(out, "  TW_RGBRESPONSE = {%s", CRLF);
    TRACE_APPEND(out, "    Response[0] =%s", CRLF);
    DumpElement8(out, v.Response[0]);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpElement8(TextOut& out, const TW_ELEMENT8& v) {
    TRACE_APPEND(out, "    TW_ELEMENT8 = {%s", CRLF);
    TRACE_APPEND(out, "      Index    = [%d]%s", v.Index, CRLF);
    TRACE_APPEND(out, "      Channel1 = [%d]%s", v.Channel1, CRLF);
    TRACE_APPEND(out, "      Channel2 = [%d]%s", v.Channel2, CRLF);
    TRACE_APPEND(out, "      Channel3 = [%d]%s", v.Channel3, CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpCieColor(TextOut& out, const TW_CIECOLOR& v) {
    TRACE_APPEND(out, "  TW_CIECOLOR = {%s", CRLF);
    TRACE_APPEND(out, "    ColorSpace      = [%s]%s", Name(twpt_macros, v.ColorSpace).c_str(), CRLF);
    TRACE_APPEND(out, "    LowEndian       = [%d]%s", v.LowEndian, CRLF);
    TRACE_APPEND(out, "    DeviceDependent = [%d]%s", v.DeviceDependent, CRLF);
    TRACE_APPEND(out, "    VersionNumber   = [%lu]%s", Unsigned(static_cast<TW_UINT32>(v.VersionNumber)), CRLF);
    TRACE_APPEND(out, "    StageABC=%s", CRLF);
    DumpTransformStage(out, v.StageABC);
    TRACE_APPEND(out, "    StageLMN=%s", CRLF);
    DumpTransformStage(out, v.StageLMN);
    TRACE_APPEND(out, "    WhitePoint=%s", CRLF);
    DumpCiePoint(out, v.WhitePoint);
    TRACE_APPEND(out, "    BlackPoint=%s", CRLF);
    DumpCiePoint(out, v.BlackPoint);
    TRACE_APPEND(out, "    WhitePaper=%s", CRLF);
    DumpCiePoint(out, v.WhitePaper);
    TRACE_APPEND(out, "    BlackInk=%s", CRLF);
    DumpCiePoint(out, v.BlackInk);
    // The first sample only: the array's length is not known here.
    TRACE_APPEND(out, "    Samples[]       = [%.3f]%s", Fix(v.Samples[0]), CRLF);
    TRACE_APPEND(out, "  }%s", CRLF);
}

void DumpTransformStage(TextOut& out, const TW_TRANSFORMSTAGE& v) {
    TRACE_APPEND(out, "    TW_TRANSFORMSTAGE = {%s", CRLF);
    for (int i = 0; i < 3; ++i) {
        TRACE_APPEND(out, "      Decode[%d] =%s", i, CRLF);
        DumpDecodeFunction(out, v.Decode[i]);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            TRACE_APPEND(out, "      Mix[%d][%d] = [%.3f]%s", i, j, Fix(v.Mix[i][j]), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}

void DumpDecodeFunction(TextOut& out, const TW_DECODEFUNCTION& v) {
    TRACE_APPEND(out, "      TW_DECODEFUNCTION = {%s", CRLF);
    TRACE_APPEND(out, "        StartIn     = [%.3f]%s", Fix(v.StartIn), CRLF);
    TRACE_APPEND(out, "        BreakIn     = [%.3f]%s", Fix(v.BreakIn), CRLF);
    TRACE_APPEND(out, "        EndIn       = [%.3f]%s", Fix(v.EndIn), CRLF);
    TRACE_APPEND(out, "        StartOut    = [%.3f]%s", Fix(v.StartOut), CRLF);
    TRACE_APPEND(out, "        BreakOut    = [%.3f]%s", Fix(v.BreakOut), CRLF);
    TRACE_APPEND(out, "        EndOut      = [%.3f]%s", Fix(v.EndOut), CRLF);
    TRACE_APPEND(out, "        Gamma       = [%.3f]%s", Fix(v.Gamma), CRLF);
    TRACE_APPEND(out, "        SampleCount = [%.3f]%s", Fix(v.SampleCount), CRLF);
    TRACE_APPEND(out, "      }%s", CRLF);
}

void DumpCiePoint(TextOut& out, const TW_CIEPOINT& v) {
    TRACE_APPEND(out, "    TW_CIEPOINT = {%s", CRLF);
    TRACE_APPEND(out, "      X = [%.3f]%s", Fix(v.X), CRLF);
    TRACE_APPEND(out, "      Y = [%.3f]%s", Fix(v.Y), CRLF);
    TRACE_APPEND(out, "      Z = [%.3f]%s", Fix(v.Z), CRLF);
    TRACE_APPEND(out, "    }%s", CRLF);
}
