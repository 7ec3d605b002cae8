#include "foundation/SignalSafeText.hpp"

#include <gtest/gtest.h>

using namespace velmora;

TEST(SignalSafeText, TimesAreUTCCalendarDatesAcrossLeapRules) {
    const struct {
        std::int64_t seconds;
        const char* text;
        const char* compact;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z", "19700101T000000Z"},
        {-1, "1969-12-31T23:59:59Z", "19691231T235959Z"},
        {951782400, "2000-02-29T00:00:00Z", "20000229T000000Z"},
        {1798761599, "2026-12-31T23:59:59Z", "20261231T235959Z"},
        {4107587696, "2100-03-01T12:34:56Z", "21000301T123456Z"}, // 2100 has no 29 February
        {-2208988800, "1900-01-01T00:00:00Z", "19000101T000000Z"},
    };
    for (const auto& c : cases) {
        SignalSafeText text;
        EXPECT_EQ(text.appendUTCTime(c.seconds).view(), c.text);
        text.clear();
        EXPECT_EQ(text.appendUTCTime(c.seconds, true).view(), c.compact);
    }
}
