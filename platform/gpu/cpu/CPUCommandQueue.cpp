#include "gpu/cpu/CPUCommandQueue.hpp"

#include "gpu/cpu/CPUCommandBuffer.hpp"
#include "gpu/cpu/CPUDevice.hpp"

namespace velmora::cpu {

std::optional<std::string> CPUCommandQueue::label() const {
    std::lock_guard lock(mutex_);
    return label_;
}

void CPUCommandQueue::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(mutex_);
    label_ = std::move(label);
}

std::shared_ptr<MTLDevice> CPUCommandQueue::device() const {
    return device_;
}

std::shared_ptr<MTLCommandBuffer> CPUCommandQueue::commandBuffer() {
    return std::make_shared<CPUCommandBuffer>(device_);
}

} // namespace velmora::cpu
