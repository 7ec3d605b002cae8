// Saves of a document in its window are written on the save's thread: the
// user goes on meanwhile, and a close, a quit or a failure waits for the end.
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/NativeDocument.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "core/Canvas/PixelTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"
#include "support/SaveProgressWatch.hpp"
#include "support/WriteGate.hpp"

#include <QApplication>
#include <QTemporaryDir>
#include <QWindow>
#include <csignal>
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>
#include <sys/resource.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
const std::string native = "com.tovik.velmora-image";

// Its saves' writing waits at the gate on the save's thread.
class GatedDocument : public Document {
public:
    std::shared_ptr<test::WriteGate> gate = std::make_shared<test::WriteGate>();
    BackgroundWrite prepareAsynchronousWrite(const URL& url, const std::string& type,
                                             NSSaveOperationType operation) override {
        auto write = Document::prepareAsynchronousWrite(url, type, operation);
        return [gate = gate, write = std::move(write)] {
            gate->pass();
            write();
        };
    }
};

// "Sketch.velmora" open in its window.
struct OpenSketch {
    std::shared_ptr<DocumentController> controller = std::make_shared<DocumentController>();
    QTemporaryDir folder;
    fs::path path;
    std::shared_ptr<GatedDocument> document = std::make_shared<GatedDocument>();
    std::vector<std::string> alerts;

    explicit OpenSketch(int64_t width = 16, int64_t height = 12) {
        registerDocumentStoryboard();
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText);
            return NSAlertFirstButtonReturn;
        });
        path = fs::path(folder.path().toStdString()) / "Sketch.velmora";
        const auto picture = test::asymmetricPicture(width, height);
        test::writeFile(path, NativeDocument::data(*LayeredCanvas::make(*picture, "Ink"), picture));
        document->versionStore = nullptr;
        document->setFileURL(URL::fileURL(path, false));
        document->setFileType(native);
        document->read(*document->fileURL(), native);
        controller->addDocument(document);
        document->makeWindowControllers();
        document->showWindows();
        MainQueue::runUntilIdle();
    }
    ~OpenSketch() {
        document->gate->open(100);
        document->close();
        MainQueue::runUntilIdle();
        NSAlert::setTestResponder(nullptr);
    }

    // A layer added as the Layers panel adds it, one undoable edit.
    void addLayer(const std::string& name) {
        const auto canvas = document->layeredCanvas();
        canvas->insertLayer(RasterLayer::make(name), {int64_t(canvas->immediateLayers().size())});
        QCoreApplication::processEvents(); // the undo group closes with the turn
    }
    std::vector<std::string> savedLayerNames() const {
        std::vector<std::string> names;
        const auto canvas = CanvasArchive::readCanvas(test::readFile(path));
        for (const auto& layer : canvas->immediateLayers()) {
            names.push_back(layer->name());
        }
        return names;
    }
    QWindow* window() const {
        const auto controller = document->windowControllers().front();
        return controller->window()->widget()->windowHandle();
    }
};

// The save progresses shown, each with whether the document was closed by then.
test::SaveProgressWatch progressWatch(const std::shared_ptr<GatedDocument>& document) {
    return test::SaveProgressWatch(document->gate, [document] {
        return std::string(document->isClosed() ? ", closed" : ", open");
    });
}

} // namespace

// Closed from the title bar, or the program quit, while File > Save writes:
// the save's progress comes, then the file holds every edit and the window goes.
TEST(AsynchronousSave, AWindowClosedOrAQuitDuringASaveWaitsForItAndKeepsEveryEdit) {
    for (const bool quitting : {false, true}) {
        SCOPED_TRACE(quitting ? "quit" : "closed");
        OpenSketch sketch;
        sketch.addLayer("Added");
        sketch.document->performAction("saveDocument:", nullptr); // File > Save
        ASSERT_TRUE(sketch.document->isSaving());
        if (quitting) {
            sketch.addLayer("Meanwhile"); // written by the quit's own save
        }
        auto watch = progressWatch(sketch.document);
        if (quitting) {
            // What the quit asks of the documents (the whole quit would also
            // stop services other tests of this process use).
            EXPECT_TRUE(sketch.controller->closeAllDocumentsForTermination());
        } else {
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                sketch.window());
        }
        const std::vector<std::string> shown(quitting ? 2 : 1, "Saving \"Sketch\"…, open");
        EXPECT_EQ(watch.shown, shown);
        EXPECT_TRUE(sketch.document->isClosed());
        std::vector<std::string> layers{"Ink", "Added"};
        if (quitting) {
            layers.push_back("Meanwhile");
        }
        EXPECT_EQ(sketch.savedLayerNames(), layers);
        EXPECT_TRUE(sketch.alerts.empty());
    }
}

// A stroke on a new layer, File > Save, then while the file is written a
// second stroke and another layer: reopened, the file holds every pixel as
// the save began and the untouched layer's stored bytes as they were; the
// document stays edited, and the next save holds the rest.
TEST(AsynchronousSave, EditsWhileASaveWritesStayOutOfItsFileAndItsPixelsAreExact) {
    OpenSketch sketch;
    const auto canvas = sketch.document->layeredCanvas();
    sketch.addLayer("Added");
    const auto added = std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[1]);
    const auto stroke = [&](int64_t x, int64_t y) { // as a finished stroke leaves the layer
        added->paste(*test::asymmetricPicture(6, 4), {x, y, 0});
        sketch.document->updateChangeCount(NSDocumentChangeType::changeDone);
    };
    stroke(3, 2);
    const auto patchesOf = [](const LayeredCanvas& of, std::size_t layer) {
        return std::static_pointer_cast<RasterLayer>(of.immediateLayers()[layer])->patches();
    };
    const auto pixelsOf = [&](const LayeredCanvas& of) {
        std::vector<std::vector<uint8_t>> pixels;
        for (const std::size_t layer : {0, 1}) {
            for (const auto& patch : patchesOf(of, layer)) {
                pixels.push_back(testing::texturePixels(patch->texture()));
                // A file keeps no colour where nothing is painted.
                for (std::size_t i = 0; i < pixels.back().size(); i += 4) {
                    if (pixels.back()[i + 3] == 0) {
                        std::fill_n(pixels.back().begin() + std::ptrdiff_t(i), 3, 0);
                    }
                }
            }
        }
        return pixels;
    };
    const auto before = CanvasArchive::readCanvas(test::readFile(sketch.path));
    sketch.document->performAction("saveDocument:", nullptr); // File > Save
    const auto atSave = pixelsOf(*canvas);
    stroke(9, 6);
    sketch.addLayer("Meanwhile");
    sketch.document->gate->open();
    sketch.document->waitForSaves();
    MainQueue::runUntilIdle();

    const auto saved = CanvasArchive::readCanvas(test::readFile(sketch.path));
    EXPECT_EQ(sketch.savedLayerNames(), (std::vector<std::string>{"Ink", "Added"}));
    EXPECT_EQ(pixelsOf(*saved), atSave);
    ASSERT_EQ(patchesOf(*saved, 0).size(), 1u);
    EXPECT_EQ(patchesOf(*saved, 0)[0]->cachedTiffData, patchesOf(*before, 0)[0]->cachedTiffData);
    EXPECT_TRUE(sketch.document->isDocumentEdited());
    EXPECT_TRUE(sketch.alerts.empty());

    sketch.document->gate->open();
    sketch.document->performAction("saveDocument:", nullptr);
    sketch.document->waitForSaves();
    EXPECT_EQ(sketch.savedLayerNames(), (std::vector<std::string>{"Ink", "Added", "Meanwhile"}));
    EXPECT_EQ(pixelsOf(*CanvasArchive::readCanvas(test::readFile(sketch.path))), pixelsOf(*canvas));
}

// On a wide layer a save encodes only the strips a stroke changed, on the
// save's thread from rows taken as File > Save began: a stroke made meanwhile,
// in other strips or the same, stays out of the file, and the next save,
// starting from the strips just made, holds it.
TEST(AsynchronousSave, AStrokeWhileChangedStripsAreEncodedIsHeldByTheNextSave) {
    OpenSketch sketch(512, 48);
    const auto canvas = sketch.document->layeredCanvas();
    const auto ink = std::static_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]);
    const auto stroke = [&](int64_t y) {
        ink->paste(*test::asymmetricPicture(6, 4), {100, y, 0});
        sketch.document->updateChangeCount(NSDocumentChangeType::changeDone);
    };
    const auto pixelsOf = [](const LayeredCanvas& of) {
        const auto layer = std::static_pointer_cast<RasterLayer>(of.immediateLayers()[0]);
        auto pixels = testing::texturePixels(layer->patches().at(0)->texture());
        for (std::size_t i = 0; i < pixels.size(); i += 4) { // no colour kept where clear
            if (pixels[i + 3] == 0) {
                std::fill_n(pixels.begin() + std::ptrdiff_t(i), 3, 0);
            }
        }
        return pixels;
    };
    const auto saved = [&] {
        return pixelsOf(*CanvasArchive::readCanvas(test::readFile(sketch.path)));
    };
    for (const auto& [before, during] : {std::pair<int64_t, int64_t>{8, 30}, {20, 21}}) {
        stroke(before);
        sketch.document->performAction("saveDocument:", nullptr); // File > Save
        const auto atSave = pixelsOf(*canvas);
        stroke(during);
        sketch.document->gate->open();
        sketch.document->waitForSaves();
        MainQueue::runUntilIdle();
        EXPECT_EQ(saved(), atSave);
        EXPECT_TRUE(sketch.document->isDocumentEdited());

        sketch.document->gate->open();
        sketch.document->performAction("saveDocument:", nullptr);
        sketch.document->waitForSaves();
        MainQueue::runUntilIdle();
        EXPECT_EQ(saved(), pixelsOf(*canvas));
    }
    EXPECT_TRUE(sketch.alerts.empty());
}

// The disk fills while the save's thread writes: one alert once that is known,
// the old file as it was, the document still edited, no temporary left.
TEST(AsynchronousSave, AWriteFailingOnAFullDiskShowsOneAlertAndKeepsTheOldFile) {
    OpenSketch sketch;
    const auto before = test::readFile(sketch.path);
    sketch.addLayer("Added");
    sketch.document->performAction("saveDocument:", nullptr); // File > Save
    EXPECT_TRUE(sketch.alerts.empty());

    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit full = limit;
    full.rlim_cur = before.size() / 2;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    sketch.document->gate->open();
    const bool ended = MainQueue::runUntil([&] { return !sketch.document->isSaving(); }, 60s);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, ignored);

    ASSERT_TRUE(ended);
    MainQueue::runUntilIdle();
    const std::vector<std::string> alert{
        "The document \"Sketch\" could not be saved as \"Sketch.velmora\"."};
    EXPECT_EQ(sketch.alerts, alert);
    EXPECT_EQ(test::readFile(sketch.path), before);
    EXPECT_TRUE(sketch.document->isDocumentEdited());
    EXPECT_EQ(
        std::distance(fs::directory_iterator(sketch.path.parent_path()), fs::directory_iterator()),
        1);
}

} // namespace velmora
