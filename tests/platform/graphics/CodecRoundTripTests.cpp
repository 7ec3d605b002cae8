#include "TestPictures.hpp"
#include "graphics/ImageCodecs.hpp"
#include "graphics/PixelConversion.hpp"

#include <algorithm>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

struct Writer {
    const char* name;
    NSBitmapImageFileType type;
    ImageEncodingProperties properties;
};

std::vector<Writer> losslessWriters() {
    ImageEncodingProperties lzw;
    lzw.compressionMethod = 5;
    lzw.compressionFactor = 0.99;
    ImageEncodingProperties packBits;
    packBits.compressionMethod = 32773;
    return {{"TIFF LZW", NSBitmapImageFileType::tiff, lzw},
            {"TIFF plain", NSBitmapImageFileType::tiff, {}},
            {"TIFF PackBits", NSBitmapImageFileType::tiff, packBits},
            {"PNG", NSBitmapImageFileType::png, {}}};
}

} // namespace

TEST(CodecRoundTrip, LosslessWritersKeepEveryPixelAndOrientation) {
    const auto picture = asymmetricPicture();
    for (const auto& w : losslessWriters()) {
        SCOPED_TRACE(w.name);
        const auto file = ImageCodecs::encode(*picture, w.type, w.properties);
        EXPECT_EQ(ImageCodecs::fileTypeOf(file), w.type);

        const auto info = ImageCodecs::readInfo(file);
        EXPECT_EQ(info.pixelsWide, 13);
        EXPECT_EQ(info.pixelsHigh, 9);
        EXPECT_EQ(info.formatText(), "RGB 8 bits");

        const auto decoded = ImageCodecs::decode(file);
        ASSERT_NE(decoded, nullptr);
        EXPECT_EQ(decoded->pixelSize(), (MTLSize{13, 9, 1}));
        EXPECT_EQ(decoded->size(), (CGSize{13, 9}));
        EXPECT_EQ(decoded->bitsPerSample(), 8);
        EXPECT_EQ(decoded->samplesPerPixel(), 4);
        EXPECT_FALSE(decoded->isAlphaPremultiplied());
        EXPECT_EQ(*decoded->colorSpace(), *ColorManagement::workingNSColorSpace());
        EXPECT_EQ(pixels(*decoded), pixels(*picture));
    }
}

TEST(CodecRoundTrip, JpegAtFullQualityKeepsThePicture) {
    const auto picture = quadrantPicture();
    ImageEncodingProperties properties;
    properties.compressionFactor = 1.0;
    const auto file = ImageCodecs::encode(*picture, NSBitmapImageFileType::jpeg, properties);
    const auto decoded = ImageCodecs::decode(file);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->pixelSize(), (MTLSize{32, 24, 1}));
    // Inside each quadrant (away from the edges where ringing lives) colours hold.
    for (int64_t y : {3, 20}) {
        for (int64_t x : {4, 27}) {
            const uint8_t* want = pixelAt(*picture, x, y);
            const uint8_t* got = pixelAt(*decoded, x, y);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(got[c], want[c], 3) << x << "," << y << " channel " << c;
            }
            EXPECT_EQ(got[3], 255);
        }
    }
    // Lower quality gives a smaller file.
    properties.compressionFactor = 0.3;
    EXPECT_LT(ImageCodecs::encode(*picture, NSBitmapImageFileType::jpeg, properties).size(),
              file.size());
}

TEST(CodecRoundTrip, JpegShowsTranslucentPixelsOverBlack) {
    auto picture = quadrantPicture(16, 16);
    for (int64_t y = 0; y < 16; ++y) {
        for (int64_t x = 0; x < 16; ++x) {
            picture->row(y)[x * 4 + 3] = 0;
        }
    }
    const auto decoded =
        ImageCodecs::decode(ImageCodecs::encode(*picture, NSBitmapImageFileType::jpeg));
    for (int c = 0; c < 3; ++c) {
        EXPECT_LE(pixelAt(*decoded, 8, 8)[c], 2);
    }
}

// A picture tagged Display P3 is written with the P3 profile and read back as sRGB.
TEST(CodecRoundTrip, EmbeddedProfileIsReadBackIntoTheWorkingSpace) {
    const auto srgb = quadrantPicture(16, 16);
    const auto p3 = srgb->converting(NSColorSpace::displayP3ColorSpace());
    ASSERT_NE(p3, nullptr);
    ASSERT_NE(pixels(*p3), pixels(*srgb));
    auto writers = losslessWriters();
    ImageEncodingProperties best;
    best.compressionFactor = 1.0;
    writers.push_back({"JPEG", NSBitmapImageFileType::jpeg, best});
    for (const auto& w : writers) {
        SCOPED_TRACE(w.name);
        const auto decoded = ImageCodecs::decode(ImageCodecs::encode(*p3, w.type, w.properties));
        EXPECT_EQ(*decoded->colorSpace(), *ColorManagement::workingNSColorSpace());
        const int tolerance = w.type == NSBitmapImageFileType::jpeg ? 4 : 2;
        for (int64_t y : {2, 13}) {
            for (int64_t x : {2, 13}) {
                for (int c = 0; c < 4; ++c) {
                    EXPECT_NEAR(pixelAt(*decoded, x, y)[c], pixelAt(*srgb, x, y)[c], tolerance)
                        << x << "," << y << " channel " << c;
                }
            }
        }
    }
}

TEST(CodecRoundTrip, ExportProfileConvertsThePixelsIntoIt) {
    // Exports pass the working space's profile; for a working-space bitmap that is exact.
    const auto picture = asymmetricPicture();
    ImageEncodingProperties properties;
    properties.colorSyncProfileData = ColorManagement::workingNSColorSpace()->iccProfileData();
    properties.compressionMethod = 5;
    for (auto type : {NSBitmapImageFileType::tiff, NSBitmapImageFileType::png}) {
        const auto decoded = ImageCodecs::decode(ImageCodecs::encode(*picture, type, properties));
        EXPECT_EQ(pixels(*decoded), pixels(*picture));
    }
    // Bytes that are no profile are refused rather than embedded.
    properties.colorSyncProfileData = std::vector<uint8_t>(300, 7);
    EXPECT_EQ(picture->representation(NSBitmapImageFileType::tiff, properties), std::nullopt);
}

TEST(CodecRoundTrip, PremultipliedAndOpaqueBitmapsAreWrittenStraight) {
    auto premultiplied =
        NSBitmapImageRep::make(2, 1, 8, 4, true, false, NSColorSpaceNames::deviceRGB);
    const uint8_t values[8] = {100, 50, 0, 200, 0, 0, 0, 0};
    std::copy(values, values + 8, premultiplied->bitmapData());
    auto opaque = NSBitmapImageRep::make(2, 1, 8, 3, false, false, NSColorSpaceNames::deviceRGB);
    const uint8_t rgb[6] = {1, 2, 3, 250, 251, 252};
    std::copy(rgb, rgb + 6, opaque->bitmapData());
    for (auto type : {NSBitmapImageFileType::tiff, NSBitmapImageFileType::png}) {
        auto a = ImageCodecs::decode(ImageCodecs::encode(*premultiplied, type));
        EXPECT_EQ(pixels(*a), (std::vector<uint8_t>{128, 64, 0, 200, 0, 0, 0, 0}));
        auto b = ImageCodecs::decode(ImageCodecs::encode(*opaque, type));
        EXPECT_EQ(pixels(*b), (std::vector<uint8_t>{1, 2, 3, 255, 250, 251, 252, 255}));
    }
}

TEST(CodecRoundTrip, PointSizeFollowsTheResolution) {
    auto picture = asymmetricPicture(8, 6);
    picture->setSize({4, 3}); // 144 dpi
    ImageEncodingProperties best;
    best.compressionFactor = 1.0;
    for (auto type :
         {NSBitmapImageFileType::tiff, NSBitmapImageFileType::png, NSBitmapImageFileType::jpeg}) {
        const auto decoded = ImageCodecs::decode(ImageCodecs::encode(*picture, type, best));
        EXPECT_EQ(decoded->pixelSize(), (MTLSize{8, 6, 1})) << int(type);
        EXPECT_NEAR(decoded->size().width, 4, 0.01) << int(type);
        EXPECT_NEAR(decoded->size().height, 3, 0.01) << int(type);
    }
}

TEST(CodecRoundTrip, BitmapEntryPoints) {
    const auto picture = asymmetricPicture();
    ImageEncodingProperties lzw;
    lzw.compressionMethod = 5;
    const auto tiff = picture->representation(NSBitmapImageFileType::tiff, lzw);
    ASSERT_TRUE(tiff.has_value());
    const auto decoded = NSBitmapImageRep::imageRepWithData(*tiff);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(pixels(*decoded), pixels(*picture));
    EXPECT_EQ(NSBitmapImageRep::imageRepWithData(std::vector<uint8_t>{1, 2, 3}), nullptr);
    EXPECT_EQ(picture->representation(NSBitmapImageFileType::gif, {}), std::nullopt);
    EXPECT_EQ(picture->representation(NSBitmapImageFileType::bmp, {}), std::nullopt);
    // Unknown TIFF compression is refused.
    ImageEncodingProperties odd;
    odd.compressionMethod = 99;
    EXPECT_EQ(picture->representation(NSBitmapImageFileType::tiff, odd), std::nullopt);
    // Writing is deterministic: the same bitmap gives the same bytes.
    EXPECT_EQ(picture->representation(NSBitmapImageFileType::tiff, lzw), tiff);
}
