#include "TestPictures.hpp"
#include "graphics/ImageCodecs.hpp"

#include <gtest/gtest.h>
#include <thread>

using namespace velmora;
using namespace velmora::test;

// Files are encoded and decoded on background queues; colour transforms and
// profiles are shared between them.
TEST(CodecConcurrency, ParallelDecodesOfTaggedFilesAgree) {
    const auto p3 = quadrantPicture(16, 16)->converting(NSColorSpace::displayP3ColorSpace());
    ImageEncodingProperties lzw;
    lzw.compressionMethod = 5;
    const std::vector<std::vector<uint8_t>> files = {
        ImageCodecs::encode(*p3, NSBitmapImageFileType::tiff, lzw),
        ImageCodecs::encode(*p3, NSBitmapImageFileType::png),
    };
    const auto expected = pixels(*ImageCodecs::decode(files[0]));
    std::vector<int> mismatches(6, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const auto& file = files[(t + i) % files.size()];
                if (pixels(*ImageCodecs::decode(file)) != expected) {
                    ++mismatches[t];
                }
                ImageCodecs::encode(*p3, NSBitmapImageFileType::jpeg);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (size_t t = 0; t < mismatches.size(); ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}
