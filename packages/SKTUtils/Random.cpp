#include "SKTUtils/CGFloatExtensions.hpp"
#include "SKTUtils/IntExtensions.hpp"

#include <random>

namespace velmora {

namespace {

constexpr int64_t kMaxBound = 0xffffffffLL;

std::mt19937& generator() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

uint32_t random32() {
    return static_cast<uint32_t>(generator()());
}

// Uniform in 0..<bound without modulo bias; 0 for bound 0.
uint32_t uniform32(int64_t bound) {
    precondition(bound >= 0 && bound <= kMaxBound, "Random bound out of range");
    if (bound == 0) {
        return 0;
    }
    std::uniform_int_distribution<uint32_t> draw(0, static_cast<uint32_t>(bound - 1));
    return draw(generator());
}

} // namespace

CGFloat randomCGFloat() {
    return static_cast<float>(random32()) * 0x1p-32f;
}

CGFloat randomCGFloat(CGFloat min, CGFloat max) {
    return min + randomCGFloat() * (max - min);
}

CGFloat randomSign() {
    return uniform32(2) == 0 ? 1.0 : -1.0;
}

int64_t randomInt(int64_t n) {
    return uniform32(n);
}

int64_t randomInt(int64_t min, int64_t max) {
    const int64_t span = checked::add<int64_t>(checked::sub(max, min), 1);
    return checked::add<int64_t>(min, uniform32(span));
}

int64_t randomInt(const Range<int64_t>& range) {
    precondition(!range.isEmpty(), "Cannot draw from an empty range");
    return checked::add<int64_t>(range.lowerBound,
                                 uniform32(checked::sub(range.upperBound, range.lowerBound)));
}

int64_t randomInt(const ClosedRange<int64_t>& range) {
    return randomInt(range.lowerBound, range.upperBound);
}

} // namespace velmora
