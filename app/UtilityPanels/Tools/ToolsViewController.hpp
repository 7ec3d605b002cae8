#pragma once

#include "Extensions/UIRestorable.hpp"
#include "Rendering/DrawingSettingsDelegate.hpp"
#include "desktop/NSViewController.hpp"

#include <QMetaObject>
#include <QPointer>
#include <QToolButton>
#include <memory>

namespace velmora {

class DrawingSettings;
class EventObserver;

// The Tools panel: move, brush and eraser buttons that choose the drawing
// tool, the tool the drawing settings report shown as the one on, the
// stylus's eraser end followed through tablet proximity, and the chosen tool
// kept in the saved interface state ("tool").
class ToolsViewController : public NSViewController,
                            public DrawingSettingsDelegate,
                            public UIRestorable {
public:
    static constexpr const char* defaultIdentifier = "ToolsViewController";
    static constexpr const char* chosenStyleSheet =
        "QToolButton { color: white; background-color: palette(highlight); border: none; "
        "border-radius: 4px; }";

    ToolsViewController();
    ~ToolsViewController() override;

    QPointer<QToolButton> moveToolButton;
    QPointer<QToolButton> brushToolButton;
    QPointer<QToolButton> eraserToolButton;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;

    void toolButtonPushed(QAbstractButton* sender);
    void showTool(DrawingTool tool);

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidUpdateActiveTool(DrawingSettings& settings, DrawingTool tool) override;

    void encodeUIState(KeyedArchiver& archiver) override;
    void decodeUIState(KeyedUnarchiver& unarchiver) override;

private:
    DrawingSettings& drawingSettings_;
    std::unique_ptr<EventObserver> tracker_;
};

} // namespace velmora
