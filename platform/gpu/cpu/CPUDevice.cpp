#include "gpu/cpu/CPUDevice.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/MTLError.hpp"
#include "gpu/cpu/CPUBuffer.hpp"
#include "gpu/cpu/CPUCommandQueue.hpp"
#include "gpu/cpu/CPUTexture.hpp"
#include "gpu/cpu/PixelIO.hpp"
#include "gpu/cpu/Workers.hpp"

#include <cstdlib>
#include <unistd.h>

namespace velmora {

std::shared_ptr<MTLDevice> MTLCreateSystemDefaultDevice() {
    // Never destroyed: command buffers may still complete while the process exits.
    static std::shared_ptr<cpu::CPUDevice>* device = [] {
        auto* made = new std::shared_ptr<cpu::CPUDevice>(std::make_shared<cpu::CPUDevice>());
        // Work left on the timeline finishes before exit tears down the statics it
        // runs on (the worker pool's): one still running then would crash the exit.
        std::atexit([] { (*device)->timeline().waitIdle(); });
        return made;
    }();
    return *device;
}

} // namespace velmora

namespace velmora::cpu {

namespace {
// The largest side the device accepts, as the platform's.
constexpr int64_t kMaxTextureSide = 16384;
} // namespace

CPUDevice::CPUDevice() = default;

std::string CPUDevice::name() const {
    return "Velmora CPU (" + std::to_string(workerThreadCount()) + " threads)";
}

uint64_t CPUDevice::currentAllocatedSize() const {
    return static_cast<uint64_t>(allocated_.load());
}

uint64_t CPUDevice::recommendedMaxWorkingSetSize() const {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) {
        return 0;
    }
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page) / 4 * 3;
}

std::shared_ptr<MTLTexture> CPUDevice::newTexture(const MTLTextureDescriptor& d) {
    const auto layout = pixelLayout(d.pixelFormat);
    if (!layout || d.textureType != MTLTextureType::type2D || d.width < 1 || d.height < 1 ||
        d.width > kMaxTextureSide || d.height > kMaxTextureSide || d.depth != 1 ||
        d.arrayLength != 1 || d.mipmapLevelCount > 1 ||
        d.storageMode == MTLStorageMode::memoryless) {
        return nullptr;
    }
    auto normalised = d;
    normalised.mipmapLevelCount = 1;
    return std::make_shared<CPUTexture>(shared_from_this(), normalised, *layout);
}

std::shared_ptr<MTLBuffer> CPUDevice::newBuffer(int64_t length, MTLResourceOptions options) {
    if (length < 0) {
        return nullptr;
    }
    return std::make_shared<CPUBuffer>(shared_from_this(), length, options);
}

std::shared_ptr<MTLBuffer> CPUDevice::newBuffer(const void* bytes, int64_t length,
                                                MTLResourceOptions options) {
    auto buffer = std::static_pointer_cast<CPUBuffer>(newBuffer(length, options));
    if (buffer != nullptr && length > 0) {
        precondition(bytes != nullptr, "newBuffer without bytes");
        buffer->storage().assign(static_cast<const uint8_t*>(bytes),
                                 static_cast<const uint8_t*>(bytes) + length);
    }
    return buffer;
}

std::shared_ptr<MTLCommandQueue> CPUDevice::newCommandQueue() {
    return std::make_shared<CPUCommandQueue>(shared_from_this());
}

std::shared_ptr<MTLLibrary> CPUDevice::newDefaultLibrary() {
    return std::make_shared<MTLLibrary>();
}

std::shared_ptr<MTLComputePipelineState>
CPUDevice::newComputePipelineState(std::shared_ptr<MTLFunction> function) {
    if (function == nullptr || function->functionType() != MTLFunctionType::kernel) {
        throw MTLError("A compute pipeline needs a kernel function");
    }
    return std::make_shared<MTLComputePipelineState>(std::move(function));
}

std::shared_ptr<MTLRenderPipelineState>
CPUDevice::newRenderPipelineState(const MTLRenderPipelineDescriptor& descriptor) {
    if (descriptor.vertexFunction == nullptr ||
        descriptor.vertexFunction->functionType() != MTLFunctionType::vertex) {
        throw MTLError("A render pipeline needs a vertex function");
    }
    if (descriptor.fragmentFunction == nullptr ||
        descriptor.fragmentFunction->functionType() != MTLFunctionType::fragment) {
        throw MTLError("A render pipeline needs a fragment function");
    }
    if (!pixelLayout(descriptor.colorAttachments[0].pixelFormat)) {
        throw MTLError("Unsupported colour attachment pixel format");
    }
    if (descriptor.colorAttachments[0].blendingEnabled) {
        throw MTLError("Blending is not supported by render pipelines of this device");
    }
    return std::make_shared<MTLRenderPipelineState>(descriptor);
}

void CPUDevice::setSynchronousCommandExecution(bool synchronous) {
    timeline_.setSynchronous(synchronous);
}

bool CPUDevice::synchronousCommandExecution() const {
    return timeline_.isSynchronous();
}

} // namespace velmora::cpu
