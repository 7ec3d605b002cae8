#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

// Which kept versions stay: the decisions of the version store, free of files so
// that they can be checked against any clock.
struct VersionStoreThinning {
    using TimePoint = std::chrono::system_clock::time_point;

    // Every version saved in the last hour, then the newest of each hour for a
    // day, of each day for 30 days and of each week before that. Hours, days
    // and weeks are counted from the epoch, so a version that stayed once keeps
    // its slot as time passes. Versions from the future all stay. One flag per
    // time, true for a version that stays.
    static std::vector<bool> survivors(std::span<const TimePoint> savedTimes, TimePoint now);

    struct Entry {
        TimePoint savedAt;
        std::uint64_t size = 0;
        bool isProtected = false; // never removed for size
    };

    // Indices of the entries to remove, oldest first, until the others take at
    // most `limit` bytes (or only protected ones remain).
    static std::vector<std::size_t> overLimit(std::span<const Entry> entries, std::uint64_t limit);
};

} // namespace velmora
