#pragma once

#include "Popover/PopoverPlacement.hpp"
#include "desktop/NSWindow.hpp"
#include "graphics/CGGeometry.hpp"

#include <QPointer>
#include <functional>
#include <memory>

class QObject;
class QWidget;

namespace velmora {

class NSViewController;

// A frameless tool-tip window beside a point of a view, with an arrow at that
// point. It never takes the keyboard or grabs the pointer, so a drag on the
// view keeps its release. It closes at a press outside it (which still reaches
// its target) and when the application or the view's window is deactivated.
// Main thread only; made with `make`.
class PopoverWindow : public NSWindow {
public:
    static std::shared_ptr<PopoverWindow> make();
    ~PopoverWindow() override;

    // Shows `content` beyond the `edge` of `rect` (in the view's points, y up);
    // a popover already shown moves there with the new content.
    void show(std::shared_ptr<NSViewController> content, CGRect rect, QWidget* view,
              NSRectEdge edge);
    // Takes the popover off screen and tells `didCloseHandler`; nothing when closed.
    void dismiss();
    bool isShown() const { return isVisible(); }

    std::shared_ptr<NSViewController> content() const;
    const PopoverPlacement& placement() const { return placement_; }
    // Told after the popover closed, however that happened.
    std::function<void()> didCloseHandler;

private:
    PopoverWindow();
    void watch(QWidget* view);

    std::shared_ptr<NSViewController> frame_;
    PopoverPlacement placement_;
    QPointer<QObject> watcher_;
};

} // namespace velmora
