#include "desktop/NSApplication.hpp"
#include "desktop/NSApplicationDelegate.hpp"
#include "desktop/NSBeep.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/QtMainQueue.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/Timer.hpp"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// A document that can hide its undo manager, as a locked one does.
struct PlainDocument : NSDocument {
    bool hidden = false;
    std::shared_ptr<UndoManager> undoManager() override {
        return hidden ? nullptr : NSDocument::undoManager();
    }
};

struct Delegate : NSApplicationDelegate {};

// A value whose changes register their inverse.
struct Value : std::enable_shared_from_this<Value> {
    int value = 0;
    void change(UndoManager& manager, int delta) {
        value += delta;
        manager.registerUndo<Value>(shared_from_this(),
                                    [&manager, delta](Value& v) { v.change(manager, -delta); });
    }
};

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        NSApplication::shared().setDelegate(delegate);
        document->addWindowController(windowController);
        controller->addDocument(document);
        document->showWindows();
        ASSERT_TRUE(window->isKeyWindow());
        setBeepHandler([this] { ++beeps; });
    }
    void TearDown() override {
        setBeepHandler(nullptr);
        NSApplication::shared().setDelegate(nullptr);
        window->close();
    }

    // Which responder handles each action, by name.
    void answer(NSResponder& responder, const std::string& name, const std::string& action) {
        responder.setAction(action, [this, name](NSObject*) { performed.push_back(name); });
    }

    std::shared_ptr<NSDocumentController> controller = std::make_shared<NSDocumentController>();
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    std::shared_ptr<PlainDocument> document = std::make_shared<PlainDocument>();
    std::shared_ptr<NSWindow> window = std::make_shared<NSWindow>();
    std::shared_ptr<NSWindowController> windowController =
        std::make_shared<NSWindowController>(window);
    std::vector<std::string> performed;
    int beeps = 0;
};

} // namespace

TEST_F(ApplicationTest, ActionsFollowTheResponderChainToTheDocumentController) {
    const std::string action = "zoomIn:";
    struct Link {
        NSResponder* responder;
        const char* name;
    };
    const std::vector<Link> chain = {{window.get(), "window"},
                                     {windowController.get(), "window controller"},
                                     {document.get(), "document"},
                                     {delegate.get(), "app delegate"},
                                     {controller.get(), "document controller"}};
    for (const auto& link : chain) {
        answer(*link.responder, link.name, action);
    }
    // Each round the nearest responder performs and then stops answering.
    for (const auto& link : chain) {
        EXPECT_TRUE(NSApplication::shared().sendAction(action));
        link.responder->removeAction(action);
    }
    EXPECT_FALSE(NSApplication::shared().sendAction(action));
    EXPECT_EQ(performed, (std::vector<std::string>{"window", "window controller", "document",
                                                   "app delegate", "document controller"}));
}

TEST_F(ApplicationTest, MenusValidateWhenTheyOpenAndShortcutsBeforeTheyFire) {
    struct Refusing : NSResponder {
        bool allow = false;
        bool validateMenuItem(const NSMenuItem&) override { return allow; }
    };
    auto menu = std::make_shared<NSMenu>("Canvas");
    const auto handled = menu->addItem("Zoom In", "zoomIn:", "Ctrl+=");
    const auto unhandled = menu->addItem("Nowhere", "noSuchAction:");
    auto target = std::make_shared<Refusing>();
    answer(*target, "target", "zoomIn:");
    handled->setTarget(target);

    emit menu->qMenu()->aboutToShow();
    EXPECT_FALSE(handled->isEnabled());
    EXPECT_FALSE(unhandled->isEnabled());
    emit menu->qMenu()->aboutToHide();
    EXPECT_TRUE(handled->qAction()->isEnabled()) << "the shortcut must still reach validation";

    handled->qAction()->trigger(); // as its shortcut would
    EXPECT_TRUE(performed.empty());
    EXPECT_EQ(beeps, 1);
    target->allow = true;
    handled->qAction()->trigger();
    EXPECT_EQ(performed, std::vector<std::string>{"target"});
    emit menu->qMenu()->aboutToShow();
    EXPECT_TRUE(handled->isEnabled());
}

TEST_F(ApplicationTest, UndoAndRedoAreTitledByTheActionAndDisabledWithoutAnUndoManager) {
    const auto menu = NSApplication::makeStandardMainMenu("Velmora");
    const auto edit = menu->itemWithTitle("Edit")->submenu();
    const auto undo = edit->itemWithAction("undo:");
    const auto redo = edit->itemWithAction("redo:");
    const auto manager = document->NSDocument::undoManager();
    const auto target = std::make_shared<Value>();
    target->change(*manager, 1);
    manager->setActionName("Stroke");
    QCoreApplication::processEvents();

    struct Case {
        const char* what;
        std::function<void()> before;
        bool undoEnabled;
        const char* undoTitle;
        bool redoEnabled;
        const char* redoTitle;
    };
    const std::vector<Case> cases = {
        {"after a stroke", [] {}, true, "Undo Stroke", false, "Redo"},
        {"after undoing it", [&] { NSApplication::shared().sendAction("undo:"); }, false, "Undo",
         true, "Redo Stroke"},
        {"while the document hides its manager", [&] { document->hidden = true; }, false, "Undo",
         false, "Redo"},
        {"once it shows it again", [&] { document->hidden = false; }, false, "Undo", true,
         "Redo Stroke"},
    };
    for (const auto& c : cases) {
        c.before();
        edit->update();
        EXPECT_EQ(undo->isEnabled(), c.undoEnabled) << c.what;
        EXPECT_EQ(undo->title(), c.undoTitle) << c.what;
        EXPECT_EQ(redo->isEnabled(), c.redoEnabled) << c.what;
        EXPECT_EQ(redo->title(), c.redoTitle) << c.what;
    }
    EXPECT_EQ(target->value, 0);
    document->hidden = true;
    redo->qAction()->trigger();
    EXPECT_EQ(beeps, 1) << "a locked document's redo is refused";
    EXPECT_EQ(target->value, 0);
    document->hidden = false;
    redo->qAction()->trigger();
    EXPECT_EQ(target->value, 1);
}

TEST_F(ApplicationTest, WindowsThatCanBeMainShowTheMainMenu) {
    auto& application = NSApplication::shared();
    application.setMainMenu(NSApplication::makeStandardMainMenu("Velmora"));
    auto later = std::make_shared<NSWindow>();
    later->makeKeyAndOrderFront();
    for (const auto& shown : {window, later}) {
        QStringList titles;
        for (const QAction* action : shown->widget()->menuBar()->actions()) {
            titles << action->text();
        }
        EXPECT_EQ(titles, (QStringList{"Velmora", "File", "Edit", "Window"}));
    }
    later->close();
    application.setMainMenu(nullptr);
}

TEST_F(ApplicationTest, AWindowRunModallyShowsNoMainMenu) {
    auto& application = NSApplication::shared();
    application.setMainMenu(NSApplication::makeStandardMainMenu("Velmora"));
    const auto menuShown = [](const NSWindow& shown) {
        const QWidget* bar = shown.widget()->menuWidget();
        return bar && !bar->isHidden() && !bar->actions().isEmpty();
    };
    // A fresh dialog, and a window that showed the menu as a main window before.
    auto dialog = std::make_shared<NSWindow>(CGRect{{0, 0}, {300, 100}}, NSWindowStyleMask::titled);
    auto former = std::make_shared<NSWindow>();
    former->makeKeyAndOrderFront();
    QCoreApplication::processEvents(); // a bar added to a shown window shows a turn later
    ASSERT_TRUE(menuShown(*former));
    for (const auto& modal : {dialog, former}) {
        bool shownInside = true;
        QTimer::singleShot(0, [&] {
            shownInside = menuShown(*modal);
            application.stopModal();
        });
        application.runModal(modal);
        EXPECT_FALSE(shownInside);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(menuShown(*former)) << "given back after the modal run";
    dialog->close();
    former->close();
    application.setMainMenu(nullptr);
}

TEST_F(ApplicationTest, AModalRunKeepsTheMainQueueAndTimersGoingUntilStopped) {
    QtMainQueue::bind();
    auto panel = std::make_shared<NSWindow>();
    std::vector<std::string> order;
    DispatchQueue::main().async([&] { order.push_back("main queue item"); });
    auto timer = Timer::scheduledTimer(10ms, false, [&](Timer&) {
        order.push_back("timer");
        EXPECT_EQ(NSApplication::shared().modalWindow(), panel);
        NSApplication::shared().stopModal(NSModalResponseOK);
    });
    const NSModalResponse response = NSApplication::shared().runModal(panel);
    QtMainQueue::unbind();
    EXPECT_EQ(response, NSModalResponseOK);
    EXPECT_EQ(order, (std::vector<std::string>{"main queue item", "timer"}));
    EXPECT_EQ(NSApplication::shared().modalWindow(), nullptr);
    NSApplication::shared().stopModal(); // no modal run: nothing happens
    panel->close();
}

TEST(NSApplicationLifecycle, LaunchAsksForAnUntitledFileAndQuitAsksEachDocument) {
    struct Recording : NSApplicationDelegate {
        std::vector<std::string> calls;
        void applicationWillFinishLaunching(NSApplication&) override {
            calls.push_back("will finish");
        }
        bool applicationShouldOpenUntitledFile(NSApplication&) override {
            calls.push_back("should open untitled");
            return false;
        }
        void applicationDidFinishLaunching(NSApplication&) override {
            calls.push_back("did finish");
        }
        void applicationWillTerminate(NSApplication&) override { calls.push_back("terminate"); }
    };
    struct Refusing : NSDocument {
        bool refuse = true;
        bool autosavesInPlace() const override { return false; }
        SaveChangesAnswer askToSaveChanges() override {
            return refuse ? SaveChangesAnswer::cancel : SaveChangesAnswer::dontSave;
        }
    };
    const auto controller = std::make_shared<NSDocumentController>();
    controller->registerDocumentType({"public.plain-text", {"txt"}, "text/plain", "Text", true, [] {
                                          return std::make_shared<Refusing>();
                                      }});
    const auto delegate = std::make_shared<Recording>();
    auto& application = NSApplication::shared();
    application.setDelegate(delegate);
    application.finishLaunching();
    QtMainQueue::unbind();
    EXPECT_TRUE(controller->documents().empty());

    const auto document =
        std::dynamic_pointer_cast<Refusing>(controller->openUntitledDocumentAndDisplay(false));
    document->updateChangeCount(NSDocumentChangeType::changeDone);
    application.terminate();
    EXPECT_EQ(controller->documents().size(), 1u) << "the refusal cancels the quit";
    document->refuse = false;
    application.sendAction("terminate:");
    EXPECT_TRUE(controller->documents().empty());
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"will finish", "should open untitled",
                                                         "did finish", "terminate"}));
    application.setDelegate(nullptr);
}
