#include "acceptance/Steps.hpp"

#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSColorPanel.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QColorDialog>
#include <QCompleter>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <cmath>

namespace velmora::acceptance {

void chooseMenu(Driver& d, const std::string& menu, const std::string& item) {
    const bool found = d.onMain([&] {
        const auto bar = NSApplication::shared().mainMenu();
        const auto top = bar ? bar->itemWithTitle(menu) : nullptr;
        const auto sub = top ? top->submenu() : nullptr;
        return sub && (sub->itemWithTitle(item) || sub->itemWithAction(item));
    });
    if (!d.check(found, "menu item " + menu + " > " + item + " exists")) {
        return;
    }
    d.post([menu, item] {
        const auto sub = NSApplication::shared().mainMenu()->itemWithTitle(menu)->submenu();
        const auto entry =
            sub->itemWithTitle(item) ? sub->itemWithTitle(item) : sub->itemWithAction(item);
        NSApplication::shared().sendAction(*entry);
    });
    d.pause(0.1);
}

bool clickMenu(Driver& d, QWidget* window, const QString& menu, const QString& item,
               const std::string& shot) {
    const bool opened = d.onMain([&] {
        auto* bar = window != nullptr ? window->findChild<QMenuBar*>() : nullptr;
        for (QAction* action :
             bar != nullptr && bar->isVisible() ? bar->actions() : QList<QAction*>()) {
            if (action->text().remove('&') == menu) {
                Driver::click(bar, bar->actionGeometry(action).center());
                return true;
            }
        }
        return false;
    });
    QMenu* popup = nullptr;
    const bool shown = opened && d.waitUntil([&] {
        popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        return popup != nullptr && popup->isVisible();
    });
    if (!d.check(shown, "the " + menu.toStdString() + " menu opens from the menu bar")) {
        return false;
    }
    if (!shot.empty()) {
        d.screenshot(shot);
    }
    const bool clicked = d.onMain([&] {
        for (QAction* action : popup->actions()) {
            if (action->text().remove('&') == item && action->isEnabled()) {
                Driver::click(popup, popup->actionGeometry(action).center());
                return true;
            }
        }
        return false;
    });
    d.check(clicked, menu.toStdString() + " > " + item.toStdString() + " is there and enabled");
    d.waitUntil([] { return QApplication::activePopupWidget() == nullptr; });
    d.pause(0.1);
    return clicked;
}

void quit(Driver& d) {
    d.post([] {
        const auto menu = NSApplication::shared().mainMenu()->itemWithTitle("Velmora")->submenu();
        NSApplication::shared().sendAction(*menu->itemWithTitle("Quit Velmora"));
    });
}

void typeInto(Driver& d, QWidget* field, const QString& text) {
    d.onMain([&] {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
        // A completer whose folder listing arrived late (a loaded machine) may
        // show its list now and take the Return that should accept the field.
        if (const auto* edit = qobject_cast<QLineEdit*>(field);
            edit != nullptr && edit->completer() != nullptr && edit->completer()->popup()) {
            edit->completer()->popup()->hide();
        }
        QTest::keyClick(field, Qt::Key_Return);
    });
}

QWidget* waitForModal(Driver& d, double seconds) {
    QWidget* modal = nullptr;
    d.waitUntil([&] { return (modal = Driver::activeModal()) != nullptr && modal->isVisible(); },
                seconds);
    return modal;
}

bool clickInModal(Driver& d, const QString& title) {
    return d.onMain([&] {
        QWidget* modal = Driver::activeModal();
        auto* button = modal ? Driver::find<QAbstractButton>(title, modal) : nullptr;
        if (button == nullptr) {
            return false;
        }
        Driver::click(button);
        return true;
    });
}

std::shared_ptr<Document> waitForShownDocument(Driver& d, double seconds) {
    std::shared_ptr<Document> document;
    d.waitUntil(
        [&] {
            const auto all = probe::documents();
            document = all.empty() ? nullptr : all.front();
            return document && document->layeredCanvas() && probe::viewer(*document) &&
                   probe::viewer(*document)->isVisible();
        },
        seconds);
    return document;
}

std::shared_ptr<Document> newDocument(Driver& d, int width, int height) {
    const std::size_t before = d.onMain([] { return probe::documents().size(); });
    chooseMenu(d, "File", "New");
    QWidget* sheet = waitForModal(d);
    if (!d.check(sheet != nullptr, "the new-canvas sheet is shown")) {
        return nullptr;
    }
    d.screenshot("new-sheet");
    const auto fields = d.onMain([&] { return sheet->findChildren<QLineEdit*>(); });
    if (!d.check(fields.size() >= 2, "the sheet has width and height fields")) {
        return nullptr;
    }
    // No Return between the fields: it would press Create with the width alone.
    const QString typed[] = {QString::number(width), QString::number(height)};
    d.onMain([&] {
        for (int i = 0; i < 2; ++i) {
            fields[i]->setFocus();
            QTest::keyClick(fields[i], Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(fields[i], typed[i]);
        }
    });
    d.check(clickInModal(d, "Create"), "Create pressed");
    std::shared_ptr<Document> document;
    d.waitUntil([&] {
        const auto all = probe::documents();
        if (all.size() <= before || !all.back()->layeredCanvas() || !probe::viewer(*all.back()) ||
            !probe::viewer(*all.back())->isVisible()) {
            return false;
        }
        document = all.back();
        return Driver::activeModal() == nullptr;
    });
    d.check(document != nullptr, "a document with a canvas is open");
    if (document) {
        // A window manager gives a new window the focus.
        d.onMain([&] { Driver::focusWindow(probe::window(*document)); });
    }
    d.pause(0.5); // the fit comes a main-queue turn later
    return document;
}

QTransform canvasToWidget(Driver& d, const std::shared_ptr<Document>& document) {
    return d.onMain([&] {
        const QPointF o = probe::canvasPoint(*document, {0, 0});
        const QPointF x = probe::canvasPoint(*document, {100, 0});
        const QPointF y = probe::canvasPoint(*document, {0, 100});
        const QTransform widgetToCanvas((x.x() - o.x()) / 100, (x.y() - o.y()) / 100,
                                        (y.x() - o.x()) / 100, (y.y() - o.y()) / 100, o.x(), o.y());
        return widgetToCanvas.inverted();
    });
}

void stroke(Driver& d, const std::shared_ptr<Document>& document,
            const std::vector<QPointF>& canvasPoints, const std::vector<double>& pressures,
            const QPointingDevice* device) {
    const QTransform toWidget = canvasToWidget(d, document);
    Viewer* view = d.onMain([&] { return probe::viewer(*document); });
    std::vector<std::pair<QPointF, double>> samples;
    for (std::size_t i = 0; i + 1 < canvasPoints.size(); ++i) {
        const QPointF a = toWidget.map(canvasPoints[i]);
        const QPointF b = toWidget.map(canvasPoints[i + 1]);
        const int steps = std::max(1, int(std::hypot(b.x() - a.x(), b.y() - a.y()) / 3));
        for (int s = 0; s < steps; ++s) {
            const double t = double(s) / steps;
            samples.emplace_back(a + (b - a) * t,
                                 pressures[i] + (pressures[i + 1] - pressures[i]) * t);
        }
    }
    samples.emplace_back(toWidget.map(canvasPoints.back()), pressures.back());
    d.onMain([&] { Driver::proximity(view, device, true); });
    for (std::size_t i = 0; i < samples.size(); ++i) {
        d.onMain([&] {
            Driver::tablet(view, samples[i].first, Qt::LeftButton, samples[i].second, device);
        });
    }
    d.onMain([&] { Driver::tablet(view, samples.back().first, Qt::NoButton, 0, device); });
    d.onMain([&] { Driver::proximity(view, device, false); });
    d.check(d.waitUntil([&] { return document->undoManager() != nullptr; }),
            "the stroke ends and gives its lock back");
    d.pause(0.3);
}

void chooseTool(Driver& d, const QString& title) {
    const bool clicked = d.onMain([&] {
        QWidget* tools = probe::panel("Tools");
        auto* button = tools ? Driver::find<QAbstractButton>(title, tools) : nullptr;
        if (button != nullptr) {
            Driver::click(button);
        }
        return button != nullptr;
    });
    d.check(clicked, "Tools panel button " + title.toStdString());
    d.pause(0.2);
}

void chooseBrush(Driver& d, const QString& name) {
    const bool clicked = d.onMain([&] {
        QWidget* presets = probe::panel("Brush Presets");
        auto* table = presets ? Driver::find<QAbstractItemView>({}, presets) : nullptr;
        if (table == nullptr) {
            return false;
        }
        const auto* model = table->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (model->data(index).toString() == name) {
                table->scrollTo(index);
                Driver::click(table->viewport(), table->visualRect(index).center());
                return true;
            }
        }
        return false;
    });
    d.check(clicked, "Brush Presets row " + name.toStdString());
    d.pause(0.2);
}

void setToolSetting(Driver& d, const char* row, int value) {
    QLineEdit* field = d.onMain([&]() -> QLineEdit* {
        QWidget* settings = probe::panel("Tool Settings");
        QWidget* container = settings ? settings->findChild<QWidget*>(row) : nullptr;
        return container ? Driver::find<QLineEdit>({}, container) : nullptr;
    });
    if (!d.check(field != nullptr, std::string("Tool Settings row ") + row)) {
        return;
    }
    typeInto(d, field, QString::number(value));
    d.pause(0.1);
}

void chooseColor(Driver& d, QColor color) {
    const bool opened = d.onMain([&] {
        QWidget* settings = probe::panel("Tool Settings");
        QWidget* well = settings
                            ? Driver::findWidget(QAbstractButton::staticMetaObject, {}, settings)
                            : nullptr;
        if (well != nullptr) {
            Driver::click(well);
        }
        return well != nullptr;
    });
    d.check(opened, "the colour well is pressed");
    const bool shown = d.waitUntil([] {
        return NSColorPanel::sharedColorPanelExists() &&
               NSColorPanel::sharedColorPanel().isVisible();
    });
    d.check(shown, "the colour panel opens");
    d.screenshot("color-panel");
    d.onMain([&] {
        QColorDialog* dialog = NSColorPanel::sharedColorPanel().dialog();
        // The hexadecimal field, as a person would type the colour.
        for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
            if (edit->text().startsWith('#')) {
                edit->setFocus();
                edit->selectAll();
                QTest::keyClicks(edit, color.name());
                QTest::keyClick(edit, Qt::Key_Return);
                return;
            }
        }
    });
    d.pause(0.2);
    d.onMain([] { NSColorPanel::sharedColorPanel().close(); });
}

const std::uint8_t* canvasPixel(const Picture& canvas, int x, int y) {
    return canvas.at(x, canvas.height - 1 - y);
}

int thicknessAcross(const Picture& canvas, int x, int y, bool vertical) {
    const auto opaque = [&](int i) {
        const int px = vertical ? i : x;
        const int py = vertical ? y : i;
        if (px < 0 || py < 0 || px >= canvas.width || py >= canvas.height) {
            return false;
        }
        // Painted: darker than the white backdrop.
        const std::uint8_t* p = canvasPixel(canvas, px, py);
        return std::min({p[0], p[1], p[2]}) < 128;
    };
    const int centre = vertical ? x : y;
    if (!opaque(centre)) {
        return 0;
    }
    int low = centre;
    int high = centre;
    while (opaque(low - 1)) {
        --low;
    }
    while (opaque(high + 1)) {
        ++high;
    }
    return high - low + 1;
}

double screenAgreement(Driver& d, const std::shared_ptr<Document>& document, const QImage& shot,
                       const Picture& flat) {
    return d.onMain([&] {
        Viewer* view = probe::viewer(*document);
        int samples = 0;
        int agreeing = 0;
        for (int gy = 1; gy < 40; ++gy) {
            for (int gx = 1; gx < 60; ++gx) {
                const QPointF at(view->width() * gx / 60.0, view->height() * gy / 40.0);
                const QPointF c = probe::canvasPoint(*document, at);
                const int cx = int(std::floor(c.x()));
                const int cy = int(std::floor(c.y()));
                if (cx < 3 || cy < 3 || cx >= flat.width - 3 || cy >= flat.height - 3) {
                    continue;
                }
                const std::uint8_t* expected = canvasPixel(flat, cx, cy);
                bool uniform = expected[3] == 255;
                for (int dy = -3; uniform && dy <= 3; ++dy) {
                    for (int dx = -3; uniform && dx <= 3; ++dx) {
                        const std::uint8_t* p = canvasPixel(flat, cx + dx, cy + dy);
                        uniform = p[3] == 255 && near(p, expected[0], expected[1], expected[2], 4);
                    }
                }
                if (!uniform) {
                    continue;
                }
                const QPoint global = view->mapToGlobal(at.toPoint());
                if (!shot.rect().contains(global)) {
                    continue;
                }
                const QRgb seen = shot.pixel(global);
                ++samples;
                agreeing += std::abs(qRed(seen) - expected[0]) <= 24 &&
                                    std::abs(qGreen(seen) - expected[1]) <= 24 &&
                                    std::abs(qBlue(seen) - expected[2]) <= 24
                                ? 1
                                : 0;
            }
        }
        return samples == 0 ? -1.0 : double(agreeing) / samples;
    });
}

} // namespace velmora::acceptance
