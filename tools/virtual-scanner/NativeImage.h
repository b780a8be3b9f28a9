// The virtual scanner's native image format.
//
// DAT_IMAGENATIVEXFER hands the application a TW_HANDLE (allocated with
// TwainNewHandle, owned and freed by the application) whose block is one
// whole page: this 32-byte header, then `height` rows, top row first, each
// `bytesPerRow` bytes with no padding beyond the last whole byte. Samples are
// laid out as in a memory transfer: chunky RGB, 16-bit samples in host byte
// order, black-and-white packed eight pixels a byte, most significant bit
// first, 0 for black. All header fields are in host byte order.
#ifndef TRACELET_VS_NATIVE_IMAGE_H
#define TRACELET_VS_NATIVE_IMAGE_H

#include <cstdint>

struct VsNativeImageHeader {
    char magic[4];               // "TVSI"
    std::uint32_t headerSize;    // 32: offset of the first row
    std::uint32_t width;         // pixels
    std::uint32_t height;        // rows
    std::uint32_t bytesPerRow;
    std::uint16_t pixelType;     // TWPT_BW, TWPT_GRAY or TWPT_RGB
    std::uint16_t bitsPerPixel;  // 1, 8, 16, 24 or 48
    std::uint16_t samplesPerPixel;
    std::uint16_t bitsPerSample;
    std::uint16_t xResolution;   // dots per inch
    std::uint16_t yResolution;
};
static_assert(sizeof(VsNativeImageHeader) == 32, "the native header is 32 bytes");

constexpr char kVsNativeMagic[4] = {'T', 'V', 'S', 'I'};

#endif  // TRACELET_VS_NATIVE_IMAGE_H
