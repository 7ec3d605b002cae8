#include "Rendering/TexturePool.hpp"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct Request {
    MTLSize size{8, 4, 1};
    MTLTextureUsage usage = MTLTextureUsage::shaderReadWrite;
    MTLStorageMode storage = MTLStorageMode::managed;
    MTLPixelFormat format = MTLPixelFormat::rgba8Unorm;
};

std::shared_ptr<MTLTexture> ask(TexturePool& pool, const std::string& label, const Request& r) {
    return pool.texture(label, r.size, r.usage, r.storage, r.format);
}

TEST(TexturePool, HandsOutTheSameTextureWhileThePropertiesMatch) {
    TexturePool pool;
    auto first = ask(pool, "beforeStroke8u", {});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->label(), "beforeStroke8u");
    EXPECT_EQ(first->width(), 8);
    EXPECT_EQ(first->height(), 4);
    EXPECT_EQ(first->usage(), MTLTextureUsage::shaderReadWrite);
    EXPECT_EQ(first->storageMode(), MTLStorageMode::managed);
    EXPECT_EQ(ask(pool, "beforeStroke8u", {}), first);
    // Equal properties under another label: another texture.
    auto other = ask(pool, "afterStroke8u", {});
    EXPECT_NE(other, first);
    EXPECT_EQ(pool.pool().size(), 2u);
}

TEST(TexturePool, AnyDifferentPropertyReplacesTheTextureUnderItsLabel) {
    const std::pair<const char*, Request> changes[] = {
        {"size", {.size = {9, 4, 1}}},
        {"usage subset", {.usage = MTLTextureUsage::shaderRead}},
        {"storage", {.storage = MTLStorageMode::private_}},
        {"format", {.format = MTLPixelFormat::rgba32Float}},
    };
    for (const auto& [what, changed] : changes) {
        TexturePool pool;
        auto first = ask(pool, "Rendered Layer", {});
        auto second = ask(pool, "Rendered Layer", changed);
        EXPECT_NE(second, first) << what;
        EXPECT_EQ(ask(pool, "Rendered Layer", changed), second) << what;
        EXPECT_EQ(pool.pool().at("Rendered Layer"), second) << what;
        EXPECT_NE(ask(pool, "Rendered Layer", {}), first) << what;
    }
}

TEST(TexturePool, ADepthOtherThanOneNeverMatches) {
    TexturePool pool;
    const Request deep{.size = {8, 4, 2}};
    auto first = ask(pool, "paste bitmap", deep);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->depth(), 1);
    EXPECT_NE(ask(pool, "paste bitmap", deep), first);
}

} // namespace
