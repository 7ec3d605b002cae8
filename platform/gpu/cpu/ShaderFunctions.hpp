#pragma once

#include "gpu/MTLFunctionConstantValues.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/cpu/ArgumentTable.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The calling convention of functions written for the CPU device. A compute
// kernel gets its bindings and a rectangle of thread positions and loops over
// the rows itself; a render pipeline gets a vertex function called per vertex
// and a fragment function called per horizontal span of covered pixels.
namespace velmora::cpu {

// Half-open rectangle of thread positions (or pixels): x0 <= x < x1, y0 <= y < y1.
struct ThreadRect {
    int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool isEmpty() const { return x1 <= x0 || y1 <= y0; }
    friend bool operator==(const ThreadRect&, const ThreadRect&) = default;
};

struct ComputeArguments {
    ArgumentTable table;
    MTLFunctionConstantValues constants;
    MTLSize threadgroups;
    MTLSize threadsPerThreadgroup;
    MTLSize grid; // threadgroups × threadsPerThreadgroup
};

struct ComputeKernel {
    // The thread positions that can have an effect. Left empty, the grid clipped to
    // every bound texture (thread (x, y) touching texel (x, y)) is used; kernels that
    // map threads elsewhere give their own.
    std::function<std::optional<ThreadRect>(const ComputeArguments&)> domain;
    // Called once per fixed row band of the domain, possibly on several threads at once.
    std::function<void(const ComputeArguments&, const ThreadRect&)> run;
    // Function constants the kernel needs: index and type. Taking the function
    // without them fails.
    std::vector<std::pair<uint64_t, MTLDataType>> requiredConstants;
    // Optional: runs consecutive dispatches of the kernel in one command buffer as one
    // piece of work, so the workers are woken once for all of them. Only for kernels
    // whose every written pixel depends on nothing but the same pixel of the bound
    // textures and the arguments: any split that keeps each pixel's dispatches in
    // order then gives the same bits.
    std::function<void(const std::vector<const ComputeArguments*>&)> runTogether;
};

inline constexpr size_t kMaxVaryings = 8;

struct VertexOut {
    std::array<float, 4> position{0, 0, 0, 1}; // clip space
    std::array<float, kMaxVaryings> varyings{};
};

// Pixels (x .. x + count - 1, y) of one triangle; varyings are interpolated at the
// pixel centres: the first pixel's values and their change per pixel.
struct FragmentSpan {
    int64_t x = 0;
    int64_t y = 0;
    int64_t count = 0;
    const float* varyings = nullptr;
    const float* varyingsStepX = nullptr;
};

using VertexFunction = std::function<VertexOut(const ArgumentTable&, uint32_t vertexID)>;
// Writes `span.count` colours (r, g, b, a) to `rgba`.
using FragmentFunction =
    std::function<void(const ArgumentTable&, const FragmentSpan& span, float* rgba)>;

// What a fragment function reads, told so that a render pass drawn again over an
// unchanged attachment redraws only the rows whose texels changed: nothing but its
// bytes and the texture bound at `texture`, and of that only texels within
// `margin + stepFactor × step` of the point (varying `u` × width, varying `v` ×
// height), where step is how far that point moves in texels from one pixel to the
// next along a row; positions outside the texture read its edge.
struct FragmentFootprint {
    uint64_t texture = 0;
    size_t u = 0, v = 1;
    double margin = 2.0;
    double stepFactor = 0.5;
};

struct FunctionBody {
    std::string name;
    MTLFunctionType type = MTLFunctionType::kernel;
    ComputeKernel kernel;
    VertexFunction vertex;
    size_t varyingCount = 0;
    FragmentFunction fragment;
    std::optional<FragmentFootprint> footprint;
};

// The grid of a dispatch clipped to every texture bound in its table.
std::optional<ThreadRect> gridClippedToTextures(const ComputeArguments& arguments);

} // namespace velmora::cpu
