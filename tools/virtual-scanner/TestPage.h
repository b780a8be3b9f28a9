// The generated test page: what the virtual scanner "sees" on its glass.
//
// The page is drawn in bed coordinates (inches), so the same picture comes
// out at every resolution and each frame shows its own part of it: a thin
// border along the bed's edges, a one-inch grid, eight colour bars, a grey
// ramp, one square per page number (so pages of a batch differ), and a
// colour wheel inside a ring. Brightness and contrast are applied as a
// scanner would; grey is the luminance of the colour, and black-and-white
// thresholds it at half.
#ifndef TRACELET_VS_TEST_PAGE_H
#define TRACELET_VS_TEST_PAGE_H

#include <cstdint>
#include <vector>

#include "ScanSettings.h"

namespace vscan {

class TestPage {
public:
    TestPage(const PageGeometry& geometry, int pageNumber, double brightness, double contrast);

    const PageGeometry& Geometry() const { return m_geometry; }

    // Writes rows [firstRow, firstRow + rows) in the TWAIN sample layout:
    // chunky RGB, 16-bit samples in host byte order, black-and-white packed
    // eight pixels a byte, most significant bit first, 0 for black. Each row
    // takes Geometry().bytesPerRow bytes and starts `stride` bytes after the
    // previous one.
    void RenderRows(std::uint32_t firstRow, std::uint32_t rows, unsigned char* out, std::size_t stride) const;

private:
    struct Rgb {
        unsigned char r, g, b;
    };
    Rgb Sample(double x, double y) const;
    unsigned char Adjust(unsigned char v) const;

    PageGeometry m_geometry;
    int m_pageNumber;
    double m_gain;    // contrast
    double m_offset;  // brightness
    std::vector<double> m_columnX;  // bed x of each column's centre
};

}  // namespace vscan

#endif  // TRACELET_VS_TEST_PAGE_H
