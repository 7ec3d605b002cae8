#pragma once

#include "imaging/PixelStorage.hpp"
#include "imaging/TileBuffer.hpp"

#include <cstddef>
#include <cstdint>

// The per-pixel loops of the evaluator. They work on planar float rows so
// that the compiler vectorises them; every result depends only on the
// pixel's own inputs, never on how the work was split.
namespace velmora::imaging::kernels {

// 8-bit to float, exactly v / 255.
float unorm8ToFloat(uint8_t v);
// Float to 8-bit: round(clamp(v, 0, 1) · 255), halves away from zero; NaN is 0.
uint8_t floatToUnorm8(float v);

// Reads `n` pixels of one stored row (starting at its first pixel) into the
// four rows, multiplying colour by alpha when `premultiply`.
void loadRow(const std::byte* src, StorageFormat format, size_t n, bool premultiply, float* r,
             float* g, float* b, float* a);
// Writes `n` premultiplied pixels into one stored row, converting alpha as
// `alpha` says (unpremultiplied gives 0 colour where alpha is 0; none writes
// alpha 1). `stream` writes 8-bit rows past the caches, for outputs too large
// to be read again from them.
void storeRow(const float* r, const float* g, const float* b, const float* a, size_t n,
              StorageFormat format, StoredAlpha alpha, std::byte* dst, bool stream = false);
// Orders streamed stores before anything that follows.
void finishStreaming(bool stream);

void fill(const TileBuffer& t, const float rgba[4]);
void clear(const TileBuffer& t);
void copy(const TileBuffer& from, int64_t fromX, int64_t fromY, const TileBuffer& to, int64_t toX,
          int64_t toY, int64_t width, int64_t height);
void premultiply(const TileBuffer& t);
void unpremultiply(const TileBuffer& t);
void scale(const TileBuffer& t, float k);

// Rows R, G, B, A of a colour matrix applied to unpremultiplied colour, then
// the bias; each row is 4 coefficients. Result alpha is clamped to [0, 1].
struct ColorMatrix {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    float bias[4] = {0, 0, 0, 0};
};
void colorMatrix(const TileBuffer& t, const ColorMatrix& m);

enum class BlendOp : uint8_t { sourceOver, sourceOut, multiply, overlay, linearBurn, linearDodge };

// background = op(foreground, background), both premultiplied, same size.
void blend(BlendOp op, const TileBuffer& foreground, const TileBuffer& background);

// One stored RGBA8 row as a fused blend reads it: premultiplied as it is read
// when asked, then every channel multiplied by `scale` (an opacity) unless it
// is 1, the same operations as a tile load followed by `scale`.
struct RowInput {
    const std::byte* pixels = nullptr;
    bool premultiply = false;
    float scale = 1.0f;
};

// One row of two stored RGBA8 images blended into a stored RGBA8 row in one
// pass; the same bits as loading, blending and storing tiles. Streamed rows
// are ordered by one finishStreaming after the caller's last row.
void blendRowRgba8(BlendOp op, const RowInput& foreground, const RowInput& background, size_t n,
                   StoredAlpha alpha, std::byte* dst, bool stream = false);

// Straight RGBA8 pixels loaded premultiplied and stored straight again, in
// one copy: the same bits, except that colour is 0 where alpha is. Streamed
// rows are ordered by one finishStreaming after the caller's last row.
void restoreStraightRgba8(const std::byte* src, size_t n, std::byte* dst, bool stream = false);

} // namespace velmora::imaging::kernels
