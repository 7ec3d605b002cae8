#include "gpu/cpu/TextureSampling.hpp"

#include "foundation/FatalError.hpp"

#include <algorithm>
#include <cmath>

namespace velmora::cpu {

TextureSampler::TextureSampler(MTLTextureContents contents) : contents_(contents) {
    const auto layout = pixelLayout(contents.pixelFormat);
    precondition(layout.has_value() && contents.data != nullptr, "Texture cannot be sampled");
    layout_ = *layout;
}

void TextureSampler::texel(int64_t x, int64_t y, float* rgba) const {
    x = std::clamp<int64_t>(x, 0, contents_.width - 1);
    y = std::clamp<int64_t>(y, 0, contents_.height - 1);
    loadRow(layout_, contents_.row(y) + x * contents_.bytesPerPixel, rgba, 1);
}

namespace {
int64_t toIndex(float v) {
    // NaN and huge values clamp like the edge.
    if (!(v > -1e9f)) {
        return -1;
    }
    if (!(v < 1e9f)) {
        return int64_t(1e9);
    }
    return static_cast<int64_t>(std::floor(v));
}
} // namespace

void TextureSampler::nearest(float u, float v, float* rgba) const {
    texel(toIndex(u * static_cast<float>(contents_.width)),
          toIndex(v * static_cast<float>(contents_.height)), rgba);
}

void TextureSampler::linear(float u, float v, float* rgba) const {
    const float fx = u * static_cast<float>(contents_.width) - 0.5f;
    const float fy = v * static_cast<float>(contents_.height) - 0.5f;
    const int64_t x = toIndex(fx), y = toIndex(fy);
    const float tx = std::isfinite(fx) ? fx - std::floor(fx) : 0.0f;
    const float ty = std::isfinite(fy) ? fy - std::floor(fy) : 0.0f;
    float a[4], b[4], c[4], d[4];
    texel(x, y, a);
    texel(x + 1, y, b);
    texel(x, y + 1, c);
    texel(x + 1, y + 1, d);
    for (int i = 0; i < 4; ++i) {
        const float top = a[i] + (b[i] - a[i]) * tx;
        const float bottom = c[i] + (d[i] - c[i]) * tx;
        rgba[i] = top + (bottom - top) * ty;
    }
}

} // namespace velmora::cpu
