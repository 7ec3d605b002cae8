#include "App/AppDelegate.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "DrawingTestSupport.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;
using velmora::testing::side;

namespace {

// A document window with the program's menus, shown and key, the canvas
// holding the keyboard.
class DocumentWindowKeys : public ::testing::Test {
protected:
    void SetUp() override {
        registerDocumentStoryboard();
        NSApplication::shared().setMainMenu(AppDelegate::makeMainMenu());
        document->setContent(LayeredCanvas::make({side, side, 1}));
        document->makeWindowControllers();
        document->showWindows();
        const auto& controller = document->windowControllers().front();
        window = controller->window()->widget();
        drawing =
            std::dynamic_pointer_cast<DocumentViewController>(controller->contentViewController())
                ->drawingViewController();
        controller->window()->makeKeyAndOrderFront();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        drawing->viewer().setFocus();
        MainQueue::runUntilIdle();
    }
    void TearDown() override {
        document->close();
        NSApplication::shared().setMainMenu(menu);
        MainQueue::runUntilIdle();
    }
    double scale() const {
        const auto t = drawing->displayViewModel()->transform();
        return std::hypot(t.a, t.b);
    }

    std::shared_ptr<NSMenu> menu = NSApplication::shared().mainMenu();
    std::shared_ptr<NSDocumentController> documents = std::make_shared<NSDocumentController>();
    std::shared_ptr<Document> document = std::make_shared<Document>();
    QMainWindow* window = nullptr;
    std::shared_ptr<DrawingViewController> drawing;
};

} // namespace

TEST_F(DocumentWindowKeys, ZoomAnswersThePlusKeysOfEveryLayout) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        double factor;
    } presses[] = {
        {Qt::Key_Equal, Qt::ControlModifier, std::sqrt(2.0)},
        // A layout with + unshifted; with Shift, the window system offers the
        // unshifted combination too.
        {Qt::Key_Plus, Qt::ControlModifier, std::sqrt(2.0)},
        {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, std::sqrt(2.0)},
    };
    for (const auto& p : presses) {
        const double before = scale();
        QTest::keyClick(&drawing->viewer(), p.key, p.modifiers);
        EXPECT_NEAR(scale(), before * p.factor, 1e-9) << p.key << " " << p.modifiers;
    }
}

TEST_F(DocumentWindowKeys, AMenuClosedWithEscapeGivesTheKeysBackToTheCanvas) {
    auto* bar = window->menuBar();
    QAction* view = nullptr;
    for (QAction* action : bar->actions()) {
        view = action->text() == "View" ? action : view;
    }
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(view).center());
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    QTest::keyClick(popup, Qt::Key_Escape);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), &drawing->viewer());
    const auto zoomIn =
        NSApplication::shared().mainMenu()->itemWithTitle("View")->submenu()->itemWithAction(
            "zoomIn:");
    EXPECT_TRUE(NSApplication::shared().validate(*zoomIn)) << "the View menu reaches the canvas";
    const double before = scale();
    QTest::keyClick(&drawing->viewer(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NEAR(scale(), before * std::sqrt(2.0), 1e-9);
}
