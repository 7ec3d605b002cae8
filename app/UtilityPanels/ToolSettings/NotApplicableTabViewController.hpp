#pragma once

#include "Rendering/DrawingSettingsDelegate.hpp"
#include "desktop/NSViewController.hpp"

#include <QPointer>
#include <QStackedWidget>

namespace velmora {

// The Tool Settings panel's content: tab 0 says the tool has no settings,
// tab 1 holds the settings; the tab follows the current tool, cross-fading
// when the tool changes.
class NotApplicableTabViewController : public NSViewController, public DrawingSettingsDelegate {
public:
    static constexpr int animationMilliseconds = 200;

    // `settings` becomes tab 1.
    explicit NotApplicableTabViewController(std::shared_ptr<NSViewController> settings);

    QPointer<QStackedWidget> tabView;
    int selectedTabViewItemIndex() const { return tabView ? tabView->currentIndex() : -1; }
    void selectTab(int index, bool animated);

    void loadView() override;
    void viewDidLoad() override;

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool tool) override;

private:
    std::shared_ptr<NSViewController> settings_;
};

} // namespace velmora
