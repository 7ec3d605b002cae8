#include "UtilityPanels/ToolSettings/ToolSettingsViewController.hpp"

#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/ToolSettings/SettingViewController.hpp"
#include "desktop/NSCoderAdditions.hpp"
#include "desktop/NSColorPanel.hpp"
#include "foundation/FatalError.hpp"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <utility>

namespace velmora {

namespace {

using Setting = SettingViewController::Setting;

constexpr std::pair<const char*, Setting> segues[] = {
    {"BrushSize", Setting::size},
    {"BrushHardness", Setting::hardness},
    {"BrushOpacity", Setting::opacity},
    {"BrushSpacing", Setting::spacing},
    {"BrushStabilization", Setting::stabilization},
};

} // namespace

ToolSettingsViewController::ToolSettingsViewController() {
    setIdentifier(defaultIdentifier);
    for (const auto& [identifier, setting] : segues) {
        addSegue(
            identifier, SegueKind::embed, [] { return std::make_shared<SettingViewController>(); },
            identifier);
    }
}

NSColorRef ToolSettingsViewController::color() const {
    return DrawingSettings::shared().color;
}

void ToolSettingsViewController::setColor(NSColorRef color) {
    if (!color) {
        return;
    }
    DrawingSettings::shared().color = color;
    if (colorWell) {
        colorWell->setColor(std::move(color));
    }
}

void ToolSettingsViewController::loadView() {
    auto* view = new QWidget;
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(8, 8, 8, 8);
    auto* colorRow = new QHBoxLayout;
    colorRow->addWidget(new QLabel(QStringLiteral("Color"), view));
    colorWell = new NSColorWell(view);
    colorRow->addWidget(colorWell);
    colorRow->addStretch();
    column->addLayout(colorRow);
    const char* titles[] = {"Size", "Hardness", "Opacity", "Spacing", "Stabilization"};
    for (std::size_t i = 0; i < std::size(segues); ++i) {
        column->addWidget(new QLabel(QString::fromUtf8(titles[i]), view));
        auto* container = new QWidget(view);
        container->setObjectName(QString::fromUtf8(segues[i].first));
        column->addWidget(container);
    }
    column->addStretch();
    setView(view);
}

void ToolSettingsViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    colorWell->setColor(color());
    colorWell->onColorChanged =
        [weak = weakAs<ToolSettingsViewController>()](const NSColorRef& chosen) {
            if (std::shared_ptr<ToolSettingsViewController> self = weak.lock()) {
                self->setColor(chosen);
            }
        };
    // Panels are not hidden at quit: colour and saved brushes are kept then too.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view(),
                     [weak = weakAs<ToolSettingsViewController>()] {
                         if (std::shared_ptr<ToolSettingsViewController> self = weak.lock()) {
                             self->saveUIState();
                         }
                     });
}

void ToolSettingsViewController::viewWillAppear() {
    NSViewController::viewWillAppear();
    restoreUIState();
}

void ToolSettingsViewController::viewDidDisappear() {
    NSViewController::viewDidDisappear();
    saveUIState();
}

void ToolSettingsViewController::prepare(NSStoryboardSegue& segue, NSObject*) {
    auto row = std::dynamic_pointer_cast<SettingViewController>(segue.destinationController);
    if (!row) {
        fatalError("A setting segue must lead to a setting row");
    }
    for (const auto& [identifier, setting] : segues) {
        if (segue.identifier == identifier) {
            row->setting = setting;
            return;
        }
    }
    fatalError("");
}

void ToolSettingsViewController::setRepresentedObject(std::shared_ptr<NSObject> object) {
    NSViewController::setRepresentedObject(object);
    for (const std::shared_ptr<NSViewController>& child : childViewControllers()) {
        child->setRepresentedObject(object);
    }
}

void ToolSettingsViewController::encodeUIState(KeyedArchiver& archiver) {
    DrawingSettings::shared().save();
    encodeColor(archiver, *color(), "color");
    // A closed colour panel is not reopened at the next launch.
    if (NSColorPanel::sharedColorPanelExists() && NSColorPanel::sharedColorPanel().isVisible()) {
        encodeRect(archiver, NSColorPanel::sharedColorPanel().frame(), "color panel frame");
    }
}

void ToolSettingsViewController::decodeUIState(KeyedUnarchiver& unarchiver) {
    if (unarchiver.containsValue("color panel frame")) {
        if (std::optional<CGRect> frame = decodeRect(unarchiver, "color panel frame")) {
            if (!colorWell) {
                fatalError("The colour well is not connected");
            }
            // Placed before it shows, so the window manager keeps the frame where it was.
            NSColorPanel::sharedColorPanel().setFrame(*frame, true);
            colorWell->activate(false);
        }
    }
    NSColorRef stored = decodeColor(unarchiver, "color");
    setColor(stored ? stored : DrawingSettings::defaultColor());
}

} // namespace velmora
