// PNM files as a person's image viewer reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "PageImage.h"
#include "tracelet/twain.h"

namespace session {
namespace {

std::vector<unsigned char> Pixels(const std::string& path, const PnmHeader& h) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::vector<unsigned char>(all.begin() + static_cast<long>(h.dataOffset), all.end());
}

std::string TempPath(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

TEST(PageImageTest, BlackAndWhiteBecomesABitmapWithOneForBlack) {
    PageImage page;
    page.width = 10;
    page.height = 2;
    page.pixelType = TWPT_BW;
    page.bitsPerSample = 1;
    page.Allocate();
    page.pixels = {0x0f, 0xc0, 0xff, 0xff};  // TWAIN: 0 is black
    const std::string path = TempPath("tracelet-page-test.pbm");
    std::string error;
    ASSERT_TRUE(WritePnm(page, path, &error)) << error;
    PnmHeader h;
    ASSERT_TRUE(ReadPnmHeader(path, &h));
    EXPECT_EQ("P4", h.magic);
    EXPECT_EQ(10u, h.width);
    EXPECT_EQ(2u, h.height);
    const auto pixels = Pixels(path, h);
    ASSERT_EQ(4u, pixels.size());
    EXPECT_EQ(0xf0, pixels[0]);
    EXPECT_EQ(0x00, pixels[1] & 0xc0) << "two white pixels; the rest of the byte is padding";
    EXPECT_EQ(0x00, pixels[2]);
    std::filesystem::remove(path);
}

TEST(PageImageTest, SixteenBitSamplesAreWrittenBigEndianWithTheFullScale) {
    PageImage page;
    page.width = 1;
    page.height = 1;
    page.pixelType = TWPT_RGB;
    page.bitsPerSample = 16;
    page.samplesPerPixel = 3;
    page.Allocate();
    page.pixels = {0x34, 0x12, 0xff, 0xff, 0x00, 0x01};  // host order: 0x1234, 0xffff, 0x0100
    const std::string path = TempPath("tracelet-page-test.ppm");
    std::string error;
    ASSERT_TRUE(WritePnm(page, path, &error)) << error;
    PnmHeader h;
    ASSERT_TRUE(ReadPnmHeader(path, &h));
    EXPECT_EQ("P6", h.magic);
    EXPECT_EQ(65535u, h.maxval);
    EXPECT_EQ((std::vector<unsigned char>{0x12, 0x34, 0xff, 0xff, 0x01, 0x00}), Pixels(path, h));
    std::filesystem::remove(path);
}

TEST(PageImageTest, GreyPagesAreGreymapsAndAnUnwritableFolderIsReported) {
    PageImage page;
    page.width = 3;
    page.height = 1;
    page.pixelType = TWPT_GRAY;
    page.Allocate();
    EXPECT_EQ(".pgm", PnmExtension(page));
    std::string error;
    EXPECT_FALSE(WritePnm(page, "/nonexistent-folder/page.pgm", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace session
