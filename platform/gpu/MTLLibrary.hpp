#pragma once

#include "gpu/MTLFunctionConstantValues.hpp"
#include "gpu/cpu/ShaderFunctions.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// One function of a library, specialised by its constant values.
class MTLFunction {
public:
    MTLFunction(std::shared_ptr<const cpu::FunctionBody> body, MTLFunctionConstantValues constants);

    const std::string& name() const { return body_->name; }
    MTLFunctionType functionType() const { return body_->type; }
    const MTLFunctionConstantValues& constantValues() const { return constants_; }
    const std::shared_ptr<const cpu::FunctionBody>& body() const { return body_; }

private:
    std::shared_ptr<const cpu::FunctionBody> body_;
    MTLFunctionConstantValues constants_;
};

class MTLLibrary {
public:
    std::optional<std::string> label() const { return label_; }
    void setLabel(std::optional<std::string> label) { label_ = std::move(label); }

    std::vector<std::string> functionNames() const;
    // None when the library has no function of that name.
    std::shared_ptr<MTLFunction> newFunction(const std::string& name) const;
    // Throws MTLError when the function is missing or a constant it needs is absent
    // or of another type.
    std::shared_ptr<MTLFunction> newFunction(const std::string& name,
                                             const MTLFunctionConstantValues& constants) const;

private:
    std::optional<std::string> label_;
};

class MTLComputePipelineState {
public:
    explicit MTLComputePipelineState(std::shared_ptr<MTLFunction> function)
        : function_(std::move(function)) {}

    const std::shared_ptr<MTLFunction>& function() const { return function_; }
    int64_t threadExecutionWidth() const { return 16; }
    int64_t maxTotalThreadsPerThreadgroup() const { return 1024; }

private:
    std::shared_ptr<MTLFunction> function_;
};

struct MTLRenderPipelineColorAttachmentDescriptor {
    MTLPixelFormat pixelFormat = MTLPixelFormat::invalid;
    bool blendingEnabled = false;
};

struct MTLRenderPipelineDescriptor {
    std::optional<std::string> label;
    std::shared_ptr<MTLFunction> vertexFunction;
    std::shared_ptr<MTLFunction> fragmentFunction;
    std::array<MTLRenderPipelineColorAttachmentDescriptor, 1> colorAttachments;
};

class MTLRenderPipelineState {
public:
    explicit MTLRenderPipelineState(MTLRenderPipelineDescriptor descriptor)
        : descriptor_(std::move(descriptor)) {}

    std::optional<std::string> label() const { return descriptor_.label; }
    const MTLRenderPipelineDescriptor& descriptor() const { return descriptor_; }

private:
    MTLRenderPipelineDescriptor descriptor_;
};

} // namespace velmora
