#include "../../../platform/desktop/InputTestSupport.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "DrawingTestSupport.hpp"
#include "desktop/NSWindowController.hpp"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

namespace fs = std::filesystem;

// An undo store with no room in memory, its file in a folder of the test's own.
struct NoRoomInMemory {
    QTemporaryDir cache;
    std::shared_ptr<SnapshotStore> store =
        std::make_shared<SnapshotStore>(0, [this] { return std::optional(folder()); });
    fs::path folder() const { return fs::path(cache.path().toStdString()) / "Undo"; }
};

// A document of two layers shown in its window, drawn on with a pen.
struct PenOnDocument {
    std::shared_ptr<Document> document = std::make_shared<Document>();
    std::shared_ptr<RasterLayer> ink = RasterLayer::make("Ink", *asymmetricBitmap());
    std::shared_ptr<RasterLayer> top = RasterLayer::make("Top", *asymmetricBitmap());
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make({side, side, 1});
    std::shared_ptr<DrawingViewController> drawing;
    std::shared_ptr<SnapshotStore> store;
    quint64 time = 1000;

    explicit PenOnDocument(std::shared_ptr<SnapshotStore> store) : store(std::move(store)) {
        registerDocumentStoryboard();
        document->versionStore = nullptr;
        canvas->setImmediateLayers({ink, top});
        canvas->setActiveLayer(ink);
        document->setContent(canvas);
        document->makeWindowControllers();
        document->showWindows();
        drawing = std::dynamic_pointer_cast<DocumentViewController>(
                      document->windowControllers().front()->contentViewController())
                      ->drawingViewController();
        QCoreApplication::processEvents(); // the window's layout, before the view's size
        drawing->view()->resize(side, side);
        drawing->viewer().updateViewGeometry();
        MainQueue::runUntilIdle(); // the fit
        controller()->setSnapshotStore(this->store);
    }

    std::shared_ptr<DrawingController> controller() { return drawing->drawingController(); }
    UndoManager& undo() { return *document->NSDocument::undoManager(); }

    void pen(QEvent::Type type, QPointF at) {
        auto event = test::tabletEvent(type, test::pen(5), at, 0.8);
        event.setTimestamp(time += 8);
        QApplication::sendEvent(&drawing->viewer(), &event);
    }
    void settle() {
        const auto barrier = controller()->renderer()->device()->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
        QCoreApplication::processEvents();
    }
    // A short stroke at `y`, drawn until the store holds `payloads` (its
    // snapshots are kept once encoded, after its undo entry is registered).
    void stroke(double y, size_t payloads) {
        auto near = test::proximityEvent(true, test::pen(5));
        QApplication::sendEvent(QApplication::instance(), &near);
        time += 1000;
        pen(QEvent::TabletPress, {8, y});
        for (int i = 1; i <= 10; ++i) {
            pen(QEvent::TabletMove, {8.0 + 4 * i, y + (i % 3) * 2});
        }
        pen(QEvent::TabletRelease, {50, y});
        auto away = test::proximityEvent(false, test::pen(5));
        QApplication::sendEvent(QApplication::instance(), &away);
        ASSERT_TRUE(MainQueue::runUntil(
            [&] {
                drawing->canvasView()->draw();
                settle();
                return store->count() == payloads && !controller()->isDrawing() &&
                       controller()->strokesViewModel()->front() == nullptr;
            },
            std::chrono::seconds(20)));
    }
};

} // namespace

// With no room in memory every stroke's snapshots and a removed layer's archive
// go to the store's file; undo and redo bring back every state exactly from
// there, and closing the document removes the file.
TEST(UndoHistoryStore, PayloadsBeyondTheBudgetGoToAFileAndComeBackExactly) {
    NoRoomInMemory room;
    auto rig = std::make_unique<PenOnDocument>(room.store);
    std::vector<Pixels> states{layerPixels(*rig->ink)};
    for (const double y : {12.0, 26.0, 40.0, 54.0}) {
        rig->stroke(y, 2 * states.size());
        states.push_back(layerPixels(*rig->ink));
        ASSERT_NE(states.back(), states[states.size() - 2]);
    }
    const Pixels topPixels = layerPixels(*rig->top);
    rig->canvas->removeLayer({1});
    endTurn();
    // Two snapshots a stroke and the archive.
    ASSERT_EQ(room.store->count(), 9u);
    room.store->waitForMoves();
    EXPECT_EQ(room.store->bytesInMemory(), 0u);
    EXPECT_GT(room.store->bytesInFile(), 0u);
    const auto file = room.store->filePath();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->parent_path(), room.folder());
    EXPECT_TRUE(fs::exists(*file));

    auto& undo = rig->undo();
    undo.undo();
    rig->settle();
    ASSERT_EQ(rig->canvas->immediateLayers().size(), 2u);
    EXPECT_EQ(
        layerPixels(*std::static_pointer_cast<RasterLayer>(rig->canvas->immediateLayers()[1])),
        topPixels);
    for (size_t i = states.size() - 1; i > 0; --i) {
        undo.undo();
        rig->settle();
        EXPECT_EQ(layerPixels(*rig->ink), states[i - 1]) << "undo back to state " << i - 1;
    }
    for (size_t i = 1; i < states.size(); ++i) {
        undo.redo();
        rig->settle();
        EXPECT_EQ(layerPixels(*rig->ink), states[i]) << "redo to state " << i;
    }

    rig->document->close();
    rig = nullptr;
    MainQueue::runUntilIdle();
    EXPECT_EQ(room.store->count(), 0u);
    EXPECT_FALSE(room.store->filePath());
    EXPECT_FALSE(fs::exists(*file));
}
