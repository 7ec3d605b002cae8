#pragma once

#include "gpu/MTLBuffer.hpp"
#include "gpu/MTLCommandEncoder.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"

#include <cstdint>
#include <memory>

namespace velmora {

struct NSRange {
    uint64_t location = 0;
    uint64_t length = 0;
};

// Every copy is checked when it is encoded: differing pixel formats or a region
// outside either texture stop the program instead of touching foreign memory.
class MTLBlitCommandEncoder : public MTLCommandEncoder {
public:
    virtual void copyFromTexture(std::shared_ptr<MTLTexture> source, int64_t sourceSlice,
                                 int64_t sourceLevel, MTLOrigin sourceOrigin, MTLSize sourceSize,
                                 std::shared_ptr<MTLTexture> destination, int64_t destinationSlice,
                                 int64_t destinationLevel, MTLOrigin destinationOrigin) = 0;
    // The whole source into a destination of the same size and format.
    virtual void copyFromTexture(std::shared_ptr<MTLTexture> source,
                                 std::shared_ptr<MTLTexture> destination) = 0;
    // Makes GPU writes visible to the CPU copy of a managed resource.
    virtual void synchronizeResource(std::shared_ptr<MTLResource> resource) = 0;
    virtual void fillBuffer(std::shared_ptr<MTLBuffer> buffer, NSRange range, uint8_t value) = 0;
};

} // namespace velmora
