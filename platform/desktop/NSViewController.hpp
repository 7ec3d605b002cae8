#pragma once

#include "desktop/NSPopover.hpp"
#include "desktop/NSResponder.hpp"
#include "desktop/NSStoryboardSegue.hpp"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class NSWindow;

// Manages one view (a QWidget), loaded on first use: `loadView` makes it (a
// plain widget unless overridden), embed segues run, then `viewDidLoad`. The
// controller owns its view until the view is placed in a window, whose widget
// then owns it. Appearance calls follow the window: will/did appear when it
// comes on screen, will/did disappear when it leaves, passed on to children.
class NSViewController : public NSResponder {
public:
    NSViewController() = default;
    ~NSViewController() override;

    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }
    void setView(QWidget* view);
    void loadViewIfNeeded() { view(); }
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}
    virtual void viewDidDisappear() {}
    bool isViewAppeared() const { return appearance_ == Appearance::appeared; }

    // The user-interface identifier (a storyboard's identifier of the view).
    const std::string& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    std::shared_ptr<NSObject> representedObject() const { return representedObject_; }
    virtual void setRepresentedObject(std::shared_ptr<NSObject> object) {
        representedObject_ = std::move(object);
    }

    std::shared_ptr<NSViewController> parentViewController() const { return parent_.lock(); }
    const std::vector<std::shared_ptr<NSViewController>>& childViewControllers() const {
        return children_;
    }
    void addChildViewController(std::shared_ptr<NSViewController> child);
    void removeFromParentViewController();

    // The window that shows the view, if any.
    std::shared_ptr<NSWindow> window() const;
    // The controller whose view is `widget` itself.
    static std::shared_ptr<NSViewController> controllerForView(const QWidget* widget);
    // The innermost controller whose view holds `widget` (or is it).
    static std::shared_ptr<NSViewController> controllerAround(const QWidget* widget);

    // The explicit link, else the parent controller, else the controller around
    // the view's parent widget, else the view's window.
    std::shared_ptr<NSResponder> nextResponder() const override;

    // Shows the controller in a sheet over this view's window (which must exist).
    void presentViewControllerAsSheet(std::shared_ptr<NSViewController> controller);
    // Shows the controller in a popover beside `rect` (in `view`'s points, y up).
    void presentViewController(std::shared_ptr<NSViewController> controller, CGRect rect,
                               QWidget* view, NSRectEdge preferredEdge, NSPopoverBehavior behavior);
    virtual void dismissViewController(const std::shared_ptr<NSViewController>& controller);
    // Dismissed by the presenting controller; a controller that was not
    // presented closes its window.
    void dismissController(NSObject* sender = nullptr);
    std::shared_ptr<NSViewController> presentingViewController() const {
        return presenting_.lock();
    }
    std::vector<std::shared_ptr<NSViewController>> presentedViewControllers() const;

    // Segues, registered by the storyboard's builder. An embed segue runs when
    // the view loads, before `viewDidLoad`, and puts the destination's view into
    // the layout of the view's child widget whose object name is `container`
    // (the view itself when empty); a sheet segue runs on `performSegue`.
    enum class SegueKind { embed, sheet };
    using SegueDestination = std::function<std::shared_ptr<NSViewController>()>;
    void addSegue(std::string identifier, SegueKind kind, SegueDestination destination,
                  std::string container = {});
    // An identifier without a segue ends the program: the storyboards are the application's.
    void performSegue(std::string_view identifier, NSObject* sender = nullptr);
    virtual void prepare(NSStoryboardSegue& segue, NSObject* sender);

protected:
    // For presentations of other kinds (popovers): recorded so that
    // `dismissViewController` finds them; `dismiss` takes it off screen.
    void recordPresentation(const std::shared_ptr<NSViewController>& controller,
                            std::function<void()> dismiss);

private:
    friend class NSWindow;
    friend class NSPopover;
    enum class Appearance { disappeared, appearing, appeared, disappearing };
    struct Segue {
        std::string identifier;
        SegueKind kind;
        SegueDestination destination;
        std::string container;
    };
    struct Presentation {
        std::shared_ptr<NSViewController> controller;
        std::function<void()> dismiss;
    };

    // `will` then not: the two steps of appearing (or disappearing).
    void propagateAppearance(bool appear, bool will);
    void runSegue(const Segue& segue, NSObject* sender);
    // Drops the record of a presentation that ended by itself.
    void forgetPresentation(const std::shared_ptr<NSViewController>& controller);

    QPointer<QWidget> view_;
    bool loadingView_ = false;
    Appearance appearance_ = Appearance::disappeared;
    std::string identifier_;
    std::string title_;
    std::shared_ptr<NSObject> representedObject_;
    std::weak_ptr<NSViewController> parent_;
    std::vector<std::shared_ptr<NSViewController>> children_;
    std::weak_ptr<NSViewController> presenting_;
    std::vector<Presentation> presented_;
    std::vector<Segue> segues_;
};

} // namespace velmora
