#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/PieceWriter.hpp"
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

namespace {

std::optional<std::vector<uint8_t>> plain(const std::optional<LargeBytes>& bytes) {
    if (!bytes) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

// The coded bytes of each strip.
std::vector<std::vector<uint8_t>> stripBytes(const std::vector<uint8_t>& tiff) {
    const auto reader =
        codec::TiffStripReader::open(tiff, ColorManagement::workingColorSpace()->iccData());
    std::vector<std::vector<uint8_t>> strips;
    if (!reader) {
        ADD_FAILURE() << "not our strips";
        return strips;
    }
    for (const auto& [offset, size] : reader->stripPlaces()) {
        strips.emplace_back(tiff.begin() + int64_t(offset), tiff.begin() + int64_t(offset + size));
    }
    return strips;
}

using Rows = std::vector<std::pair<int64_t, int64_t>>;

// The picture with the rows changed: other colours, other half-transparent alphas.
NSBitmapImageRepRef repainted(const NSBitmapImageRep& picture, const Rows& rows) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(picture.pixelsWide(), picture.pixelsHigh(),
                                              ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < picture.pixelsHigh(); ++y) {
        std::memcpy(bitmap->row(y), picture.row(y), size_t(picture.pixelsWide()) * 4);
    }
    for (const auto& [first, end] : rows) {
        for (int64_t y = first; y < end; ++y) {
            for (int64_t x = 0; x < picture.pixelsWide(); x += 3) {
                uint8_t* p = bitmap->row(y) + 4 * x;
                p[0] ^= 0x5A, p[1] = uint8_t(x), p[3] = uint8_t(64 + (x & 127));
            }
        }
    }
    return bitmap;
}

ImageEncodingProperties patchProperties() {
    ImageEncodingProperties properties;
    properties.compressionMethod = 5;
    properties.colorSyncProfileData = ColorManagement::workingColorSpace()->iccData();
    return properties;
}

ImageCodecs::RowFiller rowsOf(const NSBitmapImageRep& picture) {
    return [&picture](int64_t first, int64_t end, uint8_t* rgba) {
        for (int64_t y = first; y < end; ++y) {
            std::memcpy(rgba + size_t(y - first) * size_t(picture.pixelsWide()) * 4, picture.row(y),
                        size_t(picture.pixelsWide()) * 4);
        }
    };
}

// Every row as libtiff reads it, straight from the file.
bool libtiffReads(const std::vector<uint8_t>& tiff, const NSBitmapImageRep& picture) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("velmora-restrip-" + std::to_string(::getpid()) + ".tiff");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(tiff.data()), std::streamsize(tiff.size()));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    bool same = tif != nullptr;
    std::vector<uint8_t> line(size_t(picture.pixelsWide()) * 4);
    for (uint32_t y = 0; same && y < uint32_t(picture.pixelsHigh()); ++y) {
        same = TIFFReadScanline(tif, line.data(), y, 0) == 1 &&
               std::memcmp(line.data(), picture.row(y), line.size()) == 0;
    }
    if (tif != nullptr) {
        TIFFClose(tif);
    }
    std::filesystem::remove(path);
    return same;
}

} // namespace

// Rows changed in a picture encode only the strips holding them; the file
// made of those and the old strips is the whole encode's, byte for byte, and
// reads back through libtiff and our strip reader.
TEST(TiffStrips, ChangedRowsReencodeOnlyTheirStrips) {
    struct Case {
        int64_t width, height;
        Rows rows;
    } cases[] = {
        {160, 48, {{13, 14}}},               // inside one strip of 12 rows
        {160, 48, {{11, 13}}},               // across a strip boundary
        {160, 48, {{0, 1}, {47, 48}}},       // first and last rows, far apart
        {2048, 6, {{2, 3}}},                 // strips of one row
        {37, 300, {{100, 160}, {120, 130}}}, // overlapping, odd width
        {160, 48, {{40, 90}}},               // reaching past the bottom
    };
    const auto profile = ColorManagement::workingColorSpace()->iccData();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const auto before = stripedPicture(c.width, c.height, true);
        const auto previous =
            ImageCodecs::encodeTiff(c.width, c.height, true, rowsOf(*before), patchProperties());
        const auto after = repainted(*before, Rows{});
        for (const auto& [first, end] : c.rows) {
            const auto once = repainted(*after, {{first, std::min(end, c.height)}});
            for (int64_t y = 0; y < c.height; ++y) {
                std::memcpy(after->row(y), once->row(y), size_t(c.width) * 4);
            }
        }
        const auto reencoded = ImageCodecs::reencodeTiff(previous, c.rows, c.width, c.height, true,
                                                         rowsOf(*after), patchProperties());
        ASSERT_TRUE(reencoded.has_value());
        const auto made = plain(reencoded);
        EXPECT_EQ(*made, ImageCodecs::encodeTiff(c.width, c.height, true, rowsOf(*after),
                                                 patchProperties()));
        const auto reader = codec::TiffStripReader::open(*made, profile);
        ASSERT_TRUE(reader.has_value());
        const auto oldStrips = stripBytes(previous), newStrips = stripBytes(*made);
        ASSERT_EQ(oldStrips.size(), newStrips.size());
        for (size_t s = 0; s < oldStrips.size(); ++s) {
            const int64_t y0 = int64_t(s * reader->rowsPerStrip());
            const int64_t y1 = std::min<int64_t>(c.height, y0 + reader->rowsPerStrip());
            bool touched = false;
            for (const auto& [first, end] : c.rows) {
                touched = touched || (first < y1 && end > y0);
            }
            EXPECT_EQ(oldStrips[s] != newStrips[s], touched) << "strip " << s;
        }
        EXPECT_TRUE(libtiffReads(*made, *after));
        const auto decoded = ImageCodecs::decode(*made);
        ASSERT_NE(decoded, nullptr);
        for (int64_t y = 0; y < c.height; ++y) {
            ASSERT_EQ(std::memcmp(decoded->row(y), after->row(y), size_t(c.width) * 4), 0) << y;
        }
    }
}

// Old bytes whose strips are not coded as ours are, or that hold nothing to
// keep, are declined; a file another writer laid out as we do is taken.
TEST(TiffStrips, ReencodeDeclinesOtherLayoutsAndTakesCompatibleOnes) {
    const int64_t width = 160, height = 48;
    const auto before = stripedPicture(width, height, true);
    const Rows rows{{5, 6}};
    const auto after = repainted(*before, rows);
    const auto reencodeSized = [&](std::span<const uint8_t> previous, const Rows& changed,
                                   int64_t w, int64_t h) {
        return ImageCodecs::reencodeTiff(previous, changed, w, h, true, rowsOf(*after),
                                         patchProperties());
    };
    const auto reencode = [&](std::span<const uint8_t> previous, const Rows& changed) {
        return reencodeSized(previous, changed, width, height);
    };
    const auto ours =
        ImageCodecs::encodeTiff(width, height, true, rowsOf(*before), patchProperties());
    EXPECT_FALSE(reencode(ours, {{0, height}}).has_value()) << "every strip changed";
    EXPECT_FALSE(reencodeSized(ours, rows, width - 1, height).has_value()) << "another width";
    EXPECT_FALSE(reencodeSized(ours, rows, width, height + 1).has_value()) << "another height";
    EXPECT_FALSE(reencode(std::span(ours).first(ours.size() / 2), rows).has_value())
        << "strips cut off";
    EXPECT_FALSE(reencode(std::vector<uint8_t>{1, 2, 3}, rows).has_value()) << "no TIFF";
    ImageEncodingProperties packBits = patchProperties();
    packBits.compressionMethod = 32773;
    EXPECT_FALSE(
        reencode(ImageCodecs::encodeTiff(width, height, true, rowsOf(*before), packBits), rows)
            .has_value())
        << "another compression";
    ImageEncodingProperties otherSpace = patchProperties();
    otherSpace.colorSyncProfileData = CGColorSpace::displayP3()->iccData();
    EXPECT_FALSE(
        reencode(ImageCodecs::encodeTiff(width, height, true, rowsOf(*before), otherSpace), rows)
            .has_value())
        << "another profile";

    // libtiff's own LZW, with and without the predictor, untagged.
    for (const bool predictor : {true, false}) {
        const auto path = std::filesystem::temp_directory_path() /
                          ("velmora-foreign-" + std::to_string(::getpid()) + ".tiff");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_PREDICTOR, predictor ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
        std::vector<uint8_t> line(size_t(width) * 4);
        for (uint32_t y = 0; y < uint32_t(height); ++y) {
            std::memcpy(line.data(), before->row(y), line.size());
            TIFFWriteScanline(t, line.data(), y, 0);
        }
        TIFFClose(t);
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> foreign{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
        std::filesystem::remove(path);
        const auto made = plain(reencode(foreign, rows));
        ASSERT_EQ(made.has_value(), predictor);
        if (made) {
            EXPECT_TRUE(libtiffReads(*made, *after));
            // Its strips are kept as it coded them, but for the one of row 5.
            const auto kept = stripBytes(foreign), now = stripBytes(*made);
            ASSERT_EQ(kept.size(), 4u);
            ASSERT_EQ(now.size(), 4u);
            EXPECT_NE(kept[0], now[0]);
            EXPECT_EQ(std::vector(kept.begin() + 1, kept.end()),
                      std::vector(now.begin() + 1, now.end()));
        }
    }
}

// Pieces placed from lasting memory and small ones copied assemble into what
// a file written the same way holds, later writes over earlier ones, also
// where a large piece is partly written over; reads see the same.
TEST(TiffStrips, PiecesAssembleAsTheFileWrittenTheSameWay) {
    std::vector<uint8_t> lasting(40000);
    for (size_t i = 0; i < lasting.size(); ++i) {
        lasting[i] = uint8_t(i * 7 + i / 251);
    }
    const uint8_t small[6] = {1, 2, 3, 4, 5, 6};
    struct Write {
        uint64_t position;
        const uint8_t* bytes;
        size_t size;
    } writes[] = {
        {0, small, 6},             // a header
        {8, lasting.data(), 9000}, // strips, placed
        {9008, lasting.data() + 9000, 20000},
        {2, small + 3, 3},                  // the header rewritten
        {12000, small, 6},                  // into a placed strip
        {35000, lasting.data() + 100, 600}, // beyond a gap
        {29008, lasting.data(), 1000},      // another, meeting nothing
    };
    codec::PieceWriter pieces;
    pieces.keepReferencesInto(lasting);
    std::vector<uint8_t> file;
    for (const Write& w : writes) {
        pieces.write(w.position, w.bytes, w.size);
        file.resize(std::max<size_t>(file.size(), w.position + w.size));
        std::memcpy(file.data() + w.position, w.bytes, w.size);
    }
    EXPECT_EQ(pieces.length(), file.size());
    const auto assembled = pieces.assemble();
    EXPECT_EQ(std::vector<uint8_t>(assembled.begin(), assembled.end()), file);
    std::vector<uint8_t> read(100);
    ASSERT_EQ(pieces.read(11950, read.data(), read.size()), read.size());
    EXPECT_TRUE(std::equal(read.begin(), read.end(), file.begin() + 11950));
    EXPECT_EQ(pieces.read(file.size() - 10, read.data(), read.size()), 10u);
}
