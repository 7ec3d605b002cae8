#include "gpu/HeadlessViewHost.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/CAMetalDrawable.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "graphics/ColorManagement.hpp"

#include <vector>

namespace velmora {

void HeadlessViewHost::displayDrawable(std::shared_ptr<CAMetalDrawable> drawable) {
    std::shared_ptr<NSBitmapImageRep> image;
    if (keepsFrames_) {
        const auto contents = drawable->texture()->contentsForReading();
        const auto layout = cpu::pixelLayout(contents.pixelFormat);
        precondition(layout.has_value(), "Drawable of an unknown pixel format");
        image = NSBitmapImageRep::makeRGBA8(contents.width, contents.height,
                                            ColorManagement::workingNSColorSpace());
        std::vector<float> row(static_cast<size_t>(contents.width) * 4);
        const auto rgba = *cpu::pixelLayout(MTLPixelFormat::rgba8Unorm);
        for (int64_t y = 0; y < contents.height; ++y) {
            cpu::loadRow(*layout, contents.row(y), row.data(), contents.width);
            cpu::storeRow(rgba, row.data(), image->row(y), contents.width);
        }
    }
    std::lock_guard lock(mutex_);
    ++count_;
    ids_.push_back(drawable->drawableID());
    if (image != nullptr) {
        frames_.push_back(std::move(image));
    }
}

uint64_t HeadlessViewHost::presentedCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

std::vector<uint64_t> HeadlessViewHost::presentedIDs() const {
    std::lock_guard lock(mutex_);
    return ids_;
}

std::vector<std::shared_ptr<NSBitmapImageRep>> HeadlessViewHost::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

std::shared_ptr<NSBitmapImageRep> HeadlessViewHost::lastFrame() const {
    std::lock_guard lock(mutex_);
    return frames_.empty() ? nullptr : frames_.back();
}

void HeadlessViewHost::clear() {
    std::lock_guard lock(mutex_);
    count_ = 0;
    ids_.clear();
    frames_.clear();
}

} // namespace velmora
