#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"

#include <cstring>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

NSBitmapImageRepRef texturedPicture(int64_t width, int64_t height, int64_t firstRow = 0) {
    auto bitmap =
        NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < height; ++y) {
        const int64_t v = y + firstRow;
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = uint8_t(x * 3 + v);
            p[1] = uint8_t((x * v) >> 4);
            p[2] = uint8_t(v * 5 - x);
            p[3] = 255;
        }
    }
    return bitmap;
}

// A large picture is encoded in bands joined by restart markers: libjpeg reads
// it as one picture whose every band decodes to the pixels of the same rows
// encoded as a picture of their own (the same coefficients).
TEST(JpegBands, JoinedBandsDecodeLikeTheirRowsAlone) {
    const int64_t width = 1100, height = 1000;
    for (const double quality : {1.0, 0.75}) {
        SCOPED_TRACE(quality);
        ImageEncodingProperties properties;
        properties.compressionFactor = quality;
        const auto file = ImageCodecs::encode(*texturedPicture(width, height),
                                              NSBitmapImageFileType::jpeg, properties);
        // Markers of the scan (after SOS; stuffed 0xFF bytes are followed by 0):
        // a restart after every MCU row but the last, numbered 0 to 7 in turn.
        std::vector<int> restarts;
        bool inScan = false;
        for (size_t i = 2; i + 1 < file.size(); ++i) {
            if (file[i] != 0xFF) {
                continue;
            }
            inScan = inScan || file[i + 1] == 0xDA;
            if (inScan && file[i + 1] >= 0xD0 && file[i + 1] <= 0xD7) {
                restarts.push_back(file[i + 1] - 0xD0);
            }
        }
        const int64_t mcuHeight = quality < 0.9 ? 16 : 8;
        ASSERT_EQ(int64_t(restarts.size()), (height + mcuHeight - 1) / mcuHeight - 1);
        for (size_t i = 0; i < restarts.size(); ++i) {
            ASSERT_EQ(restarts[i], int(i % 8)) << "restart " << i;
        }
        const auto whole = ImageCodecs::decode(file);
        ASSERT_NE(whole, nullptr);
        ASSERT_EQ(whole->pixelsWide(), width);
        ASSERT_EQ(whole->pixelsHigh(), height);
        // Chroma is smoothed across rows when it was halved: compare away from band edges.
        const int64_t margin = quality < 0.9 ? 16 : 0;
        for (const int64_t first : {int64_t(0), int64_t(256), int64_t(768)}) {
            const int64_t rows = std::min<int64_t>(256, height - first);
            const auto alone = ImageCodecs::decode(ImageCodecs::encode(
                *texturedPicture(width, rows, first), NSBitmapImageFileType::jpeg, properties));
            ASSERT_NE(alone, nullptr);
            for (int64_t y = margin; y < rows - margin; ++y) {
                ASSERT_EQ(std::memcmp(whole->row(first + y), alone->row(y), size_t(width) * 4), 0)
                    << "row " << first + y;
            }
        }
    }
}

} // namespace
