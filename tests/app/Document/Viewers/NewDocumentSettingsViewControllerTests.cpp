#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/NewDocumentSettingsViewController.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct SheetRig : ::testing::Test {
    std::shared_ptr<NSDocumentController> documents = std::make_shared<NSDocumentController>();
    UserDefaults defaults{std::nullopt};
    void SetUp() override { registerDocumentStoryboard(); }

    std::shared_ptr<NewDocumentSettingsViewController> sheet() {
        auto made = std::make_shared<NewDocumentSettingsViewController>(&defaults);
        made->loadViewIfNeeded();
        return made;
    }
};

void turn() {
    QCoreApplication::processEvents();
    MainQueue::runUntilIdle();
}

// A new document's window with its sheet on screen, as File > New leaves it.
std::shared_ptr<NewDocumentSettingsViewController>
showSheet(const std::shared_ptr<Document>& document) {
    document->makeWindowControllers();
    const auto content = std::dynamic_pointer_cast<DocumentViewController>(
        document->windowControllers().front()->contentViewController());
    if (!content) {
        return nullptr;
    }
    document->showWindows();
    turn();
    content->viewDidAppear();
    turn();
    if (content->presentedViewControllers().size() != 1) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<NewDocumentSettingsViewController>(
        content->presentedViewControllers().front());
}

} // namespace

TEST_F(SheetRig, CreateIsEnabledOnlyForSizesACanvasMayHave) {
    struct Case {
        const char* width;
        const char* height;
        bool enabled;
    };
    const Case cases[] = {{"8000", "8000", true},  {"1", "1", true},
                          {"8001", "8000", false}, {"8000", "8001", false},
                          {"0", "10", false},      {"", "10", false},
                          {"10", "-5", false},     {" 12px", "7", true},
                          {"abc", "7", false},     {"99999999999999999999", "7", false}};
    const auto shown = sheet();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.width) + " x " + c.height);
        shown->widthTextField()->setText(c.width);
        shown->heightTextField()->setText(c.height);
        EXPECT_EQ(shown->createButton()->isEnabled(), c.enabled);
    }
}

TEST_F(SheetRig, TheSizeCreatedIsTheNextSheetsDefault) {
    auto document = std::make_shared<Document>();
    auto presenting = std::make_shared<DocumentViewController>(nullptr);
    presenting->NSViewController::setRepresentedObject(document);
    const auto first = sheet();
    first->delegate = presenting;
    first->widthTextField()->setText("1920");
    first->heightTextField()->setText("1080");
    first->createDocument();
    EXPECT_EQ(defaults.stringForKey(defaultNewCanvasSizeKey), "{1920, 1080}");
    ASSERT_NE(document->layeredCanvas(), nullptr);
    EXPECT_EQ(document->layeredCanvas()->size(), (MTLSize{1920, 1080, 1}));
    const auto next = sheet();
    EXPECT_EQ(next->widthTextField()->text(), "1920");
    EXPECT_EQ(next->heightTextField()->text(), "1080");
}

TEST_F(SheetRig, ANewDocumentShowsTheSheetOnceAndEscClosesIt) {
    auto document = std::make_shared<Document>();
    document->makeWindowControllers();
    const auto controller = document->windowControllers().front();
    const auto content =
        std::dynamic_pointer_cast<DocumentViewController>(controller->contentViewController());
    ASSERT_NE(content, nullptr);
    document->showWindows();
    turn();
    content->viewDidAppear();
    turn();
    ASSERT_EQ(content->presentedViewControllers().size(), 1u) << "shown once";
    const auto shown = std::dynamic_pointer_cast<NewDocumentSettingsViewController>(
        content->presentedViewControllers().front());
    ASSERT_NE(shown, nullptr);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(shown->widthTextField(), &escape);
    turn();
    EXPECT_TRUE(content->presentedViewControllers().empty());
    EXPECT_TRUE(document->windowControllers().empty()) << "the document was closed";
}

TEST_F(SheetRig, TheWindowManagersCloseOfTheSheetCancelsIt) {
    auto document = std::make_shared<Document>();
    document->makeWindowControllers();
    const auto content = std::dynamic_pointer_cast<DocumentViewController>(
        document->windowControllers().front()->contentViewController());
    ASSERT_NE(content, nullptr);
    document->showWindows();
    turn();
    content->viewDidAppear();
    turn();
    ASSERT_EQ(content->presentedViewControllers().size(), 1u);
    const auto shown = content->presentedViewControllers().front();
    ASSERT_NE(shown->window(), nullptr);
    // As the title bar's close button asks the sheet's window.
    QCloseEvent close;
    QCoreApplication::sendEvent(shown->window()->widget(), &close);
    turn();
    EXPECT_TRUE(content->presentedViewControllers().empty());
    EXPECT_TRUE(document->windowControllers().empty()) << "the document was closed";
    EXPECT_EQ(document->content(), std::nullopt);
}

TEST_F(SheetRig, ReturnAndEnterCreateOnlyAnAcceptableSize) {
    struct Case {
        Qt::Key key;
        const char* width;
        bool created;
    };
    const Case cases[] = {{Qt::Key_Return, "64", true},
                          {Qt::Key_Enter, "48", true},
                          {Qt::Key_Return, "9000", false},
                          {Qt::Key_Enter, "0", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key == Qt::Key_Return ? "Return " : "Enter ") + c.width);
        auto document = std::make_shared<Document>();
        const auto shown = showSheet(document);
        ASSERT_NE(shown, nullptr);
        shown->widthTextField()->setText(c.width);
        shown->heightTextField()->setText("32");
        shown->heightTextField()->setFocus();
        QTest::keyClick(shown->heightTextField(), c.key,
                        c.key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        turn();
        if (c.created) {
            ASSERT_NE(document->layeredCanvas(), nullptr);
            EXPECT_EQ(document->layeredCanvas()->size(), (MTLSize{std::stoll(c.width), 32, 1}));
            EXPECT_EQ(shown->window(), nullptr) << "the sheet is gone";
        } else {
            EXPECT_EQ(document->content(), std::nullopt);
            EXPECT_FALSE(document->windowControllers().empty()) << "the sheet stays up";
        }
        document->close();
        turn();
    }
}

TEST_F(SheetRig, QuitWhileTheSheetIsUpClosesTheDocumentAndItsSheet) {
    // Quitting stops services of the whole process: a child of its own quits.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto& application = NSApplication::shared();
            application.setMainMenu(NSApplication::makeStandardMainMenu("Velmora"));
            // The menu is reached in a window the sheet does not block, as the
            // welcome window's is.
            auto other = std::make_shared<NSWindow>();
            other->orderFront();
            auto document = std::make_shared<Document>();
            documents->addDocument(document);
            const auto shown = showSheet(document);
            if (shown == nullptr) {
                std::_Exit(2);
            }
            shown->widthTextField()->setFocus();
            QTest::keyClick(shown->widthTextField(), Qt::Key_Q, Qt::ControlModifier);
            turn();
            const bool closed = document->windowControllers().empty() &&
                                shown->window() == nullptr && documents->documents().empty();
            // Without the exit handlers: the widgets' fonts are never released here.
            std::_Exit(closed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
