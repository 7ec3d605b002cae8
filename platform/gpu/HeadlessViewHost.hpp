#pragma once

#include "gpu/MTKViewHost.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// A host without a window: it gives every presented drawable back at once and, when
// asked to keep frames, first copies it into an 8-bit RGBA bitmap (top row first).
class HeadlessViewHost final : public MTKViewHost {
public:
    explicit HeadlessViewHost(bool keepsFrames = true) : keepsFrames_(keepsFrames) {}

    void displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) override;

    uint64_t presentedCount() const;
    // The drawable numbers of the presented frames, in order.
    std::vector<uint64_t> presentedIDs() const;
    std::vector<std::shared_ptr<NSBitmapImageRep>> frames() const;
    std::shared_ptr<NSBitmapImageRep> lastFrame() const;
    void clear();

private:
    const bool keepsFrames_;
    mutable std::mutex mutex_;
    uint64_t count_ = 0;
    std::vector<uint64_t> ids_;
    std::vector<std::shared_ptr<NSBitmapImageRep>> frames_;
};

} // namespace velmora
