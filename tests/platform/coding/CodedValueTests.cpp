#include "coding/Base64.hpp"
#include "coding/CodedValue.hpp"

#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace velmora;

namespace {

std::vector<std::string> keysOf(const CodedDictionary& d) {
    std::vector<std::string> keys;
    for (const auto& entry : d) {
        keys.push_back(entry.first);
    }
    return keys;
}

TEST(CodedDictionary, InsertionOrderSurvivesGrowthReplaceAndRemove) {
    CodedDictionary d;
    std::vector<std::string> expected;
    // Past the size where lookups switch to the hash index.
    for (int i = 40; i > 0; --i) {
        d.set("k" + std::to_string(i), i);
        expected.push_back("k" + std::to_string(i));
    }
    EXPECT_EQ(keysOf(d), expected);
    EXPECT_EQ(d.set("k20", "replaced"), 20u);
    EXPECT_EQ(*d.find("k20"), CodedValue("replaced"));
    EXPECT_EQ(keysOf(d), expected);

    EXPECT_TRUE(d.remove("k40"));
    EXPECT_FALSE(d.remove("k40"));
    expected.erase(expected.begin());
    EXPECT_EQ(keysOf(d), expected);
    for (int i = 1; i < 40; ++i) {
        ASSERT_NE(d.find("k" + std::to_string(i)), nullptr) << i;
        EXPECT_EQ(d.indexOf("k" + std::to_string(i)), std::size_t(39 - i));
    }
    EXPECT_EQ(d.find("k0"), nullptr);

    const CodedDictionary copy = d;
    EXPECT_EQ(copy, d);
    EXPECT_EQ(*copy.find("k7"), CodedValue(7));
    while (d.size() > 3) {
        d.remove(d.entryAt(0).first);
    }
    EXPECT_EQ(keysOf(d), (std::vector<std::string>{"k3", "k2", "k1"}));
    EXPECT_EQ(*d.find("k1"), CodedValue(1));
}

TEST(CodedDictionary, EqualityIsOrderSensitive) {
    CodedDictionary a;
    a.set("x", 1);
    a.set("y", 2);
    CodedDictionary b;
    b.set("y", 2);
    b.set("x", 1);
    EXPECT_NE(a, b);
}

TEST(CodedValue, KindsStayDistinct) {
    const CodedValue values[] = {CodedValue(),
                                 CodedValue(false),
                                 CodedValue(1),
                                 CodedValue(1u),
                                 CodedValue(1.0f),
                                 CodedValue(1.0),
                                 CodedValue("1"),
                                 CodedValue(CodedValue::Bytes{1}),
                                 CodedValue(CodedValue::Array{}),
                                 CodedValue(CodedDictionary())};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(values[i].kind()), i);
        for (std::size_t j = 0; j < std::size(values); ++j) {
            EXPECT_EQ(values[i] == values[j], i == j) << i << " " << j;
        }
    }
}

TEST(CodedValue, PrintsEveryKindReadably) {
    CodedDictionary d;
    d.set("a", CodedValue::Array{CodedValue(-1), CodedValue(2u), CodedValue(0.5f), CodedValue(0.25),
                                 CodedValue("x"), CodedValue(CodedValue::Bytes{1, 2, 3}),
                                 CodedValue(), CodedValue(true)});
    d.set("b", CodedDictionary());
    std::ostringstream out;
    out << CodedValue(d);
    EXPECT_EQ(out.str(), R"({"a": [-1, 2u, 0.5f, 0.25, "x", <3 bytes>, null, true], "b": {}})");
}

TEST(Base64, KnownTextsAndRoundTrips) {
    struct Case {
        std::string bytes;
        const char* text;
    };
    const Case cases[] = {{"", ""},
                          {"f", "Zg=="},
                          {"fo", "Zm8="},
                          {"foo", "Zm9v"},
                          {"foob", "Zm9vYg=="},
                          {"fooba", "Zm9vYmE="},
                          {"foobar", "Zm9vYmFy"},
                          {"\xfb\xff", "+/8="}};
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(base64Encode(bytes), c.text);
        EXPECT_EQ(base64Decode(c.text), bytes) << c.text;
    }
    std::mt19937 random(3);
    for (int n = 0; n < 64; ++n) {
        std::vector<std::uint8_t> bytes(n);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        EXPECT_EQ(base64Decode(base64Encode(bytes)), bytes);
    }
}

TEST(Base64, RejectsMalformedText) {
    for (const char* text : {"Zg", "Zg=", "Z===", "====", "Zg==Zg==", "Zm9v\n", "Zm 9", "Zm9-",
                             "=Zm9", "Zm=v", "Zg=a"}) {
        EXPECT_EQ(base64Decode(text), std::nullopt) << text;
    }
}

} // namespace
