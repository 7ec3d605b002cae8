#pragma once

#include "gpu/MTLBuffer.hpp"

#include <memory>
#include <mutex>
#include <vector>

namespace velmora::cpu {

class CPUDevice;

class CPUBuffer final : public MTLBuffer {
public:
    CPUBuffer(std::shared_ptr<CPUDevice> device, int64_t length, MTLResourceOptions options);

    std::optional<std::string> label() const override;
    void setLabel(std::optional<std::string> label) override;
    MTLStorageMode storageMode() const override;
    std::shared_ptr<MTLDevice> device() const override;
    size_t allocatedSize() const override { return storage_.size(); }

    int64_t length() const override { return static_cast<int64_t>(storage_.size()); }
    void* contents() override;
    std::vector<uint8_t>& storage() { return storage_; }

private:
    std::shared_ptr<CPUDevice> device_;
    MTLResourceOptions options_;
    std::vector<uint8_t> storage_;
    mutable std::mutex labelMutex_;
    std::optional<std::string> label_;
};

} // namespace velmora::cpu
