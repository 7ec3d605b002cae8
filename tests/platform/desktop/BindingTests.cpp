#include "desktop/NSControlBinding.hpp"
#include "desktop/NumberFormatter.hpp"
#include "desktop/ValueTransformer.hpp"

#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

// Whole per cent of a fraction, as the panels show opacity.
struct PercentStandIn : ValueTransformer {
    std::any transformedValue(const std::any& value) const override {
        std::optional<double> number = numberValue(value);
        return number ? std::any(std::to_string(std::lround(*number * 100)))
                      : std::any(std::string("???"));
    }
    bool allowsReverseTransformation() const override { return true; }
    std::any reverseTransformedValue(const std::any& value) const override {
        std::optional<double> number = numberValue(value);
        if (std::optional<std::string> text = stringValue(value)) {
            number = NumberFormatter().numberFromString(*text);
        }
        return number ? std::any(*number / 100) : std::any();
    }
};

struct Log10StandIn : ValueTransformer {
    std::any transformedValue(const std::any& value) const override {
        std::optional<double> number = numberValue(value);
        return number ? std::any(std::log10(*number)) : std::any();
    }
    bool allowsReverseTransformation() const override { return true; }
    std::any reverseTransformedValue(const std::any& value) const override {
        std::optional<double> number = numberValue(value);
        return number ? std::any(std::pow(10.0, *number)) : std::any();
    }
};

// Digits only; out of 1...1000 offers the nearer bound instead.
struct DigitsInRange : NumberFormatter {
    bool isPartialStringValid(const std::string& partial, std::optional<std::string>* replacement,
                              std::optional<std::string>*) const override {
        if (partial.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        std::optional<double> number = numberFromString(partial);
        if (number && *number > 1000) {
            *replacement = "1000";
            return false;
        }
        return true;
    }
};

} // namespace

TEST(NumberFormatterTest, TextAndNumbers) {
    NumberFormatter plain;
    NumberFormatter decimal;
    decimal.numberStyle = NumberFormatter::Style::decimal;
    decimal.maximumFractionDigits = 2;
    struct Case {
        double number;
        const char* plain;
        const char* decimal;
    };
    for (const Case& c :
         {Case{42.6, "43", "42.6"}, Case{-0.4, "0", "-0.4"}, Case{1000, "1000", "1000"},
          Case{0.125, "0", "0.12"}, Case{42.5, "42", "42.5"}, Case{43.5, "44", "43.5"}}) {
        EXPECT_EQ(plain.stringFromNumber(c.number), c.plain) << c.number;
        EXPECT_EQ(decimal.stringFromNumber(c.number), c.decimal) << c.number;
    }
    for (const char* bad : {"", "-", "1e3", "0x10", "inf", "nan", "12a", " 12", "1,000"}) {
        EXPECT_FALSE(plain.numberFromString(bad)) << bad;
    }
    EXPECT_EQ(plain.numberFromString("+12.5"), 12.5);
    EXPECT_EQ(plain.numberFromString("-3"), -3);
}

TEST(NumberFormatterTest, EveryEditOfAFieldIsChecked) {
    DigitsInRange formatter;
    QLineEdit field;
    formatter.attach(&field);
    QTest::keyClicks(&field, "12a.3");
    EXPECT_EQ(field.text(), "123");
    QTest::keyClicks(&field, "4");
    EXPECT_EQ(field.text(), "1000") << "the offered bound replaces the refused text";
    NumberFormatter::detach(&field);
    QTest::keyClicks(&field, "x");
    EXPECT_EQ(field.text(), "1000x");
}

TEST(ValueTransformerTest, NamedRegistry) {
    auto percent = std::make_shared<PercentStandIn>();
    ValueTransformer::setValueTransformer(percent, "PercentStandIn");
    EXPECT_EQ(ValueTransformer::valueTransformerForName("PercentStandIn"), percent);
    EXPECT_EQ(ValueTransformer::valueTransformerForName("Missing"), nullptr);
    ValueTransformer::setValueTransformer(nullptr, "PercentStandIn");
    EXPECT_EQ(ValueTransformer::valueTransformerForName("PercentStandIn"), nullptr);
    EXPECT_EQ(numberValue(std::any(2.5f)), 2.5);
    EXPECT_EQ(numberValue(std::any(7)), 7);
    EXPECT_FALSE(numberValue(std::any(std::string("7"))));
    EXPECT_FALSE(numberValue(std::any()));
}

TEST(NSControlBindingTest, FieldShowsTheValueAndEditsGoBackThroughTheTransformer) {
    ValueTransformer::setValueTransformer(std::make_shared<PercentStandIn>(), "PercentStandIn");
    ObservableProperty<float> opacity(0.426f);
    QLineEdit field;
    auto binding = NSControlBinding::bind(&field, BindableValue::of(opacity),
                                          {.valueTransformerName = "PercentStandIn"});
    EXPECT_EQ(field.text(), "43");
    opacity.set(0.5f);
    EXPECT_EQ(field.text(), "50");

    field.setText("12");
    emit field.editingFinished();
    EXPECT_FLOAT_EQ(opacity.get(), 0.12f);
    // A reverse that gives nothing changes nothing, and the field shows the value again.
    field.setText("abc");
    emit field.editingFinished();
    EXPECT_FLOAT_EQ(opacity.get(), 0.12f);
    EXPECT_EQ(field.text(), "12");

    binding.reset();
    opacity.set(0.9f);
    EXPECT_EQ(field.text(), "12") << "an ended binding no longer updates the control";
}

TEST(NSControlBindingTest, SlidersAndCheckBoxes) {
    ValueTransformer::setValueTransformer(std::make_shared<Log10StandIn>(), "Log10StandIn");
    ObservableProperty<float> size(100);
    QSlider slider;
    slider.setRange(0, 3000);
    auto sliderBinding =
        NSControlBinding::bind(&slider, BindableValue::of(size),
                               {.valueTransformerName = "Log10StandIn", .sliderScale = 1000});
    EXPECT_EQ(slider.value(), 2000);
    slider.setValue(3000);
    EXPECT_FLOAT_EQ(size.get(), 1000);

    ObservableProperty<bool> pressure(false);
    QCheckBox box;
    auto boxBinding = NSControlBinding::bind(&box, BindableValue::of(pressure));
    EXPECT_FALSE(box.isChecked());
    box.click();
    EXPECT_TRUE(pressure.get());
    pressure.set(false);
    EXPECT_FALSE(box.isChecked());
}
