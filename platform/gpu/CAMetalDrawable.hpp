#pragma once

#include "gpu/MTLTexture.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

class MTKViewHost;
class MTLCommandQueue;
class MTLDevice;

namespace detail {
// The drawables of one view. A slot is busy from the moment its drawable is handed
// out until the last reference to that drawable is gone (the frame being drawn, the
// presentation in flight, the host still showing it).
class DrawableRing {
public:
    static constexpr size_t kCapacity = 3;

    struct Slot {
        std::shared_ptr<MTLTexture> texture;
        bool busy = false;
    };

    // The index of a free slot whose texture has been made to fit, waiting up to
    // `timeout` for one to come back; -1 when none did.
    int acquire(const std::shared_ptr<MTLDevice>& device, int64_t width, int64_t height,
                MTLPixelFormat format, std::chrono::nanoseconds timeout);
    void release(int index);
    std::shared_ptr<MTLTexture> texture(int index) const;
    size_t busyCount() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::array<Slot, kCapacity> slots_;
};
} // namespace detail

// What a view draws one frame into. Row 0 of its texture is the top of the view.
class CAMetalDrawable : public std::enable_shared_from_this<CAMetalDrawable> {
public:
    CAMetalDrawable(std::shared_ptr<detail::DrawableRing> ring, int slot, uint64_t drawableID,
                    std::weak_ptr<MTKViewHost> host, std::shared_ptr<MTLCommandQueue> presentQueue);
    ~CAMetalDrawable();
    CAMetalDrawable(const CAMetalDrawable&) = delete;
    CAMetalDrawable& operator=(const CAMetalDrawable&) = delete;

    const std::shared_ptr<MTLTexture>& texture() const { return texture_; }
    // Frames of a view are numbered from 1 in the order they were handed out.
    uint64_t drawableID() const { return drawableID_; }
    bool isPresented() const { return presented_.load(); }

    // Shows the drawable once every command buffer of the device committed before
    // this call has completed. A second call does nothing.
    void present();

private:
    std::shared_ptr<detail::DrawableRing> ring_;
    int slot_;
    uint64_t drawableID_;
    std::shared_ptr<MTLTexture> texture_;
    std::weak_ptr<MTKViewHost> host_;
    std::shared_ptr<MTLCommandQueue> presentQueue_;
    std::atomic<bool> presented_{false};
};

} // namespace velmora
