#include "Document/Viewers/DocumentWindowController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/UserDefaults.hpp"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;

namespace {

struct WindowRig {
    UserDefaults defaults{std::nullopt};
    Preferences preferences{defaults};
    std::shared_ptr<DocumentWindowController> controller;

    std::shared_ptr<NSWindow> load() {
        controller = std::make_shared<DocumentWindowController>(nullptr, preferences);
        controller->setWindowLoader([] { return std::make_shared<NSWindow>(); });
        return controller->window();
    }
};

} // namespace

TEST(DocumentWindowController, LoadsZoomedOnThePreferredScreenAndAsItsDelegate) {
    for (const bool preferred : {false, true}) {
        SCOPED_TRACE(preferred);
        WindowRig rig;
        QScreen* screen = QGuiApplication::primaryScreen();
        if (preferred) {
            rig.preferences.setPreferredScreen(screen);
        }
        const auto window = rig.load();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->delegate(), std::static_pointer_cast<NSWindowDelegate>(rig.controller));
        EXPECT_TRUE(window->widget()->windowState().testFlag(Qt::WindowMaximized));
        if (preferred) {
            ASSERT_EQ(rig.preferences.preferredScreen(), screen);
            EXPECT_EQ(window->widget()->screen(), screen);
        }
        window->close();
    }
}

TEST(DocumentWindowController, MainWindowChangesArePostedATurnLater) {
    WindowRig rig;
    const auto window = rig.load();
    int posted = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        std::string(mainWindowChangedNotification), nullptr, std::nullopt,
        [&](const Notification&) { posted += 1; });
    rig.controller->windowDidBecomeMain(*window);
    rig.controller->windowDidResignMain(*window);
    EXPECT_EQ(posted, 0) << "not while the window's change is being told";
    MainQueue::runUntilIdle();
    EXPECT_EQ(posted, 2);

    // Through the window: becoming main tells the delegate.
    window->makeKeyAndOrderFront();
    MainQueue::runUntilIdle();
    EXPECT_GE(posted, 3);
    window->close();
    MainQueue::runUntilIdle();
}
