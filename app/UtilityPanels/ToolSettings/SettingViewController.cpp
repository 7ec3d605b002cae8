#include "UtilityPanels/ToolSettings/SettingViewController.hpp"

#include "Rendering/DrawingSettings.hpp"
#include "Utils/QuickEditTextFied.hpp"
#include "Utils/RangedBlockingNumberFormatter.hpp"
#include "desktop/NSControlBinding.hpp"
#include "desktop/NSSlider.hpp"
#include "desktop/NSSliderBinding.hpp"
#include "foundation/FatalError.hpp"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QVBoxLayout>
#include <cmath>

namespace velmora {

namespace {

struct Ranges {
    double sliderMin, sliderMax, formatterMin, formatterMax;
    const char* unit;
};

Ranges rangesFor(SettingViewController::Setting setting) {
    using Setting = SettingViewController::Setting;
    switch (setting) {
    case Setting::size:
        return {std::log10(double(Brush::minimumSize)), std::log10(double(Brush::maximumSize)),
                Brush::minimumSize, Brush::maximumSize, "px"};
    case Setting::hardness:
        return {0, 1, 0, 100, "%"};
    case Setting::opacity:
        return {0.01, 1, std::round(0.01 * 100), 100, "%"};
    case Setting::spacing:
        return {0.001, 1, std::round(0.001 * 100), 100, "%"};
    case Setting::stabilization:
        return {0, double(Brush::maximumStabilization), 0, double(Brush::maximumStabilization), ""};
    }
    fatalError("Unknown setting");
}

} // namespace

SettingViewController::SettingViewController() : drawingSettings_(DrawingSettings::shared()) {}

SettingViewController::~SettingViewController() {
    // Bindings go before the controls and the properties they watch.
    bindings_.clear();
    sliderBindings_.clear();
}

SettingViewController::Setting SettingViewController::requireSetting() const {
    if (!setting) {
        fatalError("A setting row needs its setting");
    }
    return *setting;
}

float SettingViewController::value() const {
    const Brush brush = drawingSettings_.liveBrush();
    switch (requireSetting()) {
    case Setting::size:
        return brush.size;
    case Setting::hardness:
        return brush.hardness;
    case Setting::opacity:
        return brush.opacity;
    case Setting::spacing:
        return brush.spacing;
    case Setting::stabilization:
        return float(brush.stabilization);
    }
    return 0;
}

void SettingViewController::setValue(float value) {
    const Setting which = requireSetting();
    if (which == Setting::stabilization && std::isnan(value)) {
        return;
    }
    drawingSettings_.modifyLiveBrush([&](Brush& brush) {
        switch (which) {
        case Setting::size:
            brush.size = value;
            break;
        case Setting::hardness:
            brush.hardness = value;
            break;
        case Setting::opacity:
            brush.opacity = value;
            break;
        case Setting::spacing:
            brush.spacing = value;
            break;
        case Setting::stabilization:
            // Whole steps: 7.6 stores 7.
            brush.stabilization = std::uint64_t(
                std::trunc(std::clamp(double(value), 0.0, double(Brush::maximumStabilization))));
            break;
        }
    });
}

float SettingViewController::minRatio() const {
    const Brush brush = drawingSettings_.liveBrush();
    switch (requireSetting()) {
    case Setting::size:
        return brush.sizeMinRatio;
    case Setting::opacity:
        return brush.opacityMinRatio;
    default:
        return 0;
    }
}

void SettingViewController::setMinRatio(float ratio) {
    const Setting which = requireSetting();
    if (which == Setting::size) {
        drawingSettings_.modifyLiveBrush([&](Brush& brush) { brush.sizeMinRatio = ratio; });
    } else if (which == Setting::opacity) {
        drawingSettings_.modifyLiveBrush([&](Brush& brush) { brush.opacityMinRatio = ratio; });
    }
}

bool SettingViewController::dependsOnPressure() const {
    const Brush brush = drawingSettings_.liveBrush();
    switch (requireSetting()) {
    case Setting::size:
        return brush.sizeDependsOnPressure;
    case Setting::opacity:
        return brush.opacityDependsOnPressure;
    default:
        return false;
    }
}

void SettingViewController::setDependsOnPressure(bool depends) {
    const Setting which = requireSetting();
    if (which == Setting::size) {
        drawingSettings_.modifyLiveBrush(
            [&](Brush& brush) { brush.sizeDependsOnPressure = depends; });
    } else if (which == Setting::opacity) {
        drawingSettings_.modifyLiveBrush(
            [&](Brush& brush) { brush.opacityDependsOnPressure = depends; });
    }
}

BindableValue SettingViewController::bindable(std::function<std::any()> read,
                                              std::function<void(const std::any&)> write) {
    BindableValue bound;
    bound.read = std::move(read);
    bound.write = std::move(write);
    bound.observe = [this](std::function<void()> changed) {
        return changes_.observe(NSKeyValueObservingOptions::none,
                                [changed](const auto&) { changed(); });
    };
    return bound;
}

BindableValue SettingViewController::bindableValue() {
    return bindable([this] { return std::any(value()); },
                    [this](const std::any& v) {
                        if (std::optional<double> number = numberValue(v)) {
                            setValue(float(*number));
                        }
                    });
}

BindableValue SettingViewController::bindableMinRatio() {
    return bindable([this] { return std::any(minRatio()); },
                    [this](const std::any& v) {
                        if (std::optional<double> number = numberValue(v)) {
                            setMinRatio(float(*number));
                        }
                    });
}

BindableValue SettingViewController::bindableDependsOnPressure() {
    return bindable([this] { return std::any(dependsOnPressure()); },
                    [this](const std::any& v) {
                        if (const bool* on = std::any_cast<bool>(&v)) {
                            setDependsOnPressure(*on);
                        }
                    });
}

void SettingViewController::loadView() {
    auto* view = new QWidget;
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(2);
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    const auto makeSlider = [&] {
        auto* slider = new NSSlider(view);
        row->addWidget(slider, 1);
        return slider;
    };
    const auto makeField = [&] {
        auto* field = new QuickEditTextFied(view);
        field->setFixedWidth(48);
        field->setAlignment(Qt::AlignRight);
        row->addWidget(field);
        return field;
    };
    pixelSlider = makeSlider();
    percentSlider = makeSlider();
    scalarSlider = makeSlider();
    pixelLabel = makeField();
    percentLabel = makeField();
    scalarLabel = makeField();
    unitLabel = new QLabel(view);
    unitLabel->setFixedWidth(20);
    row->addWidget(unitLabel);
    advancedSettingsButton = new QToolButton(view);
    advancedSettingsButton->setArrowType(Qt::RightArrow);
    advancedSettingsButton->setAutoRaise(true);
    advancedSettingsButton->setFocusPolicy(Qt::NoFocus);
    row->addWidget(advancedSettingsButton);

    advancedView = new QWidget(view);
    auto* advanced = new QHBoxLayout(advancedView);
    advanced->setContentsMargins(8, 0, 0, 0);
    pressureCheckBox = new QCheckBox(QStringLiteral("Pressure"), advancedView);
    advanced->addWidget(pressureCheckBox);
    advanced->addWidget(new QLabel(QStringLiteral("Minimum"), advancedView));
    ratioSlider = new NSSlider(advancedView);
    advanced->addWidget(ratioSlider, 1);
    column->addWidget(advancedView);

    pixelFormatter = std::make_shared<RangedBlockingNumberFormatter>();
    percentFormatter = std::make_shared<RangedBlockingNumberFormatter>();
    scalarFormatter = std::make_shared<RangedBlockingNumberFormatter>();
    pixelLabel->setFormatter(pixelFormatter);
    percentLabel->setFormatter(percentFormatter);
    scalarLabel->setFormatter(scalarFormatter);
    QObject::connect(advancedSettingsButton, &QToolButton::clicked, view,
                     [this] { toggleAdvancedSettings(); });
    setView(view);
}

void SettingViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    const Setting which = requireSetting();
    if (!advancedView || !advancedSettingsButton || !percentSlider || !pixelSlider ||
        !scalarSlider || !pixelLabel || !percentLabel || !scalarLabel || !unitLabel ||
        !pixelFormatter || !percentFormatter || !scalarFormatter || !pressureCheckBox ||
        !ratioSlider) {
        fatalError("A setting row's outlets are not connected");
    }
    advancedSettingsButton->setHidden(which != Setting::size && which != Setting::opacity);
    const Ranges ranges = rangesFor(which);
    for (NSSlider* slider : {percentSlider.data(), pixelSlider.data(), scalarSlider.data()}) {
        slider->setMinValue(ranges.sliderMin);
        slider->setMaxValue(ranges.sliderMax);
    }
    pixelLabel->setHidden(which != Setting::size);
    pixelSlider->setHidden(pixelLabel->isHidden());
    percentLabel->setHidden(which == Setting::size || which == Setting::stabilization);
    percentSlider->setHidden(percentLabel->isHidden());
    scalarLabel->setHidden(which != Setting::stabilization);
    scalarSlider->setHidden(scalarLabel->isHidden());
    unitLabel->setText(QString::fromUtf8(ranges.unit));
    for (const auto& formatter : {pixelFormatter, percentFormatter, scalarFormatter}) {
        formatter->minimum = ranges.formatterMin;
        formatter->maximum = ranges.formatterMax;
    }
    advancedViewFullHeight = advancedView->sizeHint().height();
    advancedView->setMaximumHeight(0);
    auto* fade = new QGraphicsOpacityEffect(advancedView);
    fade->setOpacity(0);
    advancedView->setGraphicsEffect(fade);

    sliderBindings_.push_back(
        std::make_unique<NSSliderBinding>(pixelSlider, bindableValue(), "LogarithmicTransformer"));
    bindings_.push_back(NSControlBinding::bind(pixelLabel, bindableValue(),
                                               {.valueTransformerName = "PixelTransformer"}));
    sliderBindings_.push_back(std::make_unique<NSSliderBinding>(percentSlider, bindableValue()));
    bindings_.push_back(NSControlBinding::bind(percentLabel, bindableValue(),
                                               {.valueTransformerName = "PercentTransformer"}));
    sliderBindings_.push_back(std::make_unique<NSSliderBinding>(scalarSlider, bindableValue()));
    bindings_.push_back(NSControlBinding::bind(scalarLabel, bindableValue(),
                                               {.valueTransformerName = "PixelTransformer"}));
    ratioSlider->setMinValue(0);
    ratioSlider->setMaxValue(1);
    sliderBindings_.push_back(std::make_unique<NSSliderBinding>(ratioSlider, bindableMinRatio()));
    bindings_.push_back(NSControlBinding::bind(pressureCheckBox, bindableDependsOnPressure()));

    drawingSettings_.delegates += sharedAs<SettingViewController>();
}

void SettingViewController::toggleAdvancedSettings() {
    const int height = disclosed ? int(advancedViewFullHeight) : 0;
    const double alpha = disclosed ? 1 : 0;
    auto* group = new QParallelAnimationGroup(advancedView);
    auto* grow = new QPropertyAnimation(advancedView, "maximumHeight", group);
    grow->setDuration(animationMilliseconds);
    grow->setEndValue(height);
    auto* fade = new QPropertyAnimation(advancedView->graphicsEffect(), "opacity", group);
    fade->setDuration(animationMilliseconds);
    fade->setEndValue(alpha);
    group->addAnimation(grow);
    group->addAnimation(fade);
    group->start(QAbstractAnimation::DeleteWhenStopped);
    advancedSettingsButton->setArrowType(disclosed ? Qt::DownArrow : Qt::RightArrow);
    disclosed = !disclosed;
}

void SettingViewController::drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) {
    changes_.set(changes_.get() + 1);
}

void SettingViewController::drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool) {
    changes_.set(changes_.get() + 1);
}

} // namespace velmora
