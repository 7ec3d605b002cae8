#include "Rendering/Brush.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace velmora;

namespace {

Brush sampleBrush() {
    return Brush(*UUID::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), "Soft Round", 35.5f,
                 0.25f, 0.8f, 0.1f, true, false, 0.2f, 0.45f, 7);
}

CodedDictionary encodedRecord(const Brush& brush) {
    return *ValueEncoder().encode(brush).dictionary();
}

} // namespace

TEST(Brush, DefaultsAndLimits) {
    const Brush brush;
    EXPECT_EQ(brush.name, "Unnamed brush");
    EXPECT_EQ(brush.size, 20.0f);
    EXPECT_EQ(brush.hardness, 1.0f);
    EXPECT_EQ(brush.opacity, 1.0f);
    EXPECT_EQ(brush.spacing, 0.05f);
    EXPECT_FALSE(brush.sizeDependsOnPressure);
    EXPECT_FALSE(brush.opacityDependsOnPressure);
    EXPECT_EQ(brush.sizeMinRatio, 0.0f);
    EXPECT_EQ(brush.opacityMinRatio, 0.0f);
    EXPECT_EQ(brush.stabilization, 0u);
    EXPECT_EQ(Brush::minimumSize, 1.0f);
    EXPECT_EQ(Brush::maximumSize, 1000.0f);
    EXPECT_EQ(Brush::maximumStabilization, 20);
    EXPECT_NE(Brush(), Brush()) << "every default brush has its own identifier";
}

TEST(Brush, EveryFieldTakesPartInEquality) {
    const Brush base = sampleBrush();
    EXPECT_EQ(base, Brush(base));
    const std::pair<const char*, std::function<void(Brush&)>> changes[] = {
        {"uuid", [](Brush& b) { b.uuid = UUID(); }},
        {"name", [](Brush& b) { b.name = "Soft round"; }},
        {"size", [](Brush& b) { b.size = 35.6f; }},
        {"hardness", [](Brush& b) { b.hardness = 0.26f; }},
        {"opacity", [](Brush& b) { b.opacity = 0.81f; }},
        {"spacing", [](Brush& b) { b.spacing = 0.11f; }},
        {"sizeDependsOnPressure", [](Brush& b) { b.sizeDependsOnPressure = false; }},
        {"opacityDependsOnPressure", [](Brush& b) { b.opacityDependsOnPressure = true; }},
        {"sizeMinRatio", [](Brush& b) { b.sizeMinRatio = 0.3f; }},
        {"opacityMinRatio", [](Brush& b) { b.opacityMinRatio = 0.5f; }},
        {"stabilization", [](Brush& b) { b.stabilization = 8; }},
        {"NaN size", [](Brush& b) { b.size = std::numeric_limits<float>::quiet_NaN(); }},
    };
    for (const auto& [field, change] : changes) {
        Brush other = base;
        change(other);
        EXPECT_NE(base, other) << field;
    }
    Brush nan = base;
    nan.hardness = std::numeric_limits<float>::quiet_NaN();
    EXPECT_NE(nan, nan) << "a brush holding NaN is not equal to itself";
}

TEST(Brush, NamesCompareByCanonicalEquivalence) {
    Brush a = sampleBrush(), b = sampleBrush();
    a.name = "Cr\xC3\xA9pe";  // precomposed e acute
    b.name = "Cre\xCC\x81pe"; // e + combining acute
    EXPECT_EQ(a, b);
    b.name = "Crepe";
    EXPECT_NE(a, b);
}

TEST(Brush, JSONRoundTripKeepsEveryFieldAndShortFloatText) {
    const Brush brush = sampleBrush();
    const std::string json = JSONEncoder().encode(brush);
    EXPECT_EQ(JSONDecoder().decode<Brush>(json), brush);
    EXPECT_NE(json.find("\"uuid\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\""), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"spacing\":0.1,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"stabilization\":7"), std::string::npos) << json;
    // Brushes beyond the limits are stored unchanged.
    Brush wild = brush;
    wild.size = 5000;
    wild.stabilization = 90;
    EXPECT_EQ(JSONDecoder().decode<Brush>(JSONEncoder().encode(wild)), wild);
}

TEST(Brush, RecordKeysInOrder) {
    const CodedDictionary record = encodedRecord(sampleBrush());
    std::vector<std::string> keys;
    for (const auto& [key, value] : record) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys,
              (std::vector<std::string>{"uuid", "name", "size", "hardness", "opacity", "spacing",
                                        "sizeDependsOnPressure", "opacityDependsOnPressure",
                                        "sizeMinRatio", "opacityMinRatio", "stabilization"}));
}

TEST(Brush, EveryKeyIsRequiredAndExtraKeysAreIgnored) {
    const CodedDictionary record = encodedRecord(sampleBrush());
    for (const auto& [key, value] : record) {
        CodedDictionary missing = record;
        missing.remove(key);
        try {
            ValueDecoder().decode<Brush>(CodedValue(missing));
            ADD_FAILURE() << "decoded without " << key;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound) << key;
        }
    }
    CodedDictionary extra = record;
    extra.set("colour", CodedValue("red"));
    EXPECT_EQ(ValueDecoder().decode<Brush>(CodedValue(extra)), sampleBrush());
}

TEST(Brush, WrongTypesAndBadValuesFailDecoding) {
    const CodedDictionary record = encodedRecord(sampleBrush());
    const std::pair<const char*, CodedValue> cases[] = {
        {"stabilization", CodedValue(-1)},
        {"stabilization", CodedValue(1.5)},
        {"stabilization", CodedValue("7")},
        {"size", CodedValue("big")},
        {"size", CodedValue(std::numeric_limits<float>::quiet_NaN())},
        {"hardness", CodedValue(std::numeric_limits<double>::infinity())},
        {"opacityMinRatio", CodedValue(1e300)},
        {"sizeDependsOnPressure", CodedValue("yes")},
        {"name", CodedValue(3)},
        {"uuid", CodedValue("not-a-uuid")},
        {"uuid", CodedValue(nullptr)},
    };
    for (const auto& [key, value] : cases) {
        CodedDictionary bad = record;
        bad.set(key, value);
        EXPECT_THROW(ValueDecoder().decode<Brush>(CodedValue(bad)), DecodingError) << key;
    }
}

TEST(Brush, NonFiniteNumbersAreNeverEncoded) {
    Brush brush = sampleBrush();
    brush.opacity = std::numeric_limits<float>::infinity();
    EXPECT_THROW(ValueEncoder().encode(brush), EncodingError);
    EXPECT_THROW(JSONEncoder().encode(brush), EncodingError);
}

TEST(Brush, DescriptionNamesEveryField) {
    const std::string text = sampleBrush().description();
    EXPECT_EQ(text, "Brush(uuid: E621E1F8-C36C-495A-93FC-0C247A3E6E5F, name: \"Soft Round\", "
                    "size: 35.5, hardness: 0.25, opacity: 0.8, spacing: 0.1, "
                    "sizeDependsOnPressure: true, opacityDependsOnPressure: false, "
                    "sizeMinRatio: 0.2, opacityMinRatio: 0.45, stabilization: 7)");
    EXPECT_NE(Brush().description().find("size: 20.0,"), std::string::npos);
}

TEST(Brush, CursorUsesTheBrushSize) {
    Brush brush;
    const BrushCursor cursor = brush.cursor(1, 1080);
    EXPECT_EQ(cursor.imageSize, (CGSize{24, 24}));
    EXPECT_EQ(cursor.hotSpot, (CGPoint{12, 12}));
    brush.size = 1000;
    EXPECT_TRUE(brush.cursor(2, 1080).crosshair);
}
