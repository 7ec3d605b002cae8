#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/LzwEncoder.hpp"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

using namespace velmora;
using velmora::codec::LzwEncoder;

namespace {

std::filesystem::path temporaryTiff() {
    return std::filesystem::temp_directory_path() /
           ("velmora-lzw-" + std::to_string(::getpid()) + ".tiff");
}

// libtiff's own decoding of `coded` as the one strip of a grey picture one row high.
std::vector<uint8_t> decodedByLibtiff(const std::vector<uint8_t>& coded, size_t size) {
    const auto path = temporaryTiff();
    TIFF* out = TIFFOpen(path.c_str(), "w");
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(size));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFWriteRawStrip(out, 0, const_cast<uint8_t*>(coded.data()), tmsize_t(coded.size()));
    TIFFClose(out);
    TIFF* in = TIFFOpen(path.c_str(), "r");
    std::vector<uint8_t> decoded(size + 16, 0xAB);
    const tmsize_t n = TIFFReadEncodedStrip(in, 0, decoded.data(), tmsize_t(decoded.size()));
    TIFFClose(in);
    std::filesystem::remove(path);
    decoded.resize(n < 0 ? 0 : size_t(n));
    return decoded;
}

// Walks the codes as a strict reader does (libtiff stops once it has the
// strip's bytes): every code known when read, the dictionary never past 4094
// entries, and End read at the width readers expect, in the last byte.
bool endsWithEndAtReadersWidth(const std::vector<uint8_t>& coded) {
    size_t bit = 0;
    auto read = [&](unsigned width) -> int64_t {
        if (bit + width > coded.size() * 8) {
            return -1;
        }
        uint32_t code = 0;
        for (unsigned i = 0; i < width; ++i, ++bit) {
            code = code << 1 | ((coded[bit / 8] >> (7 - bit % 8)) & 1);
        }
        return code;
    };
    unsigned width = 9;
    uint32_t next = 258;
    bool afterClear = true;
    for (;;) {
        const int64_t code = read(width);
        if (code == 257) {
            return (bit + 7) / 8 == coded.size();
        }
        if (code == 256) {
            width = 9, next = 258, afterClear = true;
            continue;
        }
        if (code < 0 || code > (afterClear ? 255 : next) || next > 4094) {
            return false;
        }
        if (!afterClear && ++next >= (1u << width) - 1 && width < 12) {
            ++width;
        }
        afterClear = false;
    }
}

// Every pair of bytes once: no string ever repeats, so each byte is a code of
// its own and one entry joins the dictionary per byte.
std::vector<uint8_t> withoutRepeats(size_t size) {
    std::vector<uint8_t> bytes;
    for (int a = 0; a < 256 && bytes.size() < size; ++a) {
        bytes.push_back(uint8_t(a));
        for (int b = a + 1; b < 256; ++b) {
            bytes.push_back(uint8_t(a));
            bytes.push_back(uint8_t(b));
        }
    }
    bytes.resize(size);
    return bytes;
}

std::vector<uint8_t> random(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return bytes;
}

// The codes readers widen at, and the full dictionary's Clear, fall on the
// last code or the End, in the middle, and again after a Clear.
TEST(LzwEncoder, LibtiffDecodesEveryStripToItsBytes) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"one byte", {7}},
        {"two equal bytes", {9, 9}},
        {"flat", std::vector<uint8_t>(70000, 0)},
        {"random", random(100000, 1)},
        {"few values",
         [] {
             auto b = random(50000, 2);
             for (auto& v : b) {
                 v &= 3;
             }
             return b;
         }()},
        {"gradient",
         [] {
             std::vector<uint8_t> b(40000);
             for (size_t i = 0; i < b.size(); ++i) {
                 b[i] = uint8_t(i / 97 + (i % 4) * 60);
             }
             return b;
         }()},
        {"no repeats", withoutRepeats(65536)},
    };
    // Entries run from 258: the last code lands just before, at and after each
    // widening (511, 1023, 2047) and the full dictionary (4094), and one
    // dictionary later.
    for (const size_t last : {252, 253, 254, 764, 765, 766, 1788, 1789, 1790, 3835, 3836, 3837,
                              2 * 3836, 2 * 3836 + 1}) {
        cases.push_back({"no repeats up to a boundary", withoutRepeats(last)});
    }
    LzwEncoder encoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.bytes.size()) + " bytes");
        std::vector<uint8_t> coded(LzwEncoder::maximumEncodedSize(c.bytes.size()));
        coded.resize(encoder.encode(c.bytes.data(), c.bytes.size(), coded.data()));
        EXPECT_EQ(coded[0], 0x80) << "starts with a 9-bit Clear";
        EXPECT_TRUE(endsWithEndAtReadersWidth(coded));
        EXPECT_TRUE(decodedByLibtiff(coded, c.bytes.size()) == c.bytes);
    }
}

// Pictures through the TIFF writer: odd widths, strips of one row and of many,
// with and without alpha, read back by libtiff with its predictor undone.
TEST(LzwEncoder, TiffPicturesReadBackExactlyWithLibtiff) {
    struct Case {
        uint32_t width, height;
        bool alpha;
        int kind; // 0 flat, 1 gradient, 2 random
    } cases[] = {{1, 1, true, 2},    {3, 700, false, 1}, {1237, 9, true, 2}, {2049, 5, false, 2},
                 {333, 64, true, 1}, {8191, 3, true, 0}, {17, 301, true, 2}, {64, 64, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) +
                     (c.alpha ? " RGBA" : " RGB") + " kind " + std::to_string(c.kind));
        auto pixels = random(size_t(c.width) * c.height * 4, c.width * 31 + c.height);
        for (size_t i = 0; i < pixels.size(); ++i) {
            const size_t x = (i / 4) % c.width, y = i / 4 / c.width;
            if (c.kind == 0) {
                pixels[i] = uint8_t(i % 4 * 40);
            } else if (c.kind == 1) {
                pixels[i] = uint8_t(x * (i % 4 + 1) + y * 3);
            }
        }
        const auto file = ImageCodecs::encodeTiff(
            c.width, c.height, c.alpha,
            [&](int64_t first, int64_t end, uint8_t* rgba) {
                std::memcpy(rgba, pixels.data() + size_t(first) * c.width * 4,
                            size_t(end - first) * c.width * 4);
            },
            [] {
                ImageEncodingProperties properties;
                properties.compressionMethod = COMPRESSION_LZW;
                return properties;
            }());
        const auto path = temporaryTiff();
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), f), file.size());
        std::fclose(f);
        TIFF* tif = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(tif, nullptr);
        uint16_t compression = 0, predictor = 0, samples = 0;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor);
        TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
        EXPECT_EQ(compression, COMPRESSION_LZW);
        EXPECT_EQ(predictor, PREDICTOR_HORIZONTAL);
        EXPECT_EQ(samples, c.alpha ? 4 : 3);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
        size_t wrong = 0;
        for (uint32_t y = 0; y < c.height; ++y) {
            ASSERT_EQ(TIFFReadScanline(tif, line.data(), y, 0), 1) << "row " << y;
            for (uint32_t x = 0; x < c.width; ++x) {
                wrong += std::memcmp(&line[size_t(x) * samples],
                                     &pixels[(size_t(y) * c.width + x) * 4], samples) != 0;
            }
        }
        EXPECT_EQ(wrong, 0u);
        TIFFClose(tif);
        std::filesystem::remove(path);
    }
}

} // namespace
