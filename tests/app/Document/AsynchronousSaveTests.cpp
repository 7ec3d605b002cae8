// Saves of a document in its window are written on the save's thread: the
// user goes on meanwhile, and a close, a quit or a failure waits for the end.
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/NativeDocument.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "app/Document/DocumentTestSupport.hpp"
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

    OpenSketch() {
        registerDocumentStoryboard();
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText);
            return NSAlertFirstButtonReturn;
        });
        path = fs::path(folder.path().toStdString()) / "Sketch.velmora";
        const auto picture = test::asymmetricPicture(16, 12);
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
