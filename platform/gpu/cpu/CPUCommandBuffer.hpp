#pragma once

#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/cpu/ShaderFunctions.hpp"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <set>

namespace velmora::cpu {

class CPUDevice;

class CPUCommandBuffer final : public MTLCommandBuffer,
                               public std::enable_shared_from_this<CPUCommandBuffer> {
public:
    explicit CPUCommandBuffer(std::shared_ptr<CPUDevice> device);

    std::optional<std::string> label() const override;
    void setLabel(std::optional<std::string> label) override;
    MTLCommandBufferStatus status() const override { return status_.load(); }
    std::optional<std::string> error() const override;
    std::shared_ptr<MTLDevice> device() const override;

    void pushDebugGroup(std::string name) override;
    void popDebugGroup() override;

    std::shared_ptr<MTLBlitCommandEncoder> blitCommandEncoder() override;
    std::shared_ptr<MTLComputeCommandEncoder> computeCommandEncoder() override;
    std::shared_ptr<MTLRenderCommandEncoder>
    renderCommandEncoder(const MTLRenderPassDescriptor& descriptor) override;
    void encodeHostCommand(std::string label, std::function<void()> work,
                           std::vector<std::shared_ptr<MTLResource>> resources) override;

    void addScheduledHandler(Handler handler) override;
    void addCompletedHandler(Handler handler) override;
    void commit() override;
    void waitUntilScheduled() override;
    void waitUntilCompleted() override;

    std::vector<MTLCommandTraceEntry> debugTrace() const override;

    // For the encoders of this buffer.
    void addCommand(std::function<void()> command);
    void addDispatch(std::shared_ptr<const FunctionBody> body, ComputeArguments arguments);
    void useResource(const std::shared_ptr<MTLResource>& resource);
    size_t appendTrace(MTLCommandTraceEntry entry);
    void setTraceLabel(size_t index, std::optional<std::string> label);
    void encoderEnded();

private:
    void beginEncoding();
    void checkNotCommitted(const char* what) const;
    void run();
    // Runs the command at `index`, or the run of dispatches that can go together
    // starting there; returns the index after them.
    size_t runCommands(size_t index);

    std::shared_ptr<CPUDevice> device_;
    mutable std::mutex mutex_;
    std::optional<std::string> label_;
    std::atomic<MTLCommandBufferStatus> status_{MTLCommandBufferStatus::notEnqueued};
    std::optional<std::string> error_;
    // A command: host work, or a compute dispatch (body and arguments).
    struct Command {
        std::function<void()> work;
        std::shared_ptr<const FunctionBody> body;
        ComputeArguments arguments;
    };
    // A deque: large commands are never moved as more are encoded.
    std::deque<Command> commands_;
    std::vector<std::shared_ptr<MTLResource>> resources_;
    std::set<const MTLResource*> resourceSet_;
    std::vector<Handler> scheduledHandlers_;
    std::vector<Handler> completedHandlers_;
    std::vector<MTLCommandTraceEntry> trace_;
    int debugGroupDepth_ = 0;
    bool encoderOpen_ = false;
    std::atomic<bool> finished_{false};
};

} // namespace velmora::cpu
