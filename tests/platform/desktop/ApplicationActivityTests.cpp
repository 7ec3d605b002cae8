// Focus events in the orders an X server sends them while openbox moves a
// panel: the window manager's hold on the keyboard is no deactivation.
#include "desktop/ApplicationActivity.hpp"

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <xcb/xcb.h>

namespace velmora {
namespace {

// "o1": focus-out of mode 1 (grab), "i2": focus-in of mode 2 (ungrab),
// "Q0"/"Q1": Qt says the application is inactive/active.
std::vector<bool> told(const std::vector<std::string>& steps) {
    auto& activity = ApplicationActivity::shared();
    std::vector<bool> seen;
    const auto connection = QObject::connect(&activity, &ApplicationActivity::activeChanged,
                                             [&](bool active) { seen.push_back(active); });
    for (const std::string& step : steps) {
        if (step[0] == 'Q') {
            emit qGuiApp->applicationStateChanged(step[1] == '1' ? Qt::ApplicationActive
                                                                 : Qt::ApplicationInactive);
            continue;
        }
        xcb_focus_in_event_t event{};
        event.response_type = step[0] == 'i' ? XCB_FOCUS_IN : XCB_FOCUS_OUT;
        event.detail = XCB_NOTIFY_DETAIL_NONLINEAR;
        event.mode = std::uint8_t(step[1] - '0');
        activity.nativeEventFilter("xcb_generic_event_t", &event, nullptr);
    }
    QObject::disconnect(connection);
    return seen;
}

TEST(ApplicationActivityTest, TheWindowManagersHoldIsNoDeactivation) {
    const struct {
        const char* name;
        std::vector<std::string> steps;
        std::vector<bool> told;
    } cases[] = {
        {"title bar drag", {"o1", "Q0", "i2", "Q1"}, {true}},
        // Qt reports each focus change a little after the event.
        {"window menu, then Move", {"o1", "Q0", "i2", "o1", "Q1", "Q0", "i2", "Q1"}, {true, true}},
        {"another program chosen during the hold", {"o1", "Q0", "o3", "i0", "Q1"}, {false, true}},
        {"another program's window clicked", {"o0", "Q0", "i0", "Q1"}, {false, true}},
    };
    told({"Q1"});
    for (const auto& c : cases) {
        EXPECT_EQ(told(c.steps), c.told) << c.name;
        EXPECT_TRUE(ApplicationActivity::shared().isActive()) << c.name;
    }
}

} // namespace
} // namespace velmora
