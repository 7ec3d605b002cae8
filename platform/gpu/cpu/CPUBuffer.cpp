#include "gpu/cpu/CPUBuffer.hpp"

#include "gpu/cpu/CPUDevice.hpp"

namespace velmora::cpu {

CPUBuffer::CPUBuffer(std::shared_ptr<CPUDevice> device, int64_t length, MTLResourceOptions options)
    : device_(std::move(device)), options_(options), storage_(static_cast<size_t>(length)) {}

std::optional<std::string> CPUBuffer::label() const {
    std::lock_guard lock(labelMutex_);
    return label_;
}

void CPUBuffer::setLabel(std::optional<std::string> label) {
    std::lock_guard lock(labelMutex_);
    label_ = std::move(label);
}

MTLStorageMode CPUBuffer::storageMode() const {
    switch (options_) {
    case MTLResourceOptions::storageModeManaged:
        return MTLStorageMode::managed;
    case MTLResourceOptions::storageModePrivate:
        return MTLStorageMode::private_;
    case MTLResourceOptions::storageModeShared:
        break;
    }
    return MTLStorageMode::shared;
}

std::shared_ptr<MTLDevice> CPUBuffer::device() const {
    return device_;
}

void* CPUBuffer::contents() {
    if (storageMode() == MTLStorageMode::private_) {
        return nullptr;
    }
    return storage_.data();
}

} // namespace velmora::cpu
