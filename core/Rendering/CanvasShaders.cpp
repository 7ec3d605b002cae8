#include "Rendering/CanvasShaders.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/SIMD.hpp"
#include "gpu/cpu/KernelLibrary.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <mutex>

namespace velmora {

namespace shaders {

namespace {

using v4f = float __attribute__((vector_size(16)));
using v4u8 = uint8_t __attribute__((vector_size(4)));

// The widest footprint sampled texel by texel; wider ones take every n-th texel.
constexpr int64_t kMaxTaps = 24;

// A texture as the sampler reads it: colour values 0 to 255, clamped to the edge.
struct Source {
    const uint8_t* data;
    int64_t bytesPerRow;
    int64_t width, height;
    int64_t bytesPerPixel;
    bool bgra;
    bool eightBit;
    cpu::PixelLayout layout;

    explicit Source(const MTLTextureContents& c)
        : data(c.data), bytesPerRow(c.bytesPerRow), width(c.width), height(c.height),
          bytesPerPixel(c.bytesPerPixel) {
        const auto l = cpu::pixelLayout(c.pixelFormat);
        precondition(l.has_value() && c.data != nullptr && width > 0 && height > 0,
                     "Texture cannot be sampled");
        layout = *l;
        eightBit = (c.pixelFormat == MTLPixelFormat::rgba8Unorm ||
                    c.pixelFormat == MTLPixelFormat::bgra8Unorm);
        bgra = c.pixelFormat == MTLPixelFormat::bgra8Unorm;
    }

    int64_t cx(int64_t x) const { return std::clamp<int64_t>(x, 0, width - 1); }
    int64_t cy(int64_t y) const { return std::clamp<int64_t>(y, 0, height - 1); }

    // Texel at clamped indices, in stored channel order for 8-bit formats.
    v4f at(const uint8_t* row, int64_t x) const {
        if (eightBit) {
            v4u8 b;
            std::memcpy(&b, row + x * 4, 4);
            return __builtin_convertvector(b, v4f);
        }
        float f[4];
        cpu::loadRow(layout, row + x * bytesPerPixel, f, 1);
        return v4f{f[0], f[1], f[2], f[3]} * 255.0f;
    }
    const uint8_t* row(int64_t y) const { return data + y * bytesPerRow; }

    void store(v4f value, float* out) const {
        value *= 1.0f / 255.0f;
        if (bgra) {
            out[0] = value[2];
            out[1] = value[1];
            out[2] = value[0];
        } else {
            out[0] = value[0];
            out[1] = value[1];
            out[2] = value[2];
        }
        out[3] = value[3];
    }
};

// floor(v) as an index, NaN and huge values landing beyond the edges.
int64_t index(double v) {
    if (!(v > -1e9)) {
        return v > 0 ? int64_t(1e9) : int64_t(-1e9);
    }
    if (!(v < 1e9)) {
        return int64_t(1e9);
    }
    return static_cast<int64_t>(std::floor(v));
}

double fraction(double v) {
    return std::isfinite(v) ? v - std::floor(v) : 0.0;
}

void nearest(const Source& s, double x, double y, double dx, double dy, int64_t count, float* out) {
    for (int64_t k = 0; k < count; ++k) {
        const double px = x + dx * static_cast<double>(k), py = y + dy * static_cast<double>(k);
        s.store(s.at(s.row(s.cy(index(py))), s.cx(index(px))), out + 4 * k);
    }
}

void bilinear(const Source& s, double x, double y, double dx, double dy, int64_t count,
              float* out) {
    for (int64_t k = 0; k < count; ++k) {
        const double fx = x + dx * static_cast<double>(k) - 0.5;
        const double fy = y + dy * static_cast<double>(k) - 0.5;
        const int64_t ix = index(fx), iy = index(fy);
        const float tx = static_cast<float>(fraction(fx)), ty = static_cast<float>(fraction(fy));
        const int64_t x0 = s.cx(ix), x1 = s.cx(ix + 1);
        const uint8_t* r0 = s.row(s.cy(iy));
        const uint8_t* r1 = s.row(s.cy(iy + 1));
        const v4f a = s.at(r0, x0), b = s.at(r0, x1), c = s.at(r1, x0), d = s.at(r1, x1);
        const v4f top = a + (b - a) * tx;
        const v4f bottom = c + (d - c) * tx;
        s.store(top + (bottom - top) * ty, out + 4 * k);
    }
}

// The cells of [lo, hi) along one axis: `n` samples `stride` texels apart from `first`,
// each weighted by the length of its cell inside the interval.
struct Axis {
    int64_t first = 0;
    int64_t stride = 1;
    int n = 0;
    std::array<int64_t, kMaxTaps + 2> texel{};
    std::array<float, kMaxTaps + 2> weight{};

    void cover(double lo, double hi, int64_t limit) {
        first = index(lo);
        const int64_t last = index(std::nextafter(hi, lo)); // the texel holding hi, exclusive
        const int64_t span = std::max<int64_t>(1, last - first + 1);
        stride = (span + kMaxTaps - 1) / kMaxTaps;
        n = static_cast<int>((span + stride - 1) / stride);
        for (int k = 0; k < n; ++k) {
            const double c0 = static_cast<double>(first + k * stride);
            const double c1 = c0 + static_cast<double>(stride);
            weight[static_cast<size_t>(k)] =
                static_cast<float>(std::max(0.0, std::min(c1, hi) - std::max(c0, lo)));
            const int64_t centre = first + k * stride + stride / 2;
            texel[static_cast<size_t>(k)] = std::clamp<int64_t>(centre, 0, limit - 1);
        }
    }
};

void area(const Source& s, double x, double y, double dx, double dy, int64_t count, float* out) {
    // The pixel's footprint as an axis-aligned square of the same size.
    const double half = 0.5 * std::hypot(dx, dy);
    const float norm = static_cast<float>(1.0 / (4.0 * half * half));
    Axis ax, ay;
    for (int64_t k = 0; k < count; ++k) {
        const double px = x + dx * static_cast<double>(k), py = y + dy * static_cast<double>(k);
        ax.cover(px - half, px + half, s.width);
        ay.cover(py - half, py + half, s.height);
        v4f sum{0, 0, 0, 0};
        for (int j = 0; j < ay.n; ++j) {
            const uint8_t* row = s.row(ay.texel[static_cast<size_t>(j)]);
            v4f line{0, 0, 0, 0};
            for (int i = 0; i < ax.n; ++i) {
                line +=
                    s.at(row, ax.texel[static_cast<size_t>(i)]) * ax.weight[static_cast<size_t>(i)];
            }
            sum += line * ay.weight[static_cast<size_t>(j)];
        }
        s.store(sum * norm, out + 4 * k);
    }
}

} // namespace

Sampling samplingFor(double dx, double dy, bool magnified) {
    if (magnified) {
        return Sampling::nearest;
    }
    const double length = std::hypot(dx, dy);
    constexpr double tolerance = 1e-4;
    const bool axisAligned = std::fabs(dx) < tolerance || std::fabs(dy) < tolerance;
    if (axisAligned && std::fabs(length - 1.0) < tolerance) {
        return Sampling::nearest;
    }
    return length > 1.0 + tolerance ? Sampling::area : Sampling::bilinear;
}

void sampleSpan(const MTLTextureContents& texture, double x, double y, double dx, double dy,
                int64_t count, Sampling sampling, float* rgba) {
    const Source s(texture);
    switch (sampling) {
    case Sampling::nearest:
        nearest(s, x, y, dx, dy, count, rgba);
        break;
    case Sampling::bilinear:
        bilinear(s, x, y, dx, dy, count, rgba);
        break;
    case Sampling::area:
        if (!std::isfinite(dx) || !std::isfinite(dy)) {
            nearest(s, x, y, 0, 0, count, rgba);
        } else {
            area(s, x, y, dx, dy, count, rgba);
        }
        break;
    }
}

} // namespace shaders

namespace {

cpu::VertexOut vertexFunc(const cpu::ArgumentTable& table, uint32_t vertexID) {
    const auto v = table.element<Vertex>(0, vertexID);
    const auto viewport = table.bytesAs<SIMD2<int32_t>>(1);
    const auto m = table.bytesAs<simd_float3x3>(2);
    const float x = v.position[0], y = v.position[1];
    const float fx = m.columns[0][0] * x + m.columns[1][0] * y + m.columns[2][0];
    const float fy = m.columns[0][1] * x + m.columns[1][1] * y + m.columns[2][1];
    cpu::VertexOut out;
    out.position = {2.0f * fx / static_cast<float>(viewport.x) - 1.0f,
                    2.0f * fy / static_cast<float>(viewport.y) - 1.0f, 0.0f, 1.0f};
    out.varyings[0] = v.textureCoordinate[0];
    out.varyings[1] = v.textureCoordinate[1];
    return out;
}

void fragmentFunc(const cpu::ArgumentTable& table, const cpu::FragmentSpan& span, float* rgba) {
    const auto texture = table.texture(1);
    const bool magnified = table.bytesAs<uint8_t>(0) != 0;
    const double w = static_cast<double>(texture.width), h = static_cast<double>(texture.height);
    const double x = span.varyings[0] * w, y = span.varyings[1] * h;
    const double dx = span.varyingsStepX[0] * w, dy = span.varyingsStepX[1] * h;
    shaders::sampleSpan(texture, x, y, dx, dy, span.count, shaders::samplingFor(dx, dy, magnified),
                        rgba);
}

} // namespace

void registerCanvasShaders() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& library = cpu::KernelLibrary::shared();
        library.addVertexFunction("vertexFunc", vertexFunc, 2);
        library.addFragmentFunction("fragmentFunc", fragmentFunc);
    });
}

} // namespace velmora
