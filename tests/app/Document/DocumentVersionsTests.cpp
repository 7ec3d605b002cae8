#include "App/AppDelegate.hpp"
#include "Canvas/CanvasPreviews.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentVersionsBrowser.hpp"
#include "Document/NativeDocument.hpp"
#include "Document/Viewers/CanvasInfoTitlebarViewController.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/PreviewViewController.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "coding/KeyedArchiver.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/UndoManager.hpp"
#include "desktop/VersionStore.hpp"
#include "foundation/MainQueue.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

MTLSize sizeOf(const Document& document) {
    if (const auto canvas = document.layeredCanvas()) {
        return canvas->size();
    }
    return document.previewCanvas() ? document.previewCanvas()->size() : MTLSize{};
}

class DocumentVersionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        folder = temporary.path().toStdString();
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText);
            return NSAlertFirstButtonReturn;
        });
        document->versionStore = store;
        document->setFileURL(url);
        document->setFileType("public.png");
        test::writeFile(url.filePath(), test::pngOf(*test::asymmetricPicture(6, 4)));
        store->keepVersion(url);
        // Saves replace the file: the version kept keeps the earlier one.
        store->replaceFile(url, test::pngOf(*test::asymmetricPicture(5, 3)));
        document->read(test::readFile(url.filePath()), "public.png");
    }
    void TearDown() override {
        document->close();
        MainQueue::runUntilIdle();
        NSAlert::setTestResponder(nullptr);
    }
    URL file(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::writeFile(folder / name, bytes);
        return URL::fileURL(folder / name, false);
    }

    QTemporaryDir temporary;
    fs::path folder = temporary.path().toStdString();
    std::vector<std::string> alerts;
    std::shared_ptr<NSDocumentController> documents = std::make_shared<NSDocumentController>();
    std::shared_ptr<VersionStore> store = std::make_shared<VersionStore>(folder / "Versions");
    URL url = URL::fileURL(folder / "Picture.png", false);
    std::shared_ptr<Document> document = std::make_shared<Document>();
};

} // namespace

// A version is viewed from its previews alone and restored from its canvas alone.
TEST_F(DocumentVersionsTest, ViewingReadsOnlyThePreviewsRestoringOnlyTheCanvas) {
    const auto picture = test::asymmetricPicture(7, 2);
    KeyedArchiver previewsOnly;
    previewsOnly.encodeEncodable(*CanvasPreviews::makeStandardPreviews(picture), "Previews");
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        bool viewed;
        bool restored;
    } cases[] = {
        {"flat.png", test::pngOf(*picture), true, true},
        {"whole.velmora", NativeDocument::data(*LayeredCanvas::make(*picture, "Ink"), picture),
         true, true},
        {"previews.velmora", previewsOnly.encodedData(), true, false},
        {"damaged.png", {1, 2, 3}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DocumentVersion version{file(c.name, c.bytes), {}, c.bytes.size(), false, ""};
        std::shared_ptr<Document> viewed;
        try {
            viewed = DocumentVersionsBrowser::openVersion(*document, version);
        } catch (const std::exception&) {
        }
        EXPECT_EQ(viewed != nullptr, c.viewed);
        bool thumbnail = false;
        try {
            thumbnail = !DocumentVersionsBrowser::thumbnail(version).isNull();
        } catch (const std::exception&) {
        }
        EXPECT_EQ(thumbnail, c.viewed);
        if (viewed) {
            EXPECT_TRUE(viewed->isInViewingMode());
            EXPECT_NE(viewed->previewCanvas(), nullptr);
            EXPECT_EQ(sizeOf(*viewed), (MTLSize{7, 2, 1}));
            viewed->close();
        }
        const auto before = document->layeredCanvas();
        alerts.clear();
        EXPECT_EQ(document->restoreVersion(version.url), c.restored);
        EXPECT_EQ(alerts.size(), c.restored ? 0u : 1u);
        EXPECT_EQ(sizeOf(*document), c.restored ? (MTLSize{7, 2, 1}) : (MTLSize{5, 3, 1}));
        if (c.restored) {
            document->undoManager()->undo();
        }
        EXPECT_EQ(document->layeredCanvas(), before);
    }
}

TEST_F(DocumentVersionsTest, RestoreKeepsTheCurrentFileAndIsOneEditUndoTakesBack) {
    const auto versions = store->versions(url);
    ASSERT_EQ(versions.size(), 1u);
    const auto current = document->layeredCanvas();
    const auto undo = document->undoManager();
    EXPECT_FALSE(document->isDocumentEdited());

    {
        const auto lock = document->makeUndoLock();
        EXPECT_FALSE(document->restoreVersion(versions[0].url)) << "an edit is under way";
        EXPECT_EQ(document->layeredCanvas(), current);
    }
    ASSERT_TRUE(document->restoreVersion(versions[0].url));
    QCoreApplication::processEvents(); // the end of the turn that made the edit
    const auto restored = document->layeredCanvas();
    EXPECT_EQ(restored->size(), (MTLSize{6, 4, 1}));
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_EQ(undo->undoMenuItemTitle(), "Undo Restore Version");
    const auto kept = store->versions(url);
    ASSERT_EQ(kept.size(), 2u) << "the state replaced is a version too";
    EXPECT_EQ(test::readFile(kept[0].url.filePath()), test::readFile(url.filePath()));

    const struct {
        const char* step;
        std::shared_ptr<LayeredCanvas> canvas;
        bool edited;
    } steps[] = {{"undo", current, false}, {"redo", restored, true}, {"undo", current, false}};
    for (const auto& s : steps) {
        std::string(s.step) == "undo" ? undo->undo() : undo->redo();
        EXPECT_EQ(document->layeredCanvas(), s.canvas) << s.step;
        EXPECT_EQ(document->isDocumentEdited(), s.edited) << s.step;
    }
    EXPECT_FALSE(undo->canUndo()) << "one edit";
}

TEST_F(DocumentVersionsTest, TheRevertToMenuBrowsesOnlyADocumentWithAFileAndAStore) {
    const auto menu = NSApplication::makeStandardMainMenu("Velmora");
    const auto revert = menu->itemWithTitle("File")->submenu()->itemWithTitle("Revert To");
    ASSERT_NE(revert, nullptr);
    const auto browse = revert->submenu()->itemWithAction("browseDocumentVersions:");
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->title(), "Browse All Versions…");
    EXPECT_EQ(revert->submenu()->itemWithAction("revertDocumentToSaved:")->title(),
              "Last Saved Version");
    EXPECT_TRUE(document->validateMenuItem(*browse));
    const struct {
        const char* what;
        std::function<void()> change;
    } refusals[] = {{"no store", [&] { document->versionStore = nullptr; }},
                    {"no file", [&] { document->setFileURL(std::nullopt); }},
                    {"viewed", [&] { document->setContent(std::nullopt); }}};
    document->setInViewingMode(true);
    for (const auto* action : {"browseDocumentVersions:", "saveDocument:", "saveDocumentAs:"}) {
        EXPECT_FALSE(document->validateMenuItem(NSMenuItem("", action))) << "viewed: " << action;
    }
    document->setInViewingMode(false);
    for (const auto& r : refusals) {
        const auto saved =
            std::make_tuple(document->versionStore, document->fileURL(), document->content());
        r.change();
        EXPECT_FALSE(document->validateMenuItem(*browse)) << r.what;
        document->versionStore = std::get<0>(saved);
        document->setFileURL(std::get<1>(saved));
        document->setContent(std::get<2>(saved));
    }
}

namespace {

// Panels that are real windows, so their leaving and coming back shows.
class BrowsingTest : public DocumentVersionsTest {
protected:
    void SetUp() override {
        DocumentVersionsTest::SetUp();
        NSApplication::shared().setDelegate(delegate);
        delegate->showUtilityPanels();
        registerDocumentStoryboard();
        document->makeWindowControllers();
        document->showWindows();
        MainQueue::runUntilIdle();
    }
    void TearDown() override {
        DocumentVersionsTest::TearDown();
        NSApplication::shared().setDelegate(nullptr);
        registerUtilityPanelStoryboards();
    }
    std::shared_ptr<DocumentViewController> contentOf(const Document& shown) {
        return std::dynamic_pointer_cast<DocumentViewController>(
            shown.windowControllers().front()->contentViewController());
    }
    int panelsOnScreen() const {
        int count = 0;
        for (const auto& panel : delegate->utilityPanelControllers()) {
            count += panel->window()->isVisible() ? 1 : 0;
        }
        return count;
    }

    std::shared_ptr<AppDelegate> delegate = [] {
        for (const auto& key : AppDelegate::panelKeys) {
            NSStoryboard::registerController(key.storyboard, key.identifier, [] {
                return std::make_shared<NSWindowController>(std::make_shared<NSPanel>());
            });
        }
        return std::make_shared<AppDelegate>();
    }();
};

} // namespace

TEST_F(BrowsingTest, EnteringFitsLeavingRestoresTheTransformExactlyAndBringsThePanelsBack) {
    const auto drawing = contentOf(*document)->drawingViewController();
    ASSERT_NE(drawing->drawingController(), nullptr);
    drawing->zoomCanvas(1.4142135623730951);
    drawing->rotateCanvas(22.5);
    const auto outside = drawing->displayViewModel()->transform();
    ASSERT_EQ(panelsOnScreen(), 4);

    document->browseVersions();
    const auto browser = document->versionsBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(panelsOnScreen(), 0);
    MainQueue::runUntilIdle();
    EXPECT_EQ(drawing->transformOutsideVersionBrowser(), outside);
    EXPECT_NE(drawing->displayViewModel()->transform(), outside) << "fitted while browsing";
    ASSERT_TRUE(MainQueue::runUntil([&] { return browser->thumbnailsDone() == 1; }, 20s));

    ASSERT_TRUE(browser->choose(0));
    const auto viewedWindow = browser->versionWindow();
    const auto viewed =
        std::dynamic_pointer_cast<DocumentViewController>(viewedWindow->contentViewController());
    ASSERT_NE(viewed, nullptr);
    MainQueue::runUntilIdle();
    EXPECT_EQ(viewed->tabView()->currentIndex(), 1) << "a version shows in the preview tab";
    ASSERT_NE(viewed->previewViewController()->previewController(), nullptr);
    EXPECT_EQ(viewed->previewViewController()->previewController()->canvas()->size(),
              (MTLSize{6, 4, 1}));
    EXPECT_EQ(viewed->drawingViewController()->drawingController(), nullptr);

    browser->doneButton()->click();
    MainQueue::runUntilIdle();
    EXPECT_FALSE(browser->isOpen());
    EXPECT_FALSE(viewedWindow->isVisible());
    EXPECT_EQ(drawing->displayViewModel()->transform(), outside) << "exactly as it was";
    EXPECT_EQ(panelsOnScreen(), 4);
    EXPECT_EQ(sizeOf(*document), (MTLSize{5, 3, 1})) << "Done changes nothing";
}

TEST_F(BrowsingTest, TheViewedVersionsTitleBarReadsItsCanvasSize) {
    const auto sizeText = [](NSWindow& window) {
        for (const auto& accessory : window.titlebarAccessoryViewControllers()) {
            if (const auto info =
                    std::dynamic_pointer_cast<CanvasInfoTitlebarViewController>(accessory)) {
                return info->canvasSizeLabel()->text().toStdString();
            }
        }
        return std::string("no canvas information");
    };
    document->browseVersions();
    const auto browser = document->versionsBrowser();
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(browser->choose(0));
    MainQueue::runUntilIdle();
    EXPECT_EQ(sizeText(*browser->versionWindow()), "6 × 4 px");
    EXPECT_EQ(sizeText(*document->windowControllers().front()->window()), "5 × 3 px");
    browser->doneButton()->click();
    MainQueue::runUntilIdle();
}

TEST_F(BrowsingTest, RestoreReplacesTheContentAndClosesTheBrowser) {
    document->browseVersions();
    const auto browser = document->versionsBrowser();
    ASSERT_TRUE(browser->choose(0));
    browser->restoreButton()->click();
    MainQueue::runUntilIdle();
    EXPECT_FALSE(browser->isOpen());
    EXPECT_EQ(sizeOf(*document), (MTLSize{6, 4, 1}));
    const auto drawing = contentOf(*document)->drawingViewController();
    EXPECT_EQ(drawing->drawingController()->canvas(), document->layeredCanvas());
    EXPECT_EQ(panelsOnScreen(), 4);
    document->undoManager()->undo();
    EXPECT_EQ(sizeOf(*document), (MTLSize{5, 3, 1}));
}

// A restore while browsing sets a new canvas up, yet leaving shows the view of
// before. Told as the browser tells it, with the window's size handed back by
// the window system only later, as an X server does.
TEST_F(BrowsingTest, AfterARestoreTheCanvasHasTheViewOfBeforeBrowsing) {
    const auto window = document->windowControllers().front()->window();
    const auto drawing = contentOf(*document)->drawingViewController();
    drawing->zoomCanvas(1.4142135623730951);
    const auto outside = drawing->displayViewModel()->transform();
    const auto versions = store->versions(url);
    ASSERT_FALSE(versions.empty());

    window->noteVersionBrowser(NSWindow::willEnterVersionBrowserNotification);
    window->noteVersionBrowser(NSWindow::didEnterVersionBrowserNotification);
    MainQueue::runUntilIdle();
    ASSERT_TRUE(document->restoreVersion(versions[0].url));
    window->noteVersionBrowser(NSWindow::willExitVersionBrowserNotification);
    window->noteVersionBrowser(NSWindow::didExitVersionBrowserNotification);
    MainQueue::runUntilIdle();
    ASSERT_EQ(sizeOf(*document), (MTLSize{6, 4, 1}));
    EXPECT_EQ(drawing->displayViewModel()->transform(), outside);
}

TEST_F(BrowsingTest, AnAutosavingDocumentSavesItsChangesBeforeARestore) {
    const URL native = URL::fileURL(folder / "Picture.velmora", false);
    ASSERT_TRUE(
        document->save(native, "com.tovik.velmora-image", NSSaveOperationType::saveAsOperation));
    ASSERT_TRUE(
        document->save(native, "com.tovik.velmora-image", NSSaveOperationType::saveOperation));
    const auto before = store->versions(native);
    ASSERT_EQ(before.size(), 1u);
    const auto saved = fs::last_write_time(native.filePath());
    document->updateChangeCount(NSDocumentChangeType::changeDone);

    ASSERT_TRUE(document->restoreVersion(before[0].url));
    EXPECT_NE(fs::last_write_time(native.filePath()), saved) << "the changes were saved first";
    const auto after = store->versions(native);
    EXPECT_EQ(after.size(), 3u) << "the file before that save, and the changes saved";
    EXPECT_EQ(test::readFile(after[0].url.filePath()), test::readFile(native.filePath()));
    EXPECT_TRUE(alerts.empty());
}
