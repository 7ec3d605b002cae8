#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace velmora {

// Feeds values one after another into a single hash, so that the order of the
// fields matters ((1, 2) and (2, 1) hash apart).
class Hasher {
public:
    template <typename T>
    requires std::is_integral_v<T>
    void combine(T value) { mix(static_cast<uint64_t>(value)); }
    // +0 and -0 compare equal, so they must hash alike.
    void combine(double value) { mix(std::bit_cast<uint64_t>(value == 0 ? 0.0 : value)); }

    size_t finalize() const { return static_cast<size_t>(state_); }

private:
    void mix(uint64_t v) {
        // splitmix64 finaliser over the running state.
        uint64_t z = state_ ^ (v + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2));
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        state_ = z ^ (z >> 31);
    }
    uint64_t state_ = 0x6a09e667f3bcc908ULL;
};

} // namespace velmora
