#include "gpu/cpu/CPUBlitCommandEncoder.hpp"

#include "foundation/CheckedMath.hpp"
#include "gpu/cpu/CPUBuffer.hpp"
#include "gpu/cpu/Workers.hpp"

#include <cstring>

namespace velmora::cpu {

namespace {
bool inside(MTLOrigin o, MTLSize s, const MTLTexture& t) {
    return o.x >= 0 && o.y >= 0 && o.z == 0 && s.width <= t.width() - o.x &&
           s.height <= t.height() - o.y;
}

bool overlaps(MTLOrigin a, MTLOrigin b, MTLSize s) {
    return a.x < b.x + s.width && b.x < a.x + s.width && a.y < b.y + s.height &&
           b.y < a.y + s.height;
}
} // namespace

void CPUBlitCommandEncoder::copyFromTexture(std::shared_ptr<MTLTexture> source, int64_t sourceSlice,
                                            int64_t sourceLevel, MTLOrigin sourceOrigin,
                                            MTLSize sourceSize,
                                            std::shared_ptr<MTLTexture> destination,
                                            int64_t destinationSlice, int64_t destinationLevel,
                                            MTLOrigin destinationOrigin) {
    checkOpen();
    precondition(source != nullptr && destination != nullptr, "Texture copy without a texture");
    precondition(sourceSlice == 0 && sourceLevel == 0 && destinationSlice == 0 &&
                     destinationLevel == 0,
                 "Texture copy from a slice or level that does not exist");
    precondition(source->pixelFormat() == destination->pixelFormat(),
                 "Texture copy between different pixel formats");
    precondition(sourceSize.width >= 0 && sourceSize.height >= 0 && sourceSize.depth == 1,
                 "Texture copy of an invalid size");
    precondition(inside(sourceOrigin, sourceSize, *source),
                 "Texture copy region outside the source texture");
    precondition(inside(destinationOrigin, sourceSize, *destination),
                 "Texture copy region outside the destination texture");
    precondition(source != destination || !overlaps(sourceOrigin, destinationOrigin, sourceSize),
                 "Texture copy between overlapping regions of one texture");
    buffer_->useResource(source);
    buffer_->useResource(destination);
    buffer_->addCommand([=] {
        const auto src = source->contentsForReading();
        const auto dst = destination->contents({destinationOrigin, sourceSize});
        const auto rowBytes = static_cast<size_t>(sourceSize.width * src.bytesPerPixel);
        if (rowBytes == 0) {
            return;
        }
        parallelRows(0, sourceSize.height, [&](int64_t r0, int64_t r1) {
            for (int64_t r = r0; r < r1; ++r) {
                std::memcpy(
                    dst.row(destinationOrigin.y + r) + destinationOrigin.x * dst.bytesPerPixel,
                    src.row(sourceOrigin.y + r) + sourceOrigin.x * src.bytesPerPixel, rowBytes);
            }
        });
    });
}

void CPUBlitCommandEncoder::copyFromTexture(std::shared_ptr<MTLTexture> source,
                                            std::shared_ptr<MTLTexture> destination) {
    precondition(source != nullptr && destination != nullptr, "Texture copy without a texture");
    precondition(source->width() == destination->width() &&
                     source->height() == destination->height(),
                 "Texture copy between textures of different sizes");
    copyFromTexture(source, 0, 0, {0, 0, 0}, {source->width(), source->height(), 1}, destination, 0,
                    0, {0, 0, 0});
}

void CPUBlitCommandEncoder::synchronizeResource(std::shared_ptr<MTLResource> resource) {
    checkOpen();
    precondition(resource != nullptr, "synchronizeResource without a resource");
    // Host and device share memory here: ordering on the timeline is all it takes.
    buffer_->useResource(resource);
}

void CPUBlitCommandEncoder::fillBuffer(std::shared_ptr<MTLBuffer> buffer, NSRange range,
                                       uint8_t value) {
    checkOpen();
    precondition(buffer != nullptr, "fillBuffer without a buffer");
    precondition(range.location <= static_cast<uint64_t>(buffer->length()) &&
                     range.length <= static_cast<uint64_t>(buffer->length()) - range.location,
                 "fillBuffer range outside the buffer");
    buffer_->useResource(buffer);
    buffer_->addCommand([buffer, range, value] {
        auto* b = dynamic_cast<CPUBuffer*>(buffer.get());
        precondition(b != nullptr, "Buffer of another device");
        std::memset(b->storage().data() + range.location, value, range.length);
    });
}

} // namespace velmora::cpu
