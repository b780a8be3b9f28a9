// The virtual scanner's settings, kept in device terms (inches, dots per
// inch), and the conversions to and from the units the application chose.
#ifndef TRACELET_VS_SCAN_SETTINGS_H
#define TRACELET_VS_SCAN_SETTINGS_H

#include <cstdint>

#include "tracelet/twain.h"

namespace vscan {

// The flatbed's glass: 8.5 x 14 inches (US legal).
constexpr double kBedWidthInches = 8.5;
constexpr double kBedHeightInches = 14.0;
// Sheets in the document feeder when it is enabled and the application
// accepts any number of pages.
constexpr int kFeederSheets = 3;

struct Rect {
    double left = 0, top = 0, right = 0, bottom = 0;  // inches
    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
};

struct ScanSettings {
    TW_INT16 xferCount = -1;
    TW_UINT16 pixelType = TWPT_RGB;
    TW_UINT16 bitDepth = 8;  // bits per sample
    double xResolution = 150;  // dots per inch
    double yResolution = 150;
    TW_UINT16 xferMech = TWSX_NATIVE;
    TW_UINT16 units = TWUN_INCHES;
    TW_UINT16 compression = TWCP_NONE;
    TW_UINT16 planarChunky = TWPC_CHUNKY;
    TW_UINT16 pixelFlavor = TWPF_CHOCOLATE;  // 0 is black
    TW_UINT16 bitOrder = TWBO_MSBFIRST;      // black and white: first pixel in the high bit
    TW_UINT16 supportedSize = TWSS_USLETTER;
    Rect frame{0, 0, 8.5, 11};
    bool feederEnabled = false;
    // Sheets lying in the document feeder: the device's state, not a
    // setting, so no reset touches it. A page scanned from the feeder takes
    // one; the operator puts the batch back when the source is disabled.
    int feederSheets = kFeederSheets;
    double brightness = 0;  // -1000 .. 1000
    double contrast = 0;    // -1000 .. 1000
    TW_UINT16 uiMode = TWNV_UI_EASY;
    TW_UINT16 filmType = TWNV_FT_REFLECTIVE;
};

// Units of the current ICAP_UNITS per inch along x or y: 1 for inches, 2.54
// for centimetres, the resolution for pixels.
double UnitsPerInch(const ScanSettings& s, bool alongX);
// A resolution (dots per inch) as the application reads it: per current unit.
// Pixels have no length, so with TWUN_PIXELS it stays per inch.
double ResolutionInUnits(const ScanSettings& s, double dpi);
double ResolutionFromUnits(const ScanSettings& s, double value);

TW_FRAME FrameInUnits(const ScanSettings& s, const Rect& inches);
Rect FrameFromUnits(const ScanSettings& s, const TW_FRAME& frame);

// The paper sizes offered by ICAP_SUPPORTEDSIZES, in inches; false for
// TWSS_NONE and sizes not offered.
bool PaperSize(TW_UINT16 size, double* widthInches, double* heightInches);

// Number of pages one enable of the source delivers.
int PagesInBatch(const ScanSettings& s);

// The geometry of a page scanned with the given settings.
struct PageGeometry {
    std::uint32_t width = 0;   // pixels
    std::uint32_t height = 0;  // rows
    TW_UINT16 pixelType = TWPT_RGB;
    TW_UINT16 bitsPerSample = 8;
    TW_UINT16 samplesPerPixel = 3;
    TW_UINT16 bitsPerPixel = 24;
    std::uint32_t bytesPerRow = 0;  // whole bytes, no padding
    double xResolution = 0;  // dots per inch
    double yResolution = 0;
    Rect frame;  // inches
};
PageGeometry GeometryFor(const ScanSettings& s);

}  // namespace vscan

#endif  // TRACELET_VS_SCAN_SETTINGS_H
