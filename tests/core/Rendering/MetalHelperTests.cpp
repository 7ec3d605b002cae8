#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/CIImage.hpp"

#include <array>
#include <chrono>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace velmora;
using Kind = MTLCommandTraceEntry::Kind;

namespace {

MetalHelper& helper() {
    return *MetalHelper::shared();
}

std::shared_ptr<MTLTexture> managed(int64_t w, int64_t h,
                                    MTLPixelFormat format = MTLPixelFormat::rgba8Unorm,
                                    std::optional<std::string> label = std::nullopt) {
    return helper().makeTexture({w, h, 1}, MTLTextureUsage::shaderReadWrite,
                                MTLStorageMode::managed, format, label);
}

std::vector<uint8_t> readAll(const MTLTexture& t) {
    const int64_t bpr = t.width() * const_cast<MTLTexture&>(t).contents().bytesPerPixel;
    std::vector<uint8_t> out(static_cast<size_t>(bpr * t.height()));
    t.getBytes(out.data(), bpr, MTLRegionMake2D(0, 0, t.width(), t.height()), 0);
    return out;
}

void setAll(MTLTexture& t, uint8_t value) {
    std::vector<uint8_t> bytes(static_cast<size_t>(t.width() * t.height() * 4), value);
    t.replaceRegion(MTLRegionMake2D(0, 0, t.width(), t.height()), 0, bytes.data(), t.width() * 4);
}

std::array<uint8_t, 4> pixel(const std::vector<uint8_t>& bytes, int64_t width, int64_t x,
                             int64_t y) {
    const auto* p = &bytes[(y * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

// Rows top first, each pixel different, so a flip or a transposition shows.
std::shared_ptr<NSBitmapImageRep> asymmetricBitmap(int64_t w, int64_t h) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->row(y) + 4 * x;
            p[0] = static_cast<uint8_t>(10 * x + 1);
            p[1] = static_cast<uint8_t>(40 * y + 2);
            p[2] = static_cast<uint8_t>(x * y + 3);
            p[3] = 255;
        }
    }
    return bitmap;
}

TEST(MetalHelper, FillWritesOnlyTheClippedRegion) {
    auto texture = managed(100, 50);
    setAll(*texture, 9);
    std::vector<MTLCommandTraceEntry> trace;
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.fill(texture, *NSColor::colorWithSRGBRed(1, 0, 0.5, 1), MTLRegionMake2D(90, -5, 30, 10),
               cb);
        trace = cb->debugTrace();
    });
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], (MTLCommandTraceEntry{Kind::computeEncoder, "Fill texture with color"}));
    EXPECT_EQ(trace[1].threadgroups, (MTLSize{7, 4, 1}));
    EXPECT_EQ(trace[1].threadsPerThreadgroup, (MTLSize{16, 16, 1}));
    const auto bytes = readAll(*texture);
    for (int64_t y = 0; y < 50; ++y) {
        for (int64_t x = 0; x < 100; ++x) {
            const bool inside = x >= 90 && y < 5;
            const std::array<uint8_t, 4> want = inside ? std::array<uint8_t, 4>{255, 0, 128, 255}
                                                       : std::array<uint8_t, 4>{9, 9, 9, 9};
            ASSERT_EQ(pixel(bytes, 100, x, y), want) << x << "," << y;
        }
    }
}

TEST(MetalHelper, FillConvertsTheColourIntoTheWorkingSpace) {
    auto texture = managed(2, 2);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.fill(texture, *NSColor::colorWithDisplayP3Red(1, 0, 0, 0.5), MTLRegionMake2D(0, 0, 2, 2),
               cb);
    });
    const auto p = pixel(readAll(*texture), 2, 1, 1);
    // Display P3 red lies outside sRGB: red saturates, alpha stays.
    EXPECT_EQ(p[0], 255);
    EXPECT_LT(p[1], 10);
    EXPECT_EQ(p[3], 128);
}

TEST(MetalHelper, MakeBitmapCopiesRowsAsTheyAreInTheWorkingSpace) {
    auto texture = managed(3, 2);
    std::vector<uint8_t> bytes(24);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7);
    }
    texture->replaceRegion(MTLRegionMake2D(0, 0, 3, 2), 0, bytes.data(), 12);
    const auto bitmap = helper().makeBitmap(texture);
    EXPECT_EQ(bitmap->pixelsWide(), 3);
    EXPECT_EQ(bitmap->pixelsHigh(), 2);
    EXPECT_EQ(bitmap->bytesPerRow(), 12);
    EXPECT_EQ(bitmap->bitsPerPixel(), 32);
    EXPECT_EQ(bitmap->bitsPerSample(), 8);
    EXPECT_EQ(bitmap->samplesPerPixel(), 4);
    EXPECT_TRUE(bitmap->hasAlpha());
    EXPECT_FALSE(bitmap->isAlphaPremultiplied());
    EXPECT_TRUE(*bitmap->colorSpace() == *ColorManagement::workingNSColorSpace());
    EXPECT_EQ(std::memcmp(bitmap->bitmapData(), bytes.data(), 24), 0);
}

TEST(MetalHelper, BitmapRoundTripKeepsEveryPixelAndRowOrder) {
    const auto bitmap = asymmetricBitmap(5, 4);
    // Upload: the loader's origin is the bottom left, so row 0 is the bitmap's last row.
    auto uploaded = helper().makeTexture(*bitmap, ColorManagement::workingColorSpace());
    EXPECT_EQ(uploaded->storageMode(), MTLStorageMode::private_);
    EXPECT_EQ(uploaded->pixelFormat(), MTLPixelFormat::rgba8Unorm);
    EXPECT_FALSE(uploaded->label().has_value());
    auto readable = managed(5, 4);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.paste(uploaded, std::nullopt, MTLOriginZero, readable, cb);
    });
    const auto snapshot = helper().makeBitmap(readable);
    for (int64_t r = 0; r < 4; ++r) {
        EXPECT_EQ(std::memcmp(snapshot->row(r), bitmap->row(3 - r), 20), 0) << r;
    }
    // A snapshot goes back as it came out.
    auto restored = managed(5, 4);
    helper().replaceContents(restored, *snapshot);
    EXPECT_EQ(readAll(*restored), readAll(*readable));
}

TEST(MetalHelper, PasteConvertsTheBitmapIntoTheDestinationSpace) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(1, 1, NSColorSpace::displayP3ColorSpace());
    const uint8_t red[4] = {255, 0, 0, 200};
    std::memcpy(bitmap->row(0), red, 4);
    auto texture = managed(1, 1);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.paste(*bitmap, texture, CGColorSpace::sRGB(), cb);
        const auto trace = cb->debugTrace();
        ASSERT_EQ(trace.size(), 1u);
        EXPECT_EQ(trace[0].label, "Convert input image to " + CGColorSpace::sRGB()->description());
    });
    const auto p = readAll(*texture);
    EXPECT_EQ(p[0], 255);
    EXPECT_LT(p[1], 10);
    EXPECT_EQ(p[3], 200);
}

TEST(MetalHelper, PasteLabelsAndCopiesTheWholeSourceByDefault) {
    auto source = managed(3, 2);
    auto destination = managed(6, 4);
    setAll(*source, 200);
    setAll(*destination, 1);
    std::vector<MTLCommandTraceEntry> trace;
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.paste(source, std::nullopt, {2, 1, 0}, destination, cb);
        source->setLabel("Stroke texture");
        destination->setLabel("Rendered Canvas output");
        h.paste(source, MTLRegionMake2D(1, 0, 1, 1), {0, 0, 0}, destination, cb);
        trace = cb->debugTrace();
    });
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].label, "Paste 'texture' subrect {(0, 0), 3 x 2} to 'another texture'");
    EXPECT_EQ(trace[1].label,
              "Paste 'Stroke texture' subrect {(1, 0), 1 x 1} to 'Rendered Canvas output'");
    const auto bytes = readAll(*destination);
    for (int64_t y = 0; y < 4; ++y) {
        for (int64_t x = 0; x < 6; ++x) {
            const bool copied = (x >= 2 && x < 5 && y >= 1 && y < 3) || (x == 0 && y == 0);
            EXPECT_EQ(pixel(bytes, 6, x, y)[0], copied ? 200 : 1) << x << "," << y;
        }
    }
}

TEST(MetalHelper, ConvertMovesTheRegionToTheOriginInTheDestinationFormat) {
    auto source = managed(4, 3, MTLPixelFormat::rgba32Float);
    std::vector<float> values;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            values.insert(values.end(), {x / 4.0f, y / 4.0f, 1.0f, 0.5f});
        }
    }
    source->replaceRegion(MTLRegionMake2D(0, 0, 4, 3), 0, values.data(), 64);
    auto destination = managed(2, 2);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.convert(source, MTLRegionMake2D(2, 1, 2, 2), destination, cb);
        EXPECT_EQ(cb->debugTrace().at(0).label, "Convert pixel format");
    });
    const auto bytes = readAll(*destination);
    const auto q = [](float v) { return static_cast<uint8_t>(v * 255.0f + 0.5f); };
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(pixel(bytes, 2, x, y),
                      (std::array<uint8_t, 4>{q((x + 2) / 4.0f), q((y + 1) / 4.0f), 255, 128}))
                << x << "," << y;
        }
    }
}

CIImage textureImage(const std::shared_ptr<MTLTexture>& t) {
    return CIImage::withTexture(t)->premultiplyingAlpha();
}

TEST(MetalHelper, RenderOfAnEmptyImageClearsTheRegion) {
    auto texture = managed(8, 8);
    setAll(*texture, 77);
    std::vector<MTLCommandTraceEntry> trace;
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.render(CIImage::empty(), texture, {2, 3, 0}, MTLRegionMake2D(0, 0, 4, 2), cb);
        trace = cb->debugTrace();
    });
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], (MTLCommandTraceEntry{Kind::pushDebugGroup, "Render CIImage"}));
    EXPECT_EQ(trace[1].label, "Fill texture with color");
    EXPECT_EQ(trace[3].kind, Kind::popDebugGroup);
    const auto bytes = readAll(*texture);
    for (int64_t y = 0; y < 8; ++y) {
        for (int64_t x = 0; x < 8; ++x) {
            const bool cleared = x >= 2 && x < 6 && y >= 3 && y < 5;
            EXPECT_EQ(pixel(bytes, 8, x, y)[3], cleared ? 0 : 77) << x << "," << y;
        }
    }
}

TEST(MetalHelper, RenderOutsideTheTextureEncodesOnlyTheDebugGroup) {
    auto texture = managed(8, 8);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.render(CIImage::empty(), texture, {8, 0, 0}, MTLRegionMake2D(0, 0, 4, 4), cb, "Blend");
        const auto trace = cb->debugTrace();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0], (MTLCommandTraceEntry{Kind::pushDebugGroup, "Blend"}));
        EXPECT_EQ(trace[1].kind, Kind::popDebugGroup);
    });
}

TEST(MetalHelper, RenderJudgesTheImageInItsOwnSpace) {
    // The picture lies at (100, 100), far outside the 8 x 8 destination; the region
    // asks for it and places it at (2, 2).
    auto source = managed(4, 4);
    setAll(*source, 255);
    const auto image =
        textureImage(source).transformed(CGAffineTransform::makeTranslation(100, 100));
    auto texture = managed(8, 8);
    setAll(*texture, 0);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.render(image, texture, {2, 2, 0}, MTLRegionMake2D(100, 100, 4, 4), cb);
    });
    const auto bytes = readAll(*texture);
    for (int64_t y = 0; y < 8; ++y) {
        for (int64_t x = 0; x < 8; ++x) {
            const bool drawn = x >= 2 && x < 6 && y >= 2 && y < 6;
            EXPECT_EQ(pixel(bytes, 8, x, y)[3], drawn ? 255 : 0) << x << "," << y;
        }
    }
}

TEST(MetalHelper, RenderPlacesTheRegionAtTheOriginWithRowsUpward) {
    const auto bitmap = asymmetricBitmap(4, 4);
    auto source = helper().makeTexture(*bitmap, ColorManagement::workingColorSpace());
    auto texture = managed(6, 6);
    setAll(*texture, 0);
    helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
        h.render(textureImage(source), texture, {3, 1, 0}, MTLRegionMake2D(1, 1, 3, 3), cb);
    });
    const auto bytes = readAll(*texture);
    // Texture row r of the source is the bitmap's row 3 - r.
    for (int64_t y = 0; y < 6; ++y) {
        for (int64_t x = 0; x < 6; ++x) {
            std::array<uint8_t, 4> want{0, 0, 0, 0};
            if (x >= 3 && y >= 1 && y < 4) {
                const uint8_t* p = bitmap->row(3 - (y - 1 + 1)) + 4 * (x - 3 + 1);
                want = {p[0], p[1], p[2], p[3]};
            }
            EXPECT_EQ(pixel(bytes, 6, x, y), want) << x << "," << y;
        }
    }
}

TEST(MetalHelper, TransferTexturesAreReusedAndReplacedSafely) {
    auto& h = helper();
    auto first = h.transferTexture("paste bitmap", {4, 4, 1}, MTLPixelFormat::rgba8Unorm);
    EXPECT_EQ(h.transferTexture("paste bitmap", {4, 4, 1}, MTLPixelFormat::rgba8Unorm), first);
    EXPECT_EQ(first->label(), "paste bitmap");
    EXPECT_EQ(first->storageMode(), MTLStorageMode::managed);
    EXPECT_EQ(first->usage(), MTLTextureUsage::shaderReadWrite);
    setAll(*first, 42);
    // A copy from the first texture waits in the queue while the name is asked for
    // with another size; the pending copy still reads the first texture.
    auto destination = managed(4, 4);
    std::promise<void> release;
    auto released = release.get_future().share();
    auto cb = h.commandQueue()->commandBuffer();
    cb->encodeHostCommand("stall", [released] { released.wait(); }, {});
    h.paste(first, std::nullopt, MTLOriginZero, destination, cb);
    cb->commit();
    std::weak_ptr<MTLTexture> weakFirst = first;
    first.reset();
    auto second = h.transferTexture("paste bitmap", {8, 4, 1}, MTLPixelFormat::rgba8Unorm);
    EXPECT_NE(second.get(), nullptr);
    EXPECT_FALSE(weakFirst.expired()); // the pending copy keeps it
    release.set_value();
    cb->waitUntilCompleted();
    EXPECT_EQ(pixel(readAll(*destination), 4, 3, 3), (std::array<uint8_t, 4>{42, 42, 42, 42}));
    EXPECT_TRUE(weakFirst.expired());
}

TEST(MetalHelper, ReplaceContentsWaitsForAQueuedCopyOfTheTransferTexture) {
    auto& h = helper();
    auto transfer = h.transferTexture("paste bitmap", {5, 4, 1}, MTLPixelFormat::rgba8Unorm);
    const auto first = asymmetricBitmap(5, 4);
    h.replaceContents(transfer, *first);
    auto destination = managed(5, 4);
    std::promise<void> release;
    auto released = release.get_future().share();
    auto cb = h.commandQueue()->commandBuffer();
    cb->encodeHostCommand("stall", [released] { released.wait(); }, {});
    h.paste(transfer, std::nullopt, MTLOriginZero, destination, cb);
    cb->commit();
    auto second = NSBitmapImageRep::makeRGBA8(5, 4, ColorManagement::workingNSColorSpace());
    std::thread writer([&] { h.replaceContents(transfer, *second); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release.set_value();
    writer.join();
    cb->waitUntilCompleted();
    const auto bytes = readAll(*destination);
    EXPECT_EQ(std::memcmp(bytes.data(), first->bitmapData(), bytes.size()), 0);
}

TEST(MetalHelper, AFailedCommandBufferIsReportedToTheWaitingCaller) {
    EXPECT_THROW(helper().execute([](MetalHelper&, const std::shared_ptr<MTLCommandBuffer>& cb) {
        cb->encodeHostCommand("fails", [] { throw std::runtime_error("lost device"); }, {});
    }),
                 MetalHelper::CommandBufferError);
    helper().clearCaches();
}

class MetalHelperDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(MetalHelperDeathTest, FillOfARegionThatMeetsNothing) {
    auto texture = managed(10, 10);
    for (const auto& region : {MTLRegionMake2D(10, 0, 5, 5), MTLRegionMake2D(-5, 0, 5, 5),
                               MTLRegionMake2D(2, 2, 0, 5), MTLRegionMake2D(30, 30, 2, 2)}) {
        EXPECT_DEATH(
            helper().execute([&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
                h.fill(texture, *NSColor::clearColor(), region, cb);
            }),
            "Fatal error: Internal inconcistency");
    }
}

TEST_F(MetalHelperDeathTest, MakeBitmapNeedsManagedRGBA8) {
    auto privateTexture =
        helper().makeTexture({3, 2, 1}, MTLTextureUsage::shaderReadWrite, MTLStorageMode::private_,
                             MTLPixelFormat::rgba8Unorm, std::nullopt);
    EXPECT_DEATH(helper().makeBitmap(privateTexture),
                 "Cannot download data for non-managed texture");
    EXPECT_DEATH(helper().makeBitmap(managed(3, 2, MTLPixelFormat::bgra8Unorm)),
                 "Unsupported pixel format: bgra8Unorm\\. Only rgba8Unorm is supported\\.");
}

TEST_F(MetalHelperDeathTest, ConvertRefusesUselessOrMismatchedConversions) {
    auto run = [](auto body) {
        helper().execute(
            [&](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) { body(h, cb); });
    };
    EXPECT_DEATH(run([](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
                     h.convert(managed(2, 2), std::nullopt, managed(2, 2), cb);
                 }),
                 "Calling useless conversion while both texture have same pixel format");
    EXPECT_DEATH(run([](MetalHelper& h, const std::shared_ptr<MTLCommandBuffer>& cb) {
                     h.convert(managed(6, 5, MTLPixelFormat::rgba32Float),
                               MTLRegionMake2D(0, 0, 2, 3), managed(2, 2), cb);
                 }),
                 "Calling conversion with src size 6 x 5 different from destination size 2 x 2");
}

TEST_F(MetalHelperDeathTest, ReplaceContentsChecksTheBitmapAgainstTheTexture) {
    auto texture = managed(2, 2);
    const auto check = [&](const std::shared_ptr<NSBitmapImageRep>& bitmap) {
        ASSERT_NE(bitmap, nullptr);
        helper().replaceContents(texture, *bitmap);
    };
    EXPECT_DEATH(check(asymmetricBitmap(3, 2)), "Fatal error");
    EXPECT_DEATH(check(NSBitmapImageRep::make(2, 2, 8, 4, true, true, "NSDeviceRGBColorSpace",
                                              NSBitmapFormat::alphaNonpremultiplied)),
                 "Fatal error");
    EXPECT_DEATH(check(NSBitmapImageRep::make(2, 2, 16, 4, true, false, "NSDeviceRGBColorSpace",
                                              NSBitmapFormat::alphaNonpremultiplied)),
                 "Pixel format don't match: rgba8Unorm vs NSBitmapImageRep");
    EXPECT_DEATH(check(NSBitmapImageRep::make(2, 2, 8, 3, false, false, "NSDeviceRGBColorSpace")),
                 "Bitmap layout does not match");
    EXPECT_DEATH(check(NSBitmapImageRep::make(2, 2, 8, 4, true, false, "NSDeviceRGBColorSpace")),
                 "Bitmap layout does not match");
    EXPECT_DEATH(check(NSBitmapImageRep::make(2, 2, 8, 4, true, false, "NSDeviceRGBColorSpace",
                                              NSBitmapFormat::alphaNonpremultiplied |
                                                  NSBitmapFormat::alphaFirst)),
                 "Bitmap layout does not match");
}

} // namespace
