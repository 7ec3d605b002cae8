#include "GeneratedImages.hpp"
#include "TestPictures.hpp"
#include "graphics/ImageCodecs.hpp"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <random>

using namespace velmora;
using namespace velmora::test;

namespace {

using Kind = ImageCodecError::Kind;

std::optional<Kind> decodeError(std::span<const uint8_t> data,
                                const ImageDecodingLimits& limits = {}) {
    try {
        ImageCodecs::decode(data, limits);
    } catch (const ImageCodecError& e) {
        return e.kind();
    }
    return std::nullopt;
}

struct Sample {
    const char* name;
    std::vector<uint8_t> file;
};

// One small valid file of every readable kind.
std::vector<Sample> samples() {
    const auto picture = asymmetricPicture(13, 9);
    ImageEncodingProperties lzw;
    lzw.compressionMethod = 5;
    ImageEncodingProperties best;
    best.compressionFactor = 1.0;
    GifSpec gif;
    gif.colors = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    gif.indices = {1, 2, 3, 0, 1, 2};
    BmpSpec bmp;
    bmp.bits = 8, bmp.colorsUsed = 3;
    bmp.palette = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
    bmp.pixels = {0, 1, 2, 0, 2, 1, 0, 0};
    return {{"TIFF", ImageCodecs::encode(*picture, NSBitmapImageFileType::tiff, lzw)},
            {"PNG", ImageCodecs::encode(*picture, NSBitmapImageFileType::png)},
            {"JPEG", ImageCodecs::encode(*picture, NSBitmapImageFileType::jpeg, best)},
            {"GIF", makeGif(gif)},
            {"BMP", makeBmp(bmp)}};
}

} // namespace

TEST(BadInputs, CraftedFilesFailWithTheirReason) {
    BmpSpec huge;
    huge.width = 100000, huge.height = 100000;
    huge.pixels = std::vector<uint8_t>(12, 0);
    BmpSpec badIndex;
    badIndex.bits = 8, badIndex.colorsUsed = 2;
    badIndex.palette = {0, 0, 255, 0, 0, 255, 0, 0};
    badIndex.pixels = {0, 1, 5, 0, 0, 0, 0, 0};
    BmpSpec shortPixels;
    shortPixels.pixels = {1, 2, 3};
    BmpSpec oddDepth;
    oddDepth.bits = 7;
    BmpSpec endlessRun;
    endlessRun.bits = 8, endlessRun.compression = 1, endlessRun.colorsUsed = 1;
    endlessRun.palette = {1, 2, 3, 0};
    endlessRun.pixels = {255, 0, 255, 0}; // no end-of-line or end-of-picture before the data ends
    PngSpec pngIndex;
    pngIndex.width = 2, pngIndex.height = 1, pngIndex.colorType = PNG_COLOR_TYPE_PALETTE;
    pngIndex.palette = {{1, 2, 3}, {4, 5, 6}};
    pngIndex.rows = {{1, 9}};

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        Kind kind;
    };
    const Case cases[] = {
        {"empty", {}, Kind::unknownFormat},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, Kind::unknownFormat},
        {"BMP of 10^10 pixels", makeBmp(huge), Kind::tooLarge},
        {"BMP palette index out of range", makeBmp(badIndex), Kind::corrupt},
        {"BMP pixel data cut short", makeBmp(shortPixels), Kind::truncated},
        {"BMP of 7 bits", makeBmp(oddDepth), Kind::unsupported},
        {"BMP run past the data", makeBmp(endlessRun), Kind::truncated},
        {"PNG palette index out of range", makePng(pngIndex), Kind::corrupt},
        {"TIFF magic only", {'I', 'I', 42, 0}, Kind::truncated},
        {"TIFF directory out of the file",
         {'M', 'M', 0, 42, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         Kind::corrupt},
        {"JPEG start only", {0xFF, 0xD8, 0xFF}, Kind::truncated},
        {"PNG signature only", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Kind::truncated},
        {"GIF signature only", {'G', 'I', 'F', '8', '9', 'a'}, Kind::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(decodeError(c.file), c.kind);
        EXPECT_EQ(NSBitmapImageRep::imageRepWithData(c.file), nullptr);
    }
}

TEST(BadInputs, PixelLimitIsCheckedFromTheHeader) {
    for (const auto& s : samples()) {
        SCOPED_TRACE(s.name);
        const auto info = ImageCodecs::readInfo(s.file);
        const uint64_t count = uint64_t(info.pixelsWide) * uint64_t(info.pixelsHigh);
        ImageDecodingLimits limits;
        limits.maxPixelCount = count - 1;
        EXPECT_EQ(decodeError(s.file, limits), Kind::tooLarge);
        limits.maxPixelCount = count;
        EXPECT_EQ(decodeError(s.file, limits), std::nullopt);
    }
}

// Every cut of a file fails with an error, or (when only trailing bytes that hold
// no pixels are gone) decodes to exactly the same picture.
TEST(BadInputs, TruncationNeverGivesADifferentPicture) {
    for (const auto& s : samples()) {
        SCOPED_TRACE(s.name);
        const auto whole = pixels(*ImageCodecs::decode(s.file));
        for (size_t n = 0; n < s.file.size(); ++n) {
            const std::span<const uint8_t> prefix(s.file.data(), n);
            try {
                const auto rep = ImageCodecs::decode(prefix);
                ASSERT_EQ(pixels(*rep), whole) << "cut at " << n;
            } catch (const ImageCodecError&) {
            }
        }
    }
}

// Damaged bytes anywhere end in an error or a picture of the announced size;
// the sanitizers watch for anything worse.
TEST(BadInputs, DamagedBytesAreContained) {
    std::mt19937 random(1234);
    for (const auto& s : samples()) {
        SCOPED_TRACE(s.name);
        for (int round = 0; round < 300; ++round) {
            auto file = s.file;
            const int flips = 1 + int(random() % 4);
            for (int i = 0; i < flips; ++i) {
                file[random() % file.size()] ^= uint8_t(1 + random() % 255);
            }
            try {
                const auto info = ImageCodecs::readInfo(file);
                const auto rep = ImageCodecs::decode(file);
                EXPECT_EQ(rep->pixelsWide(), info.pixelsWide);
                EXPECT_EQ(rep->pixelsHigh(), info.pixelsHigh);
            } catch (const ImageCodecError&) {
            }
        }
    }
}

TEST(BadInputs, HeaderIsReadWithoutThePixels) {
    // The header alone tells the size and form, before any pixel data arrives.
    // (Our TIFFs keep their directory after the pixels; JPEG frame headers follow the profile.)
    const std::map<std::string, size_t> headerBytes = {{"PNG", 33}, {"GIF", 25}, {"BMP", 54}};
    for (const auto& s : samples()) {
        const auto cut = headerBytes.find(s.name);
        if (cut == headerBytes.end()) {
            continue;
        }
        SCOPED_TRACE(s.name);
        const auto whole = ImageCodecs::readInfo(s.file);
        const std::vector<uint8_t> head(s.file.begin(), s.file.begin() + cut->second);
        const auto early = ImageCodecs::readInfo(head);
        EXPECT_EQ(early.pixelsWide, whole.pixelsWide);
        EXPECT_EQ(early.pixelsHigh, whole.pixelsHigh);
        EXPECT_EQ(early.formatText(), whole.formatText());
        EXPECT_NE(decodeError(head), std::nullopt);
    }
}

// Library diagnostics go into our error values, never to the terminal.
TEST(BadInputs, DecodersWriteNothingToStandardError) {
    std::fflush(stderr);
    std::FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);
    const int saved = dup(2);
    dup2(fileno(capture), 2);
    std::mt19937 random(99);
    for (const auto& s : samples()) {
        for (int round = 0; round < 40; ++round) {
            auto file = s.file;
            file[random() % file.size()] ^= 0x5A;
            const size_t keep = file.size() / 2 + random() % (file.size() / 2 + 1);
            file.erase(file.begin() + long(keep), file.end());
            decodeError(file);
            try {
                ImageCodecs::readInfo(file);
            } catch (const ImageCodecError&) {
            }
        }
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fseek(capture, 0, SEEK_END);
    const long written = std::ftell(capture);
    std::rewind(capture);
    std::string text(size_t(std::max(written, 0L)), '\0');
    std::fread(text.data(), 1, text.size(), capture);
    std::fclose(capture);
    EXPECT_EQ(written, 0) << text;
}
