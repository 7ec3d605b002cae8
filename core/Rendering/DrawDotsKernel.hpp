#pragma once

#include "gpu/cpu/ShaderFunctions.hpp"

namespace velmora {

// "drawDots" stamps a batch of dots. Function constant 0 (int) is the dot count N;
// texture 0 the stroke texture (read), texture 1 the texture written (the scratch
// texture, or the stroke texture itself to stamp in place), both rgba32Float with
// straight colour; bytes 2 hold N DotDesc records, bytes 3
// the pixel of thread (0, 0) as two int32. Every pixel of the union of the dots'
// regions that lies inside both textures and the grid gets, in the scratch
// texture, the stroke's value with the N dots composited onto it in order;
// nothing else is written. Consecutive batches of one command buffer run as one
// pass over their rows, and small ones on the calling thread, so many batches of
// small dots cost no wake-up of the workers each.
//
// A dot at distance d from a pixel's centre covers it by 1 - smoothstep(h·r - 0.5,
// r + 0.5, d) for radius r and hardness h: a one-pixel anti-aliased rim at h = 1,
// a falloff from the centre at h = 0, nothing from r + 0.5 on. Its alpha there is
// coverage × opacity × colour alpha. The stroke keeps the largest alpha any dot
// gave a pixel, so overlapping dots never build up past the brush's opacity at
// any spacing; a dot that raises the alpha mixes its colour in by the share it
// adds (source-over limited to that alpha), so one colour stays exactly that
// colour. Each pixel depends only on its position and the dots, so any split of
// the rows into bands gives the same bits.
cpu::ComputeKernel makeDrawDotsKernel();

// Adds "drawDots" to the device's shader library; later calls do nothing.
void registerDrawDotsKernel();

} // namespace velmora
