#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/FrontDocumentController.hpp"
#include "LayersTestSupport.hpp"
#include "UtilityPanels/Layers/IndexPathCoding.hpp"
#include "UtilityPanels/Layers/LayerItemView.hpp"
#include "UtilityPanels/Layers/LayersViewController.hpp"
#include "UtilityPanels/Layers/LayersWindowController.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSSegmentedControl.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/MainQueue.hpp"

#include <QApplication>
#include <QImage>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWindow>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::LayerTreeFixture;
using testing::modelShape;
using testing::outlineShape;

struct PanelRig : LayerTreeFixture {
    std::shared_ptr<DocumentController> controller = std::make_shared<DocumentController>();
    FrontDocumentController tracker;
    std::shared_ptr<LayersViewController> panel = std::make_shared<LayersViewController>(&tracker);
    std::vector<std::shared_ptr<Document>> documents;

    PanelRig() { panel->loadViewIfNeeded(); }
    ~PanelRig() {
        for (const auto& document : documents) {
            document->close();
        }
        MainQueue::runUntilIdle();
    }

    // A document in front of the others, showing `content`.
    std::shared_ptr<Document> open(std::optional<Document::Content> content) {
        auto document = std::make_shared<Document>();
        document->setContent(std::move(content));
        const auto window = std::make_shared<NSWindowController>(std::make_shared<NSWindow>());
        document->addWindowController(window);
        NSDocumentController::shared().addDocument(document);
        window->showWindow();
        NotificationCenter::defaultCenter().post(std::string(mainWindowChangedNotification));
        documents.push_back(document);
        return document;
    }
    std::shared_ptr<Document> openCanvas() { return open(Document::Content(canvas)); }

    LayerTreeController& tree() { return panel->adapter()->treeController(); }
    std::vector<bool> segments() {
        return {panel->layerControls->isEnabled(0), panel->layerControls->isEnabled(1),
                panel->layerControls->isEnabled(2)};
    }
    // The drag of a row as the outline starts it.
    std::unique_ptr<QMimeData> drag(const std::shared_ptr<Layer>& layer) {
        panel->draggingSessionWillBegin(layer);
        const QModelIndex index = tree().modelIndex(*tree().indexPath(*layer));
        return std::unique_ptr<QMimeData>(tree().mimeData({index}));
    }
    bool drop(const QMimeData& data, int row, const std::shared_ptr<Layer>& into = nullptr) {
        const QModelIndex parent =
            into ? tree().modelIndex(*tree().indexPath(*into)) : QModelIndex();
        return tree().dropMimeData(&data, Qt::MoveAction, row, 0, parent);
    }
};

TEST(LayersPanel, SegmentsNeedALayeredCanvas) {
    PanelRig rig;
    EXPECT_EQ(rig.segments(), std::vector<bool>({false, false, false}));
    rig.panel->layerControlPressed(0);
    rig.openCanvas();
    EXPECT_EQ(modelShape(*rig.canvas), "Background A G[x y] B");
    EXPECT_EQ(rig.segments(), std::vector<bool>({true, true, true}));
    EXPECT_EQ(outlineShape(*rig.panel->outlineView->model()), "B G[y x] A Background");

    // A front document without a layered canvas shows nothing.
    rig.open(std::nullopt);
    EXPECT_EQ(rig.segments(), std::vector<bool>({false, false, false}));
    EXPECT_EQ(rig.panel->adapter(), nullptr);
    EXPECT_EQ(rig.panel->outlineView->model(), nullptr);
    rig.panel->layerControlPressed(1);
    EXPECT_EQ(modelShape(*rig.canvas), "Background A G[x y] B");
}

TEST(LayersPanel, NewLayersAreNumberedAndGoAboveTheSelection) {
    PanelRig rig;
    rig.canvas->setImmediateLayers({rig.background, rig.g});
    rig.openCanvas();
    rig.canvas->setActiveLayer(rig.g);
    rig.panel->layerControlPressed(0);
    EXPECT_EQ(modelShape(*rig.canvas), "Background G[x y] Layer 5");
    EXPECT_EQ(rig.canvas->activeLayer()->name(), "Layer 5");
    EXPECT_EQ(rig.tree().selectionIndexPath(), IndexPath({0}));

    rig.canvas->setActiveLayer(rig.x);
    rig.panel->layerControlPressed(1);
    EXPECT_EQ(modelShape(*rig.canvas), "Background G[x Group 6[] y] Layer 5");
    rig.panel->layerControlPressed(2);
    EXPECT_EQ(modelShape(*rig.canvas), "Background G[x y] Layer 5");
    EXPECT_EQ(outlineShape(rig.tree()), "Layer 5 G[y x] Background");

    rig.canvas->setActiveLayer(nullptr);
    EXPECT_FALSE(rig.panel->layerControls->isEnabled(2));
    rig.panel->layerControlPressed(0);
    EXPECT_EQ(modelShape(*rig.canvas), "Background G[x y] Layer 5 Layer 6") << "at the top";
}

TEST(LayersPanel, DropsBetweenRowsMoveTheDraggedLayer) {
    struct Case {
        const char* name;
        const char* dragged;
        int row;
        const char* into;
        bool accepted;
        const char* shape;
    };
    // Outline: B G[y x] A Background.
    const Case cases[] = {
        {"above the first row", "Background", 0, nullptr, true, "A G[x y] B Background"},
        {"into a group", "B", 1, "G", true, "Background A G[x B y]"},
        {"out of a group, to the bottom", "x", 4, nullptr, true, "x Background A G[y] B"},
        {"just above itself", "A", 2, nullptr, false, "Background A G[x y] B"},
        {"just below itself", "A", 3, nullptr, false, "Background A G[x y] B"},
        {"into itself", "G", 0, "G", false, "Background A G[x y] B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelRig rig;
        rig.openCanvas();
        const auto layer = [&](const std::string& name) -> std::shared_ptr<Layer> {
            for (const auto& l : rig.canvas->layerTree()->flattenedValues()) {
                if (l->name() == name) {
                    return l;
                }
            }
            return nullptr;
        };
        const auto data = rig.drag(layer(c.dragged));
        ASSERT_NE(data, nullptr);
        EXPECT_FALSE(rig.tree().canDropMimeData(data.get(), Qt::MoveAction, -1, 0,
                                                rig.tree().modelIndex({1})))
            << "onto a row";
        EXPECT_EQ(rig.drop(*data, c.row, c.into ? layer(c.into) : nullptr), c.accepted);
        EXPECT_EQ(modelShape(*rig.canvas), c.shape);
        EXPECT_EQ(outlineShape(rig.tree()),
                  outlineShape(CanvasTreeAdapter::make(rig.canvas)->treeController()));
    }
}

TEST(LayersPanel, OnlyThePanelsOwnDragOfThatLayerMoves) {
    PanelRig rig;
    rig.openCanvas();
    const auto data = rig.drag(rig.a);
    EXPECT_EQ(data->data(LayersViewController::layerPasteboardType).toStdString(), "[1]");
    // A path naming another layer, or one from a drag that has ended.
    QMimeData other;
    const auto bytes = encodeIndexPathJSON({3});
    other.setData(LayersViewController::layerPasteboardType,
                  QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
    EXPECT_FALSE(rig.drop(other, 0));
    rig.panel->draggingSessionEnded();
    EXPECT_FALSE(rig.drop(*data, 0));
    QMimeData nowhere;
    nowhere.setData(LayersViewController::layerPasteboardType, "[7, 3]");
    rig.panel->draggingSessionWillBegin(rig.a);
    EXPECT_FALSE(rig.drop(nowhere, 0));
    EXPECT_EQ(modelShape(*rig.canvas), "Background A G[x y] B");
}

TEST(LayersPanel, ImageFilesBecomeLayersCentredWhereDropped) {
    PanelRig rig;
    rig.openCanvas();
    QTemporaryDir folder;
    const QString file = folder.filePath("Dropped.png");
    QImage image(4, 2, QImage::Format_RGBA8888);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(file));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    EXPECT_TRUE(rig.tree().canDropMimeData(&data, Qt::CopyAction, 1, 0, {}));
    EXPECT_TRUE(rig.tree().dropMimeData(&data, Qt::CopyAction, 1, 0, {}));
    MainQueue::runUntilIdle();
    EXPECT_EQ(modelShape(*rig.canvas), "Background A G[x y] Dropped B");
    const auto dropped = rig.canvas->layer(IndexPath{3});
    EXPECT_EQ(dropped->boundingRect(), (MTLRegion{{2, 3, 0}, {4, 2, 1}}));
    EXPECT_EQ(rig.tree().selectedLayer(), dropped);
}

TEST(LayersPanel, FollowsOnlyTheFrontDocument) {
    PanelRig rig;
    const auto back = rig.openCanvas();
    LayerTreeFixture other;
    rig.open(Document::Content(other.canvas));
    EXPECT_EQ(rig.panel->adapter()->canvas(), other.canvas);
    back->setContent(Document::Content(LayeredCanvas::make({4, 4, 1})));
    EXPECT_EQ(rig.panel->adapter()->canvas(), other.canvas) << "a background revert";
    rig.documents.back()->setContent(Document::Content(rig.canvas));
    EXPECT_EQ(rig.panel->adapter()->canvas(), rig.canvas);
}

TEST(LayersPanel, RowsAreMadeWhenShownAndShowTheirOwnLayers) {
    PanelRig rig;
    for (int i = 0; i < 40; ++i) {
        rig.canvas->insertLayer(RasterLayer::make("L" + std::to_string(i)), {1});
    }
    auto window = std::make_shared<NSPanel>(CGRect{{0, 0}, {320, 200}});
    window->setContentView(rig.panel->view());
    window->orderFront();
    QApplication::processEvents();
    rig.openCanvas();
    const auto check = [&](const char* when) {
        QApplication::processEvents();
        LayersOutlineView& outline = *rig.panel->outlineView;
        int shown = 0;
        for (QModelIndex i = outline.indexAt({0, 0}); i.isValid(); i = outline.indexBelow(i)) {
            if (outline.visualRect(i).top() >= outline.viewport()->height()) {
                break;
            }
            const auto* row = dynamic_cast<LayerItemView*>(outline.indexWidget(i));
            ASSERT_NE(row, nullptr) << when;
            EXPECT_EQ(row->representedLayer(), rig.tree().node(i)->layer) << when;
            ++shown;
        }
        EXPECT_GT(shown, 2) << when;
        int made = 0;
        for (QWidget* child :
             outline.viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            made += dynamic_cast<LayerItemView*>(child) != nullptr ? 1 : 0;
        }
        EXPECT_LT(made, 15) << when << ": rows are made only when shown";
    };
    check("first shown");
    rig.canvas->moveLayer({43}, {0});
    rig.canvas->removeLayer({40});
    check("after a move and a removal");
    rig.panel->outlineView->scrollToBottom();
    check("scrolled");
    window->close();
}

TEST(LayersPanel, RowsDraggedWithThePointerMoveTheirLayers) {
    struct Case {
        const char* name;
        int row;    // the row dragged
        int target; // the row dropped at
        // Where in the target row, from its top: 2 above it, 15 onto it,
        // 28 below it.
        int y;
        const char* shape;
    };
    // Outline: B E[] A Background, E an empty group.
    const Case cases[] = {
        {"above the first row", 3, 0, 2, "A E[] B Background"},
        {"below an empty group: into it", 2, 1, 28, "Background E[A] B"},
        {"onto a group's row: refused", 0, 1, 15, "Background A E[] B"},
        {"onto a layer's row: refused", 0, 2, 15, "Background A E[] B"},
        {"onto the bottom layer's row: refused", 0, 3, 15, "Background A E[] B"},
        {"just below itself: refused", 2, 2, 28, "Background A E[] B"},
    };
    for (const bool byName : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (byName ? ", by the name" : ", by the icon"));
            PanelRig rig;
            const auto e = GroupLayer::make("E");
            rig.canvas->setImmediateLayers({rig.background, rig.a, e, rig.b});
            auto window = std::make_shared<NSPanel>(CGRect{{0, 0}, {320, 300}});
            window->setContentView(rig.panel->view());
            window->orderFront();
            rig.openCanvas();
            QApplication::processEvents();
            LayersOutlineView& outline = *rig.panel->outlineView;
            QWidget* viewport = outline.viewport();
            const QModelIndex grabbed = rig.tree().modelIndex({c.row});
            const auto at = [&](int row, int y) {
                return outline.visualRect(rig.tree().modelIndex({row})).topLeft() + QPoint(4, y);
            };
            const QuickEditTextFied* name =
                dynamic_cast<LayerItemView*>(outline.indexWidget(grabbed))->layerName;
            const QPoint from =
                byName ? name->mapTo(viewport, QPoint(6, name->height() / 2)) : at(c.row, 15);
            const QPoint to = at(c.target, c.y);
            const auto layer = rig.tree().node(grabbed)->layer;
            bool dragged = false;
            // The offscreen platform ends a drag at once: while the outline's
            // drag is under way its viewport gets the drag events a pointer
            // would send.
            const auto began = outline.draggingSessionWillBegin;
            outline.draggingSessionWillBegin = [&](const QModelIndex& index) {
                began(index);
                dragged = true;
                const std::unique_ptr<QMimeData> data(rig.tree().mimeData({index}));
                const auto actions = Qt::MoveAction | Qt::CopyAction;
                QDragEnterEvent enter(to - QPoint(0, 1), actions, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(viewport, &enter);
                QDragMoveEvent move(to, actions, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(viewport, &move);
                QDropEvent drop(to, actions, data.get(), Qt::LeftButton, {});
                QApplication::sendEvent(viewport, &drop);
            };
            // Through the window, which gives each event to the widget under the pointer.
            QWindow* screen = window->widget()->windowHandle();
            const auto inWindow = [&](QPoint p) { return viewport->mapTo(window->widget(), p); };
            QTest::mousePress(screen, Qt::LeftButton, {}, inWindow(from));
            // The first move makes the press a drag, the next one starts it.
            QTest::mouseMove(screen, inWindow(from + QPoint(0, 2)));
            QTest::mouseMove(screen, inWindow(from + QPoint(0, 20)));
            QTest::mouseRelease(screen, Qt::LeftButton, {}, inWindow(from + QPoint(0, 20)));
            QApplication::processEvents();
            EXPECT_TRUE(dragged);
            EXPECT_EQ(rig.canvas->activeLayer(), layer) << "the press selects the row";
            EXPECT_EQ(modelShape(*rig.canvas), c.shape);
            EXPECT_EQ(outlineShape(rig.tree()),
                      outlineShape(CanvasTreeAdapter::make(rig.canvas)->treeController()));
            window->close();
        }
    }
}

TEST(LayersPanel, AClickOnALayersNameSelectsTheRowAndEditsTheName) {
    // Outline: B G[y x] A Background.
    PanelRig rig;
    rig.openCanvas();
    auto window = std::make_shared<NSPanel>(CGRect{{0, 0}, {320, 300}});
    window->setBecomesKeyOnlyIfNeeded(true);
    window->setContentView(rig.panel->view());
    window->orderFront();
    QApplication::processEvents();
    LayersOutlineView& outline = *rig.panel->outlineView;
    QuickEditTextFied* name =
        dynamic_cast<LayerItemView*>(outline.indexWidget(rig.tree().modelIndex({2})))->layerName;
    const QPoint at = name->mapTo(window->widget(), QPoint(6, name->height() / 2));
    ASSERT_NE(rig.canvas->activeLayer(), rig.a);
    QTest::mousePress(window->widget()->windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(rig.canvas->activeLayer(), rig.a);
    EXPECT_FALSE(name->isEditing()) << "a press alone may still become a drag";
    QTest::mouseRelease(window->widget()->windowHandle(), Qt::LeftButton, {}, at);
    QApplication::processEvents();
    EXPECT_TRUE(name->hasFocus());
    EXPECT_EQ(name->selectedText().toStdString(), "A");
    EXPECT_TRUE(window->isKeyWindow());
    window->close();
}

TEST(LayersPanel, APressBelowTheRowsClearsTheActiveLayer) {
    PanelRig rig;
    rig.openCanvas();
    auto window = std::make_shared<NSPanel>(CGRect{{0, 0}, {320, 300}});
    window->setContentView(rig.panel->view());
    window->orderFront();
    QApplication::processEvents();
    ASSERT_NE(rig.canvas->activeLayer(), nullptr);
    QWidget* viewport = rig.panel->outlineView->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(5, viewport->height() - 2));
    EXPECT_EQ(rig.canvas->activeLayer(), nullptr);
    EXPECT_FALSE(rig.panel->layerControls->isEnabled(2));
    window->close();
}

TEST(LayersPanel, TheStoryboardMakesTheLayersPanel) {
    registerUtilityPanelStoryboards();
    const auto controller =
        NSStoryboard::instantiateController<LayersWindowController>("Layers", "Layers");
    const auto content = std::dynamic_pointer_cast<LayersViewController>(
        controller->window()->contentViewController());
    EXPECT_NE(content, nullptr);
}

} // namespace
} // namespace velmora
