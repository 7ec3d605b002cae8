#include "desktop/NSViewController.hpp"

#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"

#include <QLayout>
#include <QVBoxLayout>
#include <algorithm>

namespace velmora {

namespace {

// The widget property naming the controller of a view; cleared when the controller goes.
constexpr const char* controllerProperty = "velmoraViewController";

NSViewController* propertyController(const QWidget* widget) {
    const QVariant value = widget->property(controllerProperty);
    return value.isValid() ? reinterpret_cast<NSViewController*>(value.value<quintptr>()) : nullptr;
}

} // namespace

NSViewController::~NSViewController() {
    if (view_) {
        view_->setProperty(controllerProperty, QVariant());
        // A view in someone else's widget tree belongs to that tree.
        if (!view_->parentWidget()) {
            delete view_.data();
        }
    }
}

QWidget* NSViewController::view() {
    if (!view_ && !loadingView_) {
        loadingView_ = true;
        loadView();
        loadingView_ = false;
        if (!view_) {
            fatalError("loadView made no view");
        }
        for (const Segue& segue : std::vector<Segue>(segues_)) {
            if (segue.kind == SegueKind::embed) {
                runSegue(segue, nullptr);
            }
        }
        viewDidLoad();
    }
    return view_;
}

void NSViewController::setView(QWidget* view) {
    if (view_ == view) {
        return;
    }
    if (view_) {
        view_->setProperty(controllerProperty, QVariant());
    }
    view_ = view;
    if (view_) {
        view_->setProperty(controllerProperty, QVariant::fromValue(quintptr(this)));
    }
}

void NSViewController::loadView() {
    setView(new QWidget);
}

void NSViewController::addChildViewController(std::shared_ptr<NSViewController> child) {
    if (!child || child.get() == this) {
        return;
    }
    child->removeFromParentViewController();
    child->parent_ = weakAs<NSViewController>();
    children_.push_back(child);
    if (appearance_ == Appearance::appeared) {
        child->propagateAppearance(true, true);
        child->propagateAppearance(true, false);
    }
}

void NSViewController::removeFromParentViewController() {
    std::shared_ptr<NSViewController> parent = parent_.lock();
    parent_.reset();
    if (!parent) {
        return;
    }
    std::shared_ptr<NSViewController> self = sharedAs<NSViewController>();
    if (appearance_ == Appearance::appeared) {
        propagateAppearance(false, true);
        propagateAppearance(false, false);
    }
    auto& siblings = parent->children_;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [this](const auto& child) { return child.get() == this; }),
                   siblings.end());
}

std::shared_ptr<NSWindow> NSViewController::window() const {
    return view_ ? NSWindow::windowOf(view_) : nullptr;
}

std::shared_ptr<NSViewController> NSViewController::controllerForView(const QWidget* widget) {
    NSViewController* controller = widget ? propertyController(widget) : nullptr;
    return controller ? controller->sharedAs<NSViewController>() : nullptr;
}

std::shared_ptr<NSViewController> NSViewController::controllerAround(const QWidget* widget) {
    for (; widget; widget = widget->parentWidget()) {
        if (std::shared_ptr<NSViewController> controller = controllerForView(widget)) {
            return controller;
        }
        if (widget->isWindow()) {
            break;
        }
    }
    return nullptr;
}

std::shared_ptr<NSResponder> NSViewController::nextResponder() const {
    if (std::shared_ptr<NSResponder> next = NSResponder::nextResponder()) {
        return next;
    }
    if (std::shared_ptr<NSViewController> parent = parent_.lock()) {
        return parent;
    }
    if (!view_) {
        return nullptr;
    }
    if (!view_->isWindow()) {
        if (std::shared_ptr<NSViewController> outer = controllerAround(view_->parentWidget())) {
            return outer;
        }
    }
    return NSWindow::windowOf(view_);
}

void NSViewController::propagateAppearance(bool appear, bool will) {
    std::shared_ptr<NSViewController> keep = sharedAs<NSViewController>();
    const Appearance from = appear ? (will ? Appearance::disappeared : Appearance::appearing)
                                   : (will ? Appearance::appeared : Appearance::disappearing);
    if (appearance_ != from) {
        return;
    }
    appearance_ = appear ? (will ? Appearance::appearing : Appearance::appeared)
                         : (will ? Appearance::disappearing : Appearance::disappeared);
    if (appear && will) {
        viewWillAppear();
    } else if (appear) {
        viewDidAppear();
    } else if (will) {
        viewWillDisappear();
    } else {
        viewDidDisappear();
    }
    for (const std::shared_ptr<NSViewController>& child :
         std::vector<std::shared_ptr<NSViewController>>(children_)) {
        child->propagateAppearance(appear, will);
    }
}

void NSViewController::presentViewControllerAsSheet(std::shared_ptr<NSViewController> controller) {
    std::shared_ptr<NSWindow> parentWindow = window();
    if (!parentWindow) {
        fatalError("A sheet needs a view in a window to attach to");
    }
    QWidget* content = controller->view();
    const QSize size = content->sizeHint().expandedTo(QSize(1, 1));
    auto sheet = std::make_shared<NSWindow>(
        CGRect{{0, 0}, {double(size.width()), double(size.height())}}, NSWindowStyleMask::titled);
    sheet->setContentViewController(controller);
    controller->presenting_ = weakAs<NSViewController>();
    std::weak_ptr<NSWindow> weakParent = parentWindow;
    recordPresentation(controller, [weakParent, sheet] {
        if (std::shared_ptr<NSWindow> parent = weakParent.lock()) {
            parent->endSheet(sheet, NSModalResponseStop);
        } else {
            sheet->orderOut();
        }
    });
    parentWindow->beginSheet(sheet);
}

void NSViewController::recordPresentation(const std::shared_ptr<NSViewController>& controller,
                                          std::function<void()> dismiss) {
    controller->presenting_ = weakAs<NSViewController>();
    presented_.push_back({controller, std::move(dismiss)});
}

void NSViewController::presentViewController(std::shared_ptr<NSViewController> controller,
                                             CGRect rect, QWidget* view, NSRectEdge preferredEdge,
                                             NSPopoverBehavior behavior) {
    if (!controller || !view) {
        return;
    }
    auto popover = std::make_shared<NSPopover>();
    popover->behavior = behavior;
    popover->setContentViewController(controller);
    std::weak_ptr<NSViewController> weakSelf = weakAs<NSViewController>();
    std::weak_ptr<NSViewController> weakShown = controller;
    popover->didCloseHandler = [weakSelf, weakShown] {
        std::shared_ptr<NSViewController> self = weakSelf.lock();
        std::shared_ptr<NSViewController> shown = weakShown.lock();
        if (self && shown) {
            self->forgetPresentation(shown);
        }
    };
    recordPresentation(controller, [popover] { popover->close(); });
    popover->show(rect, view, preferredEdge);
}

void NSViewController::forgetPresentation(const std::shared_ptr<NSViewController>& controller) {
    auto found = std::find_if(presented_.begin(), presented_.end(),
                              [&](const Presentation& p) { return p.controller == controller; });
    if (found != presented_.end()) {
        // Destroyed after the erase: it may hold what is closing now.
        Presentation ended = std::move(*found);
        presented_.erase(found);
        ended.controller->presenting_.reset();
    }
}

void NSViewController::dismissViewController(const std::shared_ptr<NSViewController>& controller) {
    auto found = std::find_if(presented_.begin(), presented_.end(),
                              [&](const Presentation& p) { return p.controller == controller; });
    if (found == presented_.end()) {
        return;
    }
    Presentation presentation = std::move(*found);
    presented_.erase(found);
    presentation.controller->presenting_.reset();
    if (presentation.dismiss) {
        presentation.dismiss();
    }
}

void NSViewController::dismissController(NSObject*) {
    std::shared_ptr<NSViewController> self = sharedAs<NSViewController>();
    if (std::shared_ptr<NSViewController> presenting = presenting_.lock()) {
        presenting->dismissViewController(self);
    } else if (std::shared_ptr<NSWindow> shown = window()) {
        shown->close();
    }
}

std::vector<std::shared_ptr<NSViewController>> NSViewController::presentedViewControllers() const {
    std::vector<std::shared_ptr<NSViewController>> result;
    for (const Presentation& presentation : presented_) {
        result.push_back(presentation.controller);
    }
    return result;
}

void NSViewController::addSegue(std::string identifier, SegueKind kind,
                                SegueDestination destination, std::string container) {
    segues_.push_back({std::move(identifier), kind, std::move(destination), std::move(container)});
}

void NSViewController::performSegue(std::string_view identifier, NSObject* sender) {
    auto found = std::find_if(segues_.begin(), segues_.end(),
                              [&](const Segue& segue) { return segue.identifier == identifier; });
    if (found == segues_.end()) {
        fatalError("No segue with identifier '" + std::string(identifier) + "'");
    }
    runSegue(Segue(*found), sender);
}

void NSViewController::prepare(NSStoryboardSegue&, NSObject*) {}

void NSViewController::runSegue(const Segue& segue, NSObject* sender) {
    NSStoryboardSegue run{segue.identifier, weakAs<NSViewController>(), segue.destination()};
    if (!run.destinationController) {
        fatalError("Segue '" + segue.identifier + "' made no controller");
    }
    prepare(run, sender);
    std::shared_ptr<NSViewController> destination = run.destinationController;
    switch (segue.kind) {
    case SegueKind::embed: {
        addChildViewController(destination);
        QWidget* container =
            segue.container.empty()
                ? view_.data()
                : view_->findChild<QWidget*>(QString::fromStdString(segue.container));
        if (!container) {
            fatalError("No container '" + segue.container + "' for segue '" + segue.identifier +
                       "'");
        }
        if (!container->layout()) {
            auto* layout = new QVBoxLayout(container);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        container->layout()->addWidget(destination->view());
        break;
    }
    case SegueKind::sheet:
        presentViewControllerAsSheet(destination);
        break;
    }
}

} // namespace velmora
