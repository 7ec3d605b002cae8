#pragma once

#include "gpu/cpu/ShaderFunctions.hpp"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cpu {

// The shader library of the CPU device: functions registered by name. The device's
// default library looks names up here; "fill" is built in, other code adds its own
// functions before it first asks for them.
class KernelLibrary {
public:
    static KernelLibrary& shared();

    void addKernel(std::string name, ComputeKernel kernel);
    void addVertexFunction(std::string name, VertexFunction function, size_t varyingCount);
    void addFragmentFunction(std::string name, FragmentFunction function,
                             std::optional<FragmentFootprint> footprint = std::nullopt);

    std::shared_ptr<const FunctionBody> find(std::string_view name) const;
    std::vector<std::string> functionNames() const;

private:
    KernelLibrary();
    void add(std::shared_ptr<const FunctionBody> body);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const FunctionBody>, std::less<>> functions_;
};

} // namespace velmora::cpu
