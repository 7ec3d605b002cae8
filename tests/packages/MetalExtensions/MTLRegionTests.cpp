#include "MetalExtensions/MTLRegionExtensions.hpp"

#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <unordered_set>
#include <vector>

using namespace velmora;

namespace {

MTLRegion region(int64_t x, int64_t y, int64_t z, int64_t w, int64_t h, int64_t d) {
    return makeMTLRegion(x, y, z, w, h, d);
}

struct PairCase {
    const char* name;
    MTLRegion a;
    MTLRegion b;
    MTLRegion unionResult;
    std::optional<MTLRegion> intersectionResult;
    bool aContainsB;
};

const PairCase kPairCases[] = {
    {"disjoint rows grow to cover both", region(0, 0, 0, 10, 10, 1), region(20, 5, 0, 5, 5, 1),
     region(0, 0, 0, 25, 10, 1), std::nullopt, false},
    {"touching edges share nothing", region(0, 0, 0, 10, 10, 1), region(10, 0, 0, 5, 5, 1),
     region(0, 0, 0, 15, 10, 1), std::nullopt, false},
    {"inner region", region(0, 0, 0, 10, 10, 1), region(2, 2, 0, 8, 8, 1),
     region(0, 0, 0, 10, 10, 1), region(2, 2, 0, 8, 8, 1), true},
    {"one pixel too wide", region(0, 0, 0, 10, 10, 1), region(2, 2, 0, 9, 8, 1),
     region(0, 0, 0, 11, 10, 1), region(2, 2, 0, 8, 8, 1), false},
    {"itself", region(3, 4, 0, 5, 6, 1), region(3, 4, 0, 5, 6, 1), region(3, 4, 0, 5, 6, 1),
     region(3, 4, 0, 5, 6, 1), true},
    {"overlap with negative origin", region(-5, -5, 0, 10, 10, 1), region(0, 0, 0, 10, 10, 1),
     region(-5, -5, 0, 15, 15, 1), region(0, 0, 0, 5, 5, 1), false},
    {"other slices", region(0, 0, 0, 4, 4, 1), region(0, 0, 1, 4, 4, 1), region(0, 0, 0, 4, 4, 2),
     std::nullopt, false},
    {"empty argument is ignored by union", region(1, 1, 0, 4, 4, 1), region(50, 50, 0, 0, 9, 1),
     region(1, 1, 0, 4, 4, 1), std::nullopt, false},
    {"empty receiver yields the argument", region(50, 50, 0, 9, 0, 1), region(1, 1, 0, 4, 4, 1),
     region(1, 1, 0, 4, 4, 1), std::nullopt, false},
    {"both empty yields the argument unchanged", region(7, 7, 0, -3, 2, 1),
     region(9, 9, 9, 2, 2, 0), region(9, 9, 9, 2, 2, 0), std::nullopt, false},
    {"empty region inside a large one is not contained", region(0, 0, 0, 10, 10, 1),
     region(2, 2, 0, 0, 0, 1), region(0, 0, 0, 10, 10, 1), std::nullopt, false},
};

class RegionPairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(RegionPairs, SetOperations) {
    const PairCase& c = GetParam();
    EXPECT_EQ(unionWith(c.a, c.b), c.unionResult);
    EXPECT_EQ(intersection(c.a, c.b), c.intersectionResult);
    EXPECT_EQ(intersection(c.b, c.a), c.intersectionResult) << "intersection is symmetric";
    EXPECT_EQ(intersects(c.a, c.b), c.intersectionResult.has_value());
    EXPECT_EQ(contains(c.a, c.b), c.aContainsB);
}

INSTANTIATE_TEST_SUITE_P(Table, RegionPairs, ::testing::ValuesIn(kPairCases), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
});

struct SplitCase {
    const char* name;
    MTLRegion r;
    MTLSize tile;
    std::vector<MTLRegion> tiles;
};

const SplitCase kSplitCases[] = {
    {"two_columns_clip_the_last",
     region(5, 7, 0, 100, 50, 1),
     {64, 64, 1},
     {region(5, 7, 0, 64, 50, 1), region(69, 7, 0, 36, 50, 1)}},
    {"four_full_tiles_row_by_row",
     region(0, 0, 0, 128, 128, 1),
     {64, 64, 1},
     {region(0, 0, 0, 64, 64, 1), region(64, 0, 0, 64, 64, 1), region(0, 64, 0, 64, 64, 1),
      region(64, 64, 0, 64, 64, 1)}},
    {"fits_one_tile_returns_itself_even_when_deep",
     region(3, 3, 2, 10, 10, 4),
     {64, 64, 1},
     {region(3, 3, 2, 10, 10, 4)}},
    {"empty_fitting_region_returns_itself",
     region(1, 1, 0, 0, 0, 1),
     {64, 64, 1},
     {region(1, 1, 0, 0, 0, 1)}},
    {"zero_height_wide_region_has_no_tiles", region(0, 0, 0, 200, 0, 1), {64, 64, 1}, {}},
    {"zero_width_tall_region_has_no_tiles", region(0, 0, 0, 0, 200, 1), {64, 64, 1}, {}},
    {"negative_width_tall_region_has_no_tiles", region(0, 0, 0, -200, 200, 1), {64, 64, 1}, {}},
    {"three_by_two_with_clipped_edges",
     region(-4, 10, 1, 5, 3, 1),
     {2, 2, 1},
     {region(-4, 10, 1, 2, 2, 1), region(-2, 10, 1, 2, 2, 1), region(0, 10, 1, 1, 2, 1),
      region(-4, 12, 1, 2, 1, 1), region(-2, 12, 1, 2, 1, 1), region(0, 12, 1, 1, 1, 1)}},
    {"deep_region_is_cut_to_its_first_slice",
     region(0, 0, 0, 4, 2, 3),
     {2, 2, 1},
     {region(0, 0, 0, 2, 2, 1), region(2, 0, 0, 2, 2, 1)}},
};

class RegionSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(RegionSplit, TilesInOrder) {
    const SplitCase& c = GetParam();
    const auto tiles = split(c.r, c.tile);
    EXPECT_EQ(tiles, c.tiles);
    if (tiles.size() > 1) {
        int64_t covered = 0;
        for (size_t i = 0; i < tiles.size(); ++i) {
            EXPECT_TRUE(contains(c.r, tiles[i])) << description(tiles[i]);
            covered += surface(tiles[i].size);
            for (size_t k = 0; k < i; ++k) {
                EXPECT_FALSE(intersects(tiles[i], tiles[k]));
            }
        }
        EXPECT_EQ(covered, surface(c.r.size));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, RegionSplit, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MTLRegion, InflateAndDeflateAreInverse) {
    const MTLRegion r = region(10, 20, 0, 30, 40, 1);
    EXPECT_EQ(inflated(r, 2, 3), region(8, 17, 0, 34, 46, 1));
    EXPECT_EQ(deflated(r, 2, 3), region(12, 23, 0, 26, 34, 1));
    EXPECT_EQ(inflated(r, MTLVector(1, 1, 1)), region(9, 19, -1, 32, 42, 3));
    EXPECT_EQ(deflated(inflated(r, MTLVector(5, -2, 0)), MTLVector(5, -2, 0)), r);
    EXPECT_EQ(translated(r, MTLVector(-10, 5)), region(0, 25, 0, 30, 40, 1));
}

TEST(MTLRegion, EdgesAndConversions) {
    const MTLRegion r = region(-3, 4, 0, 10, 6, 1);
    EXPECT_EQ(left(r), -3);
    EXPECT_EQ(right(r), 7);
    EXPECT_EQ(bottom(r), 4);
    EXPECT_EQ(top(r), 10);
    EXPECT_EQ(makeMTLRegion(CGRect{{1.9, -2.9}, {10.5, 3.99}}), region(1, -2, 0, 10, 3, 1));
    EXPECT_EQ(makeMTLRegion(CGSize{7.7, 8.2}), region(0, 0, 0, 7, 8, 1));
    EXPECT_EQ(makeMTLRegion(1, 2, 3, 4), region(1, 2, 0, 3, 4, 1));
}

TEST(MTLRegion, EqualRegionsHashAlikeAndFieldOrderMatters) {
    std::unordered_set<MTLRegion> set{region(1, 2, 0, 3, 4, 1), region(1, 2, 0, 3, 4, 1),
                                      region(2, 1, 0, 4, 3, 1)};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_NE(std::hash<MTLRegion>{}(region(1, 2, 0, 3, 4, 1)),
              std::hash<MTLRegion>{}(region(2, 1, 0, 3, 4, 1)));
}

using MTLRegionDeathTest = ::testing::Test;

TEST_F(MTLRegionDeathTest, BadTilesAndOverflowStop) {
    const MTLRegion r = region(0, 0, 0, 100, 100, 1);
    EXPECT_DEATH(split(r, {64, 64, 2}), "Fatal error");
    EXPECT_DEATH(split(r, {0, 64, 1}), "Fatal error");
    EXPECT_DEATH(split(r, {64, 0, 1}), "Fatal error");
    // A flat region that needs several tiles has no slice to cut them from.
    EXPECT_DEATH(split(region(0, 0, 0, 200, 200, 0), {64, 64, 1}), "Fatal error");
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    EXPECT_DEATH(right(region(kMax, 0, 0, 1, 1, 1)), "Fatal error: Arithmetic overflow");
    EXPECT_DEATH(intersection(region(kMax - 1, 0, 0, 5, 1, 1), r), "Fatal error");
    EXPECT_DEATH(inflated(r, kMax, 0), "Fatal error");
}

} // namespace
