#include "desktop/NSApplication.hpp"
#include "desktop/NSPanel.hpp"
#include "desktop/NSTitlebarAccessoryViewController.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NotificationCenter.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

// Records the key and main changes every window announces.
struct NotificationLog {
    NotificationLog() {
        token = NSWindow::addObserver([this](NSWindow& window, std::string_view name) {
            if (name.find("Key") != std::string_view::npos ||
                name.find("Main") != std::string_view::npos) {
                entries.push_back(window.title() + " " + std::string(name));
            }
        });
    }
    ~NotificationLog() { NSWindow::removeObserver(token); }
    std::uint64_t token;
    std::vector<std::string> entries;
};

std::shared_ptr<NSWindow> makeWindow(const char* title) {
    auto window = std::make_shared<NSWindow>(CGRect{{100, 100}, {200, 150}});
    window->setTitle(title);
    return window;
}

struct CountingController : NSViewController {
    std::vector<std::string> calls;
    void viewWillAppear() override { calls.push_back("willAppear"); }
    void viewDidAppear() override { calls.push_back("didAppear"); }
    void viewWillDisappear() override { calls.push_back("willDisappear"); }
    void viewDidDisappear() override { calls.push_back("didDisappear"); }
};

// Undo managers are compared by identity only; any object's address serves.
std::shared_ptr<UndoManager> tokenUndoManager() {
    auto holder = std::make_shared<int>(0);
    return std::shared_ptr<UndoManager>(holder, reinterpret_cast<UndoManager*>(holder.get()));
}

struct UndoAnsweringDelegate : NSWindowDelegate {
    std::optional<std::shared_ptr<UndoManager>> answer;
    std::optional<std::shared_ptr<UndoManager>> windowWillReturnUndoManager(NSWindow&) override {
        return answer;
    }
};

struct DocumentStandIn : NSResponder {
    std::shared_ptr<UndoManager> manager = tokenUndoManager();
    std::shared_ptr<UndoManager> undoManager() override { return manager; }
};

} // namespace

TEST(NSWindowTest, KeyAndMainFollowActivationAndPanelsNeverBecomeMain) {
    NotificationLog log;
    auto a = makeWindow("A");
    auto b = makeWindow("B");
    auto panel = std::make_shared<NSPanel>();
    panel->setTitle("P");
    panel->setHidesOnDeactivate(false);

    a->makeKeyAndOrderFront();
    b->makeKeyAndOrderFront();
    EXPECT_TRUE(b->isKeyWindow());
    EXPECT_TRUE(b->isMainWindow());
    EXPECT_FALSE(a->isMainWindow());
    EXPECT_EQ(b->orderedIndex(), 0);
    EXPECT_EQ(a->orderedIndex(), 1);

    panel->makeKeyAndOrderFront();
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_FALSE(panel->isMainWindow());
    EXPECT_TRUE(b->isMainWindow());
    EXPECT_EQ(panel->orderedIndex(), 0);

    // Closing the main window hands key and main to the next document window.
    b->close();
    EXPECT_EQ(b->orderedIndex(), -1);
    EXPECT_TRUE(a->isMainWindow());
    EXPECT_EQ(a->orderedIndex(), 1);

    const std::vector<std::string> expected = {
        "A NSWindowDidBecomeKeyNotification",  "A NSWindowDidBecomeMainNotification",
        "A NSWindowDidResignKeyNotification",  "B NSWindowDidBecomeKeyNotification",
        "A NSWindowDidResignMainNotification", "B NSWindowDidBecomeMainNotification",
        "B NSWindowDidResignKeyNotification",  "P NSWindowDidBecomeKeyNotification",
        "B NSWindowDidResignMainNotification", "A NSWindowDidBecomeMainNotification",
    };
    EXPECT_EQ(log.entries, expected);
    panel->close();
    a->close();
    EXPECT_EQ(NSWindow::mainWindow(), nullptr);
    EXPECT_EQ(NSWindow::keyWindow(), nullptr);
}

TEST(NSWindowTest, QtActivationMakesTheWindowKeyAndFront) {
    auto a = makeWindow("A");
    auto b = makeWindow("B");
    a->makeKeyAndOrderFront();
    b->orderFront();
    EXPECT_TRUE(a->isKeyWindow());
    EXPECT_EQ(b->orderedIndex(), 0);

    QApplication::setActiveWindow(a->widget());
    QApplication::setActiveWindow(b->widget());
    QApplication::processEvents();
    EXPECT_TRUE(b->isKeyWindow());
    EXPECT_TRUE(b->isMainWindow());
    a->close();
    b->close();
}

TEST(NSWindowTest, PanelThatBecomesKeyOnlyIfNeededRefusesFocusUntilMadeKey) {
    auto document = makeWindow("D");
    auto panel = std::make_shared<NSPanel>();
    panel->setHidesOnDeactivate(false);
    panel->setBecomesKeyOnlyIfNeeded(true);
    document->makeKeyAndOrderFront();
    auto controller = std::make_shared<NSWindowController>(panel);
    controller->showWindow();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(document->isKeyWindow());
    EXPECT_TRUE(panel->widget()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));

    panel->makeKeyWindow();
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_FALSE(panel->widget()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    document->makeKeyWindow();
    EXPECT_TRUE(panel->widget()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    panel->close();
    document->close();
}

TEST(NSWindowTest, AppearanceCallsFollowTheWindowDownToChildren) {
    auto window = makeWindow("W");
    auto content = std::make_shared<CountingController>();
    auto child = std::make_shared<CountingController>();
    content->addChildViewController(child);
    window->setContentViewController(content);
    window->makeKeyAndOrderFront();
    window->makeKeyAndOrderFront();
    window->orderOut();
    const std::vector<std::string> expected = {"willAppear", "didAppear", "willDisappear",
                                               "didDisappear"};
    EXPECT_EQ(content->calls, expected);
    EXPECT_EQ(child->calls, expected);
    EXPECT_EQ(content->window(), window);
}

TEST(NSWindowTest, UndoManagerComesFromTheDelegateElseTheDocument) {
    auto window = makeWindow("U");
    auto controller = std::make_shared<NSWindowController>(window);
    auto document = std::make_shared<DocumentStandIn>();
    controller->setDocument(document);
    auto content = std::make_shared<NSViewController>();
    window->setContentViewController(content);
    ASSERT_EQ(controller->window(), window);

    // A view controller asks up its chain: window, then the document.
    EXPECT_EQ(content->undoManager(), document->manager);

    auto delegate = std::make_shared<UndoAnsweringDelegate>();
    window->setDelegate(delegate);
    EXPECT_EQ(content->undoManager(), document->manager);
    delegate->answer = std::shared_ptr<UndoManager>();
    EXPECT_EQ(content->undoManager(), nullptr);
    auto own = tokenUndoManager();
    delegate->answer = own;
    EXPECT_EQ(content->undoManager(), own);

    controller->setDocument({});
    delegate->answer.reset();
    EXPECT_EQ(content->undoManager(), nullptr);
}

TEST(NSWindowTest, ActionsFindTheFirstResponderThatHandlesThem) {
    auto window = makeWindow("R");
    auto controller = std::make_shared<NSWindowController>(window);
    auto outer = std::make_shared<NSViewController>();
    auto inner = std::make_shared<NSViewController>();
    outer->addChildViewController(inner);
    window->setContentViewController(outer);
    controller->window();

    std::vector<std::string> ran;
    controller->setAction("newTab:", [&](NSObject*) { ran.push_back("controller"); });
    outer->setAction("zoomIn:", [&](NSObject*) { ran.push_back("outer"); });
    inner->setAction("zoomIn:", [&](NSObject*) { ran.push_back("inner"); });

    EXPECT_TRUE(inner->tryToPerform("zoomIn:", nullptr));
    EXPECT_TRUE(inner->tryToPerform("newTab:", nullptr));
    EXPECT_FALSE(inner->tryToPerform("missing:", nullptr));
    EXPECT_EQ(ran, (std::vector<std::string>{"inner", "controller"}));
    EXPECT_EQ(inner->targetForAction("newTab:"), controller.get());
    // The window is the first responder while nothing in it has focus.
    EXPECT_EQ(window->firstResponder(), window);
}

TEST(NSWindowTest, TheMainWindowsFocusStillAnswersActionsWhileAPanelIsKey) {
    auto window = makeWindow("Main");
    auto controller = std::make_shared<NSWindowController>(window);
    auto content = std::make_shared<NSViewController>();
    window->setContentViewController(content);
    controller->window();
    content->setAction("zoomIn:", [](NSObject*) {});
    auto* field = new QLineEdit(content->view());
    window->makeKeyAndOrderFront();
    QApplication::processEvents();
    field->setFocus();
    auto panel = std::make_shared<NSPanel>();
    panel->setBecomesKeyOnlyIfNeeded(true);
    panel->setContentView(new QLineEdit);
    panel->orderFront();
    panel->makeKeyWindow();
    QApplication::processEvents();
    ASSERT_TRUE(panel->widget()->isActiveWindow());
    EXPECT_EQ(NSApplication::shared().targetForAction("zoomIn:"), content.get());
    panel->close();
    window->close();
}

TEST(NSWindowTest, SheetTakesTheKeyboardAndReturnsItWithTheResponse) {
    auto parent = makeWindow("Parent");
    parent->makeKeyAndOrderFront();
    auto sheet = std::make_shared<NSWindow>(CGRect{{0, 0}, {80, 40}}, NSWindowStyleMask::titled);
    std::optional<NSModalResponse> answer;
    parent->beginSheet(sheet, [&](NSModalResponse response) { answer = response; });
    EXPECT_TRUE(sheet->isSheet());
    EXPECT_TRUE(sheet->isKeyWindow());
    EXPECT_TRUE(parent->isMainWindow());
    EXPECT_EQ(sheet->widget()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(parent->attachedSheet(), sheet);

    parent->endSheet(sheet, NSModalResponseOK);
    EXPECT_EQ(answer, NSModalResponseOK);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(parent->isKeyWindow());
    EXPECT_EQ(parent->attachedSheet(), nullptr);
    parent->close();
}

TEST(NSWindowTest, NotificationsReachTheNotificationCenterWithTheWindow) {
    auto window = makeWindow("N");
    std::vector<std::string> heard;
    auto token = NotificationCenter::defaultCenter().addObserver(
        std::string(NSWindow::didBecomeKeyNotification), window.get(), std::nullopt,
        [&](const Notification& n) { heard.push_back(n.name); });
    auto other = makeWindow("O");
    other->makeKeyAndOrderFront();
    window->makeKeyAndOrderFront();
    EXPECT_EQ(heard, std::vector<std::string>{"NSWindowDidBecomeKeyNotification"});
    NotificationCenter::defaultCenter().removeObserver(token);
    window->close();
    other->close();
}

TEST(NSWindowTest, PressingATextFieldLetsAPanelTakeTheKeyboard) {
    auto document = makeWindow("D");
    auto panel = std::make_shared<NSPanel>();
    panel->setHidesOnDeactivate(false);
    panel->setBecomesKeyOnlyIfNeeded(true);
    auto* content = new QWidget;
    auto* button = new QPushButton("Add", content);
    auto* field = new QLineEdit(content);
    field->move(0, 40);
    panel->setContentView(content);
    document->makeKeyAndOrderFront();
    panel->orderFront();

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(document->isKeyWindow()) << "a button does not need the keyboard";
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_TRUE(document->isMainWindow());
    panel->close();
    EXPECT_TRUE(document->isKeyWindow()) << "the main window takes the keyboard back";
    document->close();
}

TEST(NSWindowTest, RightTitlebarAccessoriesSitAtTheStatusBarsRightEnd) {
    auto window = makeWindow("T");
    auto accessory = std::make_shared<NSTitlebarAccessoryViewController>();
    accessory->layoutAttribute = NSLayoutAttribute::right;
    window->addTitlebarAccessoryViewController(accessory);
    auto* bar = window->widget()->findChild<QStatusBar*>();
    ASSERT_TRUE(bar);
    EXPECT_EQ(accessory->view()->parentWidget(), bar);
    window->makeKeyAndOrderFront();
    EXPECT_TRUE(accessory->isViewAppeared());
    window->close();
    EXPECT_FALSE(accessory->isViewAppeared());
}
