#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

using namespace velmora;

namespace {

// Pixels that differ in every row and column, with every alpha.
NSBitmapImageRepRef stripedPicture(int64_t width, int64_t height, bool alpha) {
    auto bitmap =
        NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = uint8_t(x * 7 + y);
            p[1] = uint8_t(y * 3);
            p[2] = uint8_t((x ^ y) * 5);
            p[3] = alpha ? uint8_t(x + y * 11) : 255;
        }
    }
    return bitmap;
}

// Large TIFFs are encoded in bands of strips at once; libtiff itself reads
// them back strip by strip, top row first, with every pixel kept.
TEST(TiffStrips, BandsEncodedApartReadBackWithLibtiff) {
    struct Case {
        int64_t width, height;
        int method;
    } cases[] = {{1000, 1100, 5}, {8, 2049, 5}, {1000, 600, 32773}, {513, 257, 1}, {64, 64, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const auto picture = stripedPicture(c.width, c.height, true);
        ImageEncodingProperties properties;
        properties.compressionMethod = c.method;
        const auto file = ImageCodecs::encode(*picture, NSBitmapImageFileType::tiff, properties);

        const auto path = std::filesystem::temp_directory_path() /
                          ("velmora-strips-" + std::to_string(::getpid()) + ".tiff");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint32_t width = 0, height = 0, rowsPerStrip = 0;
        uint16_t compression = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        EXPECT_EQ(width, uint32_t(c.width));
        EXPECT_EQ(height, uint32_t(c.height));
        EXPECT_EQ(compression, c.method);
        EXPECT_EQ(TIFFNumberOfStrips(tif), (height + rowsPerStrip - 1) / rowsPerStrip);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
        size_t wrong = 0;
        for (uint32_t y = 0; y < height; ++y) {
            ASSERT_EQ(TIFFReadScanline(tif, line.data(), y, 0), 1) << "row " << y;
            wrong += std::memcmp(line.data(), picture->row(y), line.size()) != 0;
        }
        EXPECT_EQ(wrong, 0u);
        TIFFClose(tif);
        std::filesystem::remove(path);
    }
}

} // namespace
