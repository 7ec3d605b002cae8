// Layers panel edits, the move tool, navigation and undo/redo of it all.
#include "Canvas/GroupLayer.hpp"
#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "UtilityPanels/Layers/LayerItemView.hpp"
#include "UtilityPanels/Layers/SliderButton.hpp"
#include "acceptance/Session.hpp"
#include "desktop/UndoManager.hpp"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

namespace velmora::acceptance::session {

namespace {

// The flattened canvas after every undoable edit, the empty canvas first.
std::vector<Picture> history;

void record(Driver& d, const std::shared_ptr<Document>& document) {
    history.push_back(d.onMain([&] { return probe::flattened(*document); }));
}

LayerItemView* row(const QString& name) {
    QWidget* layers = probe::panel("Layers");
    if (layers == nullptr) {
        return nullptr;
    }
    for (QWidget* widget : layers->findChildren<QWidget*>()) {
        auto* view = dynamic_cast<LayerItemView*>(widget);
        if (view != nullptr && view->isVisible() && view->representedLayer() &&
            QString::fromStdString(view->representedLayer()->name()) == name) {
            return view;
        }
    }
    return nullptr;
}

bool pressLayerButton(Driver& d, const QString& title) {
    const std::string pressed = d.onMain([&] {
        QWidget* layers = probe::panel("Layers");
        auto* button = layers ? Driver::find<QAbstractButton>(title, layers) : nullptr;
        if (button != nullptr && button->isEnabled()) {
            Driver::click(button);
            return std::string("pressed");
        }
        return std::string(button ? "disabled" : "missing");
    });
    d.pause(0.3);
    return d.check(pressed == "pressed",
                   "Layers panel button " + title.toStdString() + ": " + pressed);
}

// The canvas's tree as "name(mode,opacity%,visible)[children]" from the top.
std::string tree(const std::vector<std::shared_ptr<Layer>>& layers) {
    std::string text;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        const Layer& layer = **it;
        text += layer.name() + "(" + std::to_string(int(layer.blendMode())) + "," +
                std::to_string(std::lround(layer.opacity() * 100)) + "," +
                (layer.visible() ? "v" : "h") + ")";
        if (const auto* group = dynamic_cast<const GroupLayer*>(&layer)) {
            text += "[" + tree(group->immediateLayers()) + "]";
        }
        text += " ";
    }
    return text;
}

std::string treeOf(Driver& d, const std::shared_ptr<Document>& document) {
    return d.onMain([&] { return tree(document->layeredCanvas()->immediateLayers()); });
}

// Drags a row by the empty space at its right end to a point of the outline.
void dragRow(Driver& d, const QString& name, const std::function<QPoint(QTreeView*)>& target) {
    QTreeView* outline = d.onMain([] {
        QWidget* layers = probe::panel("Layers");
        return layers ? Driver::find<QTreeView>({}, layers) : nullptr;
    });
    if (!d.check(outline != nullptr, "the layers outline")) {
        return;
    }
    const auto [from, to] = d.onMain([&] {
        LayerItemView* source = row(name);
        const QPoint start =
            source ? source->mapTo(outline->viewport(), QPoint(4, source->height() / 2)) : QPoint();
        return std::make_pair(start, target(outline));
    });
    QWidget* viewport = d.onMain([&] { return outline->viewport(); });
    d.onMain([&] {
        Driver::mouse(viewport, from, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    });
    const int steps = 12;
    for (int i = 1; i <= steps; ++i) {
        const QPointF at = QPointF(from) + QPointF(to - from) * (double(i) / steps);
        d.onMain(
            [&] { Driver::mouse(viewport, at, Qt::LeftButton, Qt::NoButton, QEvent::MouseMove); });
        d.pause(0.05);
    }
    d.onMain([&] {
        Driver::mouse(viewport, to, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
    });
    d.pause(0.5);
}

} // namespace

void editLayers(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("layers");
    pressLayerButton(d, "+");
    d.check(treeOf(d, document) == "Layer 2(0,100,v) Background(0,100,v) ",
            "a layer is added above the background: " + treeOf(d, document));
    d.check(d.onMain([&] { return document->layeredCanvas()->activeLayer()->name(); }) == "Layer 2",
            "the new layer is active");
    record(d, document);

    chooseBrush(d, "Hard Round");
    chooseColor(d, QColor(255, 255, 0));
    stroke(d, document, {{750, 200}, {750, 700}}, {1.0, 1.0}, Driver::pen());
    Picture flat;
    const auto yellowOnly = [&] {
        const std::uint8_t* p = canvasPixel(flat, 750, 250);
        return near(p, 255, 255, 0, 3);
    };
    d.waitUntil([&] { return flat = probe::flattened(*document), yellowOnly(); });
    d.check(yellowOnly(), "the yellow stroke is on the new layer");
    d.check(d.onMain([&] {
        const auto canvas = document->layeredCanvas();
        const Picture background = probe::layerPixels(*canvas->immediateLayers()[0], *canvas);
        return canvasPixel(background, 750, 250)[3] == 0;
    }),
            "and not on the background");
    record(d, document);

    // Multiply through the row's blend mode pop-up, by the keyboard.
    const bool multiplied = d.onMain([&] {
        LayerItemView* view = row("Layer 2");
        if (!view || !view->blendModeListButton) {
            return false;
        }
        QComboBox* modes = view->blendModeListButton;
        const int target = modes->findText("Multiply");
        modes->setFocus();
        for (int i = modes->currentIndex(); i < target; ++i) {
            QTest::keyClick(modes, Qt::Key_Down);
        }
        return target >= 0;
    });
    d.check(multiplied, "the blend mode pop-up offers Multiply");
    d.pause(0.3);
    record(d, document);
    // Opacity: the row's slider button dragged 200 points left, a quarter per cent each.
    SliderButton* opacity = d.onMain([] {
        LayerItemView* view = row("Layer 2");
        return view ? view->opacityButton.data() : nullptr;
    });
    if (d.check(opacity != nullptr, "the opacity button")) {
        // Dragged left a point at a time, as a person watching its read-out would, to 50%.
        const QPoint start = d.onMain([&] { return opacity->rect().center(); });
        d.onMain([&] {
            Driver::mouse(opacity, start, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
        });
        QPoint at = start;
        for (int i = 0; i < 400 && d.onMain([&] { return opacity->text(); }) != "50%"; ++i) {
            at -= QPoint(1, 0);
            d.onMain([&] {
                Driver::mouse(opacity, at, Qt::LeftButton, Qt::NoButton, QEvent::MouseMove);
            });
        }
        d.onMain([&] {
            Driver::mouse(opacity, at, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
        });
        d.pause(0.3);
    }
    d.check(treeOf(d, document) == "Layer 2(" + std::to_string(int(BlendMode::multiply)) +
                                       ",50,v) Background(0,100,v) ",
            "Layer 2 multiplies at 50 %: " + treeOf(d, document));
    // Yellow × cyan at half strength over cyan: (0, 255, 128); yellow alone: half transparent.
    d.waitUntil([&] {
        flat = probe::flattened(*document);
        return near(canvasPixel(flat, 750, 613), 0, 255, 128, 3);
    });
    const std::uint8_t* mixed = canvasPixel(flat, 750, 613);
    d.check(near(mixed, 0, 255, 128, 3) && mixed[3] == 255,
            "multiply at 50 % over cyan gives (0, 255, 128): " + std::to_string(mixed[0]) + "," +
                std::to_string(mixed[1]) + "," + std::to_string(mixed[2]));
    const std::uint8_t* alone = canvasPixel(flat, 750, 250);
    d.check(near(alone, 255, 255, 128, 3),
            "over the white backdrop it is (255, 255, 128): " + std::to_string(alone[0]) + "," +
                std::to_string(alone[1]) + "," + std::to_string(alone[2]));
    d.check(screenAgreement(d, document, d.screenshot("multiply-50"), flat) > 0.9,
            "the screen shows the blend");
    record(d, document);

    const auto toggleVisibility = [&] {
        d.onMain([] {
            LayerItemView* view = row("Layer 2");
            if (view && view->visibilityButton) {
                Driver::click(view->visibilityButton);
            }
        });
        d.pause(0.3);
    };
    toggleVisibility();
    d.waitUntil([&] { return isCyan(canvasPixel(flat = probe::flattened(*document), 750, 613)); });
    d.check(
        treeOf(d, document)
                .starts_with("Layer 2(" + std::to_string(int(BlendMode::multiply)) + ",50,h)") &&
            isCyan(canvasPixel(flat, 750, 613)),
        "hidden, the layer leaves the canvas as it was: " + treeOf(d, document));
    d.screenshot("hidden");
    record(d, document);
    toggleVisibility();
    d.waitUntil([&] {
        return history.size() > 2 && probe::flattened(*document) == history[history.size() - 2];
    });
    d.check(d.onMain([&] { return probe::flattened(*document); }) == history[history.size() - 2],
            "shown again, the blend is back");
    record(d, document);

    // Group: a new group above the layer, the layer dragged into it, then out.
    pressLayerButton(d, "Group");
    d.check(treeOf(d, document).starts_with("Group 3(0,100,v)[] Layer 2"),
            "a group is added above the layer: " + treeOf(d, document));
    record(d, document);
    d.screenshot("group-added");
    dragRow(d, "Layer 2", [](QTreeView* outline) {
        // Just below the group's row: into the expanded group.
        LayerItemView* group = row("Group 3");
        return group ? group->mapTo(outline->viewport(), QPoint(40, group->height() - 2))
                     : QPoint();
    });
    d.check(treeOf(d, document).starts_with("Group 3(0,100,v)[Layer 2("),
            "dragged into the group: " + treeOf(d, document));
    d.screenshot("grouped");
    record(d, document);
    // The group's disclosure triangle opens it, showing the layer's row.
    d.onMain([] {
        LayerItemView* group = row("Group 3");
        auto* outline = group ? Driver::find<QTreeView>({}, probe::panel("Layers")) : nullptr;
        if (outline != nullptr) {
            outline->expand(outline->indexAt(
                group->mapTo(outline->viewport(), QPoint(40, group->height() / 2))));
        }
    });
    d.pause(0.3);
    dragRow(d, "Layer 2", [](QTreeView* outline) {
        // Just below the background's row: out of the group, to the bottom.
        LayerItemView* background = row("Background");
        if (background == nullptr) {
            return QPoint();
        }
        const QPoint inside =
            background->mapTo(outline->viewport(), QPoint(40, background->height() / 2));
        return QPoint(inside.x(), outline->visualRect(outline->indexAt(inside)).bottom() - 1);
    });
    d.check(treeOf(d, document).starts_with("Group 3(0,100,v)[] Background(0,100,v) Layer 2("),
            "dragged out of the group: " + treeOf(d, document));
    record(d, document);

    // Rename in the row's name field.
    d.onMain([] {
        LayerItemView* view = row("Layer 2");
        if (view && view->layerName) {
            QTest::mouseDClick(view->layerName, Qt::LeftButton);
            view->layerName->selectAll();
            QTest::keyClicks(view->layerName, "Sun");
            QTest::keyClick(view->layerName, Qt::Key_Return);
        }
    });
    d.pause(0.3);
    d.check(treeOf(d, document) == "Group 3(0,100,v)[] Background(0,100,v) Sun(" +
                                       std::to_string(int(BlendMode::multiply)) + ",50,v) ",
            "renamed: " + treeOf(d, document));
    // A rename is an undo step of its own, though the picture stays the same.
    record(d, document);
    d.screenshot("layers-done");
}

void moveContents(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("move-tool");
    // The layer's row selected makes it the active layer.
    d.onMain([] {
        if (LayerItemView* view = row("Sun")) {
            Driver::click(view, QPoint(4, view->height() / 2));
        }
    });
    d.pause(0.3);
    d.check(d.onMain([&] { return document->layeredCanvas()->activeLayer()->name(); }) == "Sun",
            "selecting its row makes the layer active");
    chooseTool(d, "Move");
    const auto layerNow = [&] {
        return d.onMain([&] {
            const auto canvas = document->layeredCanvas();
            return probe::layerPixels(*canvas->activeLayer(), *canvas);
        });
    };
    const Picture before = layerNow();
    const QTransform toWidget = canvasToWidget(d, document);
    Viewer* view = d.onMain([&] { return probe::viewer(*document); });
    // Pressed at a pixel's centre, the layer moves by whole pixels from that
    // pixel: released a fifth of a pixel past (37, −12) from it.
    const QPointF from = toWidget.map(QPointF(600.5, 450.5));
    const QPointF to = toWidget.map(QPointF(600 + 37.2, 450 - 12.2));
    d.onMain([&] { Driver::proximity(view, Driver::pen(), true); });
    d.onMain([&] { Driver::tablet(view, from, Qt::LeftButton, 0.8, Driver::pen()); });
    for (int i = 1; i <= 10; ++i) {
        d.onMain([&] {
            Driver::tablet(view, from + (to - from) * (i / 10.0), Qt::LeftButton, 0.8,
                           Driver::pen());
        });
    }
    d.onMain([&] { Driver::tablet(view, to, Qt::NoButton, 0, Driver::pen()); });
    d.onMain([&] { Driver::proximity(view, Driver::pen(), false); });
    d.waitUntil([&] { return document->undoManager() != nullptr; });
    d.pause(0.3);
    const Picture after = layerNow();
    // Canvas (x, y) moves to (x + 37, y − 12): top-row-first rows go 12 down.
    const auto matches = [&](int mx, int my) {
        int compared = 0;
        int equal = 0;
        for (int y = std::max(0, -my); y + std::max(0, my) < before.height; y += 3) {
            for (int x = std::max(0, -mx); x + std::max(0, mx) < before.width; x += 3) {
                const std::uint8_t* a = before.at(x, y);
                const std::uint8_t* b = after.at(x + mx, y + my);
                if (a[3] == 0 && b[3] == 0) {
                    continue;
                }
                ++compared;
                equal += std::equal(a, a + 4, b) ? 1 : 0;
            }
        }
        return std::make_pair(equal, compared);
    };
    const auto [equal, compared] = matches(37, 12);
    std::string found;
    if (equal != compared) {
        for (int my = 4; my <= 20 && found.empty(); ++my) {
            for (int mx = 29; mx <= 45; ++mx) {
                const auto [e, c] = matches(mx, my);
                if (c > 100 && e == c) {
                    found = " (they moved by (" + std::to_string(mx) + ", " + std::to_string(-my) +
                            "))";
                    break;
                }
            }
        }
    }
    d.check(compared > 100 && equal == compared,
            "the layer's pixels moved by (37, −12): " + std::to_string(equal) + " of " +
                std::to_string(compared) + found);
    d.screenshot("moved");
    record(d, document);
    chooseTool(d, "Brush");
}

void navigate(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("navigate");
    const auto info = [&] { return d.onMain([&] { return probe::canvasInfo(*document); }); };
    const auto zoomOf = [&] {
        const std::string text = d.onMain([&] { return probe::canvasInfo(*document); });
        const auto bar = text.find(" | ");
        return bar == std::string::npos ? 0 : std::atoi(text.c_str() + bar + 3);
    };
    const Picture flat = d.onMain([&] { return probe::flattened(*document); });
    const int fitted = zoomOf();
    QWidget* window = d.onMain([&] { return probe::window(*document); });
    // The View menu's items, clicked in the window's menu bar.
    clickMenu(d, window, "View", "Zoom In", "view-menu");
    d.waitUntil([&] { return std::abs(zoomOf() - std::lround(fitted * 1.41421356)) <= 1; });
    d.check(std::abs(zoomOf() - std::lround(fitted * 1.41421356)) <= 1,
            "Zoom In multiplies the zoom by √2: " + info());
    clickMenu(d, window, "View", "Rotate Right");
    // The read-out is the clockwise angle, rounded half away from zero.
    d.waitUntil([&] { return info().ends_with(" 23°"); });
    d.check(info().ends_with(" 23°"), "Rotate Right turns by 22.5° clockwise: " + info());
    d.check(screenAgreement(d, document, d.screenshot("zoomed-rotated"), flat) > 0.85,
            "the screen shows the canvas zoomed and turned");

    Viewer* view = d.onMain([&] { return probe::viewer(*document); });
    const QPointF centre = d.onMain([&] { return QPointF(view->rect().center()); });
    const QPointF canvasBefore = d.onMain([&] { return probe::canvasPoint(*document, centre); });
    d.onMain([&] { Driver::wheel(view, centre, QPoint(0, 120)); });
    d.pause(0.3);
    const QPointF canvasAfter = d.onMain([&] { return probe::canvasPoint(*document, centre); });
    d.check(std::hypot(canvasAfter.x() - canvasBefore.x(), canvasAfter.y() - canvasBefore.y()) > 50,
            "a scroll pans the canvas");
    const int zoomBeforeScroll = zoomOf();
    d.onMain([&] { Driver::wheel(view, centre, QPoint(0, 100), Qt::AltModifier); });
    d.waitUntil([&] { return zoomOf() > zoomBeforeScroll; });
    d.check(zoomOf() > zoomBeforeScroll, "Alt and a scroll zoom in: " + info());
    d.check(screenAgreement(d, document, d.screenshot("scrolled"), flat) > 0.85,
            "the screen shows the canvas panned and zoomed");

    const int zoomBeforeOut = zoomOf();
    clickMenu(d, window, "View", "Zoom Out");
    d.waitUntil([&] { return std::abs(zoomOf() - std::lround(zoomBeforeOut / 1.41421356)) <= 1; });
    d.check(std::abs(zoomOf() - std::lround(zoomBeforeOut / 1.41421356)) <= 1,
            "Zoom Out divides the zoom by √2: " + info());
    clickMenu(d, window, "View", "Rotate Left");
    d.waitUntil([&] { return info().ends_with(" 0°"); });
    d.check(info().ends_with(" 0°"), "Rotate Left turns back: " + info());
    clickMenu(d, window, "View", "Actual Size");
    d.waitUntil([&] { return zoomOf() == 100; });
    d.check(zoomOf() == 100 && info().ends_with(" 0°"), "Actual Size: " + info());
    d.check(screenAgreement(d, document, d.screenshot("actual-size"), flat) > 0.85,
            "the screen shows the canvas at its actual size");
    clickMenu(d, window, "View", "Zoom to Fit");
    d.waitUntil([&] { return zoomOf() == fitted && info().ends_with(" 0°"); });
    d.check(zoomOf() == fitted && info().ends_with(" 0°"), "Zoom to Fit: " + info());
}

void undoAndRedo(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("undo-redo");
    const auto canUndo = [&] {
        return d.onMain([&] {
            const auto manager = document->undoManager();
            return manager && manager->canUndo();
        });
    };
    // history[0] is the empty canvas of the new document, kept by launchAndNew.
    int undone = 0;
    for (int i = int(history.size()) - 2; i >= 0 && canUndo(); --i) {
        chooseMenu(d, "Edit", "undo:");
        ++undone;
        d.waitUntil([&] { return probe::flattened(*document) == history[i]; }, 5);
        d.check(d.onMain([&] { return probe::flattened(*document); }) == history[i],
                "after undo " + std::to_string(undone) + " the canvas is as before edit " +
                    std::to_string(i + 1));
    }
    d.check(undone == int(history.size()) - 1 && !canUndo(),
            "every edit was undone, one step each: " + std::to_string(undone) + " of " +
                std::to_string(history.size() - 1));
    d.screenshot("all-undone");
    for (std::size_t i = 1; i < history.size(); ++i) {
        chooseMenu(d, "Edit", "redo:");
        d.waitUntil([&] { return probe::flattened(*document) == history[i]; }, 5);
        d.check(d.onMain([&] { return probe::flattened(*document); }) == history[i],
                "after redo " + std::to_string(i) + " the canvas is as after edit " +
                    std::to_string(i));
    }
    d.screenshot("all-redone");
}

void rememberEmpty(Driver& d, const std::shared_ptr<Document>& document) {
    history.clear();
    record(d, document);
}

void rememberEdit(Driver& d, const std::shared_ptr<Document>& document) {
    record(d, document);
}

} // namespace velmora::acceptance::session
