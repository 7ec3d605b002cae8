#include "Rendering/CanvasShaders.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/SIMD.hpp"
#include "gpu/cpu/KernelLibrary.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <mutex>
#include <xmmintrin.h>

namespace velmora {

namespace shaders {

namespace {

using v4f = float __attribute__((vector_size(16)));

// The widest footprint sampled texel by texel; wider ones take every n-th texel.
constexpr int64_t kMaxTaps = 24;
// Pixels ahead whose texels are fetched into the cache while this one is sampled:
// a turned canvas walks the texture diagonally, which the hardware does not predict.
constexpr int64_t kPrefetchDistance = 8;

// Four 8-bit channels as floats 0 to 255.
inline v4f load8(const uint8_t* p) {
    uint32_t bits;
    std::memcpy(&bits, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i v =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(bits)), zero), zero);
    return v4f(_mm_cvtepi32_ps(v));
}

inline void prefetch(const uint8_t* p) {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
}

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
            return load8(row + x * 4);
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
    // floor without a library call: truncation, one down for negative fractions.
    const auto t = static_cast<int64_t>(v);
    return t - (v < static_cast<double>(t) ? 1 : 0);
}

double fraction(double v) {
    return std::isfinite(v) ? v - static_cast<double>(index(v)) : 0.0;
}

void nearest(const Source& s, double x, double y, double dx, double dy, int64_t count, float* out) {
    // Scale 1, not turned: one row, and texel floor(x) + k for pixel k, as long as
    // x's fraction keeps clear of whole numbers by more than x + k can be rounded.
    const double f = fraction(x);
    if (dx == 1.0 && dy == 0.0 && std::fabs(x) < 1e9 && count < int64_t(1e9) && f > 1e-6 &&
        f < 1.0 - 1e-6) {
        const uint8_t* row = s.row(s.cy(index(y)));
        const int64_t first = index(x);
        for (int64_t k = 0; k < count; ++k) {
            s.store(s.at(row, s.cx(first + k)), out + 4 * k);
        }
        return;
    }
    for (int64_t k = 0; k < count; ++k) {
        const double ahead = static_cast<double>(k + 2 * kPrefetchDistance);
        prefetch(s.row(s.cy(index(y + dy * ahead))) +
                 s.cx(index(x + dx * ahead)) * s.bytesPerPixel);
        const double px = x + dx * static_cast<double>(k), py = y + dy * static_cast<double>(k);
        s.store(s.at(s.row(s.cy(index(py))), s.cx(index(px))), out + 4 * k);
    }
}

void bilinear(const Source& s, double x, double y, double dx, double dy, int64_t count,
              float* out) {
    for (int64_t k = 0; k < count; ++k) {
        const double ahead = static_cast<double>(k + kPrefetchDistance);
        const int64_t ax = s.cx(index(x + dx * ahead)) * s.bytesPerPixel;
        const int64_t ay = index(y + dy * ahead - 0.5);
        prefetch(s.row(s.cy(ay)) + ax);
        prefetch(s.row(s.cy(ay + 1)) + ax);
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

// Bilinear for a span whose every sample lies between texel centres of an 8-bit
// texture: no clamping, positions in 32.32 fixed point.
// Bilinear for pixels [k0, k1) of a span, each of whose four texels lie inside an
// 8-bit texture: no clamping, positions in 32.32 fixed point.
template <bool Bgra>
void bilinearInside(const Source& s, double x, double y, double dx, double dy, int64_t k0,
                    int64_t k1, float* out) {
    constexpr double one = 4294967296.0;
    const int64_t sx = std::llround(dx * one), sy = std::llround(dy * one);
    const int64_t x0 = std::llround((x + dx * static_cast<double>(k0) - 0.5) * one);
    const int64_t y0 = std::llround((y + dy * static_cast<double>(k0) - 0.5) * one);
    const __m128 toUnit = _mm_set1_ps(1.0f / 255.0f);
    const int64_t bpr = s.bytesPerRow;
    for (int64_t k = k0; k < k1; ++k) {
        const int64_t i = k - k0;
        const int64_t ahead = std::min(i + kPrefetchDistance, k1 - 1 - k0);
        prefetch(s.data + ((y0 + sy * ahead) >> 32) * bpr + ((x0 + sx * ahead) >> 32) * 4);
        prefetch(s.data + ((y0 + sy * ahead) >> 32) * bpr + bpr + ((x0 + sx * ahead) >> 32) * 4);
        const int64_t px = x0 + sx * i, py = y0 + sy * i;
        const uint8_t* r0 = s.data + (py >> 32) * bpr + (px >> 32) * 4;
        const float tx = static_cast<float>(static_cast<uint32_t>(px)) * (1.0f / 4294967296.0f);
        const float ty = static_cast<float>(static_cast<uint32_t>(py)) * (1.0f / 4294967296.0f);
        const v4f a = load8(r0), b = load8(r0 + 4), c = load8(r0 + bpr), d = load8(r0 + bpr + 4);
        const v4f top = a + (b - a) * tx;
        const v4f bottom = c + (d - c) * tx;
        __m128 v = _mm_mul_ps(__m128(top + (bottom - top) * ty), toUnit);
        if constexpr (Bgra) {
            v = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 0, 1, 2));
        }
        _mm_storeu_ps(out + 4 * k, v);
    }
}

// Whether pixel k's four bilinear texels lie inside the texture, with a margin for
// the fixed-point walk.
bool bilinearInsideAt(const Source& s, double x, double y, double dx, double dy, int64_t k) {
    constexpr double margin = 1e-4;
    const double fx = x + dx * static_cast<double>(k) - 0.5;
    const double fy = y + dy * static_cast<double>(k) - 0.5;
    return fx >= margin && fy >= margin && fx < static_cast<double>(s.width - 1) - margin &&
           fy < static_cast<double>(s.height - 1) - margin;
}

// Pixels along a straight span stay inside over one interval: sample that part
// clamp-free and the ends with clamping.
void bilinearSpan(const Source& s, double x, double y, double dx, double dy, int64_t count,
                  float* out) {
    if (!s.eightBit || !std::isfinite(dx) || !std::isfinite(dy) || !std::isfinite(x) ||
        !std::isfinite(y)) {
        bilinear(s, x, y, dx, dy, count, out);
        return;
    }
    int64_t k0 = 0, k1 = count;
    while (k0 < count && !bilinearInsideAt(s, x, y, dx, dy, k0)) {
        ++k0;
    }
    while (k1 > k0 && !bilinearInsideAt(s, x, y, dx, dy, k1 - 1)) {
        --k1;
    }
    if (k0 > 0) {
        bilinear(s, x, y, dx, dy, k0, out);
    }
    if (k1 > k0) {
        s.bgra ? bilinearInside<true>(s, x, y, dx, dy, k0, k1, out)
               : bilinearInside<false>(s, x, y, dx, dy, k0, k1, out);
    }
    if (k1 < count) {
        const double at = static_cast<double>(k1);
        bilinear(s, x + dx * at, y + dy * at, dx, dy, count - k1, out + 4 * k1);
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

void areaAnywhere(const Source& s, double x, double y, double dx, double dy, int64_t count,
                  float* out) {
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

// One footprint wholly inside an 8-bit texture and at most kMaxTaps wide: whole
// texels inside, the two edge texels of each axis by the part covered.
struct Footprint {
    int64_t i0, j0;
    int nx, ny;
    float wx0, wx1, wy0, wy1;

    // False when the footprint needs clamping or striding.
    bool cover(double px, double py, double half, int64_t width, int64_t height) {
        const double xa = px - half, xb = px + half, ya = py - half, yb = py + half;
        if (!(xa >= 0 && ya >= 0 && xb < double(width) && yb < double(height))) {
            return false;
        }
        i0 = int64_t(xa), j0 = int64_t(ya);
        const int64_t i1 = int64_t(xb), j1 = int64_t(yb);
        nx = int(i1 - i0 + 1), ny = int(j1 - j0 + 1);
        if (nx > kMaxTaps || ny > kMaxTaps) {
            return false;
        }
        wx0 = nx == 1 ? float(xb - xa) : float(double(i0 + 1) - xa);
        wx1 = float(xb - double(i1));
        wy0 = ny == 1 ? float(yb - ya) : float(double(j0 + 1) - ya);
        wy1 = float(yb - double(j1));
        return true;
    }
};

inline v4f rowSum(const uint8_t* r, int n, float w0, float w1) {
    v4f acc = load8(r) * w0;
    if (n > 1) {
        acc += load8(r + 4 * (n - 1)) * w1;
        for (int i = 1; i < n - 1; ++i) {
            acc += load8(r + 4 * i);
        }
    }
    return acc;
}

void area(const Source& s, double x, double y, double dx, double dy, int64_t count, float* out) {
    const double half = 0.5 * std::hypot(dx, dy);
    if (!s.eightBit) {
        areaAnywhere(s, x, y, dx, dy, count, out);
        return;
    }
    const float norm = static_cast<float>(1.0 / (4.0 * half * half));
    for (int64_t k = 0; k < count; ++k) {
        const double ahead = static_cast<double>(k + kPrefetchDistance);
        Footprint next;
        if (next.cover(x + dx * ahead, y + dy * ahead, half, s.width, s.height)) {
            const uint8_t* r = s.row(next.j0) + next.i0 * 4;
            for (int j = 0; j < next.ny; ++j, r += s.bytesPerRow) {
                prefetch(r);
                prefetch(r + 4 * (next.nx - 1));
            }
        }
        const double px = x + dx * static_cast<double>(k), py = y + dy * static_cast<double>(k);
        Footprint f;
        if (!f.cover(px, py, half, s.width, s.height)) {
            areaAnywhere(s, px, py, dx, dy, 1, out + 4 * k);
            continue;
        }
        const uint8_t* r = s.row(f.j0) + f.i0 * 4;
        v4f sum = rowSum(r, f.nx, f.wx0, f.wx1) * f.wy0;
        if (f.ny > 1) {
            sum += rowSum(r + (f.ny - 1) * s.bytesPerRow, f.nx, f.wx0, f.wx1) * f.wy1;
            for (int j = 1; j < f.ny - 1; ++j) {
                sum += rowSum(r + j * s.bytesPerRow, f.nx, f.wx0, f.wx1);
            }
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
        bilinearSpan(s, x, y, dx, dy, count, rgba);
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
    const auto texture = table.textureForReading(1);
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
        // Texel (i, j) of texture 1 around the pixel's point: bilinear reaches 1.5 texels,
        // the area filter half a step and its strided taps a little more.
        library.addFragmentFunction("fragmentFunc", fragmentFunc,
                                    cpu::FragmentFootprint{1, 0, 1, 2.0, 0.75});
    });
}

} // namespace velmora
