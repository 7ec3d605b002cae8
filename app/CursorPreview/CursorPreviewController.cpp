#include "CursorPreview/CursorPreviewController.hpp"

#include "CursorPreview/CursorPreviewViewController.hpp"
#include "desktop/NSEvent.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

namespace {

// Never key or main: showing it must not take the keyboard or the menus.
class CursorPreviewWindow : public NSWindow {
public:
    CursorPreviewWindow() : NSWindow(CGRect{{0, 0}, {1, 1}}, NSWindowStyleMask::borderless) {}
    bool canBecomeKeyWindow() const override { return false; }
    bool canBecomeMainWindow() const override { return false; }
};

} // namespace

void CursorPreviewController::registerStoryboard() {
    NSStoryboard::registerController(storyboard, identifier, [] {
        auto controller = std::make_shared<CursorPreviewController>();
        controller->setWindowLoader([] {
            auto window = std::make_shared<CursorPreviewWindow>();
            window->setContentViewController(std::make_shared<CursorPreviewViewController>());
            return window;
        });
        return controller;
    });
}

std::shared_ptr<CursorPreviewController> CursorPreviewController::instantiate() {
    if (!NSStoryboard::hasController(storyboard, identifier)) {
        registerStoryboard();
    }
    return NSStoryboard::instantiateController<CursorPreviewController>(storyboard, identifier);
}

CursorPreviewController::CursorPreviewController()
    : mouseLocationProxy([] { return NSEvent::mouseLocation(); }) {}

CursorPreviewController::~CursorPreviewController() {
    // Closed first, so its content shows the pointer it hid.
    if (isWindowLoaded() && window()->isVisible()) {
        window()->orderOut();
    }
}

void CursorPreviewController::windowDidLoad() {
    NSWindowController::windowDidLoad();
    const auto shown = window();
    if (!shown || !shown->widget()) {
        fatalError("The cursor preview has no window");
    }
    shown->setOpaque(false);
    shown->setHasShadow(false);
    shown->setLevel(NSFloatingWindowLevel);
    shown->setHidesOnDeactivate(true);
    shown->setIgnoresMouseEvents(true);
    QMainWindow* widget = shown->widget();
    // A tool tip's type: above everything, never focused, no task-bar entry.
    widget->setWindowFlags((widget->windowFlags() & ~Qt::WindowType_Mask) | Qt::ToolTip |
                           Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint);
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    mouseMoveObserver_ =
        std::make_unique<EventObserver>(NSEventMask::mouseMoved | NSEventMask::leftMouseDragged,
                                        [weak = weakAs<CursorPreviewController>()](const NSEvent&) {
                                            if (const auto controller = weak.lock()) {
                                                controller->followMouse();
                                            }
                                        });
    if (const auto preview = content()) {
        preview->updateImage();
    }
}

std::shared_ptr<CursorPreviewViewController> CursorPreviewController::content() {
    if (!isWindowLoaded()) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<CursorPreviewViewController>(
        window()->contentViewController());
}

void CursorPreviewController::setCursor(std::shared_ptr<NSCursor> cursor) {
    loadWindowIfNeeded();
    const auto preview = content();
    if (!preview) {
        fatalError("The cursor preview has no preview view controller");
    }
    preview->cursor = std::move(cursor);
    preview->updateImage();
}

void CursorPreviewController::followMouse() {
    if (!isWindowLoaded() || !window()->isVisible()) {
        return;
    }
    CGPoint hotSpot{0, 0};
    if (const auto preview = content(); preview && preview->cursor) {
        hotSpot = preview->cursor->hotSpot();
    }
    const CGPoint mouse = mouseLocationProxy();
    window()->setFrameOrigin({mouse.x - hotSpot.x, mouse.y - hotSpot.y});
}

} // namespace velmora
