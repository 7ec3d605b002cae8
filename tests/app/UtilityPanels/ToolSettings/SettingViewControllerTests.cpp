#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/ToolSettings/SettingViewController.hpp"
#include "Utils/QuickEditTextFied.hpp"
#include "Utils/RangedBlockingNumberFormatter.hpp"
#include "Utils/ValueTransformers.hpp"
#include "desktop/NSSlider.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace velmora {
namespace {

using Setting = SettingViewController::Setting;

class SettingViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        registerValueTransformers();
        settings.setUsingStylusEraser(false);
        settings.setPersistentTool(DrawingTool::eraser);
        settings.setBaseBrush(brush(50, 0.25f, 3));
        settings.setPersistentTool(DrawingTool::brush);
        settings.setBaseBrush(brush(20, 0.5f, 0));
    }

    static Brush brush(float size, float opacity, std::uint64_t stabilization) {
        Brush made;
        made.size = size;
        made.opacity = opacity;
        made.stabilization = stabilization;
        made.sizeDependsOnPressure = true;
        made.sizeMinRatio = 0.3f;
        return made;
    }

    std::shared_ptr<SettingViewController> row(Setting setting) {
        auto made = std::make_shared<SettingViewController>();
        made->setting = setting;
        made->loadViewIfNeeded();
        return made;
    }

    DrawingSettings& settings = DrawingSettings::shared();
};

TEST_F(SettingViewControllerTest, EachRowShowsItsRangeUnitAndControls) {
    const struct {
        Setting setting;
        double sliderMin, sliderMax, formatterMin, formatterMax;
        QString unit;
        bool pixel, percent, scalar, disclosure;
    } cases[] = {
        {Setting::size, 0, 3, 1, 1000, "px", true, false, false, true},
        {Setting::hardness, 0, 1, 0, 100, "%", false, true, false, false},
        {Setting::opacity, 0.01, 1, 1, 100, "%", false, true, false, true},
        {Setting::spacing, 0.001, 1, 0, 100, "%", false, true, false, false},
        {Setting::stabilization, 0, 20, 0, 20, "", false, false, true, false},
    };
    for (const auto& c : cases) {
        auto r = row(c.setting);
        for (NSSlider* slider :
             {r->pixelSlider.data(), r->percentSlider.data(), r->scalarSlider.data()}) {
            EXPECT_DOUBLE_EQ(slider->minValue(), c.sliderMin);
            EXPECT_DOUBLE_EQ(slider->maxValue(), c.sliderMax);
        }
        for (const auto& formatter : {r->pixelFormatter, r->percentFormatter, r->scalarFormatter}) {
            EXPECT_EQ(formatter->minimum, c.formatterMin);
            EXPECT_EQ(formatter->maximum, c.formatterMax);
        }
        EXPECT_EQ(r->unitLabel->text(), c.unit);
        EXPECT_EQ(!r->pixelLabel->isHidden(), c.pixel);
        EXPECT_EQ(!r->pixelSlider->isHidden(), c.pixel);
        EXPECT_EQ(!r->percentLabel->isHidden(), c.percent);
        EXPECT_EQ(!r->scalarSlider->isHidden(), c.scalar);
        EXPECT_EQ(!r->advancedSettingsButton->isHidden(), c.disclosure);
    }
}

TEST_F(SettingViewControllerTest, ControlsShowAndWriteTheLiveBrush) {
    auto size = row(Setting::size);
    EXPECT_EQ(size->pixelLabel->text(), "20");
    EXPECT_TRUE(size->pressureCheckBox->isChecked());
    EXPECT_NEAR(size->ratioSlider->doubleValue(), 0.3, 1e-3);
    size->pixelSlider->setValue(NSSlider::steps); // the right end: 10^3 pixels
    EXPECT_EQ(settings.liveBrush().size, 1000.0f);
    EXPECT_EQ(size->pixelLabel->text(), "1000");

    auto opacity = row(Setting::opacity);
    EXPECT_EQ(opacity->percentLabel->text(), "50");
    opacity->percentLabel->setText("40");
    emit opacity->percentLabel->editingFinished();
    EXPECT_FLOAT_EQ(settings.liveBrush().opacity, 0.4f);
    EXPECT_NEAR(opacity->percentSlider->doubleValue(), 0.4, 1e-3);
    // A text that transforms to nothing changes nothing.
    opacity->percentLabel->setText("");
    emit opacity->percentLabel->editingFinished();
    EXPECT_FLOAT_EQ(settings.liveBrush().opacity, 0.4f);
    EXPECT_EQ(opacity->percentLabel->text(), "40");

    // Switching tools shows the other tool's brush at once.
    settings.setPersistentTool(DrawingTool::eraser);
    EXPECT_EQ(size->pixelLabel->text(), "50");
    EXPECT_EQ(opacity->percentLabel->text(), "25");
}

TEST_F(SettingViewControllerTest, StabilizationTakesWholeStepsWithinItsRange) {
    auto r = row(Setting::stabilization);
    const struct {
        float written;
        std::uint64_t stored;
    } cases[] = {{7.6f, 7},
                 {20.0f, 20},
                 {25.0f, 20},
                 {-3.0f, 0},
                 {std::numeric_limits<float>::infinity(), 20},
                 {std::numeric_limits<float>::quiet_NaN(), 20}}; // NaN changes nothing
    for (const auto& c : cases) {
        r->setValue(c.written);
        EXPECT_EQ(settings.liveBrush().stabilization, c.stored) << c.written;
    }
    // Rows without pressure options read none and ignore writes.
    for (Setting setting : {Setting::hardness, Setting::spacing, Setting::stabilization}) {
        auto other = row(setting);
        other->setMinRatio(0.7f);
        other->setDependsOnPressure(true);
        EXPECT_EQ(other->minRatio(), 0.0f);
        EXPECT_FALSE(other->dependsOnPressure());
    }
    EXPECT_EQ(settings.liveBrush().sizeMinRatio, 0.3f);
}

TEST(NSSliderTest, NonFiniteValuesShowAnEndOfTheRange) {
    NSSlider slider;
    slider.setMinValue(0.01);
    slider.setMaxValue(1);
    const struct {
        double value;
        int position;
    } cases[] = {{0.01, 0},
                 {1, NSSlider::steps},
                 {0.505, 500},
                 {-5, 0},
                 {7, NSSlider::steps},
                 {-std::numeric_limits<double>::infinity(), 0},
                 {std::numeric_limits<double>::quiet_NaN(), 0},
                 {std::numeric_limits<double>::infinity(), NSSlider::steps}};
    for (const auto& c : cases) {
        slider.setDoubleValue(c.value);
        EXPECT_EQ(slider.value(), c.position) << c.value;
    }
}

} // namespace
} // namespace velmora
