#include "Utils/RangedBlockingNumberFormatter.hpp"
#include "Utils/ValueTransformers.hpp"
#include "desktop/NSBeep.hpp"
#include "desktop/ValueTransformer.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velmora {
namespace {

class FormatterTest : public ::testing::Test {
protected:
    FormatterTest() {
        setBeepHandler([this] { ++beeps; });
    }
    ~FormatterTest() override { setBeepHandler({}); }
    int beeps = 0;
};

TEST_F(FormatterTest, OnlyAsciiDigitsMayBeTyped) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},        {"0123456789", true}, {"-1", false},     {"1.5", false},
        {"1,000", false},  {" 1", false},        {"\u0663", false}, // Arabic-Indic three
        {"\uff11", false},                                          // fullwidth one
        {"\u0967", false},                                          // Devanagari one
    };
    BlockingNumberFormatter formatter;
    for (const auto& c : cases) {
        beeps = 0;
        std::optional<std::string> replacement = "stale";
        std::optional<std::string> error = "stale";
        EXPECT_EQ(formatter.isPartialStringValid(c.text, &replacement, &error), c.valid) << c.text;
        EXPECT_EQ(beeps, c.valid ? 0 : 1) << c.text;
        EXPECT_FALSE(replacement) << c.text;
        EXPECT_FALSE(error) << c.text;
    }
}

TEST_F(FormatterTest, RangedFieldOffersTheBoundItCrossed) {
    RangedBlockingNumberFormatter formatter;
    formatter.minimum = 1;
    formatter.maximum = 1000;
    const struct {
        std::string text;
        bool valid;
        std::optional<std::string> replacement;
    } cases[] = {
        {"", true, std::nullopt},
        {"1", true, std::nullopt},
        {"1000", true, std::nullopt},
        {"0", false, "1"},
        {"1200", false, "1000"},
        {"1001", false, "1000"},
        {"-", false, std::nullopt}, // the digit test refuses before any range test
        {".", false, std::nullopt},
        {"\u0663", false, std::nullopt},
        {std::string(400, '9'), false, std::nullopt}, // no finite number
    };
    for (const auto& c : cases) {
        beeps = 0;
        std::optional<std::string> replacement;
        EXPECT_EQ(formatter.isPartialStringValid(c.text, &replacement, nullptr), c.valid) << c.text;
        EXPECT_EQ(replacement, c.replacement) << c.text;
        EXPECT_EQ(beeps, c.valid ? 0 : 1) << c.text;
    }
    // Percent rows: 0 ... 100 accepts 0.
    formatter.minimum = 0;
    formatter.maximum = 100;
    EXPECT_TRUE(formatter.isPartialStringValid("0", nullptr, nullptr));
    EXPECT_FALSE(formatter.isPartialStringValid("101", nullptr, nullptr));
}

TEST(ValueTransformersTest, ForwardGivesWholeNumbersOrQuestionMarks) {
    registerValueTransformers();
    const auto percent = ValueTransformer::valueTransformerForName("PercentTransformer");
    const auto pixel = ValueTransformer::valueTransformerForName("PixelTransformer");
    ASSERT_TRUE(percent && pixel &&
                ValueTransformer::valueTransformerForName("LogarithmicTransformer"));
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const ValueTransformer& transformer;
        std::any value;
        std::string text;
    } cases[] = {
        {*percent, 0.426, "43"},       {*percent, 0.426f, "43"},
        {*percent, 0.125, "13"},       {*percent, -0.004, "0"},
        {*percent, std::any(), "???"}, {*percent, "0.5", "???"},
        {*percent, inf, "???"},        {*percent, std::nan(""), "???"},
        {*percent, 1e30, "???"},       {*percent, 1e17, "???"},
        {*pixel, 12.5, "13"},          {*pixel, -2.5, "-3"},
        {*pixel, 1000.0f, "1000"},     {*pixel, 1e30, "???"},
        {*pixel, -inf, "???"},         {*pixel, std::string("12"), "???"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> text =
            stringValue(c.transformer.transformedValue(c.value));
        EXPECT_EQ(text, c.text) << c.text;
    }
}

TEST(ValueTransformersTest, ReverseReadsNumbersAndTextsAsFloats) {
    registerValueTransformers();
    const auto percent = ValueTransformer::valueTransformerForName("PercentTransformer");
    const auto pixel = ValueTransformer::valueTransformerForName("PixelTransformer");
    const auto log = ValueTransformer::valueTransformerForName("LogarithmicTransformer");
    const struct {
        const ValueTransformer& transformer;
        std::any value;
        std::optional<float> number;
    } cases[] = {
        {*percent, std::string("43"), 0.43f},
        {*percent, 43.0, 0.43f},
        {*percent, std::string("x"), std::nullopt},
        {*percent, std::string("\u0664\u0663"), std::nullopt},
        {*percent, std::any(), std::nullopt},
        {*pixel, std::string("12.5"), 12.5f},
        {*pixel, 7, 7.0f},
        {*pixel, true, std::nullopt},
        {*log, 3.0, 1000.0f},
        {*log, std::string("3"), std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.transformer.allowsReverseTransformation());
        const std::any result = c.transformer.reverseTransformedValue(c.value);
        if (!c.number) {
            EXPECT_FALSE(result.has_value());
            continue;
        }
        ASSERT_EQ(result.type(), typeid(float));
        EXPECT_EQ(std::any_cast<float>(result), *c.number);
    }
    EXPECT_EQ(std::any_cast<float>(log->transformedValue(100.0)), 2.0f);
    EXPECT_EQ(std::any_cast<float>(log->transformedValue(0.0)),
              -std::numeric_limits<float>::infinity());
    EXPECT_FALSE(log->transformedValue(std::string("100")).has_value());
}

} // namespace
} // namespace velmora
