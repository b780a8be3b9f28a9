#include "TestPage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vscan {

namespace {

constexpr unsigned char kBars[8][3] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
    {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0},
};
constexpr double kPi = 3.14159265358979323846;

bool Within(double v, double lo, double hi) { return v >= lo && v < hi; }

}  // namespace

TestPage::TestPage(const PageGeometry& geometry, int pageNumber, double brightness, double contrast)
    : m_geometry(geometry), m_pageNumber(pageNumber) {
    // Contrast -1000..1000 scales around mid-grey by 0..2; brightness shifts
    // by up to half the scale.
    m_gain = std::max(0.0, 1.0 + contrast / 1000.0);
    m_offset = brightness / 1000.0 * 128.0;
    m_columnX.resize(geometry.width);
    for (std::uint32_t i = 0; i < geometry.width; ++i)
        m_columnX[i] = geometry.frame.left + (i + 0.5) / geometry.xResolution;
}

unsigned char TestPage::Adjust(unsigned char v) const {
    const double out = (v - 128.0) * m_gain + 128.0 + m_offset;
    return static_cast<unsigned char>(std::clamp(std::lround(out), 0L, 255L));
}

TestPage::Rgb TestPage::Sample(double x, double y) const {
    // Border along the bed's edges.
    if (x < 0.05 || y < 0.05 || x > kBedWidthInches - 0.05 || y > kBedHeightInches - 0.05) return {0, 0, 0};
    // Colour bars.
    if (Within(y, 0.5, 1.5) && Within(x, 0.5, 8.0)) {
        const int bar = std::min(7, static_cast<int>((x - 0.5) / 7.5 * 8));
        return {kBars[bar][0], kBars[bar][1], kBars[bar][2]};
    }
    // Grey ramp.
    if (Within(y, 1.75, 2.25) && Within(x, 0.5, 8.0)) {
        const auto v = static_cast<unsigned char>(std::min(255.0, (x - 0.5) / 7.5 * 256));
        return {v, v, v};
    }
    // One square per page number.
    if (Within(y, 2.5, 2.9) && x >= 0.5) {
        const int slot = static_cast<int>((x - 0.5) / 0.6);
        if (slot < m_pageNumber && slot < 12 && (x - 0.5) - slot * 0.6 < 0.4) return {0, 0, 128};
    }
    // Colour wheel in a ring, centred on the letter-size area.
    const double dx = x - 4.25, dy = y - 6.5;
    const double r = std::sqrt(dx * dx + dy * dy);
    if (Within(r, 2.4, 2.5)) return {0, 0, 0};
    if (r < 2.4) {
        const double hue = (std::atan2(dy, dx) + kPi) / (2 * kPi) * 6.0;
        const double f = hue - std::floor(hue);
        const auto up = static_cast<unsigned char>(255 * f), down = static_cast<unsigned char>(255 * (1 - f));
        const double fade = r / 2.4;  // white at the centre
        Rgb c;
        switch (static_cast<int>(hue) % 6) {
        case 0: c = {255, up, 0}; break;
        case 1: c = {down, 255, 0}; break;
        case 2: c = {0, 255, up}; break;
        case 3: c = {0, down, 255}; break;
        case 4: c = {up, 0, 255}; break;
        default: c = {255, 0, down}; break;
        }
        auto mix = [fade](unsigned char v) { return static_cast<unsigned char>(255 - (255 - v) * fade); };
        return {mix(c.r), mix(c.g), mix(c.b)};
    }
    // One-inch grid on white paper.
    const double gx = x - std::floor(x), gy = y - std::floor(y);
    if (gx < 0.015 || gy < 0.015) return {200, 200, 200};
    return {255, 255, 255};
}

void TestPage::RenderRows(std::uint32_t firstRow, std::uint32_t rows, unsigned char* out, std::size_t stride) const {
    const PageGeometry& g = m_geometry;
    for (std::uint32_t row = firstRow; row < firstRow + rows && row < g.height; ++row) {
        unsigned char* dst = out + (row - firstRow) * stride;
        std::memset(dst, 0, g.bytesPerRow);
        const double y = g.frame.top + (row + 0.5) / g.yResolution;
        for (std::uint32_t col = 0; col < g.width; ++col) {
            Rgb c = Sample(m_columnX[col], y);
            c = {Adjust(c.r), Adjust(c.g), Adjust(c.b)};
            const unsigned grey = (299u * c.r + 587u * c.g + 114u * c.b + 500u) / 1000u;
            if (g.pixelType == TWPT_BW) {
                if (grey >= 128) dst[col / 8] |= static_cast<unsigned char>(0x80u >> (col % 8));
                continue;
            }
            const unsigned char samples[3] = {c.r, c.g, c.b};
            const unsigned char grey8 = static_cast<unsigned char>(grey);
            const unsigned char* src = g.pixelType == TWPT_RGB ? samples : &grey8;
            for (unsigned s = 0; s < g.samplesPerPixel; ++s) {
                if (g.bitsPerSample == 16) {
                    const std::uint16_t wide = static_cast<std::uint16_t>(src[s] * 257u);
                    std::memcpy(dst + (std::size_t(col) * g.samplesPerPixel + s) * 2, &wide, 2);
                } else {
                    dst[std::size_t(col) * g.samplesPerPixel + s] = src[s];
                }
            }
        }
    }
}

}  // namespace vscan
