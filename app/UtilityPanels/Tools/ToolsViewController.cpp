#include "UtilityPanels/Tools/ToolsViewController.hpp"

#include "Rendering/DrawingSettings.hpp"
#include "ToolResponders/EventObserver.hpp"
#include "UtilityPanels/Tools/ToolIcon.hpp"
#include "foundation/FatalError.hpp"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace velmora {

ToolsViewController::ToolsViewController()
    : drawingSettings_(DrawingSettings::shared()),
      tracker_(std::make_unique<EventObserver>(NSEventMask::tabletProximity, [](const NSEvent& e) {
          DrawingSettings::shared().setUsingStylusEraser(e.pointingDeviceType() ==
                                                         NSPointingDeviceType::eraser);
      })) {
    setIdentifier(defaultIdentifier);
}

ToolsViewController::~ToolsViewController() = default;

void ToolsViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    const auto makeButton = [&](const char* title, const char* name) {
        auto* button = new QToolButton(view);
        // The title stays the button's text and accessible name; the image shows.
        button->setText(QString::fromUtf8(title));
        button->setAccessibleName(QString::fromUtf8(title));
        button->setToolTip(QString::fromUtf8(title));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize(QSize(ToolIcon::side, ToolIcon::side));
        button->setObjectName(QString::fromUtf8(name));
        button->setCheckable(true);
        button->setAutoExclusive(false);
        button->setFixedSize(56, 40);
        button->setFocusPolicy(Qt::NoFocus);
        QObject::connect(button, &QToolButton::clicked, button,
                         [this, button] { toolButtonPushed(button); });
        layout->addWidget(button);
        return button;
    };
    moveToolButton = makeButton("Move", "moveToolButton");
    brushToolButton = makeButton("Brush", "brushToolButton");
    eraserToolButton = makeButton("Eraser", "eraserToolButton");
    layout->addStretch();
    setView(view);
}

void ToolsViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    showTool(drawingSettings_.currentTool());
    drawingSettings_.delegates += sharedAs<ToolsViewController>();
    // Panels are not hidden at quit: the chosen tool is kept then too.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, view(),
                     [weak = weakAs<ToolsViewController>()] {
                         if (std::shared_ptr<ToolsViewController> self = weak.lock()) {
                             self->saveUIState();
                         }
                     });
}

void ToolsViewController::viewWillAppear() {
    NSViewController::viewWillAppear();
    showTool(drawingSettings_.persistentTool());
    restoreUIState();
}

void ToolsViewController::viewDidDisappear() {
    NSViewController::viewDidDisappear();
    saveUIState();
}

void ToolsViewController::showTool(DrawingTool tool) {
    if (!moveToolButton || !brushToolButton || !eraserToolButton) {
        fatalError("The Tools panel's buttons are not connected");
    }
    const std::pair<QToolButton*, DrawingTool> buttons[] = {
        {moveToolButton.data(), DrawingTool::move},
        {brushToolButton.data(), DrawingTool::brush},
        {eraserToolButton.data(), DrawingTool::eraser}};
    const DrawingTool shown =
        tool == DrawingTool::brush || tool == DrawingTool::eraser ? tool : DrawingTool::move;
    for (const auto& [button, buttonTool] : buttons) {
        const bool on = buttonTool == shown;
        button->setChecked(on);
        // The chosen tool in white on the selection colour, the others plain.
        button->setStyleSheet(on ? QString::fromLatin1(chosenStyleSheet) : QString());
        button->setIcon(ToolIcon::make(
            buttonTool, on ? QColor(Qt::white) : button->palette().color(QPalette::ButtonText)));
    }
}

void ToolsViewController::toolButtonPushed(QAbstractButton* sender) {
    DrawingTool tool;
    if (sender == moveToolButton) {
        tool = DrawingTool::move;
    } else if (sender == brushToolButton) {
        tool = DrawingTool::brush;
    } else if (sender == eraserToolButton) {
        tool = DrawingTool::eraser;
    } else {
        fatalError("Unknown button");
    }
    sender->setChecked(true);
    drawingSettings_.setPersistentTool(tool);
}

void ToolsViewController::drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool tool) {
    showTool(tool);
}

void ToolsViewController::encodeUIState(KeyedArchiver& archiver) {
    archiver.encode(rawValue(drawingSettings_.persistentTool()), "tool");
}

void ToolsViewController::decodeUIState(KeyedUnarchiver& unarchiver) {
    if (!unarchiver.containsValue("tool")) {
        return;
    }
    // Negative values are refused as the unsigned comparison would.
    if (std::optional<DrawingTool> tool = drawingToolFromRawValue(unarchiver.decodeInt64("tool"))) {
        drawingSettings_.setPersistentTool(*tool);
        showTool(*tool);
    }
}

} // namespace velmora
