#include "Canvas/TextureChecksum.hpp"

#include <bit>
#include <cstring>
#include <tbb/blocked_range.h>
#include <tbb/parallel_reduce.h>

namespace velmora {

namespace {

// The stripe and mixing steps of XXH64: four independent lanes keep the loop
// at memory speed, and every input bit reaches the result.
constexpr uint64_t prime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t prime3 = 0x165667B19E3779F9ull;
constexpr uint64_t prime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t prime5 = 0x27D4EB2F165667C5ull;

uint64_t round(uint64_t accumulator, uint64_t input) {
    accumulator += input * prime2;
    return std::rotl(accumulator, 31) * prime1;
}

uint64_t mergeRound(uint64_t accumulator, uint64_t value) {
    accumulator ^= round(0, value);
    return accumulator * prime1 + prime4;
}

uint64_t avalanche(uint64_t h) {
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    h *= prime3;
    h ^= h >> 32;
    return h;
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

uint64_t digest(const uint8_t* p, size_t length, uint64_t seed) {
    const uint8_t* const end = p + length;
    uint64_t h;
    if (length >= 32) {
        uint64_t v1 = seed + prime1 + prime2, v2 = seed + prime2, v3 = seed, v4 = seed - prime1;
        for (; p + 32 <= end; p += 32) {
            v1 = round(v1, load64(p));
            v2 = round(v2, load64(p + 8));
            v3 = round(v3, load64(p + 16));
            v4 = round(v4, load64(p + 24));
        }
        h = std::rotl(v1, 1) + std::rotl(v2, 7) + std::rotl(v3, 12) + std::rotl(v4, 18);
        h = mergeRound(mergeRound(mergeRound(mergeRound(h, v1), v2), v3), v4);
    } else {
        h = seed + prime5;
    }
    h += length;
    for (; p + 8 <= end; p += 8) {
        h = std::rotl(h ^ round(0, load64(p)), 27) * prime1 + prime4;
    }
    for (; p < end; ++p) {
        h = std::rotl(h ^ (uint64_t(*p) * prime5), 11) * prime1;
    }
    return avalanche(h);
}

} // namespace

uint64_t textureChecksum(MTLTexture& texture) {
    const MTLTextureContents contents = texture.contentsForReading();
    const size_t rowBytes = size_t(contents.width * contents.bytesPerPixel);
    // Fixed bands so that the digest does not depend on how the work is split.
    constexpr int64_t band = 64;
    const int64_t bands = (contents.height + band - 1) / band;
    return tbb::parallel_deterministic_reduce(
        tbb::blocked_range<int64_t>(0, bands, 1), uint64_t(contents.width),
        [&](const tbb::blocked_range<int64_t>& range, uint64_t h) {
            for (int64_t b = range.begin(); b != range.end(); ++b) {
                uint64_t bandDigest = uint64_t(b);
                const int64_t last = std::min(contents.height, (b + 1) * band);
                for (int64_t y = b * band; y < last; ++y) {
                    bandDigest = digest(contents.row(y), rowBytes, bandDigest);
                }
                h = mergeRound(h, bandDigest);
            }
            return h;
        },
        [](uint64_t a, uint64_t b) { return avalanche(mergeRound(a, b)); });
}

} // namespace velmora
