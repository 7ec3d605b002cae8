#include "foundation/UUID.hpp"

#include <gtest/gtest.h>
#include <set>
#include <unordered_set>

using velmora::UUID;

TEST(UUID, TextIsUpperCaseAndReadInEitherCase) {
    const UUID::Bytes bytes{0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                            0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};
    const UUID uuid(bytes);
    EXPECT_EQ(uuid.uuidString(), "123E4567-E89B-12D3-A456-426614174000");
    EXPECT_EQ(UUID::fromString("123e4567-e89b-12d3-a456-426614174000"), uuid);
    EXPECT_EQ(UUID::fromString("123E4567-e89b-12D3-A456-426614174000"), uuid);
    EXPECT_EQ(UUID::fromString(uuid.uuidString()), uuid);
}

TEST(UUID, MalformedTextIsRefused) {
    const char* cases[] = {
        "",
        "123E4567-E89B-12D3-A456-42661417400",   // one digit short
        "123E4567-E89B-12D3-A456-4266141740000", // one digit long
        "123E4567E89B-12D3-A456-4266141740000",  // dash missing
        "123E4567-E89B-12D3-A456_426614174000",  // wrong separator
        "123E4567-E89B-12D3-A456-42661417400G",  // not hex
        "{23E4567-E89B-12D3-A456-42661417400}",  // braces
        " 123E4567-E89B-12D3-A456-42661417400",  // leading blank
        "123E4567-E89B-12D3-A4-56426614174000",  // dash in the wrong place
    };
    for (const char* text : cases) {
        EXPECT_FALSE(UUID::fromString(text).has_value()) << text;
    }
}

TEST(UUID, RandomOnesAreVersion4AndDistinct) {
    std::unordered_set<UUID> seen;
    for (int i = 0; i < 2000; ++i) {
        const UUID uuid;
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80);
        EXPECT_EQ(uuid.uuidString()[14], '4');
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(UUID, OrderAndEqualityFollowTheBytes) {
    UUID::Bytes low{};
    UUID::Bytes high{};
    high[0] = 1;
    EXPECT_LT(UUID(low), UUID(high));
    EXPECT_NE(UUID(low), UUID(high));
    EXPECT_EQ(std::set<UUID>({UUID(high), UUID(low), UUID(high)}).size(), 2u);
}
