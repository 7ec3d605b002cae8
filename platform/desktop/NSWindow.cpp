#include "desktop/NSWindow.hpp"

#include "desktop/ApplicationActivity.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSTitlebarAccessoryViewController.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NSWindowWidget.hpp"
#include "desktop/NotificationCenter.hpp"
#include "desktop/WindowFrame.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/UserDefaults.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QStatusBar>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>
#include <utility>

namespace velmora {

namespace {

struct WindowRegistry {
    // On screen, front first.
    std::vector<std::weak_ptr<NSWindow>> ordered;
    std::weak_ptr<NSWindow> key;
    std::weak_ptr<NSWindow> main;
    std::map<std::uint64_t, NSWindow::Observer> observers;
    std::uint64_t nextToken = 1;
    std::map<std::string, std::weak_ptr<NSWindow>, std::less<>> autosaveNames;
    // Every window alive, in the order made.
    std::vector<NSWindow*> all;
};

WindowRegistry& registry() {
    static WindowRegistry instance;
    return instance;
}

void removeFromOrder(const NSWindow* window) {
    auto& ordered = registry().ordered;
    ordered.erase(std::remove_if(ordered.begin(), ordered.end(),
                                 [window](const std::weak_ptr<NSWindow>& entry) {
                                     std::shared_ptr<NSWindow> held = entry.lock();
                                     return !held || held.get() == window;
                                 }),
                  ordered.end());
}

void moveToFront(const std::shared_ptr<NSWindow>& window) {
    removeFromOrder(window.get());
    registry().ordered.insert(registry().ordered.begin(), window);
}

std::shared_ptr<NSWindow> requireShared(NSWindow& window) {
    std::shared_ptr<NSWindow> shared = window.sharedAs<NSWindow>();
    if (!shared) {
        fatalError("A window must be made with std::make_shared");
    }
    return shared;
}

} // namespace

NSWindow::NSWindow(CGRect contentRect, NSWindowStyleMask style)
    : NSWindow(Kind::standard, contentRect, style) {}

NSWindow::NSWindow(Kind kind, CGRect contentRect, NSWindowStyleMask style)
    : kind_(kind), style_(style), widget_(new NSWindowWidget(*this)) {
    widget_->setCentralWidget(new QWidget);
    updateWindowFlags();
    const QMargins expected = expectedDecorations();
    WindowFrame::setFrame(*widget_, NSScreen::qtRect(contentRect).marginsAdded(expected), expected);
    QObject::connect(&widget_->frameSaveTimer, &QTimer::timeout, widget_, [this] {
        if (!autosaveName_.empty()) {
            saveFrameUsingName(autosaveName_);
        }
    });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, widget_, [this] {
        if (!autosaveName_.empty()) {
            saveFrameUsingName(autosaveName_);
        }
    });
    registry().all.push_back(this);
    setAction("performMiniaturize:", [this](NSObject* sender) { miniaturize(sender); });
    setAction("makeKeyAndOrderFront:", [this](NSObject* sender) { makeKeyAndOrderFront(sender); });
    QObject::connect(&ApplicationActivity::shared(), &ApplicationActivity::activeChanged, widget_,
                     [this](bool active) { applicationActivityChanged(active); });
}

NSWindow::~NSWindow() {
    removeFromOrder(this);
    std::erase(registry().all, this);
    if (!autosaveName_.empty()) {
        registry().autosaveNames.erase(autosaveName_);
    }
    if (!widget_) {
        return;
    }
    widget_->detach();
    // Views of controllers that may outlive the window stay theirs.
    if (attachedSheet_ && attachedSheet_->widget_) {
        attachedSheet_->widget_->setParent(nullptr, attachedSheet_->widget_->windowFlags());
    }
    if (contentController_ && contentController_->view_) {
        widget_->takeCentralWidget();
        contentController_->view_->setParent(nullptr);
    }
    for (const auto& accessory : accessories_) {
        if (accessory->view_) {
            accessory->view_->setParent(nullptr);
        }
    }
    delete widget_.data();
}

QMainWindow* NSWindow::widget() const {
    return widget_;
}

std::shared_ptr<NSWindow> NSWindow::windowOf(const QWidget* widget) {
    if (!widget) {
        return nullptr;
    }
    auto* top = dynamic_cast<NSWindowWidget*>(widget->window());
    return top && top->owner() ? top->owner()->sharedAs<NSWindow>() : nullptr;
}

std::string NSWindow::title() const {
    return title_;
}

void NSWindow::setTitle(std::string_view title) {
    title_ = title;
    if (widget_) {
        const std::string shown = documentEdited_ ? title_ + " — Edited" : title_;
        widget_->setWindowTitle(QString::fromStdString(shown));
    }
}

void NSWindow::setDocumentEdited(bool edited) {
    if (edited != documentEdited_) {
        documentEdited_ = edited;
        setTitle(std::string(title_));
    }
}

QWidget* NSWindow::contentView() const {
    return widget_ ? widget_->centralWidget() : nullptr;
}

void NSWindow::setContentView(QWidget* view) {
    if (!widget_ || widget_->centralWidget() == view) {
        return;
    }
    QWidget* old = widget_->takeCentralWidget();
    if (old) {
        if (NSViewController::controllerForView(old)) {
            old->hide();
            old->setParent(nullptr);
        } else {
            delete old;
        }
    }
    widget_->setCentralWidget(view ? view : new QWidget);
}

void NSWindow::setContentViewController(std::shared_ptr<NSViewController> controller) {
    if (controller == contentController_) {
        return;
    }
    std::shared_ptr<NSViewController> old = contentController_;
    const bool visible = isVisible();
    if (old && visible) {
        old->propagateAppearance(false, true);
    }
    QWidget* view = controller ? controller->view() : nullptr;
    contentController_ = controller;
    setContentView(view);
    if (old && visible) {
        old->propagateAppearance(false, false);
    }
    if (controller && visible) {
        controller->propagateAppearance(true, true);
        controller->propagateAppearance(true, false);
    }
}

void NSWindow::setWindowController(std::weak_ptr<NSWindowController> controller) {
    controller_ = std::move(controller);
}

CGRect NSWindow::frame() const {
    return widget_ ? NSScreen::rectFromQt(WindowFrame::frame(*widget_, expectedDecorations()))
                   : CGRect{};
}

void NSWindow::setFrame(CGRect frame, bool) {
    if (widget_) {
        WindowFrame::setFrame(*widget_, NSScreen::qtRect(frame), expectedDecorations());
    }
}

QMargins NSWindow::expectedDecorations() const {
    if (!widget_ || widget_->windowFlags().testFlag(Qt::FramelessWindowHint)) {
        return {};
    }
    if (storedDecorations_) {
        return *storedDecorations_;
    }
    return WindowFrame::lastSeen(widget_->windowType());
}

void NSWindow::setFrameOrigin(CGPoint origin) {
    CGRect moved = frame();
    moved.origin = origin;
    setFrame(moved);
}

void NSWindow::setFrameTopLeftPoint(CGPoint point) {
    CGRect moved = frame();
    moved.origin = {point.x, point.y - moved.height()};
    setFrame(moved);
}

void NSWindow::setContentSize(CGSize size) {
    if (widget_) {
        widget_->resize(int(std::lround(size.width)), int(std::lround(size.height)));
    }
}

void NSWindow::center() {
    std::shared_ptr<NSScreen> shown = screen();
    if (!shown) {
        return;
    }
    const CGRect area = shown->visibleFrame();
    CGRect centred = frame();
    centred.origin = {area.midX() - centred.width() / 2, area.midY() - centred.height() / 2};
    setFrame(centred);
}

std::shared_ptr<NSScreen> NSWindow::screen() const {
    return widget_ ? NSScreen::screenOf(*widget_) : nullptr;
}

bool NSWindow::isVisible() const {
    return widget_ && widget_->isVisible();
}

void NSWindow::showOnScreen(bool activate) {
    if (!widget_) {
        return;
    }
    std::shared_ptr<NSWindow> self = requireShared(*this);
    if (!widget_->isVisible()) {
        notifyAppearance(true, true);
        widget_->setAttribute(Qt::WA_ShowWithoutActivating, !activate || !acceptsFocusNow());
        widget_->show();
        notifyAppearance(true, false);
    }
    // Brought to the front, a minimised window comes back first.
    deminiaturize();
    // The offscreen platform has no stacking and complains about raising.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        widget_->raise();
    }
    moveToFront(self);
}

bool NSWindow::isMiniaturized() const {
    return widget_ && widget_->isMinimized();
}

void NSWindow::miniaturize(NSObject*) {
    if (widget_ && isVisible() && !isMiniaturized()) {
        widget_->setWindowState(widget_->windowState() | Qt::WindowMinimized);
    }
}

void NSWindow::deminiaturize(NSObject*) {
    if (isMiniaturized()) {
        widget_->setWindowState(widget_->windowState() & ~Qt::WindowMinimized);
    }
}

void NSWindow::orderFront(NSObject*) {
    showOnScreen(false);
}

void NSWindow::orderOut(NSObject*) {
    if (std::exchange(hiddenByDeactivation_, false)) {
        // Ordered out while the application was away: it stays out when it
        // returns, and its views hear that they are gone.
        std::shared_ptr<NSWindow> self = requireShared(*this);
        notifyAppearance(false, true);
        notifyAppearance(false, false);
        return;
    }
    if (!isVisible()) {
        return;
    }
    std::shared_ptr<NSWindow> self = requireShared(*this);
    notifyAppearance(false, true);
    widget_->hide();
    leaveScreen();
    notifyAppearance(false, false);
}

void NSWindow::makeKeyAndOrderFront(NSObject*) {
    showOnScreen(true);
    makeKeyWindow();
}

void NSWindow::makeKeyWindow() {
    if (!canBecomeKeyWindow() || !isVisible()) {
        return;
    }
    std::shared_ptr<NSWindow> self = requireShared(*this);
    moveToFront(self);
    changeKey(self);
    if (canBecomeMainWindow()) {
        changeMain(self);
    }
    if (acceptsFocusNow()) {
        widget_->activateWindow();
    }
}

void NSWindow::makeMainWindow() {
    if (canBecomeMainWindow() && isVisible()) {
        changeMain(requireShared(*this));
    }
}

bool NSWindow::isKeyWindow() const {
    return registry().key.lock().get() == this;
}

bool NSWindow::isMainWindow() const {
    return registry().main.lock().get() == this;
}

bool NSWindow::canBecomeKeyWindow() const {
    return kind_ != Kind::popover && contains(style_, NSWindowStyleMask::titled);
}

bool NSWindow::canBecomeMainWindow() const {
    return kind_ == Kind::standard && contains(style_, NSWindowStyleMask::titled);
}

int NSWindow::orderedIndex() const {
    int index = 0;
    for (const std::shared_ptr<NSWindow>& window : orderedWindows()) {
        if (window.get() == this) {
            return index;
        }
        ++index;
    }
    return -1;
}

void NSWindow::changeKey(const std::shared_ptr<NSWindow>& window) {
    std::shared_ptr<NSWindow> previous = registry().key.lock();
    if (previous == window) {
        return;
    }
    registry().key = window;
    if (previous) {
        previous->didResignKey();
        if (std::shared_ptr<NSWindowDelegate> delegate = previous->delegate()) {
            delegate->windowDidResignKey(*previous);
        }
        previous->post(didResignKeyNotification);
    }
    if (window) {
        window->didBecomeKey();
        if (std::shared_ptr<NSWindowDelegate> delegate = window->delegate()) {
            delegate->windowDidBecomeKey(*window);
        }
        window->post(didBecomeKeyNotification);
    }
}

void NSWindow::changeMain(const std::shared_ptr<NSWindow>& window) {
    std::shared_ptr<NSWindow> previous = registry().main.lock();
    if (previous == window) {
        return;
    }
    registry().main = window;
    if (previous) {
        if (std::shared_ptr<NSWindowDelegate> delegate = previous->delegate()) {
            delegate->windowDidResignMain(*previous);
        }
        previous->post(didResignMainNotification);
    }
    if (window) {
        if (std::shared_ptr<NSWindowDelegate> delegate = window->delegate()) {
            delegate->windowDidBecomeMain(*window);
        }
        window->post(didBecomeMainNotification);
    }
}

void NSWindow::leaveScreen() {
    const bool wasKey = isKeyWindow();
    const bool wasMain = isMainWindow();
    removeFromOrder(this);
    if (!wasKey && !wasMain) {
        return;
    }
    std::shared_ptr<NSWindow> successor;
    for (const std::shared_ptr<NSWindow>& window : orderedWindows()) {
        if (window.get() != this && window->canBecomeMainWindow()) {
            successor = window;
            break;
        }
    }
    if (wasKey) {
        // A sheet hands the keyboard back to its window, wherever it stands.
        std::shared_ptr<NSWindow> parent = sheetParent();
        std::shared_ptr<NSWindow> next = parent && parent->isVisible() ? parent : successor;
        changeKey(next);
        if (next && next->widget_ && next->acceptsFocusNow()) {
            next->widget_->activateWindow();
        }
    }
    if (wasMain) {
        changeMain(successor);
    }
}

void NSWindow::qtActivated() {
    if (!canBecomeKeyWindow() || !isVisible()) {
        return;
    }
    std::shared_ptr<NSWindow> self = sharedAs<NSWindow>();
    if (!self) {
        return;
    }
    moveToFront(self);
    changeKey(self);
    if (canBecomeMainWindow()) {
        changeMain(self);
    }
}

void NSWindow::qtHidden() {
    // A minimised window stays visible, and in the list.
    if (widget_ && !widget_->isVisible()) {
        leaveScreen();
    }
}

void NSWindow::qtCloseRequested() {
    // Closing may let go of the last owner, whose Qt window is still inside
    // its close event: it goes once the event is over.
    DispatchQueue::main().async([self = sharedAs<NSWindow>()] {});
    performClose(nullptr);
}

void NSWindow::applicationActivityChanged(bool active) {
    if (!active && hidesOnDeactivate_ && isVisible()) {
        hiddenByDeactivation_ = true;
        widget_->hide();
    } else if (active && hiddenByDeactivation_) {
        hiddenByDeactivation_ = false;
        orderFront();
    }
}

void NSWindow::performClose(NSObject*) {
    if (std::shared_ptr<NSWindowDelegate> d = delegate(); d && !d->windowShouldClose(*this)) {
        return;
    }
    std::shared_ptr<NSWindowController> controller = windowController();
    if (controller && controller->shouldCloseHandler) {
        std::weak_ptr<NSWindow> weakSelf = weakAs<NSWindow>();
        controller->shouldCloseHandler(*controller, [weakSelf](bool shouldClose) {
            if (std::shared_ptr<NSWindow> self = weakSelf.lock(); self && shouldClose) {
                self->close();
            }
        });
        return;
    }
    close();
}

void NSWindow::close() {
    std::shared_ptr<NSWindow> self = sharedAs<NSWindow>();
    if (std::shared_ptr<NSWindowDelegate> d = delegate()) {
        d->windowWillClose(*this);
    }
    post(willCloseNotification);
    if (std::shared_ptr<NSWindowController> controller = windowController();
        controller && controller->willCloseHandler) {
        controller->willCloseHandler(*controller);
    }
    if (!autosaveName_.empty()) {
        saveFrameUsingName(autosaveName_);
    }
    if (attachedSheet_) {
        endSheet(attachedSheet_, NSModalResponseAbort);
    }
    if (std::shared_ptr<NSWindow> parent = sheetParent(); parent && self) {
        parent->endSheet(self, NSModalResponseAbort);
    }
    orderOut();
}

void NSWindow::setLevel(NSWindowLevel level) {
    level_ = level;
    updateWindowFlags();
}

void NSWindow::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    if (widget_) {
        widget_->setWindowOpacity(alpha_);
    }
}

void NSWindow::setOpaque(bool opaque) {
    opaque_ = opaque;
    if (widget_) {
        widget_->setAttribute(Qt::WA_TranslucentBackground, !opaque);
        widget_->setAutoFillBackground(opaque);
    }
}

void NSWindow::setHasShadow(bool hasShadow) {
    hasShadow_ = hasShadow;
    updateWindowFlags();
}

void NSWindow::setIgnoresMouseEvents(bool ignores) {
    ignoresMouse_ = ignores;
    updateWindowFlags();
}

void NSWindow::setKind(Kind kind) {
    kind_ = kind;
    updateWindowFlags();
}

void NSWindow::updateWindowFlags() {
    if (!widget_) {
        return;
    }
    Qt::WindowFlags flags;
    switch (kind_) {
    case Kind::standard:
        flags = Qt::Window;
        break;
    case Kind::panel:
        flags = Qt::Tool;
        break;
    case Kind::sheet:
        // Hangs from its window without a title bar, where the window manager cannot move it.
        flags = Qt::Dialog | Qt::FramelessWindowHint;
        break;
    case Kind::popover:
        // Never Qt::Popup: it grabs the pointer and steals the release of a drag.
        flags = Qt::ToolTip | Qt::FramelessWindowHint;
        break;
    }
    if (style_ == NSWindowStyleMask::borderless) {
        flags |= Qt::FramelessWindowHint;
    }
    if (level_ >= NSFloatingWindowLevel && kind_ != Kind::popover) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    if (!hasShadow_) {
        flags |= Qt::NoDropShadowWindowHint;
    }
    if (ignoresMouse_) {
        flags |= Qt::WindowTransparentForInput;
    }
    if (kind_ == Kind::popover || !acceptsFocusNow()) {
        flags |= Qt::WindowDoesNotAcceptFocus;
    }
    if (flags == widget_->windowFlags()) {
        return;
    }
    if (widget_->windowHandle()) {
        // Changing the widget's flags would hide it, and would put a hidden
        // one's content where its frame was: the platform window takes them.
        widget_->windowHandle()->setFlags(flags);
        widget_->overrideWindowFlags(flags);
    } else {
        widget_->setWindowFlags(flags);
    }
}

std::string NSWindow::frameDefaultsKey(std::string_view name) {
    return "NSWindow Frame " + std::string(name);
}

bool NSWindow::setFrameAutosaveName(std::string_view name) {
    if (name == autosaveName_) {
        return true;
    }
    auto& names = registry().autosaveNames;
    if (!name.empty()) {
        if (auto found = names.find(name);
            found != names.end() && found->second.lock() && found->second.lock().get() != this) {
            return false;
        }
    }
    if (!autosaveName_.empty()) {
        names.erase(autosaveName_);
    }
    autosaveName_ = std::string(name);
    if (!autosaveName_.empty()) {
        names.insert_or_assign(autosaveName_, weakAs<NSWindow>());
        setFrameUsingName(autosaveName_);
    }
    return true;
}

void NSWindow::saveFrameUsingName(std::string_view name) const {
    if (name.empty() || !widget_) {
        return;
    }
    const CGRect f = frame();
    std::shared_ptr<NSScreen> shown = screen();
    const CGRect area = shown ? shown->visibleFrame() : CGRect{};
    // The decorations go with the frame: the next launch sizes the content
    // before the window manager has decorated it.
    const QMargins d = WindowFrame::decorations(*widget_, expectedDecorations());
    std::ostringstream text;
    for (double value : {f.origin.x, f.origin.y, f.width(), f.height(), area.origin.x,
                         area.origin.y, area.width(), area.height(), double(d.left()),
                         double(d.top()), double(d.right()), double(d.bottom())}) {
        text << std::lround(value) << ' ';
    }
    UserDefaults::standard().set(DefaultsValue(text.str()), frameDefaultsKey(name));
}

bool NSWindow::setFrameUsingName(std::string_view name) {
    std::optional<std::string> stored =
        UserDefaults::standard().stringForKey(frameDefaultsKey(name));
    if (!stored) {
        return false;
    }
    std::istringstream text(*stored);
    double values[4];
    for (double& value : values) {
        if (!(text >> value) || !std::isfinite(value) || std::fabs(value) > 1e6) {
            return false;
        }
    }
    CGRect restored{{values[0], values[1]}, {values[2], values[3]}};
    if (restored.size.width <= 0 || restored.size.height <= 0) {
        return false;
    }
    // The screen's area, then the decorations, which older entries lack.
    double extra[8];
    int count = 0;
    while (count < 8 && text >> extra[count]) {
        ++count;
    }
    const bool decorated =
        count == 8 && std::all_of(extra + 4, extra + 8, [&](double v) {
            return v >= 0 && v < std::min(restored.size.width, restored.size.height) / 2;
        });
    storedDecorations_.reset();
    if (decorated) {
        storedDecorations_ = QMargins(int(extra[4]), int(extra[5]), int(extra[6]), int(extra[7]));
    }
    // A frame stored on a screen that has gone is brought onto the primary one.
    std::vector<std::shared_ptr<NSScreen>> all = NSScreen::screens();
    const bool onSomeScreen = std::any_of(all.begin(), all.end(), [&](const auto& s) {
        const CGRect area = s->frame();
        return restored.minX() < area.maxX() && area.minX() < restored.maxX() &&
               restored.minY() < area.maxY() && area.minY() < restored.maxY();
    });
    if (!onSomeScreen && !all.empty()) {
        const CGRect area = all.front()->visibleFrame();
        restored.size.width = std::min(restored.size.width, area.width());
        restored.size.height = std::min(restored.size.height, area.height());
        restored.origin = {area.minX(), area.maxY() - restored.size.height};
    }
    setFrame(restored);
    return true;
}

void NSWindow::frameChanged(bool moved) {
    if (widget_ && widget_->isVisible()) {
        // Learns the window manager's decorations for windows not shown yet.
        WindowFrame::decorations(*widget_, {});
    }
    if (std::shared_ptr<NSWindowDelegate> d = delegate()) {
        moved ? d->windowDidMove(*this) : d->windowDidResize(*this);
    }
    post(moved ? didMoveNotification : didResizeNotification);
    if (!autosaveName_.empty() && widget_) {
        widget_->frameSaveTimer.start();
    }
    // A sheet follows its window, which may be maximised only after it was attached.
    if (attachedSheet_) {
        placeAttachedSheet();
    } else if (std::shared_ptr<NSWindow> parent = sheetParent(); parent && !moved) {
        parent->placeAttachedSheet();
    }
}

void NSWindow::placeAttachedSheet() {
    if (!attachedSheet_ || !attachedSheet_->widget_ || !widget_) {
        return;
    }
    // Hangs from the top of the content, below the menu bar, centred across the window.
    // The menu bar's own size hint: its laid-out height lags while the window is maximised.
    const QRect parentFrame = widget_->frameGeometry();
    const QWidget* menu = widget_->menuWidget();
    const int top =
        widget_->geometry().y() +
        (menu && !menu->isHidden() && !menu->actions().isEmpty() ? menu->sizeHint().height() : 0);
    QWidget& sheet = *attachedSheet_->widget_;
    const QPoint corner(parentFrame.x() + (parentFrame.width() - sheet.frameGeometry().width()) / 2,
                        top);
    if (sheet.frameGeometry().topLeft() != corner) {
        sheet.move(corner);
    }
}

std::shared_ptr<UndoManager> NSWindow::undoManager() {
    if (std::shared_ptr<NSWindowDelegate> d = delegate()) {
        if (std::optional<std::shared_ptr<UndoManager>> answer =
                d->windowWillReturnUndoManager(*this)) {
            return *answer;
        }
    }
    if (std::shared_ptr<NSWindowController> controller = windowController()) {
        if (std::shared_ptr<NSResponder> document = controller->documentResponder()) {
            return document->undoManager();
        }
    }
    return nullptr;
}

std::shared_ptr<NSResponder> NSWindow::nextResponder() const {
    if (std::shared_ptr<NSResponder> next = NSResponder::nextResponder()) {
        return next;
    }
    return windowController();
}

bool NSWindow::validateMenuItem(const NSMenuItem& item) {
    if (item.action() == "performMiniaturize:") {
        return contains(style_, NSWindowStyleMask::miniaturizable) && isVisible() &&
               !isMiniaturized();
    }
    return NSResponder::validateMenuItem(item);
}

std::shared_ptr<NSResponder> NSWindow::firstResponder() {
    if (std::shared_ptr<NSResponder> chosen = firstResponder_.lock()) {
        return chosen;
    }
    // The window's own focus widget: it keeps it while a panel is key.
    QWidget* focus = widget_ ? widget_->focusWidget() : nullptr;
    if (focus && focus->window() == widget_) {
        if (std::shared_ptr<NSViewController> around = NSViewController::controllerAround(focus)) {
            return around;
        }
    }
    return sharedAs<NSResponder>();
}

bool NSWindow::makeFirstResponder(std::shared_ptr<NSResponder> responder) {
    std::shared_ptr<NSResponder> current = firstResponder_.lock();
    if (current == responder) {
        return true;
    }
    if (current && !current->resignFirstResponder()) {
        return false;
    }
    firstResponder_.reset();
    if (responder && !(responder->acceptsFirstResponder() && responder->becomeFirstResponder())) {
        return false;
    }
    firstResponder_ = responder;
    return true;
}

void NSWindow::beginSheet(std::shared_ptr<NSWindow> sheet,
                          std::function<void(NSModalResponse)> completionHandler) {
    if (!sheet || !sheet->widget_ || !widget_ || sheet.get() == this) {
        return;
    }
    if (attachedSheet_) {
        fatalError("A window shows one sheet at a time");
    }
    sheet->orderOut();
    sheet->sheetParent_ = weakAs<NSWindow>();
    sheet->sheetHandler_ = std::move(completionHandler);
    attachedSheet_ = sheet;
    sheet->kind_ = Kind::sheet;
    sheet->widget_->setParent(widget_, Qt::Dialog);
    sheet->updateWindowFlags();
    sheet->widget_->setWindowModality(Qt::WindowModal);
    placeAttachedSheet();
    sheet->makeKeyAndOrderFront();
}

void NSWindow::endSheet(std::shared_ptr<NSWindow> sheet, NSModalResponse returnCode) {
    if (!sheet || attachedSheet_ != sheet) {
        return;
    }
    attachedSheet_.reset();
    std::function<void(NSModalResponse)> handler = std::move(sheet->sheetHandler_);
    sheet->sheetHandler_ = nullptr;
    sheet->orderOut();
    sheet->sheetParent_.reset();
    if (sheet->widget_) {
        sheet->widget_->setParent(nullptr, sheet->widget_->windowFlags());
    }
    if (handler) {
        handler(returnCode);
    }
}

void NSWindow::addTitlebarAccessoryViewController(
    std::shared_ptr<NSTitlebarAccessoryViewController> controller) {
    if (!controller || !widget_) {
        return;
    }
    accessories_.push_back(controller);
    QWidget* view = controller->view();
    const NSLayoutAttribute side = controller->layoutAttribute;
    if (side == NSLayoutAttribute::right || side == NSLayoutAttribute::trailing) {
        widget_->statusBar()->addPermanentWidget(view);
    } else {
        widget_->statusBar()->addWidget(view);
    }
    if (isVisible()) {
        controller->propagateAppearance(true, true);
        controller->propagateAppearance(true, false);
    }
}

void NSWindow::notifyAppearance(bool appear, bool will) {
    std::shared_ptr<NSViewController> content = contentController_;
    if (content) {
        content->propagateAppearance(appear, will);
    }
    for (const auto& accessory : std::vector(accessories_)) {
        accessory->propagateAppearance(appear, will);
    }
}

std::shared_ptr<NSWindow> NSWindow::keyWindow() {
    return registry().key.lock();
}

std::shared_ptr<NSWindow> NSWindow::mainWindow() {
    return registry().main.lock();
}

std::vector<std::shared_ptr<NSWindow>> NSWindow::orderedWindows() {
    std::vector<std::shared_ptr<NSWindow>> result;
    for (const std::weak_ptr<NSWindow>& entry : registry().ordered) {
        if (std::shared_ptr<NSWindow> window = entry.lock(); window && window->isVisible()) {
            result.push_back(window);
        }
    }
    return result;
}

std::vector<std::shared_ptr<NSWindow>> NSWindow::windows() {
    std::vector<std::shared_ptr<NSWindow>> result;
    for (NSWindow* window : registry().all) {
        // Not yet (or no longer) owned while it is made or goes.
        if (std::shared_ptr<NSWindow> shared = window->sharedAs<NSWindow>()) {
            result.push_back(std::move(shared));
        }
    }
    return result;
}

std::uint64_t NSWindow::addObserver(Observer observer) {
    const std::uint64_t token = registry().nextToken++;
    registry().observers.emplace(token, std::move(observer));
    return token;
}

void NSWindow::removeObserver(std::uint64_t token) {
    registry().observers.erase(token);
}

void NSWindow::noteVersionBrowser(std::string_view name) {
    using Call = void (NSWindowDelegate::*)(NSWindow&);
    const struct {
        std::string_view name;
        Call call;
        bool inBrowser;
    } steps[] = {
        {willEnterVersionBrowserNotification, &NSWindowDelegate::windowWillEnterVersionBrowser,
         true},
        {didEnterVersionBrowserNotification, &NSWindowDelegate::windowDidEnterVersionBrowser, true},
        {willExitVersionBrowserNotification, &NSWindowDelegate::windowWillExitVersionBrowser, true},
        {didExitVersionBrowserNotification, &NSWindowDelegate::windowDidExitVersionBrowser, false},
    };
    const auto step = std::ranges::find(steps, name, [](const auto& s) { return s.name; });
    if (step == std::end(steps)) {
        fatalError("Not a versions browser notification: " + std::string(name));
    }
    const auto keep = sharedAs<NSWindow>();
    inVersionBrowser_ = step->inBrowser;
    if (std::shared_ptr<NSWindowDelegate> d = delegate()) {
        ((*d).*(step->call))(*this);
    }
    post(name);
}

void NSWindow::post(std::string_view name) {
    std::vector<std::uint64_t> tokens;
    for (const auto& [token, observer] : registry().observers) {
        tokens.push_back(token);
    }
    for (std::uint64_t token : tokens) {
        auto found = registry().observers.find(token);
        if (found != registry().observers.end()) {
            Observer observer = found->second;
            observer(*this, name);
        }
    }
    NotificationCenter::defaultCenter().post(std::string(name), this);
}

} // namespace velmora
