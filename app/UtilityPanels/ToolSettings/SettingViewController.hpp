#pragma once

#include "Rendering/DrawingSettingsDelegate.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/ObservableProperty.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QToolButton>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class DrawingSettings;
class NSControlBinding;
class NSSlider;
class NSSliderBinding;
class QuickEditTextFied;
class RangedBlockingNumberFormatter;
struct BindableValue;

// One row of the Tool Settings panel: a slider and a number field for one
// parameter of the current tool's live brush, in the parameter's unit, and
// for size and opacity an advanced area with the pressure dependence and its
// minimum ratio. The panel's segue sets `setting` before the view loads.
class SettingViewController : public NSViewController, public DrawingSettingsDelegate {
public:
    enum class Setting { size = 0, hardness = 1, opacity = 2, spacing = 3, stabilization = 4 };
    static constexpr int animationMilliseconds = 200;

    SettingViewController();
    ~SettingViewController() override;

    std::optional<Setting> setting;

    QPointer<QWidget> advancedView;
    QPointer<QToolButton> advancedSettingsButton;
    QPointer<NSSlider> percentSlider, pixelSlider, scalarSlider;
    QPointer<QuickEditTextFied> pixelLabel, percentLabel, scalarLabel;
    QPointer<QLabel> unitLabel;
    QPointer<QCheckBox> pressureCheckBox;
    QPointer<NSSlider> ratioSlider;
    std::shared_ptr<RangedBlockingNumberFormatter> pixelFormatter, percentFormatter,
        scalarFormatter;
    double advancedViewFullHeight = 0;
    // The next press of the disclosure button expands the advanced area.
    bool disclosed = true;

    // The parameter of the current tool's live brush; any use without a setting ends the program.
    float value() const;
    // Stabilization takes whole steps within 0...20; NaN changes nothing.
    void setValue(float value);
    float minRatio() const;
    void setMinRatio(float ratio);
    bool dependsOnPressure() const;
    void setDependsOnPressure(bool depends);
    // Bindings of the three properties, told of every change.
    BindableValue bindableValue();
    BindableValue bindableMinRatio();
    BindableValue bindableDependsOnPressure();

    void loadView() override;
    void viewDidLoad() override;
    void toggleAdvancedSettings();

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override;
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) override;

private:
    Setting requireSetting() const;
    BindableValue bindable(std::function<std::any()> read,
                           std::function<void(const std::any&)> write);

    DrawingSettings& drawingSettings_;
    // Stored to whenever the three properties change: their observers' signal.
    ObservableProperty<int> changes_;
    std::vector<std::unique_ptr<NSControlBinding>> bindings_;
    std::vector<std::unique_ptr<NSSliderBinding>> sliderBindings_;
};

} // namespace velmora
