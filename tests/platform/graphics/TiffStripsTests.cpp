#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/TiffStripReader.hpp"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
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

namespace {

std::vector<uint8_t> encodedTiff(const NSBitmapImageRep& picture, int method) {
    ImageEncodingProperties properties;
    properties.compressionMethod = method;
    properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
    return ImageCodecs::encode(picture, NSBitmapImageFileType::tiff, properties);
}

} // namespace

// Strips decoded apart, each range by a thread of its own and in no order,
// give the rows the whole-image reader gives, for one-row and many-row strips.
TEST(TiffStrips, StripsDecodedApartEqualTheWholeImage) {
    struct Case {
        int64_t width, height;
        int method;
    } cases[] = {{3000, 5, 5}, {64, 70, 5}, {37, 300, 1}, {1000, 33, 32773}, {1, 1, 5}};
    const auto profile = ColorManagement::workingColorSpace()->iccData();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " method " +
                     std::to_string(c.method));
        const auto picture = stripedPicture(c.width, c.height, true);
        const auto tiff = encodedTiff(*picture, c.method);
        const auto reader = codec::TiffStripReader::open(tiff, profile);
        ASSERT_TRUE(reader.has_value());
        ASSERT_EQ(reader->width(), uint32_t(c.width));
        ASSERT_EQ(reader->height(), uint32_t(c.height));
        const size_t rowBytes = size_t(c.width) * 4;
        std::vector<uint8_t> rows(rowBytes * size_t(c.height), 0xEE);
        // Rows land upside down, as they do in a texture.
        const auto row = [&](uint32_t y) { return rows.data() + (c.height - 1 - y) * rowBytes; };
        std::vector<std::thread> threads;
        for (uint32_t s = reader->strips(); s-- > 0;) {
            threads.emplace_back([&, s] { reader->decode(s, s + 1, row); });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        const auto whole = ImageCodecs::decode(tiff);
        ASSERT_NE(whole, nullptr);
        for (int64_t y = 0; y < c.height; ++y) {
            ASSERT_EQ(std::memcmp(row(uint32_t(y)), whole->row(y), rowBytes), 0) << "row " << y;
        }
    }
}

// Other forms are left to the whole-image reader; damage is an error.
TEST(TiffStrips, OtherFormsAreDeclinedAndDamagedStripsFail) {
    const auto profile = ColorManagement::workingColorSpace()->iccData();
    {
        // Three samples, no alpha, as other programs write.
        const auto path = std::filesystem::temp_directory_path() /
                          ("velmora-rgb-" + std::to_string(::getpid()) + ".tiff");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 8);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        uint8_t row[24] = {};
        TIFFWriteScanline(t, row, 0, 0);
        TIFFWriteScanline(t, row, 1, 0);
        TIFFClose(t);
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> rgb{std::istreambuf_iterator<char>(in),
                                       std::istreambuf_iterator<char>()};
        std::filesystem::remove(path);
        EXPECT_FALSE(codec::TiffStripReader::open(rgb, profile).has_value());
    }
    const auto tiff = encodedTiff(*stripedPicture(40, 30, true), 5);
    std::vector<uint8_t> otherProfile = profile;
    otherProfile.back() ^= 1;
    EXPECT_FALSE(codec::TiffStripReader::open(tiff, otherProfile).has_value());

    const auto reader = codec::TiffStripReader::open(tiff, profile);
    ASSERT_TRUE(reader.has_value());
    auto damaged = tiff;
    // The strips lie between the header and the directory at the end.
    std::fill(damaged.begin() + 16, damaged.begin() + 16 + 600, uint8_t(0xFF));
    const auto broken = codec::TiffStripReader::open(damaged, profile);
    ASSERT_TRUE(broken.has_value());
    std::vector<uint8_t> rows(40 * 4 * 30);
    EXPECT_THROW(
        broken->decode(0, broken->strips(), [&](uint32_t y) { return rows.data() + y * 160; }),
        ImageCodecError);
    EXPECT_THROW(codec::TiffStripReader::open(std::span(tiff).first(12), profile), ImageCodecError);
}
