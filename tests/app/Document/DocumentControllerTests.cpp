#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/DocumentError.hpp"
#include "Document/FrontDocumentController.hpp"
#include "Document/NativeDocument.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <random>

namespace velmora {
namespace {

struct RecentRecorder : DocumentControllerDelegate {
    int calls = 0;
    void documentControllerDidChangeRecentDocuments(DocumentController&) override { ++calls; }
};

TEST(DocumentController, TypesByExtensionAndOneAlertPerFailedOpen) {
    QTemporaryDir temporary;
    const std::filesystem::path folder = temporary.path().toStdString();
    const auto controller = std::make_shared<DocumentController>();
    EXPECT_EQ(controller->defaultType(), "com.tovik.velmora-image");
    for (const auto& [name, type] : {std::pair{"a.TIFF", "public.tiff"},
                                     {"b.JPG", "public.jpeg"},
                                     {"c.velmora", "com.tovik.velmora-image"}}) {
        EXPECT_EQ(controller->typeForContents(URL::fileURL(folder / name, false)), type);
    }
    int alerts = 0;
    NSAlert::setTestResponder([&](const NSAlert&) {
        ++alerts;
        return NSAlertFirstButtonReturn;
    });
    test::writeFile(folder / "grey.png", test::blankPng(3, 2, 8, PNG_COLOR_TYPE_GRAY));
    test::writeFile(folder / "notes.txt", {'h', 'i'});
    struct Case {
        const char* file;
        bool shownByDocument;
    };
    for (const auto& c : {Case{"grey.png", true}, Case{"notes.txt", false}}) {
        alerts = 0;
        std::exception_ptr failure;
        controller->openDocument(URL::fileURL(folder / c.file, false), false,
                                 [&](auto document, bool, std::exception_ptr error) {
                                     EXPECT_EQ(document, nullptr);
                                     failure = error;
                                 });
        ASSERT_TRUE(failure) << c.file;
        EXPECT_EQ(alerts, c.shownByDocument ? 1 : 0) << c.file;
        try {
            std::rethrow_exception(failure);
        } catch (const NSPresentedError&) {
            EXPECT_TRUE(c.shownByDocument) << "marked as shown, so the controller adds none";
        } catch (const DocumentError& error) {
            EXPECT_FALSE(c.shownByDocument);
            EXPECT_EQ(error.kind(), DocumentError::Kind::unsupportedFormat);
        }
    }
    EXPECT_TRUE(controller->documents().empty());
    NSAlert::setTestResponder(nullptr);
}

// Open… as a person meets it: every file the program reads is listed at once.
TEST(DocumentController, OpenStartsShowingEveryReadableFileWithNoNameTyped) {
    QTemporaryDir temporary;
    const std::filesystem::path folder = temporary.path().toStdString();
    for (const char* name : {"a.png", "b.JPG", "c.tiff", "d.velmora", "notes.txt"}) {
        test::writeFile(folder / name, {'x'});
    }
    const auto controller = std::make_shared<DocumentController>();
    QStringList filters, listed;
    QString selectedFilter, typedName = "not looked at";
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        typedName = dialog->findChild<QLineEdit*>("fileNameEdit")->text();
        dialog->setDirectory(QString::fromStdString(folder.string()));
        auto* view = dialog->findChild<QListView*>("listView");
        const auto rows = [&] { return view->model()->rowCount(view->rootIndex()); };
        // Listed by a thread of the file system model.
        EXPECT_TRUE(QTest::qWaitFor([&] { return rows() >= 4; }));
        for (int row = 0; row < rows(); ++row) {
            listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
        }
        dialog->reject();
    });
    controller->openDocument();
    ASSERT_GE(filters.size(), 2);
    EXPECT_TRUE(filters[0].startsWith("All Readable Files (")) << filters[0].toStdString();
    for (const char* pattern : {"*.velmora", "*.png", "*.jpg", "*.jpeg", "*.tiff", "*.tif"}) {
        EXPECT_TRUE(filters[0].contains(pattern)) << pattern;
    }
    EXPECT_EQ(filters.size(), qsizetype(DocumentFileTypes::allCases.size()) + 1);
    EXPECT_EQ(selectedFilter, filters[0]);
    EXPECT_EQ(typedName, "");
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"a.png", "b.JPG", "c.tiff", "d.velmora"}));
}

TEST(DocumentController, ADamagedNativeDocumentShowsOnlyTheUnsupportedFormatAlert) {
    QTemporaryDir temporary;
    const std::filesystem::path folder = temporary.path().toStdString();
    const auto controller = std::make_shared<DocumentController>();
    const auto picture = test::asymmetricPicture(6, 4);
    const auto good = NativeDocument::data(*LayeredCanvas::make(*picture, "Ink"), picture);
    std::mt19937 generator(30);
    std::vector<uint8_t> noise(good.size());
    for (auto& byte : noise) {
        byte = static_cast<uint8_t>(generator());
    }
    auto headed = noise;
    std::copy_n(good.begin(), 8, headed.begin()); // a property list's signature, then noise
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
    } cases[] = {{"half.velmora", {good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)}},
                 {"tail.velmora", {good.begin(), good.end() - 3}},
                 {"noise.velmora", noise},
                 {"headed.velmora", headed},
                 {"empty.velmora", {}}};
    std::vector<std::pair<std::string, std::string>> shown;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        shown.emplace_back(alert.messageText, alert.informativeText);
        return NSAlertFirstButtonReturn;
    });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        shown.clear();
        test::writeFile(folder / c.file, c.bytes);
        bool failed = false;
        controller->openDocument(URL::fileURL(folder / c.file, false), false,
                                 [&](auto document, bool, std::exception_ptr error) {
                                     EXPECT_EQ(document, nullptr);
                                     failed = error != nullptr;
                                 });
        EXPECT_TRUE(failed);
        ASSERT_EQ(shown.size(), 1u) << "one alert";
        EXPECT_EQ(shown.front().first, "This document format is not supported.");
        EXPECT_EQ(shown.front().second,
                  "Supported formats are TIFF, JPEG, PNG, GIF, BMP and Velmora document.");
        EXPECT_EQ(test::readFile(folder / c.file), c.bytes) << "the file is left as it was";
    }
    EXPECT_TRUE(controller->documents().empty());
    NSAlert::setTestResponder(nullptr);
}

TEST(DocumentController, RecentDocumentsTellTheDelegate) {
    const auto controller = std::make_shared<DocumentController>();
    const auto recorder = std::make_shared<RecentRecorder>();
    controller->delegate = recorder;
    controller->noteNewRecentDocumentURL(URL::fileURL("/tmp/a.velmora", false));
    EXPECT_EQ(recorder->calls, 0) << "in a later turn";
    MainQueue::runUntilIdle();
    EXPECT_EQ(recorder->calls, 1);
    controller->clearRecentDocuments();
    EXPECT_EQ(recorder->calls, 2) << "at once";
    EXPECT_TRUE(controller->recentDocumentURLs().empty());
}

TEST(Document, WindowFromTheStoryboardRepresentsTheDocument) {
    const auto controller = std::make_shared<DocumentController>();
    NSStoryboard::registerController("Document", "Document Window Controller", [] {
        auto window = std::make_shared<NSWindow>();
        window->setContentViewController(std::make_shared<NSViewController>());
        return std::make_shared<NSWindowController>(window);
    });
    const auto document = std::make_shared<Document>();
    document->makeWindowControllers();
    ASSERT_EQ(document->windowControllers().size(), 1u);
    EXPECT_EQ(document->windowControllers().front()->contentViewController()->representedObject(),
              document);
    document->close();
}

// A document with one shown window.
std::shared_ptr<Document> documentWithWindow() {
    auto document = std::make_shared<Document>();
    const auto controller = std::make_shared<NSWindowController>(std::make_shared<NSWindow>());
    document->addWindowController(controller);
    NSDocumentController::shared().addDocument(document);
    controller->showWindow();
    return document;
}

TEST(FrontDocumentController, FollowsTheFrontWindowAndLetsClosedDocumentsGo) {
    const auto controller = std::make_shared<DocumentController>();
    FrontDocumentController tracker;
    std::vector<const NSDocument*> seen;
    const auto observation = tracker.observeFrontDocument(
        NSKeyValueObservingOptions::initial | NSKeyValueObservingOptions::newValue,
        [&](const auto& change) {
            seen.push_back(change.newValue ? change.newValue->lock().get() : nullptr);
        });
    ASSERT_EQ(seen.size(), 1u) << "the initial value";
    EXPECT_EQ(seen.back(), nullptr);

    auto back = documentWithWindow();
    auto front = documentWithWindow();
    const auto post = [] {
        NotificationCenter::defaultCenter().post(std::string(mainWindowChangedNotification));
    };
    post();
    EXPECT_EQ(tracker.frontDocument(), front);
    post();
    EXPECT_EQ(seen.size(), 2u) << "no change, no notification";
    back->windowControllers().front()->window()->makeKeyAndOrderFront();
    post();
    EXPECT_EQ(tracker.frontDocument(), back);

    const std::weak_ptr<Document> closed = back;
    back->close();
    back.reset();
    MainQueue::runUntilIdle();
    EXPECT_EQ(tracker.frontDocument(), front);
    EXPECT_TRUE(closed.expired()) << "the tracker keeps no closed document";
    front->close();
    MainQueue::runUntilIdle();
    EXPECT_EQ(tracker.frontDocument(), nullptr);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[3], front.get());
    EXPECT_EQ(seen[4], nullptr);
}

} // namespace
} // namespace velmora
