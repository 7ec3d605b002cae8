#include "foundation/LogFormat.hpp"

#include <clocale>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using namespace velmora;

namespace {

struct Size {
    int w, h;
    std::string description() const { return std::to_string(w) + "x" + std::to_string(h); }
};

struct Case {
    const char* format;
    std::vector<LogArgument> arguments;
    const char* expected;
};

} // namespace

TEST(LogFormat, ExpandsTheConversionsTheLogsUse) {
    const std::vector<Case> cases = {
        {"Starting stroke at %dx%d: %{public}@",
         {12, -3, "Brush(size: 4)"},
         "Starting stroke at 12x-3: Brush(size: 4)"},
        {"Ending stroke at unknown position", {}, "Ending stroke at unknown position"},
        {"%d fps with %{public}@/%{public}@",
         {59, "1.5 GiB", "8.0 GiB"},
         "59 fps with 1.5 GiB/8.0 GiB"},
        {"Layer: %{public}@. Opacity changed from %f to %f",
         {"L", 0.5, 1.0f},
         "Layer: L. Opacity changed from 0.500000 to 1.000000"},
        {"Failed launching diagnostic app: %{public}s",
         {std::string("no such file")},
         "Failed launching diagnostic app: no such file"},
        {"Created canvas of size %{public}@", {Size{64, 32}}, "Created canvas of size 64x32"},
        {"Visibility changed to %{public}@", {true}, "Visibility changed to true"},
        {"%ld %lld %u %lu %zu", {std::int64_t{-5}, 7LL, 3u, 4UL, std::size_t{9}}, "-5 7 3 4 9"},
        {"%5.2f|%-4d|%04d|%x", {3.14159, 7, 42, 255}, " 3.14|7   |0042|ff"},
        {"100%% done", {}, "100% done"},
        {"%{private}@ and %@", {"secret", "shown"}, "<private> and shown"},
        {"%d and %d", {1}, "1 and <missing>"},
        {"%d", {"text"}, "text"},
        {"%{public}@", {42}, "42"},
        {"trailing %", {}, "trailing %"},
        {"odd %{public", {}, "odd %{public"},
        {"unknown %k conversion", {}, "unknown %k conversion"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatLogMessage(c.format, c.arguments), c.expected) << c.format;
    }
}
