// The program never runs on without a window: closes come as the window
// system sends them (a close event to the real windows).
#include "App/AppDelegate.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/NativeDocument.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"
#include "platform/graphics/TestPictures.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QWindow>
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// What the window manager sends when the title bar's close button is pressed.
// Nothing here holds the window: the program alone keeps it, or lets it go.
void closeFromTitleBar(QWindow* window) {
    ASSERT_NE(window, nullptr);
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(window);
    MainQueue::runUntilIdle();
    QCoreApplication::processEvents();
    MainQueue::runUntilIdle();
}

// The panels play no part here.
class QuietPanel : public NSWindowController {
public:
    void showWindow(NSObject*) override {}
};

class LastWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        AppDelegate::registerStoryboards();
        for (const auto& key : AppDelegate::panelKeys) {
            NSStoryboard::registerController(key.storyboard, key.identifier,
                                             [] { return std::make_shared<QuietPanel>(); });
        }
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText);
            return NSAlertFirstButtonReturn;
        });
        delegate = std::make_shared<AppDelegate>();
        auto& application = NSApplication::shared();
        application.setDelegate(delegate);
        terminations = 0;
        delegate->terminateApplication = [this] { ++terminations; };
        delegate->applicationWillFinishLaunching(application);
        delegate->applicationShouldOpenUntitledFile(application);
        MainQueue::runUntilIdle();
    }
    void TearDown() override {
        for (const auto& document : DocumentController::shared().documents()) {
            document->close();
        }
        if (const auto welcome = welcomeWindow(); welcome && welcome->isVisible()) {
            welcome->orderOut();
        }
        MainQueue::runUntilIdle();
        NSApplication::shared().setDelegate(nullptr);
        delegate.reset();
        MainQueue::runUntilIdle();
        NSAlert::setTestResponder(nullptr);
        AppDelegate::registerStoryboards();
        EXPECT_TRUE(alerts.empty()) << alerts.front();
    }

    std::shared_ptr<NSWindow> welcomeWindow() const {
        return delegate->welcomeWindowController()->window();
    }

    std::shared_ptr<Document> openPicture() {
        const auto path = std::filesystem::path(folder.path().toStdString()) / "Ink.velmora";
        const auto picture = test::asymmetricPicture(8, 6);
        test::writeFile(path, NativeDocument::data(*LayeredCanvas::make(*picture, "Ink"), picture));
        std::shared_ptr<NSDocument> opened;
        DocumentController::shared().openDocument(
            URL::fileURL(path, false), true,
            [&](std::shared_ptr<NSDocument> document, bool, std::exception_ptr) {
                opened = std::move(document);
            });
        MainQueue::runUntilIdle();
        return std::dynamic_pointer_cast<Document>(opened);
    }

    static QWindow* handleOf(const std::shared_ptr<NSWindow>& window) {
        return window && window->widget() ? window->widget()->windowHandle() : nullptr;
    }
    QWindow* windowOf(const NSDocument& document) const {
        for (const auto& window : NSWindow::orderedWindows()) {
            if (const auto controller = window->windowController();
                controller && controller->documentResponder().get() == &document) {
                return handleOf(window);
            }
        }
        return nullptr;
    }

    QTemporaryDir folder;
    std::shared_ptr<AppDelegate> delegate;
    int terminations = 0;
    std::vector<std::string> alerts;
};

} // namespace

TEST_F(LastWindowTest, ClosingTheLastDocumentWindowBringsTheWelcomeWindowBack) {
    ASSERT_TRUE(welcomeWindow()->isVisible());
    const auto document = openPicture();
    ASSERT_NE(document, nullptr);
    QWindow* window = windowOf(*document);
    ASSERT_NE(window, nullptr);

    // With a document open, the welcome window may go.
    closeFromTitleBar(handleOf(welcomeWindow()));
    EXPECT_FALSE(welcomeWindow()->isVisible());
    EXPECT_EQ(terminations, 0);

    closeFromTitleBar(window);
    EXPECT_TRUE(DocumentController::shared().documents().empty());
    EXPECT_TRUE(welcomeWindow()->isVisible()) << "the program is left without a window";
    EXPECT_EQ(terminations, 0);
}

TEST_F(LastWindowTest, ClosingTheWelcomeWindowWithoutADocumentQuits) {
    const auto document = openPicture();
    ASSERT_NE(document, nullptr);
    // The welcome window stays on screen: closing the document shows nothing new.
    closeFromTitleBar(windowOf(*document));
    ASSERT_TRUE(welcomeWindow()->isVisible());
    EXPECT_EQ(terminations, 0);

    closeFromTitleBar(handleOf(welcomeWindow()));
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(welcomeWindow()->isVisible());
}
