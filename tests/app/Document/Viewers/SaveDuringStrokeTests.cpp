#include "../../../platform/desktop/InputTestSupport.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "DocumentWindowTestSupport.hpp"
#include "DrawingTestSupport.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "core/Canvas/PixelTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/Timer.hpp"

#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

namespace fs = std::filesystem;

const std::string native = "com.tovik.velmora-image";

enum class SaveKind { none, save, autosave };

Pixels savedPixels(const fs::path& path) {
    const auto canvas = CanvasArchive::readCanvas(test::readFile(path));
    return layerPixels(*std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]));
}

// A document with a file, shown in its window, and a pen drawing on its canvas.
struct PenOnDocument {
    QTemporaryDir folder;
    std::shared_ptr<Document> document = std::make_shared<Document>();
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make(*asymmetricBitmap(), "Ink");
    std::shared_ptr<DrawingViewController> drawing;
    fs::path path;
    quint64 time = 1000;

    PenOnDocument() {
        registerDocumentStoryboard();
        document->versionStore = nullptr;
        path = fs::path(folder.path().toStdString()) / "Sketch.velmora";
        document->setContent(canvas);
        document->setFileURL(URL::fileURL(path, false));
        document->setFileType(native);
        drawing = showForDrawing(*document);
    }
    ~PenOnDocument() {
        document->close();
        MainQueue::runUntilIdle();
    }

    Viewer& viewer() { return drawing->viewer(); }
    std::shared_ptr<DrawingController> controller() { return drawing->drawingController(); }

    void pen(QEvent::Type type, QPointF at) {
        if (type == QEvent::TabletPress) {
            auto near = test::proximityEvent(true, test::pen(5));
            QApplication::sendEvent(QApplication::instance(), &near);
        }
        auto event = test::tabletEvent(type, test::pen(5), at, 0.8);
        event.setTimestamp(time += 8);
        QApplication::sendEvent(&viewer(), &event);
        if (type == QEvent::TabletRelease) {
            auto away = test::proximityEvent(false, test::pen(5));
            QApplication::sendEvent(QApplication::instance(), &away);
        }
    }
    // Frames drawn until the stroke is under way and its dots so far stamped.
    bool drawQueued() {
        const auto strokes = controller()->strokesViewModel();
        return MainQueue::runUntil(
            [&] {
                drawing->canvasView()->draw();
                settle();
                // The stroke being drawn is no longer the front once its dots are taken.
                const auto front = strokes->front();
                return controller()->isDrawing() && (front == nullptr || front->dots.empty());
            },
            std::chrono::seconds(20));
    }
    void settle() {
        const auto barrier = controller()->renderer()->device()->newCommandQueue()->commandBuffer();
        barrier->commit();
        barrier->waitUntilCompleted();
        MainQueue::runUntilIdle();
    }
    // Frames until the stroke is finished and its undo entry made; `eachTurn`
    // runs at every turn of the wait.
    bool finishStroke(const std::function<void()>& eachTurn) {
        const auto undo = document->NSDocument::undoManager();
        return MainQueue::runUntil(
            [&] {
                eachTurn();
                QCoreApplication::processEvents();
                if (undo->canUndo() && controller()->strokesViewModel()->front() == nullptr &&
                    !controller()->isDrawing()) {
                    return true;
                }
                drawing->canvasView()->draw();
                settle();
                return false;
            },
            std::chrono::seconds(20));
    }
    // A wavy stroke across the canvas; the save comes halfway. A pending
    // autosave is fired by hand then and at every turn until the stroke is
    // done, as the slowest machine could let its retry come: while the stroke
    // holds its undo lock the file is left as it was and the retry is armed
    // again; after it, the file holds a whole state.
    void stroke(SaveKind kind, const Pixels& before = {}, const Pixels& after = {}) {
        const auto stored =
            kind == SaveKind::autosave ? test::readFile(path) : std::vector<uint8_t>{};
        const auto autosave = [&] {
            const auto timer = document->autosaveTimer();
            if (kind != SaveKind::autosave || timer == nullptr || !timer->isValid()) {
                return;
            }
            const bool locked = document->undoLockCount() > 0;
            timer->fire();
            if (locked) {
                EXPECT_EQ(test::readFile(path), stored) << "the autosave waits for the stroke";
                EXPECT_NE(document->autosaveTimer(), nullptr) << "and is tried again";
            } else {
                document->waitForSaves();
                const Pixels saved = savedPixels(path);
                EXPECT_TRUE(saved == before || saved == after) << "a whole state";
            }
        };
        pen(QEvent::TabletPress, {6, 10});
        for (int i = 1; i <= 24; ++i) {
            pen(QEvent::TabletMove, {6.0 + 2 * i, 10.0 + (i % 5) * 4 + i});
            if (i == 12) {
                ASSERT_TRUE(drawQueued());
                if (kind == SaveKind::save) {
                    EXPECT_TRUE(document->saveDocument());
                } else if (kind == SaveKind::autosave) {
                    ASSERT_GT(document->undoLockCount(), 0);
                    ASSERT_NE(document->autosaveTimer(), nullptr);
                    autosave();
                }
            }
        }
        pen(QEvent::TabletRelease, {54, 50});
        ASSERT_TRUE(finishStroke(autosave));
        // Tried again once the stroke is done, it writes it whole.
        autosave();
    }
    Pixels layerPixels() const {
        return velmora::testing::layerPixels(
            *std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]));
    }
};

Pixels bestPreview(const fs::path& path) {
    const auto preview = CanvasArchive::readPreviews(test::readFile(path))->bestPreview();
    return preview ? test::pixels(*preview) : Pixels{};
}

} // namespace

// A save or an autosave that falls due halfway through a stroke drawn with a
// pen in a document's window loses none of its samples, and the file holds
// the canvas as it was before the stroke or after it, never half of it.
TEST(SaveDuringStroke, EverySampleIsKeptAndTheFileHoldsAWholeState) {
    NSAlert::setTestResponder([](const NSAlert& alert) {
        ADD_FAILURE() << "alert: " << alert.messageText;
        return NSAlertFirstButtonReturn;
    });
    Pixels drawnAlone;
    {
        PenOnDocument plain;
        plain.stroke(SaveKind::none);
        drawnAlone = plain.layerPixels();
    }
    for (const SaveKind kind : {SaveKind::save, SaveKind::autosave}) {
        SCOPED_TRACE(kind == SaveKind::save ? "save" : "autosave");
        PenOnDocument rig;
        const Pixels before = rig.layerPixels();
        ASSERT_NE(before, drawnAlone);
        ASSERT_TRUE(rig.document->saveDocument());
        const auto previewBefore = bestPreview(rig.path);
        // Edited, so that an autosave falls due.
        rig.document->updateChangeCount(NSDocumentChangeType::changeDone);
        rig.stroke(kind, before, drawnAlone);
        EXPECT_EQ(rig.layerPixels(), drawnAlone) << "every sample drawn";
        if (kind == SaveKind::save) {
            EXPECT_EQ(savedPixels(rig.path), before) << "saved before the stroke";
            EXPECT_EQ(bestPreview(rig.path), previewBefore) << "and so is its preview";
        } else {
            rig.document->waitForSaves(); // written on the save's thread
            EXPECT_EQ(savedPixels(rig.path), drawnAlone) << "autosaved once the stroke was done";
        }
        ASSERT_TRUE(rig.document->saveDocument());
        EXPECT_EQ(savedPixels(rig.path), drawnAlone);
    }
    NSAlert::setTestResponder(nullptr);
}
