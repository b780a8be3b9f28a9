// A scanned page as the application assembles it, and its PNM file.
#ifndef TRACELET_SESSION_PAGE_IMAGE_H
#define TRACELET_SESSION_PAGE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace session {

struct PageImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int pixelType = 0;  // TWPT_BW, TWPT_GRAY or TWPT_RGB
    int bitsPerSample = 8;
    int samplesPerPixel = 1;
    std::vector<unsigned char> pixels;  // rows of RowBytes(), top first, TWAIN sample layout

    std::size_t RowBytes() const {
        return (std::size_t(width) * bitsPerSample * samplesPerPixel + 7) / 8;
    }
    void Allocate() { pixels.assign(RowBytes() * height, 0); }
};

// ".pbm", ".pgm" or ".ppm" for the page's pixel type.
std::string PnmExtension(const PageImage& page);

// Writes the page as binary PNM: P4 for black-and-white (TWAIN's 0 for black
// becomes PBM's 1), P5 for grey, P6 for colour; 16-bit samples big-endian
// with maxval 65535. False with `error` set when the file cannot be written.
bool WritePnm(const PageImage& page, const std::string& path, std::string* error);

// Reads the header of a PNM file: its magic ("P4", "P5" or "P6"), width,
// height and maxval (1 for P4). False when it is not such a file.
struct PnmHeader {
    std::string magic;
    std::uint32_t width = 0, height = 0, maxval = 0;
    std::size_t dataOffset = 0;
};
bool ReadPnmHeader(const std::string& path, PnmHeader* header);

}  // namespace session

#endif  // TRACELET_SESSION_PAGE_IMAGE_H
