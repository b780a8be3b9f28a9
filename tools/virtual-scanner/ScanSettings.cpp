#include "ScanSettings.h"

#include <algorithm>
#include <cmath>

#include "TwainValues.h"

namespace vscan {

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
    return tracelet::values::Frame(r.left * fx, r.top * fy, r.right * fx, r.bottom * fy);
}

Rect FrameFromUnits(const ScanSettings& s, const TW_FRAME& f) {
    const double fx = UnitsPerInch(s, true), fy = UnitsPerInch(s, false);
    Rect r;
    r.left = TwainFix32Value(f.Left) / fx;
    r.top = TwainFix32Value(f.Top) / fy;
    r.right = TwainFix32Value(f.Right) / fx;
    r.bottom = TwainFix32Value(f.Bottom) / fy;
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
