#pragma once

#include "gpu/MTLPixelFormat.hpp"
#include "gpu/MTLTexture.hpp"

#include <cstdint>

namespace velmora {

// The record the canvas quad hands to "vertexFunc": 16 bytes, no padding.
struct Vertex {
    float position[2];          // canvas pixels
    float textureCoordinate[2]; // 0 to 1 across the canvas texture
};
static_assert(sizeof(Vertex) == 16);

// Adds "vertexFunc" and "fragmentFunc" to the device's shader library; later calls
// do nothing. "vertexFunc" takes the quad (bytes 0), the viewport size in pixels
// (bytes 1, two int32) and the canvas-to-framebuffer matrix (bytes 2, simd_float3x3);
// framebuffer pixels count from the bottom-left corner, y up. "fragmentFunc" samples
// texture 1 and receives the magnified flag (bytes 0, one byte).
void registerCanvasShaders();

namespace shaders {

enum class Sampling { nearest, bilinear, area };

// How a pixel whose centre moves by (dx, dy) texels per pixel to the right is sampled:
// nearest when magnified (a canvas pixel spans more than four framebuffer pixels) or
// when texels map one to one onto pixels (scale 1, a multiple of 90 degrees); bilinear
// up to scale 1; below it, the area the pixel covers, so a fitted large canvas does
// not alias.
Sampling samplingFor(double dx, double dy, bool magnified);

// Samples `count` pixels starting at texel position (x, y) and moving by (dx, dy) texels
// per pixel; texel (i, j) covers [i, i + 1) x [j, j + 1). Writes straight RGBA floats.
void sampleSpan(const MTLTextureContents& texture, double x, double y, double dx, double dy,
                int64_t count, Sampling sampling, float* rgba);

} // namespace shaders
} // namespace velmora
