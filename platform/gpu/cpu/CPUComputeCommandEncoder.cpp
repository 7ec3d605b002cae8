#include "gpu/cpu/CPUComputeCommandEncoder.hpp"

#include "foundation/CheckedMath.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>

namespace velmora::cpu {

void CPUComputeCommandEncoder::setComputePipelineState(
    std::shared_ptr<MTLComputePipelineState> state) {
    checkOpen();
    pipeline_ = std::move(state);
}

void CPUComputeCommandEncoder::setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) {
    checkOpen();
    table_.setTexture(std::move(texture), index);
}

void CPUComputeCommandEncoder::setBytes(const void* bytes, size_t length, uint64_t index) {
    checkOpen();
    table_.setBytes(bytes, length, index);
}

void CPUComputeCommandEncoder::setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset,
                                         uint64_t index) {
    checkOpen();
    table_.setBuffer(std::move(buffer), offset, index);
}

void CPUComputeCommandEncoder::dispatchThreadgroups(MTLSize groups, MTLSize threads) {
    checkOpen();
    precondition(pipeline_ != nullptr, "dispatchThreadgroups without a compute pipeline state");
    precondition(groups.width >= 0 && groups.height >= 0 && groups.depth >= 0 &&
                     threads.width >= 0 && threads.height >= 0 && threads.depth >= 0,
                 "Negative dispatch size");
    ComputeArguments arguments;
    arguments.table = table_;
    arguments.constants = pipeline_->function()->constantValues();
    arguments.threadgroups = groups;
    arguments.threadsPerThreadgroup = threads;
    arguments.grid = {checked::mul(groups.width, threads.width),
                      checked::mul(groups.height, threads.height),
                      checked::mul(groups.depth, threads.depth)};
    precondition(arguments.grid.depth <= 1, "Kernels of this device take two-dimensional grids");

    MTLCommandTraceEntry entry{MTLCommandTraceEntry::Kind::dispatch, pipeline_->function()->name()};
    entry.threadgroups = groups;
    entry.threadsPerThreadgroup = threads;
    buffer_->appendTrace(entry);
    for (const auto& t : table_.textures()) {
        buffer_->useResource(t);
    }
    for (const auto& b : table_.buffers()) {
        buffer_->useResource(b.buffer);
    }
    buffer_->addDispatch(pipeline_->function()->body(), std::move(arguments));
}

void runComputeKernel(const ComputeKernel& kernel, const ComputeArguments& arguments) {
    if (arguments.grid.depth < 1) {
        return;
    }
    auto rect = kernel.domain ? kernel.domain(arguments) : gridClippedToTextures(arguments);
    if (!rect) {
        return;
    }
    rect->x0 = std::max<int64_t>(rect->x0, 0);
    rect->y0 = std::max<int64_t>(rect->y0, 0);
    rect->x1 = std::min(rect->x1, arguments.grid.width);
    rect->y1 = std::min(rect->y1, arguments.grid.height);
    if (rect->isEmpty()) {
        return;
    }
    parallelRows(rect->y0, rect->y1, [&](int64_t y0, int64_t y1) {
        kernel.run(arguments, {rect->x0, y0, rect->x1, y1});
    });
}

} // namespace velmora::cpu
