#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace velmora;

namespace {

struct Swatch {
    std::string name;
    float opacity = 0;
    double position = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<std::int64_t> stops;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(name, "name");
        c.encode(opacity, "opacity");
        c.encode(position, "position");
        c.encode(pixels, "pixels");
        c.encode(stops, "stops");
    }
    static Swatch decode(Decoder& decoder) {
        const auto c = decoder.container();
        return {c.decode<std::string>("name"), c.decode<float>("opacity"),
                c.decode<double>("position"), c.decode<std::vector<std::uint8_t>>("pixels"),
                c.decode<std::vector<std::int64_t>>("stops")};
    }
    friend bool operator==(const Swatch&, const Swatch&) = default;
};

DecodingError readError(std::string_view text, const JSONReadingLimits& limits = {}) {
    try {
        JSONSerialization::read(text, limits);
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "accepted: " << text.substr(0, 60);
    return DecodingError::dataCorrupted({});
}

TEST(JSON, RoundTripThroughText) {
    const Swatch s{"Ink \"blue\"\n/é",
                   0.3f,
                   1.0 / 3.0,
                   {0, 1, 2, 3, 254, 255},
                   {std::numeric_limits<std::int64_t>::min(), 0, 42}};
    const std::string json = JSONEncoder{}.encode(s);
    EXPECT_EQ(json, "{\"name\":\"Ink \\\"blue\\\"\\n/é\",\"opacity\":0.3,"
                    "\"position\":0.3333333333333333,\"pixels\":\"AAECA/7/\","
                    "\"stops\":[-9223372036854775808,0,42]}");
    EXPECT_EQ(JSONDecoder{}.decode<Swatch>(json), s);
}

TEST(JSON, PrettyAndSortedOutput) {
    CodedDictionary inner;
    inner.set("b", 1);
    inner.set("a", CodedValue::Array{CodedValue(true), CodedValue()});
    CodedDictionary outer;
    outer.set("z", inner);
    outer.set("e", CodedDictionary());
    outer.set("y", CodedValue::Array{});

    EXPECT_EQ(JSONSerialization::write(outer), R"({"z":{"b":1,"a":[true,null]},"e":{},"y":[]})");
    EXPECT_EQ(JSONSerialization::write(outer, {.sortedKeys = true}),
              R"({"e":{},"y":[],"z":{"a":[true,null],"b":1}})");
    EXPECT_EQ(JSONSerialization::write(outer, {.prettyPrinted = true}), "{\n"
                                                                        "  \"z\" : {\n"
                                                                        "    \"b\" : 1,\n"
                                                                        "    \"a\" : [\n"
                                                                        "      true,\n"
                                                                        "      null\n"
                                                                        "    ]\n"
                                                                        "  },\n"
                                                                        "  \"e\" : {},\n"
                                                                        "  \"y\" : []\n"
                                                                        "}");
}

TEST(JSON, ReadingKeepsInsertionOrderAndLastDuplicate) {
    const CodedValue v = JSONSerialization::read(R"({"k":1,"c":2,"a":3,"k":4})");
    std::vector<std::string> keys;
    for (const auto& entry : *v.dictionary()) {
        keys.push_back(entry.first);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"k", "c", "a"}));
    EXPECT_EQ(*v.dictionary()->find("k"), CodedValue(4u));
}

TEST(JSON, FloatsWrittenAsShortestText) {
    struct Case {
        float value;
        const char* text;
    };
    const Case cases[] = {
        {0.1f, "0.1"},
        {1.0f, "1"},
        {-2.5f, "-2.5"},
        {0.3f, "0.3"},
        {1e-45f, "1e-45"},
        {3.4028235e38f, "3.4028235e+38"},
        {16777216.f, "16777216"},
        {-0.0f, "-0.0"},
        {100.f, "100"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JSONEncoder{}.encode(c.value), c.text);
        const float back = JSONDecoder{}.decode<float>(JSONEncoder{}.encode(c.value));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(c.value))
            << c.text;
    }
    EXPECT_EQ(JSONEncoder{}.encode(0.1), "0.1");
    EXPECT_EQ(JSONEncoder{}.encode(1e300), "1e+300");
    EXPECT_EQ(JSONEncoder{}.encode(double(0.1f)), "0.10000000149011612");
}

TEST(JSON, FloatWhoseShortestTextRoundsTwiceStillRoundTrips) {
    // Through a double its shortest text "7.038531e-26" lands on the neighbour.
    const float tricky = 0x1.5c87fap-84f;
    const std::string text = JSONEncoder{}.encode(tricky);
    EXPECT_NE(text, "7.038531e-26");
    EXPECT_EQ(JSONDecoder{}.decode<float>(text), tricky);
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), tricky);
}

TEST(JSON, RandomFloatsAndDoublesRoundTripBitExactly) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        float f = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        double d = std::bit_cast<double>(random());
        if (!std::isfinite(f) || !std::isfinite(d)) {
            continue;
        }
        ASSERT_EQ(
            std::bit_cast<std::uint32_t>(JSONDecoder{}.decode<float>(JSONEncoder{}.encode(f))),
            std::bit_cast<std::uint32_t>(f));
        ASSERT_EQ(
            std::bit_cast<std::uint64_t>(JSONDecoder{}.decode<double>(JSONEncoder{}.encode(d))),
            std::bit_cast<std::uint64_t>(d));
    }
}

TEST(JSON, UnwritableValuesAreRefusedWithPath) {
    struct Case {
        CodedValue value;
        std::string path;
    };
    CodedDictionary withNaN;
    withNaN.set("list", CodedValue::Array{CodedValue(1), CodedValue(std::nanf(""))});
    CodedDictionary withInfinity;
    withInfinity.set("v", CodedValue(-std::numeric_limits<double>::infinity()));
    CodedDictionary badText;
    badText.set("name", std::string("\xff\xfe"));
    CodedDictionary badKey;
    badKey.set(std::string("\xc0\x80"), 1);
    const std::vector<Case> cases = {
        {withNaN, "list[1]"},
        {withInfinity, "v"},
        {badText, "name"},
        {badKey, std::string("\xc0\x80")},
        {CodedValue(std::string("\xed\xa0\x80")), "<root>"}, // a lone surrogate
    };
    for (const Case& c : cases) {
        try {
            JSONSerialization::write(c.value);
            ADD_FAILURE() << "written: " << c.path;
        } catch (const EncodingError& error) {
            EXPECT_EQ(describeCodingPath(error.codingPath()), c.path);
        }
    }
    CodedValue deep = CodedValue::Array{};
    for (int i = 0; i < 600; ++i) {
        deep = CodedValue::Array{std::move(deep)};
    }
    EXPECT_THROW(JSONSerialization::write(deep), EncodingError);
}

TEST(JSON, MalformedInputIsDataCorrupted) {
    const std::string cases[] = {
        "",
        "   ",
        "{",
        "[1,2",
        "{\"a\" 1}",
        "{\"a\":1,}",
        "[1,]",
        "tru",
        "nul",
        "01",
        "1.",
        "-",
        "\"unterminated",
        "\"bad escape \\x\"",
        "\"\xff\"",
        "{\"a\":1} trailing",
        "[1] [2]",
        "{1:2}",
        "NaN",
        "1e400",
        "/* comment */ 1",
        std::string("[1,\0 2]", 7),
    };
    for (const std::string& text : cases) {
        const DecodingError error = readError(text);
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted) << text;
    }
}

TEST(JSON, LimitsOnDepthAndSize) {
    const std::string deep = std::string(600, '[') + std::string(600, ']');
    EXPECT_EQ(readError(deep).kind(), DecodingError::Kind::dataCorrupted);
    const std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_NO_THROW(JSONSerialization::read(fine));

    // Deep input far beyond any stack still fails cleanly.
    const std::string abyss = std::string(1'000'000, '[');
    EXPECT_EQ(readError(abyss).kind(), DecodingError::Kind::dataCorrupted);

    JSONReadingLimits small;
    small.maximumLength = 16;
    EXPECT_NO_THROW(JSONSerialization::read("[1,2,3]", small));
    EXPECT_EQ(readError("[1,2,3,4,5,6,7,8,9]", small).kind(), DecodingError::Kind::dataCorrupted);
    small.maximumDepth = 2;
    EXPECT_NO_THROW(JSONSerialization::read("[[1]]", small));
    EXPECT_THROW(JSONSerialization::read("[[[1]]]", small), DecodingError);
}

TEST(JSON, NumbersKeepTheirKind) {
    const CodedValue v =
        JSONSerialization::read("[1, -1, 18446744073709551615, 18446744073709551616, 1.0, 1e2]");
    const auto& a = *v.array();
    EXPECT_NE(a[0].unsignedInteger(), nullptr);
    EXPECT_NE(a[1].integer(), nullptr);
    EXPECT_EQ(*a[2].unsignedInteger(), std::numeric_limits<std::uint64_t>::max());
    EXPECT_NE(a[3].float64(), nullptr);
    EXPECT_NE(a[4].float64(), nullptr);
    EXPECT_EQ(JSONDecoder{}.decode<std::vector<int>>("[1, 2.0, 1e2]"),
              (std::vector<int>{1, 2, 100}));
    EXPECT_THROW(JSONDecoder{}.decode<std::vector<std::uint64_t>>("[18446744073709551616]"),
                 DecodingError);
    EXPECT_EQ(std::signbit(JSONDecoder{}.decode<double>("-0.0")), true);
}

TEST(JSON, DataFromBase64Text) {
    EXPECT_EQ(JSONDecoder{}.decode<std::vector<std::uint8_t>>("\"AQID\""),
              (std::vector<std::uint8_t>{1, 2, 3}));
    try {
        JSONDecoder{}.decode<std::vector<std::uint8_t>>("\"AQI\"");
        ADD_FAILURE() << "accepted bad base64";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
    EXPECT_THROW(JSONDecoder{}.decode<std::vector<std::uint8_t>>("[1,2,3]"), DecodingError);
}

TEST(JSON, DecodeErrorsFromTextCarryPath) {
    try {
        JSONDecoder{}.decode<std::vector<Swatch>>(
            R"([{"name":"a","opacity":1,"position":0,"pixels":"","stops":[]},
                {"name":"b","opacity":"x","position":0,"pixels":"","stops":[]}])");
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
        EXPECT_EQ(describeCodingPath(error.codingPath()), "[1].opacity");
        EXPECT_NE(std::string(error.what()).find("[1].opacity"), std::string::npos);
    }
}

TEST(JSON, UnicodeEscapesDecode) {
    EXPECT_EQ(JSONDecoder{}.decode<std::string>(R"("\u00e9\ud83d\ude00\u0000x")"),
              std::string("\xc3\xa9\xf0\x9f\x98\x80\0x", 8));
    EXPECT_EQ(JSONEncoder{}.encode(std::string("\x01\t", 2)), "\"\\u0001\\t\"");
}

} // namespace
