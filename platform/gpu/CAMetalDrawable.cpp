#include "gpu/CAMetalDrawable.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/MTKViewHost.hpp"
#include "gpu/MTLDevice.hpp"

#include <algorithm>

namespace velmora {

namespace detail {

int DrawableRing::acquire(const std::shared_ptr<MTLDevice>& device, int64_t width, int64_t height,
                          MTLPixelFormat format, std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    released_.wait_for(lock, timeout, [&] {
        return std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
    });
    for (size_t i = 0; i < slots_.size(); ++i) {
        auto& slot = slots_[i];
        if (slot.busy) {
            continue;
        }
        const auto& t = slot.texture;
        if (t == nullptr || t->width() != width || t->height() != height ||
            t->pixelFormat() != format) {
            auto d = MTLTextureDescriptor::texture2DDescriptor(format, width, height);
            d.usage = MTLTextureUsage::renderTarget | MTLTextureUsage::shaderRead;
            d.storageMode = MTLStorageMode::shared;
            slot.texture = device->newTexture(d);
            if (slot.texture == nullptr) {
                return -1;
            }
            slot.texture->setLabel("Drawable " + std::to_string(i));
        }
        slot.busy = true;
        return static_cast<int>(i);
    }
    return -1;
}

void DrawableRing::release(int index) {
    {
        std::lock_guard lock(mutex_);
        precondition(slots_.at(static_cast<size_t>(index)).busy, "Drawable released twice");
        slots_[static_cast<size_t>(index)].busy = false;
    }
    released_.notify_all();
}

std::shared_ptr<MTLTexture> DrawableRing::texture(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(static_cast<size_t>(index)).texture;
}

size_t DrawableRing::busyCount() const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& s : slots_) {
        n += s.busy ? 1 : 0;
    }
    return n;
}

} // namespace detail

CAMetalDrawable::CAMetalDrawable(std::shared_ptr<detail::DrawableRing> ring, int slot,
                                 uint64_t drawableID, std::weak_ptr<MTKViewHost> host,
                                 std::shared_ptr<MTLCommandQueue> presentQueue)
    : ring_(std::move(ring)), slot_(slot), drawableID_(drawableID), texture_(ring_->texture(slot)),
      host_(std::move(host)), presentQueue_(std::move(presentQueue)) {}

CAMetalDrawable::~CAMetalDrawable() {
    ring_->release(slot_);
}

void CAMetalDrawable::present() {
    if (presented_.exchange(true)) {
        return;
    }
    // A buffer of the same device runs after every buffer committed before it, so
    // the host sees the frame only once the work drawing it is done.
    auto buffer = presentQueue_->commandBuffer();
    precondition(buffer != nullptr, "No command buffer to present a drawable");
    buffer->setLabel("Present drawable " + std::to_string(drawableID_));
    buffer->addCompletedHandler([self = shared_from_this()](MTLCommandBuffer&) mutable {
        if (auto host = self->host_.lock()) {
            host->displayDrawable(std::move(self));
        }
    });
    buffer->commit();
}

} // namespace velmora
