// Launches under a window manager: the panels come back exactly where the
// last launch left them, a maximised document window's menus and the
// controls of its New Canvas sheet are not hidden behind the panels, and an
// opened canvas is fitted to the window's real size.
#include "Document/Document.hpp"
#include "acceptance/CanvasChecks.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"
#include "desktop/NSColorPanel.hpp"
#include "desktop/NSColorWell.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSWindow.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <qpa/qwindowsysteminterface.h>
#include <sstream>

namespace velmora::acceptance {

namespace {

constexpr const char* panelTitles[] = {"Brush Presets", "Tool Settings", "Tools", "Layers"};
constexpr const char* framesFile = "window-frames.txt";

bool decorated(const QWidget* window) {
    return window != nullptr && window->isVisible() &&
           window->frameGeometry() != window->geometry();
}

QWidget* colorPanel() {
    if (!NSColorPanel::sharedColorPanelExists() || !NSColorPanel::sharedColorPanel().isVisible()) {
        return nullptr;
    }
    return NSColorPanel::sharedColorPanel().panel()->widget();
}

// A click on the Tool Settings panel's colour well.
void pressColorWell(Driver& d) {
    d.onMain([] {
        QWidget* settings = probe::panel("Tool Settings");
        for (QWidget* child :
             settings != nullptr ? settings->findChildren<QWidget*>() : QList<QWidget*>()) {
            if (dynamic_cast<NSColorWell*>(child) != nullptr && child->isVisible()) {
                Driver::click(child);
                return;
            }
        }
    });
}

// Waits until the window manager has framed every panel (and the colour panel
// when it is to show), then a little longer for it to settle.
void settle(Driver& d, bool withColors) {
    const bool framed = d.waitUntil([&] {
        for (const char* title : panelTitles) {
            if (!decorated(probe::panel(title))) {
                return false;
            }
        }
        return !withColors || decorated(colorPanel());
    });
    d.check(framed, withColors ? "the window manager frames the panels and the colour panel"
                               : "the window manager frames the four panels");
    d.pause(1.5);
}

// Each panel's frame as the program gives it, and the colour panel's when it shows.
std::string frames() {
    std::ostringstream out;
    const auto line = [&](const std::string& name, const CGRect& frame) {
        out << name << " " << frame.origin.x << " " << frame.origin.y << " " << frame.width() << " "
            << frame.height() << "\n";
    };
    for (const char* title : panelTitles) {
        const auto window = NSWindow::windowOf(probe::panel(title));
        line(title, window ? window->frame() : CGRect{});
    }
    if (NSColorPanel::sharedColorPanelExists() && NSColorPanel::sharedColorPanel().isVisible()) {
        line("Colors", NSColorPanel::sharedColorPanel().frame());
    }
    return out.str();
}

// Points the real pointer at a spot of the screen; true once the window
// system gives the pointer to `target` there, which it does only when no other
// window covers the spot.
bool reachable(Driver& d, QWidget* target, QPoint local, const std::function<bool()>& extra) {
    const QPoint global = d.onMain([&] { return target->mapToGlobal(local); });
    d.onMain([&] { QCursor::setPos(global); });
    return d.waitUntil(
        [&] {
            QWidget* at = QApplication::widgetAt(QCursor::pos());
            return QCursor::pos() == global && target->underMouse() &&
                   (at == target || target->isAncestorOf(at)) && (!extra || extra());
        },
        5);
}

// A drag of the window's title bar by the real pointer, as a person makes it;
// the window manager, not the program, moves the window.
bool dragTitleBar(Driver& d, QWidget* window, QPoint by) {
    const QPoint grip = d.onMain([&] {
        const QRect frame = window->frameGeometry();
        return QPoint(frame.center().x(), (frame.top() + window->geometry().top()) / 2);
    });
    const auto at = [](QPoint p) {
        return std::vector<std::string>{"mousemove", std::to_string(p.x()), std::to_string(p.y()),
                                        "sleep", "0.05"};
    };
    std::vector<std::string> moves = at(grip);
    moves.insert(moves.end(), {"mousedown", "1"});
    for (int step = 1; step <= 10; ++step) {
        const auto next = at(grip + by * step / 10);
        moves.insert(moves.end(), next.begin(), next.end());
    }
    moves.insert(moves.end(), {"mouseup", "1"});
    int code = -1;
    Driver::run("xdotool", moves, &code);
    return code == 0;
}

void checkMenusAndSheet(Driver& d) {
    d.step("maximised-document");
    chooseMenu(d, "File", "New");
    QPointer<QWidget> window;
    QPointer<QWidget> sheet;
    const bool shown = d.waitUntil([&] {
        const auto documents = probe::documents();
        window = documents.empty() ? nullptr : probe::window(*documents.front());
        const auto owner = NSWindow::windowOf(window);
        const auto attached = owner ? owner->attachedSheet() : nullptr;
        sheet = attached ? attached->widget() : nullptr;
        return window != nullptr && window->isMaximized() && sheet != nullptr && sheet->isVisible();
    });
    if (!d.check(shown, "a new document's window is maximised with its sheet")) {
        return;
    }
    const bool filled = d.waitUntil([&] {
        const QRect area = window->screen()->availableGeometry();
        return window->frameGeometry().width() >= area.width() * 0.95 &&
               window->frameGeometry().height() >= area.height() * 0.95;
    });
    d.check(filled, "the document window fills the screen");
    d.screenshot("maximised-with-sheet");

    QList<QWidget*> controls = d.onMain([&] {
        QList<QWidget*> found;
        for (QWidget* child : sheet->findChildren<QWidget*>()) {
            if (child->isVisible() && (qobject_cast<QLineEdit*>(child) != nullptr ||
                                       qobject_cast<QAbstractButton*>(child) != nullptr)) {
                found.push_back(child);
            }
        }
        return found;
    });
    d.check(controls.size() >= 4, "the sheet shows its fields and buttons");
    for (QWidget* control : controls) {
        const QPoint centre = d.onMain([&] { return control->rect().center(); });
        const std::string name = d.onMain([&] {
            auto* button = qobject_cast<QAbstractButton*>(control);
            return button != nullptr
                       ? button->text().toStdString()
                       : "field showing " + qobject_cast<QLineEdit*>(control)->text().toStdString();
        });
        d.check(reachable(d, control, centre, {}), "the sheet's " + name + " can be clicked");
    }
    // The menus answer once the sheet is gone (the sheet holds the window's input).
    d.onMain([&] {
        if (auto* create = Driver::find<QAbstractButton>(QStringLiteral("Create"), sheet)) {
            Driver::click(create);
        }
    });
    const bool created = d.waitUntil([&] {
        const auto documents = probe::documents();
        return !documents.empty() && documents.front()->layeredCanvas() != nullptr &&
               (sheet == nullptr || !sheet->isVisible());
    });
    if (!d.check(created, "Create gives the document its canvas")) {
        return;
    }
    d.pause(0.5);
    auto* bar = d.onMain([&] { return window ? window->findChild<QMenuBar*>() : nullptr; });
    const QList<QAction*> menus =
        d.onMain([&] { return bar ? bar->actions() : QList<QAction*>(); });
    d.check(menus.size() >= 5, "the menu bar shows the menus");
    for (QAction* menu : menus) {
        const QPoint centre = d.onMain([&] { return bar->actionGeometry(menu).center(); });
        const bool free = reachable(d, bar, centre, [&] {
            return bar->actionAt(bar->mapFromGlobal(QCursor::pos())) == menu;
        });
        d.check(free, "the " + d.onMain([&] { return menu->text(); }).toStdString() +
                          " menu can be clicked");
    }
    d.check(saveAs(d, "Velmora (experimental)", d.work() / "Window.velmora"),
            "the canvas is saved");
    chooseMenu(d, "File", "Close");
    d.check(d.waitUntil([] { return probe::documents().empty(); }), "the document closes");
}

// The colour panel floats over a maximised document window, and its well
// brings it to the front after the document came forward (as a press on the
// canvas brings it).
void checkColorPanelInFront(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("color-panel");
    pressColorWell(d);
    d.check(d.waitUntil([] { return decorated(colorPanel()); }), "the well opens the colour panel");
    d.onMain([&] { probe::window(*document)->activateWindow(); });
    d.check(d.waitUntil([&] { return probe::window(*document)->isActiveWindow(); }),
            "the document window comes forward");
    pressColorWell(d);
    QWidget* panel = d.onMain([] { return colorPanel(); });
    d.check(panel != nullptr &&
                reachable(d, panel, d.onMain([&] { return panel->rect().center(); }), {}),
            "the colour panel is in front of the document window");
    d.screenshot("color-panel-in-front");
    d.onMain([] { NSColorPanel::sharedColorPanel().close(); });
}

// A panel closed from its title bar while it has the keys comes back from
// the Window menu where it was; after a quick edit in a panel the keys are
// the document window's again, so Ctrl+W closes the document, not the panel.
void checkPanelsAndKeys(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("panels-and-keys");
    QWidget* window = d.onMain([&] { return probe::window(*document); });
    QWidget* layers = d.onMain([] { return probe::panel("Layers"); });
    // Found again each time: the rows are made again as the layers change.
    QPointer<QLineEdit> name;
    const auto edit = [&] {
        name = d.onMain([&] { return Driver::find<QLineEdit>("Background", layers); });
        d.onMain([&] {
            if (name) {
                Driver::click(name);
            }
        });
        return d.waitUntil([&] { return name && name->hasFocus(); });
    };
    d.check(edit(), "a click on the name edits it");
    const QRect frame = d.onMain([&] { return layers->frameGeometry(); });
    d.onMain([&] {
        QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
            layers->windowHandle());
    });
    d.check(d.waitUntil([&] { return !layers->isVisible(); }), "the Layers panel closes");
    clickMenu(d, window, "Window", "Layers", "window-menu");
    d.check(d.waitUntil([&] { return layers->isVisible() && layers->frameGeometry() == frame; }),
            "Window > Layers shows the panel again where it was");
    d.check(reachable(d, layers, d.onMain([&] { return layers->rect().center(); }), {}),
            "in front");

    d.check(edit(), "a click on the name edits it again");
    d.onMain([&] {
        if (name) {
            QTest::keyClicks(name, "Sky");
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    d.check(d.waitUntil([&] {
        const auto key = NSWindow::keyWindow();
        return key && key->widget() == window && window->isActiveWindow();
    }),
            "after the edit the document window has the keys again");
    d.onMain([&] {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus != nullptr ? focus : window, Qt::Key_W, Qt::ControlModifier);
    });
    d.check(d.waitUntil([] { return probe::documents().empty(); }), "Ctrl+W closes the document");
    d.check(d.onMain([&] { return layers->isVisible(); }), "and leaves the panel");
}

// The saved canvas opened again, in a window the window manager maximises.
void checkOpenedCanvas(Driver& d) {
    d.step("opened");
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        return;
    }
    typeInto(d, d.onMain([&] { return dialog->findChild<QLineEdit*>("fileNameEdit"); }),
             QString::fromStdString((d.work() / "Window.velmora").string()));
    const auto document = waitForShownDocument(d, 30);
    if (!d.check(document != nullptr, "the canvas opens")) {
        return;
    }
    d.onMain([&] { Driver::focusWindow(probe::window(*document)); });
    openedCanvasChecks(d, document);
    checkColorPanelInFront(d, document);
    checkPanelsAndKeys(d, document);
}

// Minimised, the welcome window comes back, in front, when the program is
// launched again without a file (as from the desktop's launcher).
void checkReactivation(Driver& d) {
    d.step("reactivation");
    QWidget* welcome = d.onMain([] { return probe::panel("Welcome"); });
    if (!d.check(welcome != nullptr, "the welcome window is shown")) {
        return;
    }
    clickMenu(d, welcome, "Window", "Minimize");
    d.check(d.waitUntil([&] { return welcome->isMinimized(); }),
            "Window > Minimize minimises the welcome window");
    const std::string program =
        d.onMain([] { return QCoreApplication::applicationFilePath().toStdString(); });
    int code = -1;
    Driver::run("env", {"-u", "ACCEPTANCE_PHASE", program}, &code);
    d.check(code == 0, "a launch without a file hands over to this one and ends");
    d.check(d.waitUntil([&] { return welcome->isVisible() && !welcome->isMinimized(); }),
            "the welcome window is no longer minimised");
    d.check(reachable(d, welcome, d.onMain([&] { return welcome->rect().center(); }), {}),
            "and is in front");
}

} // namespace

void windowsFirstRunPhase(Driver& d) {
    d.step("first-run");
    std::filesystem::remove(d.work() / framesFile);
    settle(d, false);
    d.screenshot("panels");
    checkMenusAndSheet(d);
    checkOpenedCanvas(d);
    checkReactivation(d);

    d.step("placed");
    // The Layers panel dragged elsewhere by its title bar, the colour panel
    // opened from the well.
    QWidget* layers = d.onMain([] { return probe::panel("Layers"); });
    const QPoint before = d.onMain([&] { return layers->frameGeometry().topLeft(); });
    const QPoint by(-300, 200);
    d.check(dragTitleBar(d, layers, by), "the pointer drags the Layers panel's title bar");
    const auto moved = [&] {
        const QPoint shift = layers->frameGeometry().topLeft() - before - by;
        // The window manager may snap the frame to an edge nearby.
        return layers->isVisible() && std::abs(shift.x()) <= 25 && std::abs(shift.y()) <= 25;
    };
    d.check(d.waitUntil(moved), "the window manager moves the Layers panel with its title bar");
    pressColorWell(d);
    d.check(d.waitUntil([] {
        return NSColorPanel::sharedColorPanelExists() &&
               NSColorPanel::sharedColorPanel().isVisible();
    }),
            "the colour well opens the colour panel");
    settle(d, true);
    d.check(d.onMain(moved), "the Layers panel stays where it was dragged");
    const std::string placed = d.onMain([] { return frames(); });
    std::ofstream(d.work() / framesFile) << placed;
    d.screenshot("placed");
    quit(d);
}

void windowsRelaunchPhase(Driver& d) {
    d.step("relaunch");
    // The colour panel open at the last quit opens again.
    settle(d, true);
    std::ifstream in(d.work() / framesFile);
    const std::string saved((std::istreambuf_iterator<char>(in)), {});
    // The window manager may still be placing them on a loaded machine.
    std::string now;
    d.waitUntil([&] { return (now = frames()) == saved; });
    d.check(!saved.empty() && now == saved,
            "every panel is where the last launch left it:\n" + now + "--- left:\n" + saved);
    QWidget* colors = d.onMain([] { return colorPanel(); });
    d.check(colors != nullptr &&
                reachable(d, colors, d.onMain([&] { return colors->rect().center(); }), {}),
            "the colour panel is in front of the welcome window");
    d.screenshot("relaunched");
    quit(d);
}

} // namespace velmora::acceptance
