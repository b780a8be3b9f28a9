// PNM files as a person's image viewer reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "PageImage.h"
#include "tracelet/twain.h"

namespace session {
namespace {

TEST(PageImageTest, EachPixelTypeBecomesItsPnmKindWithViewerSamples) {
    const struct {
        TW_UINT16 pixelType;
        int bits, samples, width, height;
        std::vector<unsigned char> pixels, expected;
        const char *magic, *extension;
        std::uint32_t maxval;
    } rows[] = {
        // TWAIN's 0 is black, a bitmap's 1; two rows of 10 pixels, the rest of each byte padding.
        {TWPT_BW, 1, 1, 10, 2, {0x0f, 0xc0, 0xff, 0xff}, {0xf0, 0x00, 0x00, 0x00}, "P4", ".pbm", 1},
        {TWPT_GRAY, 8, 1, 3, 1, {0, 128, 255}, {0, 128, 255}, "P5", ".pgm", 255},
        // Host-order 16-bit samples 0x1234, 0xffff, 0x0100 are written big-endian.
        {TWPT_RGB, 16, 3, 1, 1, {0x34, 0x12, 0xff, 0xff, 0x00, 0x01}, {0x12, 0x34, 0xff, 0xff, 0x01, 0x00}, "P6", ".ppm",
         65535},
    };
    for (const auto& row : rows) {
        PageImage page;
        page.width = row.width;
        page.height = row.height;
        page.pixelType = row.pixelType;
        page.bitsPerSample = row.bits;
        page.samplesPerPixel = row.samples;
        page.Allocate();
        page.pixels = row.pixels;
        EXPECT_EQ(row.extension, PnmExtension(page));
        const std::string path = (std::filesystem::temp_directory_path() / "tracelet-page-test").string();
        std::string error;
        ASSERT_TRUE(WritePnm(page, path, &error)) << error;
        PnmHeader h;
        ASSERT_TRUE(ReadPnmHeader(path, &h));
        EXPECT_EQ(row.magic, h.magic);
        EXPECT_EQ(page.width, h.width);
        EXPECT_EQ(page.height, h.height);
        EXPECT_EQ(row.maxval, h.maxval);
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<unsigned char> pixels(all.begin() + static_cast<long>(h.dataOffset), all.end());
        ASSERT_EQ(row.expected.size(), pixels.size());
        if (row.pixelType == TWPT_BW) pixels[1] &= 0xc0, pixels[3] &= 0xc0;  // padding bits are free
        EXPECT_EQ(row.expected, pixels);
        std::filesystem::remove(path);
    }
    PageImage page;
    page.width = page.height = 1;
    page.Allocate();
    std::string error;
    EXPECT_FALSE(WritePnm(page, "/nonexistent-folder/page.pgm", &error));
    EXPECT_FALSE(error.empty()) << "an unwritable folder is reported";
}

}  // namespace
}  // namespace session
