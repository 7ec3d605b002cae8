#include "gpu/MTLLibrary.hpp"

#include "gpu/MTLError.hpp"
#include "gpu/cpu/KernelLibrary.hpp"

namespace velmora {

MTLFunction::MTLFunction(std::shared_ptr<const cpu::FunctionBody> body,
                         MTLFunctionConstantValues constants)
    : body_(std::move(body)), constants_(std::move(constants)) {}

std::vector<std::string> MTLLibrary::functionNames() const {
    return cpu::KernelLibrary::shared().functionNames();
}

std::shared_ptr<MTLFunction> MTLLibrary::newFunction(const std::string& name) const {
    auto body = cpu::KernelLibrary::shared().find(name);
    if (body == nullptr) {
        return nullptr;
    }
    return std::make_shared<MTLFunction>(std::move(body), MTLFunctionConstantValues{});
}

std::shared_ptr<MTLFunction>
MTLLibrary::newFunction(const std::string& name, const MTLFunctionConstantValues& constants) const {
    auto body = cpu::KernelLibrary::shared().find(name);
    if (body == nullptr) {
        throw MTLError("Function " + name + " was not found in the library");
    }
    for (const auto& [index, type] : body->kernel.requiredConstants) {
        const auto* v = constants.value(index);
        if (v == nullptr || v->type != type) {
            throw MTLError("Function " + name + " needs function constant " +
                           std::to_string(index) + " of its own type");
        }
    }
    return std::make_shared<MTLFunction>(std::move(body), constants);
}

} // namespace velmora
