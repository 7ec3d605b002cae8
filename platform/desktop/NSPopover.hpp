#pragma once

#include "desktop/NSResponder.hpp"
#include "foundation/NSGeometry.hpp"
#include "graphics/CGGeometry.hpp"

#include <QPointer>
#include <functional>
#include <memory>

class QObject;
class QWidget;

namespace velmora {

class NSViewController;
class NSWindow;

enum class NSPopoverBehavior { applicationDefined = 0, transient = 1, semitransient = 2 };

// A view shown next to a point of another view in a frameless window that
// never takes the keyboard or grabs the pointer (a grab would steal the
// release of a drag on the canvas). A transient popover closes at the next
// press outside it, which still reaches its target.
class NSPopover : public NSResponder {
public:
    NSPopover();
    ~NSPopover() override;

    std::shared_ptr<NSViewController> contentViewController() const { return content_; }
    void setContentViewController(std::shared_ptr<NSViewController> controller);
    NSPopoverBehavior behavior = NSPopoverBehavior::applicationDefined;
    // Told after the popover closed, however that happened.
    std::function<void()> didCloseHandler;

    // `rect` is in the view's points (y up); the popover stands beyond its
    // `edge`, kept on the view's screen.
    void show(CGRect rect, QWidget* view, NSRectEdge edge);
    void close();
    bool isShown() const;
    std::shared_ptr<NSWindow> window() const { return window_; }

private:
    std::shared_ptr<NSViewController> content_;
    std::shared_ptr<NSWindow> window_;
    QPointer<QObject> outsidePressFilter_;
};

} // namespace velmora
