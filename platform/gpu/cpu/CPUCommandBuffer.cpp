#include "gpu/cpu/CPUCommandBuffer.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/CPUBlitCommandEncoder.hpp"
#include "gpu/cpu/CPUComputeCommandEncoder.hpp"
#include "gpu/cpu/CPUDevice.hpp"
#include "gpu/cpu/CPURenderCommandEncoder.hpp"
#include "gpu/cpu/CPUTexture.hpp"
#include "gpu/cpu/ShaderFunctions.hpp"
#include "gpu/cpu/Timeline.hpp"

#include <exception>

namespace velmora::cpu {

using Kind = MTLCommandTraceEntry::Kind;

CPUCommandBuffer::CPUCommandBuffer(std::shared_ptr<CPUDevice> device)
    : device_(std::move(device)) {}

std::optional<std::string> CPUCommandBuffer::label() const {
    std::lock_guard lock(mutex_);
    return label_;
}

void CPUCommandBuffer::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(mutex_);
    label_ = std::move(label);
}

std::optional<std::string> CPUCommandBuffer::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::shared_ptr<MTLDevice> CPUCommandBuffer::device() const {
    return device_;
}

void CPUCommandBuffer::checkNotCommitted(const char* what) const {
    precondition(status_.load() == MTLCommandBufferStatus::notEnqueued,
                 std::string(what) + " after the command buffer was committed");
}

void CPUCommandBuffer::pushDebugGroup(std::string name) {
    checkNotCommitted("pushDebugGroup");
    precondition(!encoderOpen_, "pushDebugGroup while an encoder is open");
    ++debugGroupDepth_;
    appendTrace({Kind::pushDebugGroup, std::move(name)});
}

void CPUCommandBuffer::popDebugGroup() {
    checkNotCommitted("popDebugGroup");
    precondition(!encoderOpen_, "popDebugGroup while an encoder is open");
    precondition(debugGroupDepth_ > 0, "popDebugGroup without a pushed group");
    --debugGroupDepth_;
    appendTrace({Kind::popDebugGroup, std::nullopt});
}

void CPUCommandBuffer::beginEncoding() {
    checkNotCommitted("Making an encoder");
    precondition(!encoderOpen_, "An encoder is still open on this command buffer");
    encoderOpen_ = true;
}

void CPUCommandBuffer::encoderEnded() {
    encoderOpen_ = false;
}

std::shared_ptr<MTLBlitCommandEncoder> CPUCommandBuffer::blitCommandEncoder() {
    beginEncoding();
    return std::make_shared<CPUBlitCommandEncoder>(shared_from_this());
}

std::shared_ptr<MTLComputeCommandEncoder> CPUCommandBuffer::computeCommandEncoder() {
    beginEncoding();
    return std::make_shared<CPUComputeCommandEncoder>(shared_from_this());
}

std::shared_ptr<MTLRenderCommandEncoder>
CPUCommandBuffer::renderCommandEncoder(const MTLRenderPassDescriptor& descriptor) {
    beginEncoding();
    return std::make_shared<CPURenderCommandEncoder>(shared_from_this(), descriptor);
}

void CPUCommandBuffer::encodeHostCommand(std::string label, std::function<void()> work,
                                         std::vector<std::shared_ptr<MTLResource>> resources) {
    checkNotCommitted("encodeHostCommand");
    precondition(!encoderOpen_, "encodeHostCommand while an encoder is open");
    appendTrace({Kind::hostCommand, std::move(label)});
    for (const auto& r : resources) {
        useResource(r);
    }
    addCommand(std::move(work));
}

void CPUCommandBuffer::addCommand(std::function<void()> command) {
    commands_.push_back({std::move(command), nullptr, {}});
}

void CPUCommandBuffer::addDispatch(std::shared_ptr<const FunctionBody> body,
                                   ComputeArguments arguments) {
    commands_.push_back({nullptr, std::move(body), std::move(arguments)});
}

size_t CPUCommandBuffer::runCommands(size_t index) {
    const Command& command = commands_[index];
    if (command.body == nullptr) {
        command.work();
        return index + 1;
    }
    const ComputeKernel& kernel = command.body->kernel;
    if (!kernel.runTogether) {
        runComputeKernel(kernel, command.arguments);
        return index + 1;
    }
    std::vector<const ComputeArguments*> together;
    size_t end = index;
    for (; end < commands_.size() && commands_[end].body == command.body; ++end) {
        together.push_back(&commands_[end].arguments);
    }
    kernel.runTogether(together);
    return end;
}

void CPUCommandBuffer::useResource(const std::shared_ptr<MTLResource>& resource) {
    if (resource != nullptr && resourceSet_.insert(resource.get()).second) {
        resources_.push_back(resource);
    }
}

size_t CPUCommandBuffer::appendTrace(MTLCommandTraceEntry entry) {
    std::lock_guard lock(mutex_);
    trace_.push_back(std::move(entry));
    return trace_.size() - 1;
}

void CPUCommandBuffer::setTraceLabel(size_t index, std::optional<std::string> label) {
    std::lock_guard lock(mutex_);
    trace_.at(index).label = std::move(label);
}

std::vector<MTLCommandTraceEntry> CPUCommandBuffer::debugTrace() const {
    std::lock_guard lock(mutex_);
    return trace_;
}

void CPUCommandBuffer::addScheduledHandler(Handler handler) {
    checkNotCommitted("addScheduledHandler");
    scheduledHandlers_.push_back(std::move(handler));
}

void CPUCommandBuffer::addCompletedHandler(Handler handler) {
    checkNotCommitted("addCompletedHandler");
    completedHandlers_.push_back(std::move(handler));
}

void CPUCommandBuffer::commit() {
    checkNotCommitted("commit");
    precondition(!encoderOpen_, "commit while an encoder is open");
    for (const auto& r : resources_) {
        if (auto* t = dynamic_cast<CPUTexture*>(r.get())) {
            t->beginGPUUse();
        }
    }
    // Work counts as scheduled as soon as it is on the timeline.
    status_.store(MTLCommandBufferStatus::scheduled);
    device_->timeline().submit([self = shared_from_this()] { self->run(); });
}

void CPUCommandBuffer::run() {
    for (auto& h : scheduledHandlers_) {
        h(*this);
    }
    bool failed = false;
    for (size_t next = 0; next < commands_.size();) {
        try {
            next = runCommands(next);
        } catch (const std::exception& e) {
            std::lock_guard lock(mutex_);
            error_ = e.what();
            failed = true;
        } catch (...) {
            std::lock_guard lock(mutex_);
            error_ = "Unknown error";
            failed = true;
        }
        if (failed) {
            break;
        }
    }
    commands_.clear();
    for (const auto& r : resources_) {
        if (auto* t = dynamic_cast<CPUTexture*>(r.get())) {
            t->endGPUUse();
        }
    }
    resources_.clear();
    status_.store(failed ? MTLCommandBufferStatus::error : MTLCommandBufferStatus::completed);
    for (auto& h : completedHandlers_) {
        h(*this);
    }
    completedHandlers_.clear();
    scheduledHandlers_.clear();
    finished_.store(true);
    finished_.notify_all();
}

void CPUCommandBuffer::waitUntilScheduled() {
    precondition(status_.load() != MTLCommandBufferStatus::notEnqueued,
                 "waitUntilScheduled before commit");
}

void CPUCommandBuffer::waitUntilCompleted() {
    precondition(status_.load() != MTLCommandBufferStatus::notEnqueued,
                 "waitUntilCompleted before commit");
    if (finished_.load()) {
        return;
    }
    precondition(!Timeline::isTimelineThread(),
                 "waitUntilCompleted on the timeline would never return");
    finished_.wait(false);
}

} // namespace velmora::cpu
