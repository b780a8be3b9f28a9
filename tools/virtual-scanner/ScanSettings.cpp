#include "ScanSettings.h"

#include <algorithm>
#include <cmath>

namespace vscan {

TW_FIX32 ToFix32(double value) {
    const std::int32_t scaled = static_cast<std::int32_t>(std::lround(value * 65536.0));
    TW_FIX32 fix;
    fix.Whole = static_cast<TW_INT16>(scaled >> 16);
    fix.Frac = static_cast<TW_UINT16>(scaled & 0xffff);
    return fix;
}

double FromFix32(TW_FIX32 fix) { return fix.Whole + fix.Frac / 65536.0; }

double UnitsPerInch(const ScanSettings& s, bool alongX) {
    switch (s.units) {
    case TWUN_CENTIMETERS: return 2.54;
    case TWUN_PIXELS: return alongX ? s.xResolution : s.yResolution;
    default: return 1.0;
    }
}

double ResolutionInUnits(const ScanSettings& s, double dpi) {
    return s.units == TWUN_CENTIMETERS ? dpi / 2.54 : dpi;
}

double ResolutionFromUnits(const ScanSettings& s, double value) {
    return s.units == TWUN_CENTIMETERS ? value * 2.54 : value;
}

TW_FRAME FrameInUnits(const ScanSettings& s, const Rect& r) {
    const double fx = UnitsPerInch(s, true), fy = UnitsPerInch(s, false);
    TW_FRAME f;
    f.Left = ToFix32(r.left * fx);
    f.Top = ToFix32(r.top * fy);
    f.Right = ToFix32(r.right * fx);
    f.Bottom = ToFix32(r.bottom * fy);
    return f;
}

Rect FrameFromUnits(const ScanSettings& s, const TW_FRAME& f) {
    const double fx = UnitsPerInch(s, true), fy = UnitsPerInch(s, false);
    Rect r;
    r.left = FromFix32(f.Left) / fx;
    r.top = FromFix32(f.Top) / fy;
    r.right = FromFix32(f.Right) / fx;
    r.bottom = FromFix32(f.Bottom) / fy;
    return r;
}

bool PaperSize(TW_UINT16 size, double* w, double* h) {
    switch (size) {
    case TWSS_USLETTER: *w = 8.5; *h = 11.0; return true;
    case TWSS_USLEGAL: *w = 8.5; *h = 14.0; return true;
    case TWSS_A4LETTER: *w = 210 / 25.4; *h = 297 / 25.4; return true;
    case TWSS_A5: *w = 148 / 25.4; *h = 210 / 25.4; return true;
    default: return false;
    }
}

int PagesInBatch(const ScanSettings& s) {
    if (s.xferCount > 0) return s.xferCount;
    return s.feederEnabled ? kFeederSheets : 1;
}

PageGeometry GeometryFor(const ScanSettings& s) {
    PageGeometry g;
    g.frame = s.frame;
    g.xResolution = s.xResolution;
    g.yResolution = s.yResolution;
    g.width = static_cast<std::uint32_t>(std::max(1L, std::lround(s.frame.Width() * s.xResolution)));
    g.height = static_cast<std::uint32_t>(std::max(1L, std::lround(s.frame.Height() * s.yResolution)));
    g.pixelType = s.pixelType;
    g.bitsPerSample = s.bitDepth;
    g.samplesPerPixel = s.pixelType == TWPT_RGB ? 3 : 1;
    g.bitsPerPixel = static_cast<TW_UINT16>(g.bitsPerSample * g.samplesPerPixel);
    g.bytesPerRow = static_cast<std::uint32_t>((std::uint64_t(g.width) * g.bitsPerPixel + 7) / 8);
    return g;
}

}  // namespace vscan
