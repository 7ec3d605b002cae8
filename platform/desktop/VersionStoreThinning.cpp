#include "desktop/VersionStoreThinning.hpp"

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

namespace velmora {

namespace {

using namespace std::chrono_literals;
using Duration = std::chrono::system_clock::duration;

constexpr Duration hour = 1h;
constexpr Duration day = 24h;
constexpr Duration month = 30 * day;
constexpr Duration week = 7 * day;

// Slot number of `time` in slots of `width` from the epoch, rounding down
// also before 1970.
std::int64_t slotOf(VersionStoreThinning::TimePoint time, Duration width) {
    const auto ticks = time.time_since_epoch().count();
    const auto w = width.count();
    const auto q = ticks / w;
    return static_cast<std::int64_t>((ticks % w != 0 && ticks < 0) ? q - 1 : q);
}

} // namespace

std::vector<bool> VersionStoreThinning::survivors(std::span<const TimePoint> savedTimes,
                                                  TimePoint now) {
    std::vector<bool> stays(savedTimes.size(), true);
    // (tier, slot) -> index of the newest version seen in it.
    std::map<std::pair<int, std::int64_t>, std::size_t> newest;
    for (std::size_t i = 0; i < savedTimes.size(); ++i) {
        const Duration age = now - savedTimes[i];
        if (age <= hour) {
            continue;
        }
        const int tier = age <= day ? 1 : age <= month ? 2 : 3;
        const Duration width = tier == 1 ? hour : tier == 2 ? day : week;
        const auto key = std::make_pair(tier, slotOf(savedTimes[i], width));
        const auto [it, inserted] = newest.emplace(key, i);
        if (inserted) {
            continue;
        }
        // Equal times: the later entry stays, so exactly one survives.
        if (savedTimes[i] >= savedTimes[it->second]) {
            stays[it->second] = false;
            it->second = i;
        } else {
            stays[i] = false;
        }
    }
    return stays;
}

std::vector<std::size_t> VersionStoreThinning::overLimit(std::span<const Entry> entries,
                                                         std::uint64_t limit) {
    std::uint64_t total = 0;
    for (const Entry& entry : entries) {
        total += entry.size;
    }
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].savedAt < entries[b].savedAt;
    });
    std::vector<std::size_t> removed;
    for (const std::size_t i : order) {
        if (total <= limit) {
            break;
        }
        if (entries[i].isProtected) {
            continue;
        }
        removed.push_back(i);
        total -= entries[i].size;
    }
    return removed;
}

} // namespace velmora
