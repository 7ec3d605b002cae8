#include "GeneratedImages.hpp"
#include "TestPictures.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/PixelConversion.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

using Pixel = std::array<uint8_t, 4>;

Pixel at(const NSBitmapImageRep& rep, int64_t x, int64_t y) {
    const uint8_t* p = pixelAt(rep, x, y);
    return {p[0], p[1], p[2], p[3]};
}

struct Expectation {
    int64_t x, y;
    Pixel pixel;
};

struct Case {
    std::string name;
    std::vector<uint8_t> file;
    const char* format; // the header's "<model> <bits> bits"
    int64_t width, height;
    std::vector<Expectation> pixels;
    int tolerance = 0;
};

void check(const Case& c) {
    SCOPED_TRACE(c.name);
    ImageInfo info{};
    ASSERT_NO_THROW(info = ImageCodecs::readInfo(c.file));
    EXPECT_EQ(info.formatText(), c.format);
    EXPECT_EQ(info.pixelsWide, c.width);
    EXPECT_EQ(info.pixelsHigh, c.height);
    NSBitmapImageRepRef rep;
    try {
        rep = ImageCodecs::decode(c.file);
    } catch (const ImageCodecError& e) {
        FAIL() << e.what();
    }
    ASSERT_EQ(rep->pixelSize(), (MTLSize{c.width, c.height, 1}));
    EXPECT_EQ(rep->pixelLayout(), PixelLayout::rgba8);
    for (const auto& e : c.pixels) {
        const Pixel got = at(*rep, e.x, e.y);
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(got[k], e.pixel[k], c.tolerance)
                << "pixel " << e.x << "," << e.y << " channel " << k;
        }
    }
}

std::vector<uint8_t> bytes(std::initializer_list<int> v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

std::vector<uint8_t> be16(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v) {
        out.push_back(uint8_t(x >> 8)), out.push_back(uint8_t(x));
    }
    return out;
}

std::vector<uint8_t> native16(std::initializer_list<int> v) {
    std::vector<uint8_t> out(v.size() * 2);
    size_t i = 0;
    for (int x : v) {
        const uint16_t s = uint16_t(x);
        std::memcpy(&out[2 * i++], &s, 2);
    }
    return out;
}

// sRGB red expressed in Display P3, 8 bits.
std::vector<uint8_t> p3OfSRGBRed() {
    const uint8_t red[3] = {255, 0, 0};
    std::vector<uint8_t> out(3);
    convertPixels(CGColorSpace::sRGB().get(), PixelLayout::rgb8, red, *CGColorSpace::displayP3(),
                  PixelLayout::rgb8, out.data(), 1);
    return out;
}

} // namespace

TEST(GeneratedInputs, Tiff) {
    std::vector<Case> cases;
    {
        TiffSpec s;
        s.width = 2, s.height = 1, s.bits = 16;
        s.rows = {native16({65535, 0, 32896, 257, 514, 65280})};
        cases.push_back({"RGB 16-bit",
                         makeTiff(s),
                         "RGB 16 bits",
                         2,
                         1,
                         {{0, 0, {255, 0, 128, 255}}, {1, 0, {1, 2, 254, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 3, s.height = 1, s.samples = 2, s.photometric = PHOTOMETRIC_MINISBLACK;
        s.extra = EXTRASAMPLE_UNASSALPHA;
        s.rows = {bytes({10, 200, 20, 0, 255, 255})};
        cases.push_back(
            {"grey with alpha",
             makeTiff(s),
             "Gray 8 bits",
             3,
             1,
             {{0, 0, {10, 10, 10, 200}}, {1, 0, {20, 20, 20, 0}}, {2, 0, {255, 255, 255, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 8, s.height = 1, s.bits = 1, s.samples = 1,
        s.photometric = PHOTOMETRIC_MINISWHITE;
        s.rows = {bytes({0b10100000})};
        cases.push_back(
            {"1-bit white is zero",
             makeTiff(s),
             "Gray 1 bits",
             8,
             1,
             {{0, 0, {0, 0, 0, 255}}, {1, 0, {255, 255, 255, 255}}, {2, 0, {0, 0, 0, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 3, s.height = 1, s.bits = 4, s.samples = 1, s.photometric = PHOTOMETRIC_PALETTE;
        s.colormap.assign(48, 0);
        s.colormap[0] = 65535;      // index 0 red
        s.colormap[16 + 1] = 65535; // index 1 green
        s.colormap[32 + 2] = 65535; // index 2 blue
        s.rows = {bytes({0x01, 0x20})};
        cases.push_back(
            {"4-bit palette",
             makeTiff(s),
             "RGB 8 bits",
             3,
             1,
             {{0, 0, {255, 0, 0, 255}}, {1, 0, {0, 255, 0, 255}}, {2, 0, {0, 0, 255, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 2, s.height = 1, s.samples = 4, s.extra = EXTRASAMPLE_ASSOCALPHA;
        s.rows = {bytes({50, 25, 0, 128, 7, 7, 7, 0})};
        cases.push_back({"associated alpha",
                         makeTiff(s),
                         "RGB 8 bits",
                         2,
                         1,
                         {{0, 0, {100, 50, 0, 128}}, {1, 0, {0, 0, 0, 0}}}});
    }
    {
        TiffSpec s;
        s.width = 2, s.height = 2, s.planar = PLANARCONFIG_SEPARATE,
        s.compression = COMPRESSION_LZW;
        s.rowsPerStrip = 2;
        s.rows = {bytes({1, 2}),   bytes({3, 4}),    // red plane
                  bytes({11, 12}), bytes({13, 14}),  // green plane
                  bytes({21, 22}), bytes({23, 24})}; // blue plane
        cases.push_back({"planar LZW",
                         makeTiff(s),
                         "RGB 8 bits",
                         2,
                         2,
                         {{0, 0, {1, 11, 21, 255}}, {1, 1, {4, 14, 24, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 20, s.height = 18, s.tile = 16, s.compression = COMPRESSION_LZW;
        for (uint32_t y = 0; y < s.height; ++y) {
            std::vector<uint8_t> row;
            for (uint32_t x = 0; x < s.width; ++x) {
                row.insert(row.end(), {uint8_t(x * 10), uint8_t(y * 10), uint8_t(x + y)});
            }
            s.rows.push_back(row);
        }
        cases.push_back({"tiles",
                         makeTiff(s),
                         "RGB 8 bits",
                         20,
                         18,
                         {{0, 0, {0, 0, 0, 255}},
                          {17, 2, {170, 20, 19, 255}},
                          {3, 17, {30, 170, 20, 255}},
                          {19, 17, {190, 170, 36, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 1, s.height = 2, s.orientation = ORIENTATION_BOTLEFT;
        s.rows = {bytes({1, 2, 3}), bytes({4, 5, 6})};
        cases.push_back({"bottom row first",
                         makeTiff(s),
                         "RGB 8 bits",
                         1,
                         2,
                         {{0, 0, {4, 5, 6, 255}}, {0, 1, {1, 2, 3, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 2, s.height = 1, s.samples = 4, s.photometric = PHOTOMETRIC_SEPARATED;
        s.rows = {bytes({0, 0, 0, 0, 255, 0, 0, 0})};
        cases.push_back({"CMYK",
                         makeTiff(s),
                         "CMYK 8 bits",
                         2,
                         1,
                         {{0, 0, {255, 255, 255, 255}}, {1, 0, {0, 255, 255, 255}}}});
    }
    {
        TiffSpec s;
        s.width = 1, s.height = 1;
        s.icc = CGColorSpace::displayP3()->iccData();
        s.rows = {p3OfSRGBRed()};
        cases.push_back(
            {"Display P3 profile", makeTiff(s), "RGB 8 bits", 1, 1, {{0, 0, {255, 0, 0, 255}}}, 2});
    }
    for (const auto& c : cases) {
        check(c);
    }
}

TEST(GeneratedInputs, Png) {
    std::vector<Case> cases;
    {
        PngSpec s;
        s.width = 2, s.height = 1, s.bits = 16, s.colorType = PNG_COLOR_TYPE_GRAY;
        s.rows = {be16({0, 0xFFFF})};
        cases.push_back({"grey 16-bit",
                         makePng(s),
                         "Gray 16 bits",
                         2,
                         1,
                         {{0, 0, {0, 0, 0, 255}}, {1, 0, {255, 255, 255, 255}}}});
    }
    {
        PngSpec s;
        s.width = 4, s.height = 1, s.bits = 2, s.colorType = PNG_COLOR_TYPE_GRAY;
        s.rows = {bytes({0b00011011})};
        cases.push_back({"grey 2-bit",
                         makePng(s),
                         "Gray 2 bits",
                         4,
                         1,
                         {{0, 0, {0, 0, 0, 255}},
                          {1, 0, {85, 85, 85, 255}},
                          {2, 0, {170, 170, 170, 255}},
                          {3, 0, {255, 255, 255, 255}}}});
    }
    {
        PngSpec s;
        s.width = 3, s.height = 1, s.colorType = PNG_COLOR_TYPE_PALETTE;
        s.palette = {{200, 0, 0}, {0, 100, 0}, {1, 2, 3}};
        s.paletteAlpha = {0, 128};
        s.rows = {bytes({0, 1, 2})};
        cases.push_back(
            {"palette with transparency",
             makePng(s),
             "RGB 8 bits",
             3,
             1,
             {{0, 0, {200, 0, 0, 0}}, {1, 0, {0, 100, 0, 128}}, {2, 0, {1, 2, 3, 255}}}});
    }
    {
        PngSpec s;
        s.width = 2, s.height = 1, s.colorType = PNG_COLOR_TYPE_GRAY_ALPHA;
        s.rows = {bytes({40, 10, 250, 255})};
        cases.push_back({"grey with alpha",
                         makePng(s),
                         "Gray 8 bits",
                         2,
                         1,
                         {{0, 0, {40, 40, 40, 10}}, {1, 0, {250, 250, 250, 255}}}});
    }
    {
        const auto picture = asymmetricPicture(9, 9);
        PngSpec s;
        s.width = 9, s.height = 9, s.colorType = PNG_COLOR_TYPE_RGB_ALPHA, s.interlaced = true;
        for (int64_t y = 0; y < 9; ++y) {
            s.rows.emplace_back(picture->row(y), picture->row(y) + 36);
        }
        std::vector<Expectation> all;
        for (int64_t y = 0; y < 9; ++y) {
            for (int64_t x = 0; x < 9; ++x) {
                all.push_back({x, y, at(*picture, x, y)});
            }
        }
        cases.push_back({"interlaced", makePng(s), "RGB 8 bits", 9, 9, all});
    }
    {
        PngSpec s;
        s.width = 1, s.height = 1, s.bits = 16, s.colorType = PNG_COLOR_TYPE_RGB;
        s.icc = CGColorSpace::displayP3()->iccData();
        const auto p3 = p3OfSRGBRed();
        s.rows = {be16({p3[0] * 257, p3[1] * 257, p3[2] * 257})};
        cases.push_back(
            {"16-bit Display P3", makePng(s), "RGB 16 bits", 1, 1, {{0, 0, {255, 0, 0, 255}}}, 2});
    }
    for (const auto& c : cases) {
        check(c);
    }
}

TEST(GeneratedInputs, Jpeg) {
    std::vector<Case> cases;
    {
        JpegSpec s;
        s.components = 1, s.space = JCS_GRAYSCALE;
        s.pixel = [](uint32_t x, uint32_t, uint8_t* p) { p[0] = x < 8 ? 30 : 220; };
        cases.push_back({"grey",
                         makeJpeg(s),
                         "Gray 8 bits",
                         16,
                         16,
                         {{2, 2, {30, 30, 30, 255}}, {13, 13, {220, 220, 220, 255}}},
                         3});
    }
    {
        // Written as Adobe does: with its marker and the ink values inverted.
        JpegSpec s;
        s.components = 4, s.space = JCS_CMYK;
        s.pixel = [](uint32_t x, uint32_t y, uint8_t* p) {
            const uint8_t cyan = x < 8 ? 255 : 0, black = y >= 8 ? 255 : 0;
            p[0] = uint8_t(255 - cyan), p[1] = 255, p[2] = 255, p[3] = uint8_t(255 - black);
        };
        cases.push_back(
            {"CMYK",
             makeJpeg(s),
             "CMYK 8 bits",
             16,
             16,
             {{2, 2, {0, 255, 255, 255}}, {13, 2, {255, 255, 255, 255}}, {13, 13, {0, 0, 0, 255}}},
             3});
    }
    {
        JpegSpec s;
        s.icc = CGColorSpace::displayP3()->iccData();
        const auto p3 = p3OfSRGBRed();
        s.pixel = [p3](uint32_t, uint32_t, uint8_t* p) { std::copy(p3.begin(), p3.end(), p); };
        cases.push_back(
            {"Display P3", makeJpeg(s), "RGB 8 bits", 16, 16, {{5, 5, {255, 0, 0, 255}}}, 3});
    }
    for (const auto& c : cases) {
        check(c);
    }
}

TEST(GeneratedInputs, Gif) {
    std::vector<Case> cases;
    const std::vector<GifColorType> colors = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    {
        GifSpec s;
        s.colors = colors;
        s.transparent = 3;
        s.indices = {1, 2, 3, 0, 1, 2};
        cases.push_back({"first frame on the screen",
                         makeGif(s),
                         "RGB 8 bits",
                         5,
                         4,
                         {{0, 0, {0, 0, 0, 0}},
                          {1, 1, {255, 0, 0, 255}},
                          {2, 1, {0, 255, 0, 255}},
                          {3, 1, {0, 0, 0, 0}},
                          {1, 2, {0, 0, 0, 255}},
                          {3, 2, {0, 255, 0, 255}},
                          {4, 3, {0, 0, 0, 0}}}});
    }
    {
        GifSpec s;
        s.colors = colors;
        s.screenWidth = 1, s.screenHeight = 9, s.left = 0, s.top = 0, s.width = 1, s.height = 9;
        s.interlaced = true;
        s.indices = {0, 1, 2, 3, 0, 1, 2, 3, 1};
        cases.push_back({"interlaced",
                         makeGif(s),
                         "RGB 8 bits",
                         1,
                         9,
                         {{0, 1, {255, 0, 0, 255}},
                          {0, 3, {0, 0, 255, 255}},
                          {0, 6, {0, 255, 0, 255}},
                          {0, 8, {255, 0, 0, 255}}}});
    }
    for (const auto& c : cases) {
        check(c);
    }
}

TEST(GeneratedInputs, Bmp) {
    std::vector<Case> cases;
    {
        BmpSpec s; // bottom row first, rows padded to 4 bytes
        s.pixels = bytes(
            {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0});
        cases.push_back(
            {"24-bit",
             makeBmp(s),
             "RGB 8 bits",
             3,
             2,
             {{0, 1, {3, 2, 1, 255}}, {2, 1, {9, 8, 7, 255}}, {0, 0, {13, 12, 11, 255}}}});
        s.height = -2;
        cases.push_back({"24-bit top row first",
                         makeBmp(s),
                         "RGB 8 bits",
                         3,
                         2,
                         {{0, 0, {3, 2, 1, 255}}, {0, 1, {13, 12, 11, 255}}}});
    }
    {
        BmpSpec s;
        s.bits = 8, s.colorsUsed = 3;
        s.palette = bytes({0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0});
        s.pixels = bytes({0, 1, 2, 0, 2, 1, 0, 0});
        cases.push_back({"8-bit palette",
                         makeBmp(s),
                         "RGB 8 bits",
                         3,
                         2,
                         {{0, 1, {255, 0, 0, 255}},
                          {1, 1, {0, 255, 0, 255}},
                          {0, 0, {0, 0, 255, 255}},
                          {1, 0, {0, 255, 0, 255}}}});
    }
    {
        BmpSpec s;
        s.width = 10, s.height = 1, s.bits = 1;
        s.palette = bytes({0, 0, 0, 0, 255, 255, 255, 0});
        s.pixels = bytes({0b10000000, 0b01000000, 0, 0});
        cases.push_back(
            {"1-bit",
             makeBmp(s),
             "RGB 8 bits",
             10,
             1,
             {{0, 0, {255, 255, 255, 255}}, {1, 0, {0, 0, 0, 255}}, {9, 0, {255, 255, 255, 255}}}});
    }
    {
        BmpSpec s;
        s.width = 2, s.height = 1, s.bits = 32, s.compression = 3, s.headerSize = 124;
        s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        s.pixels = bytes({3, 2, 1, 128, 30, 20, 10, 0});
        cases.push_back({"32-bit with alpha",
                         makeBmp(s),
                         "RGB 8 bits",
                         2,
                         1,
                         {{0, 0, {1, 2, 3, 128}}, {1, 0, {10, 20, 30, 0}}}});
    }
    {
        BmpSpec s;
        s.width = 1, s.height = 1, s.bits = 32;
        s.pixels = bytes({3, 2, 1, 0});
        cases.push_back(
            {"32-bit without alpha", makeBmp(s), "RGB 8 bits", 1, 1, {{0, 0, {1, 2, 3, 255}}}});
    }
    {
        BmpSpec s;
        s.width = 2, s.height = 1, s.bits = 16, s.compression = 3;
        s.masks = {0xF800, 0x07E0, 0x001F};
        s.pixels = bytes({0x00, 0xF8, 0xE0, 0x07});
        cases.push_back({"16-bit 5-6-5",
                         makeBmp(s),
                         "RGB 8 bits",
                         2,
                         1,
                         {{0, 0, {255, 0, 0, 255}}, {1, 0, {0, 255, 0, 255}}}});
    }
    {
        BmpSpec s;
        s.width = 4, s.height = 2, s.bits = 8, s.compression = 1, s.colorsUsed = 2;
        s.palette = bytes({0, 0, 255, 0, 255, 0, 0, 0});
        // Bottom row: a run of three of index 1, end of line; top row: the literal
        // 0, 1, 0 (padded to an even count), end of picture. Pixels never set stay clear.
        s.pixels = bytes({3, 1, 0, 0, 0, 3, 0, 1, 0, 0, 0, 1});
        cases.push_back({"run-length 8-bit",
                         makeBmp(s),
                         "RGB 8 bits",
                         4,
                         2,
                         {{0, 1, {0, 0, 255, 255}},
                          {2, 1, {0, 0, 255, 255}},
                          {3, 1, {0, 0, 0, 0}},
                          {0, 0, {255, 0, 0, 255}},
                          {1, 0, {0, 0, 255, 255}},
                          {2, 0, {255, 0, 0, 255}},
                          {3, 0, {0, 0, 0, 0}}}});
    }
    for (const auto& c : cases) {
        check(c);
    }
}
