#include "../../../platform/desktop/InputTestSupport.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "DocumentWindowTestSupport.hpp"
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
        drawing = showForDrawing(*document);
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
// there, also once an entry let go has left space that another took, and
// closing the document removes the file.
TEST(UndoHistoryStore, PayloadsBeyondTheBudgetGoToAFileAndComeBackExactly) {
    NoRoomInMemory room;
    auto rig = std::make_unique<PenOnDocument>(room.store);
    auto& undo = rig->undo();
    const auto topIsBack = [&] {
        const auto layers = rig->canvas->immediateLayers();
        return layers.size() == 2 &&
               layerPixels(*std::static_pointer_cast<RasterLayer>(layers[1])) ==
                   layerPixels(*rig->top);
    };
    std::vector<Pixels> states{layerPixels(*rig->ink)};
    // A stroke, the top layer removed, two more strokes: the archive lies
    // between their snapshots in the file.
    rig->stroke(12, 2);
    states.push_back(layerPixels(*rig->ink));
    rig->canvas->removeLayer({1});
    endTurn();
    for (const double y : {30.0, 48.0}) {
        rig->stroke(y, 2 * states.size() + 1);
        states.push_back(layerPixels(*rig->ink));
    }
    for (size_t i = 1; i < states.size(); ++i) {
        ASSERT_NE(states[i], states[i - 1]);
    }
    ASSERT_EQ(room.store->count(), 7u);
    room.store->waitForMoves();
    EXPECT_EQ(room.store->bytesInMemory(), 0u);
    EXPECT_GT(room.store->bytesInFile(), 0u);
    const auto file = room.store->filePath();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->parent_path(), room.folder());
    EXPECT_TRUE(fs::exists(*file));

    const auto undoStroke = [&](size_t to) {
        undo.undo();
        rig->settle();
        EXPECT_EQ(layerPixels(*rig->ink), states[to]) << "undo back to state " << to;
    };
    const auto redoStroke = [&](size_t to) {
        undo.redo();
        rig->settle();
        EXPECT_EQ(layerPixels(*rig->ink), states[to]) << "redo to state " << to;
    };
    undoStroke(2);
    undoStroke(1);
    // The removal undone lets its archive go; redone, it archives the layer
    // again into the space left.
    undo.undo();
    rig->settle();
    EXPECT_TRUE(topIsBack());
    undo.redo();
    rig->settle();
    room.store->waitForMoves();
    EXPECT_EQ(room.store->count(), 7u);
    EXPECT_EQ(room.store->bytesInMemory(), 0u);
    redoStroke(2);
    redoStroke(3);
    undoStroke(2);
    undoStroke(1);
    undo.undo();
    rig->settle();
    EXPECT_TRUE(topIsBack());
    undoStroke(0);
    // And forward again, every snapshot read back once more.
    redoStroke(1);
    undo.redo();
    rig->settle();
    EXPECT_EQ(rig->canvas->immediateLayers().size(), 1u);
    redoStroke(2);
    redoStroke(3);

    rig->document->close();
    rig = nullptr;
    MainQueue::runUntilIdle();
    EXPECT_EQ(room.store->count(), 0u);
    EXPECT_FALSE(room.store->filePath());
    EXPECT_FALSE(fs::exists(*file));
}
