#include "acceptance/CanvasChecks.hpp"

#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "acceptance/Steps.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"

#include <QMenu>
#include <QMenuBar>
#include <cmath>
#include <qpa/qwindowsysteminterface.h>
#include <string>
#include <tuple>

namespace velmora::acceptance {

namespace {

std::string topmostRasterName(const LayerContainer& container) {
    const auto& layers = container.immediateLayers();
    for (auto layer = layers.rbegin(); layer != layers.rend(); ++layer) {
        if (std::dynamic_pointer_cast<RasterLayer>(*layer) != nullptr) {
            return (*layer)->name();
        }
        if (const auto group = std::dynamic_pointer_cast<GroupLayer>(*layer)) {
            if (auto inside = topmostRasterName(*group); !inside.empty()) {
                return inside;
            }
        }
    }
    return {};
}

// A key as X gives it to the program: to the window with the focus, through
// the shortcuts first.
void key(QWidget* target, int code, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
    QWindow* window = target->window()->windowHandle();
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyPress, code, modifiers, text);
    QWindowSystemInterface::handleKeyEvent(window, QEvent::KeyRelease, code, modifiers, text);
}

CGAffineTransform transformOf(Driver& d, const std::shared_ptr<Document>& document) {
    return d.onMain([&] { return probe::drawing(*document)->displayViewModel()->transform(); });
}

double scaleOf(const CGAffineTransform& t) {
    return std::hypot(t.a, t.b);
}

} // namespace

void openedCanvasChecks(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("opened-canvas");
    // The window is maximised after it is shown: wait until its size holds.
    QSize size;
    d.waitUntil(
        [&] {
            const QSize now = probe::viewer(*document)->size();
            const bool settled = now == size;
            size = now;
            return settled;
        },
        5);
    d.pause(0.5);
    const CGAffineTransform shown = transformOf(d, document);
    chooseMenu(d, "View", "Zoom to Fit");
    d.pause(0.3);
    const CGAffineTransform fitted = transformOf(d, document);
    d.check(std::abs(scaleOf(shown) - scaleOf(fitted)) < 1e-9 &&
                std::abs(shown.tx - fitted.tx) < 1e-6 && std::abs(shown.ty - fitted.ty) < 1e-6,
            "the painting is fitted to its window's real size (" + std::to_string(size.width()) +
                " × " + std::to_string(size.height()) + "): scale " +
                std::to_string(scaleOf(shown)) + ", fitted " + std::to_string(scaleOf(fitted)));
    d.screenshot("opened-fitted");

    const auto [active, topmost, edited] = d.onMain([&] {
        const auto canvas = document->layeredCanvas();
        const auto layer = canvas->activeLayer();
        return std::make_tuple(layer ? layer->name() : std::string("none"),
                               topmostRasterName(*canvas), document->isDocumentEdited());
    });
    d.check(active == topmost, "the top-most raster layer " + topmost + " is active: " + active);
    d.check(!edited, "choosing it is no edit of the painting");

    Viewer* viewer = d.onMain([&] { return probe::viewer(*document); });
    QWidget* window = d.onMain([&] { return probe::window(*document); });
    d.check(d.onMain([&] { return QApplication::focusWidget() == viewer; }),
            "the canvas has the keys");
    // The View menu from the bar, closed with Escape; then a lone Alt.
    const bool opened = d.onMain([&] {
        auto* bar = window->findChild<QMenuBar*>();
        for (QAction* action : bar != nullptr ? bar->actions() : QList<QAction*>()) {
            if (action->text().remove('&') == "View") {
                Driver::click(bar, bar->actionGeometry(action).center());
                return true;
            }
        }
        return false;
    });
    QMenu* popup = nullptr;
    d.check(opened && d.waitUntil([&] {
        return (popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr &&
               popup->isVisible();
    }),
            "the View menu opens");
    if (popup != nullptr) {
        d.screenshot("view-menu");
        d.onMain([&] { key(popup, Qt::Key_Escape, Qt::NoModifier); });
        d.check(d.waitUntil([] { return QApplication::activePopupWidget() == nullptr; }),
                "Escape closes the menu");
    }
    d.pause(0.2);
    d.check(d.onMain([&] { return QApplication::focusWidget() == viewer; }),
            "after Escape the canvas has the keys again");
    d.onMain([&] { key(viewer, Qt::Key_Alt, Qt::AltModifier); });
    d.pause(0.2);
    d.check(d.onMain([&] { return QApplication::focusWidget() == viewer; }),
            "after a lone Alt the canvas keeps the keys");
    const bool enabled = d.onMain([] {
        const auto view = NSApplication::shared().mainMenu()->itemWithTitle("View")->submenu();
        view->update();
        bool all = true;
        for (const auto& item : view->items()) {
            all = all && (item->isSeparatorItem() || item->isEnabled());
        }
        return all;
    });
    d.check(enabled, "the View menu's items are enabled");
    // Ctrl and the = key, unshifted, zooms in.
    const double before = scaleOf(transformOf(d, document));
    d.onMain([&] { key(viewer, Qt::Key_Equal, Qt::ControlModifier, "="); });
    d.pause(0.3);
    const double after = scaleOf(transformOf(d, document));
    d.check(std::abs(after - before * std::sqrt(2.0)) < 1e-6 * before,
            "Ctrl+= zooms in: " + std::to_string(before) + " to " + std::to_string(after));
    chooseMenu(d, "View", "Zoom to Fit");
    d.pause(0.3);
}

} // namespace velmora::acceptance
