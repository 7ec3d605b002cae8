#include "gpu/cpu/KernelLibrary.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/FillKernel.hpp"

namespace velmora::cpu {

KernelLibrary& KernelLibrary::shared() {
    static KernelLibrary* library = new KernelLibrary();
    return *library;
}

KernelLibrary::KernelLibrary() {
    addKernel("fill", makeFillKernel());
}

void KernelLibrary::add(std::shared_ptr<const FunctionBody> body) {
    std::lock_guard lock(mutex_);
    precondition(!functions_.contains(body->name), "Function registered twice");
    functions_.emplace(body->name, std::move(body));
}

void KernelLibrary::addKernel(std::string name, ComputeKernel kernel) {
    precondition(static_cast<bool>(kernel.run), "Kernel without a body");
    auto body = std::make_shared<FunctionBody>();
    body->name = std::move(name);
    body->type = MTLFunctionType::kernel;
    body->kernel = std::move(kernel);
    add(std::move(body));
}

void KernelLibrary::addVertexFunction(std::string name, VertexFunction function,
                                      size_t varyingCount) {
    precondition(static_cast<bool>(function) && varyingCount <= kMaxVaryings,
                 "Invalid vertex function");
    auto body = std::make_shared<FunctionBody>();
    body->name = std::move(name);
    body->type = MTLFunctionType::vertex;
    body->vertex = std::move(function);
    body->varyingCount = varyingCount;
    add(std::move(body));
}

void KernelLibrary::addFragmentFunction(std::string name, FragmentFunction function,
                                        std::optional<FragmentFootprint> footprint) {
    precondition(static_cast<bool>(function), "Invalid fragment function");
    auto body = std::make_shared<FunctionBody>();
    body->name = std::move(name);
    body->type = MTLFunctionType::fragment;
    body->fragment = std::move(function);
    body->footprint = footprint;
    add(std::move(body));
}

std::shared_ptr<const FunctionBody> KernelLibrary::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto it = functions_.find(name);
    return it == functions_.end() ? nullptr : it->second;
}

std::vector<std::string> KernelLibrary::functionNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, body] : functions_) {
        names.push_back(name);
    }
    return names;
}

} // namespace velmora::cpu
