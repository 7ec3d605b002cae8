#include "gpu/cpu/FillKernel.hpp"

#include "gpu/cpu/CPUTexture.hpp"
#include "gpu/cpu/PixelIO.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velmora::cpu {

namespace {

struct UInt2 {
    uint32_t x, y;
};

template <size_t N> void fillSpan(uint8_t* dst, const uint8_t* pixel, int64_t count) {
    struct Pixel {
        uint8_t b[N];
    };
    Pixel p;
    std::memcpy(p.b, pixel, N);
    std::fill_n(reinterpret_cast<Pixel*>(dst), count, p);
}

#ifdef __SSE2__
// Long spans bypass the cache: a fill never reads what it overwrites.
constexpr int64_t kStreamingBytes = 4 * 1024;

void streamSpan(uint8_t* dst, const uint8_t* pixel, int64_t bytes, int bytesPerPixel) {
    // Pixel sizes divide 16, so one 16-byte pattern holds whole pixels; the part
    // before the first aligned address shifts the pattern's phase.
    const auto misalignment =
        static_cast<int64_t>((16 - reinterpret_cast<uintptr_t>(dst) % 16) % 16);
    uint8_t pattern[32];
    for (int i = 0; i < 32; ++i) {
        pattern[i] = pixel[i % bytesPerPixel];
    }
    std::memcpy(dst, pattern, static_cast<size_t>(misalignment));
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + misalignment % bytesPerPixel));
    int64_t i = misalignment;
    for (; i + 16 <= bytes; i += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), v);
    }
    std::memcpy(dst + i, pattern + (i % bytesPerPixel), static_cast<size_t>(bytes - i));
}
#endif

void fillSpan(uint8_t* dst, const uint8_t* pixel, int64_t count, int bytesPerPixel) {
#ifdef __SSE2__
    if (count * bytesPerPixel >= kStreamingBytes && 16 % bytesPerPixel == 0) {
        streamSpan(dst, pixel, count * bytesPerPixel, bytesPerPixel);
        return;
    }
#endif
    switch (bytesPerPixel) {
    case 1:
        std::memset(dst, pixel[0], static_cast<size_t>(count));
        return;
    case 2:
        return fillSpan<2>(dst, pixel, count);
    case 4:
        return fillSpan<4>(dst, pixel, count);
    case 8:
        return fillSpan<8>(dst, pixel, count);
    case 16:
        return fillSpan<16>(dst, pixel, count);
    default:
        for (int64_t i = 0; i < count; ++i) {
            std::memcpy(dst + i * bytesPerPixel, pixel, static_cast<size_t>(bytesPerPixel));
        }
    }
}

void runFill(const ComputeArguments& args, const ThreadRect& band) {
    const auto colour = args.table.bytesAs<std::array<float, 4>>(1);
    const auto origin = args.table.bytesAs<UInt2>(2);
    const auto size = args.table.bytesAs<UInt2>(3);
    const int64_t x0 = std::max<int64_t>(band.x0, origin.x);
    const int64_t x1 = std::min<int64_t>(band.x1, int64_t(origin.x) + size.x);
    const int64_t y0 = std::max<int64_t>(band.y0, origin.y);
    const int64_t y1 = std::min<int64_t>(band.y1, int64_t(origin.y) + size.y);
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    const auto& object = args.table.textureObject(0);
    const auto texture = args.table.texture(0);
    const auto layout = *pixelLayout(texture.pixelFormat);
    std::array<uint8_t, 16> pixel{};
    storeRow(layout, colour.data(), pixel.data(), 1);
    const bool zero = std::all_of(pixel.begin(), pixel.begin() + layout.bytesPerPixel,
                                  [](uint8_t b) { return b == 0; });
    auto* cpuTexture = dynamic_cast<CPUTexture*>(object.get());
    if (zero && x0 == 0 && x1 == texture.width && cpuTexture != nullptr) {
        // Clearing the whole texture gives its pages back; clearing a part writes zeros.
        const bool whole =
            origin.x == 0 && origin.y == 0 && size.x >= texture.width && size.y >= texture.height;
        cpuTexture->zeroRows(y0, y1, whole);
        return;
    }
    const bool contiguous = x0 == 0 && x1 == texture.width;
    if (contiguous) {
        // Whole rows are one span.
        fillSpan(texture.row(y0), pixel.data(), (y1 - y0) * texture.width, layout.bytesPerPixel);
    } else {
        for (int64_t y = y0; y < y1; ++y) {
            fillSpan(texture.row(y) + x0 * texture.bytesPerPixel, pixel.data(), x1 - x0,
                     layout.bytesPerPixel);
        }
    }
#ifdef __SSE2__
    _mm_sfence();
#endif
}

} // namespace

ComputeKernel makeFillKernel() {
    ComputeKernel kernel;
    kernel.run = runFill;
    return kernel;
}

} // namespace velmora::cpu
