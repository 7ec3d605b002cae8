#pragma once

#include "gpu/MTLBlitCommandEncoder.hpp"
#include "gpu/MTLComputeCommandEncoder.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLRenderCommandEncoder.hpp"
#include "gpu/MTLRenderPassDescriptor.hpp"
#include "gpu/MTLTexture.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class MTLDevice;
class MTLCommandQueue;

enum class MTLCommandBufferStatus : uint64_t {
    notEnqueued = 0,
    enqueued = 1,
    committed = 2,
    scheduled = 3,
    completed = 4,
    error = 5,
};

// One line of what a command buffer holds, in encoding order: encoders with their
// labels, dispatches with their sizes, debug groups. For diagnostics and tests.
struct MTLCommandTraceEntry {
    enum class Kind {
        computeEncoder,
        blitEncoder,
        renderEncoder,
        dispatch,
        pushDebugGroup,
        popDebugGroup,
        hostCommand
    };
    Kind kind = Kind::computeEncoder;
    std::optional<std::string> label;
    MTLSize threadgroups{};
    MTLSize threadsPerThreadgroup{};
    friend bool operator==(const MTLCommandTraceEntry&, const MTLCommandTraceEntry&) = default;
};

class MTLCommandBuffer {
public:
    using Handler = std::function<void(MTLCommandBuffer&)>;

    virtual ~MTLCommandBuffer() = default;

    virtual std::optional<std::string> label() const = 0;
    virtual void setLabel(std::optional<std::string> label) = 0;
    virtual MTLCommandBufferStatus status() const = 0;
    // The message of the command that failed, when status() is error.
    virtual std::optional<std::string> error() const = 0;
    virtual std::shared_ptr<MTLDevice> device() const = 0;

    virtual void pushDebugGroup(std::string name) = 0;
    virtual void popDebugGroup() = 0;

    // One encoder at a time; it must end before the next is made or the buffer commits.
    virtual std::shared_ptr<MTLBlitCommandEncoder> blitCommandEncoder() = 0;
    virtual std::shared_ptr<MTLComputeCommandEncoder> computeCommandEncoder() = 0;
    virtual std::shared_ptr<MTLRenderCommandEncoder>
    renderCommandEncoder(const MTLRenderPassDescriptor& descriptor) = 0;

    // Work done on the host at this point of the buffer's commands, on the device's
    // timeline: how image processing reads and writes textures of a CPU device.
    // `resources` are kept alive and counted as in use until the buffer completes.
    // A thrown exception fails the buffer (status error) and skips its later commands.
    virtual void encodeHostCommand(std::string label, std::function<void()> work,
                                   std::vector<std::shared_ptr<MTLResource>> resources) = 0;

    // Handlers run in commit order across every queue of the device; added before commit.
    virtual void addScheduledHandler(Handler handler) = 0;
    virtual void addCompletedHandler(Handler handler) = 0;
    virtual void commit() = 0;
    virtual void waitUntilScheduled() = 0;
    // Returns once the commands ran and every completed handler returned.
    virtual void waitUntilCompleted() = 0;

    virtual std::vector<MTLCommandTraceEntry> debugTrace() const = 0;
};

class MTLCommandQueue {
public:
    virtual ~MTLCommandQueue() = default;

    virtual std::optional<std::string> label() const = 0;
    virtual void setLabel(std::optional<std::string> label) = 0;
    virtual std::shared_ptr<MTLDevice> device() const = 0;
    virtual std::shared_ptr<MTLCommandBuffer> commandBuffer() = 0;
};

} // namespace velmora
