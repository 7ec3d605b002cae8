#pragma once

#include "gpu/MTLCommandBuffer.hpp"

#include <memory>
#include <mutex>

namespace velmora::cpu {

class CPUDevice;

class CPUCommandQueue final : public MTLCommandQueue {
public:
    explicit CPUCommandQueue(std::shared_ptr<CPUDevice> device) : device_(std::move(device)) {}

    std::optional<std::string> label() const override;
    void setLabel(std::optional<std::string> label) override;
    std::shared_ptr<MTLDevice> device() const override;
    std::shared_ptr<MTLCommandBuffer> commandBuffer() override;

private:
    std::shared_ptr<CPUDevice> device_;
    mutable std::mutex mutex_;
    std::optional<std::string> label_;
};

} // namespace velmora::cpu
