#include "foundation/IndexPath.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <unordered_set>
#include <vector>

using namespace velmora;

namespace {

TEST(IndexPath, TextForms) {
    const struct {
        IndexPath path;
        const char* text;
    } cases[] = {{{}, "[]"}, {{2}, "[2]"}, {{2, 0}, "[2, 0]"}, {{1, -3, 12}, "[1, -3, 12]"}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.path.description(), c.text);
        std::ostringstream os;
        os << c.path;
        EXPECT_EQ(os.str(), c.text);
    }
}

TEST(IndexPath, OrderIsElementWiseWithPrefixesFirst) {
    std::vector<IndexPath> paths{{2}, {1, 5}, {}, {1}, {1, 0, 3}, {0, 9}};
    std::sort(paths.begin(), paths.end());
    const std::vector<IndexPath> expected{{}, {0, 9}, {1}, {1, 0, 3}, {1, 5}, {2}};
    EXPECT_EQ(paths, expected);
}

TEST(IndexPath, HashingFollowsEquality) {
    std::unordered_set<IndexPath> set{{1, 2}, {2, 1}, {1, 2}, {}, {0}, {0, 0}};
    EXPECT_EQ(set.size(), 5u);
    EXPECT_TRUE(set.contains(IndexPath{0, 0}));
    EXPECT_FALSE(set.contains(IndexPath{0, 0, 0}));
}

TEST(IndexPath, ElementAccess) {
    IndexPath path{4, 5};
    EXPECT_EQ(path.count(), 2);
    EXPECT_EQ(path.first(), 4);
    EXPECT_EQ(path.last(), 5);
    path[1] = 7;
    EXPECT_EQ(path, (IndexPath{4, 7}));
    EXPECT_EQ(path.appending(0), (IndexPath{4, 7, 0}));
    EXPECT_EQ(path.dropLast(), (IndexPath{4}));
    EXPECT_EQ(IndexPath{}.dropLast(), IndexPath{});
    EXPECT_EQ(IndexPath{}.last(), std::nullopt);
    EXPECT_TRUE(IndexPath{}.isEmpty());
}

using IndexPathDeathTest = ::testing::Test;

TEST_F(IndexPathDeathTest, PositionOutsideThePathStops) {
    const IndexPath path{1, 2};
    EXPECT_DEATH(path[2], "Fatal error: Index path position out of range");
    EXPECT_DEATH(path[-1], "Fatal error");
}

} // namespace
