#include "desktop/VersionStoreThinning.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

using TimePoint = VersionStoreThinning::TimePoint;

// Day 20000 after the epoch is in the week that began on day 19999.
TimePoint at(int day, std::chrono::minutes time) {
    return TimePoint(std::chrono::days(day) + time);
}

const TimePoint now = at(20000, 12h + 30min);

struct ThinningCase {
    std::string name;
    std::vector<TimePoint> saved;
    std::vector<bool> stays;
};

} // namespace

TEST(VersionStoreThinning, KeepsTheLastHourThenOnePerHourDayAndWeek) {
    const std::vector<ThinningCase> cases = {
        {"the last hour keeps everything, its edge included",
         {now - 1min, now - 10min, now - 59min, now - 60min},
         {true, true, true, true}},
        {"older than an hour: the newest of each hour",
         {at(20000, 10h + 5min), at(20000, 10h + 50min), at(20000, 11h + 10min)},
         {false, true, true}},
        {"hours are counted from the epoch, not from now",
         {at(20000, 10h + 59min), at(20000, 11h), at(20000, 9h + 1min)},
         {true, true, true}},
        {"a day's hours: each hour once, the hour of the day boundary too",
         {at(19999, 13h), at(19999, 13h + 20min), at(19999, 23h + 59min), at(20000, 0min)},
         {false, true, true, true}},
        {"older than a day: the newest of each day",
         {at(19995, 8h), at(19995, 20h), at(19994, 23h), at(19970, 12h)},
         {false, true, true, true}},
        {"older than 30 days: the newest of each week",
         {at(19950, 1h), at(19952, 1h), at(19956, 23h), at(19949, 1h), at(19900, 1h)},
         {false, false, true, true, true}},
        {"a day straddling the one-day line thins each side by its own rule",
         {at(19999, 11h), at(19999, 11h + 30min), at(19999, 13h), at(19999, 13h + 1min)},
         {false, true, false, true}},
        {"versions from the future stay", {now + 1h, now + 24h}, {true, true}},
        {"equal times in one slot leave exactly one", {now - 3h, now - 3h}, {false, true}},
        {"no versions", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VersionStoreThinning::survivors(c.saved, now), c.stays);
    }
}

TEST(VersionStoreThinning, SizeLimitRemovesOldestFirstSparingProtected) {
    struct LimitCase {
        std::string name;
        std::vector<VersionStoreThinning::Entry> entries;
        std::uint64_t limit;
        std::vector<std::size_t> removed;
    };
    const TimePoint t = now;
    const std::vector<LimitCase> cases = {
        {"under the limit", {{t - 3h, 10}, {t - 2h, 10}}, 20, {}},
        {"oldest first, whatever the order given",
         {{t - 1h, 10}, {t - 5h, 10}, {t - 3h, 10}, {t, 10}},
         25,
         {1, 2}},
        {"removal stops as soon as the rest fits",
         {{t - 3h, 30}, {t - 2h, 5}, {t - 1h, 5}},
         10,
         {0}},
        {"a protected version stays, even alone over the limit",
         {{t - 3h, 10}, {t - 2h, 100, true}, {t - 1h, 10}},
         50,
         {0, 2}},
        {"a zero limit empties the store", {{t - 2h, 1}, {t - 1h, 1}}, 0, {0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VersionStoreThinning::overLimit(c.entries, c.limit), c.removed);
    }
}
