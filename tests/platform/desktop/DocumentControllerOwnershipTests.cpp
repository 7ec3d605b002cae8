#include "desktop/NSDocumentController.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace velmora {
namespace {

// Leak checking runs at exit: a shared controller nobody made must not be
// reported as lost, nor anything it holds.
TEST(NSDocumentControllerDeathTest, FallbackControllerIsNoLeakAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            NSDocumentController::shared().noteNewRecentDocumentURL(
                URL::fileURL("/tmp/a.velmora", false));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// Asked for before anyone made one, the shared controller is a stand-in that
// gives way to the next controller made, so an early question (another test's,
// a menu's) does not keep the application's own from being the shared one.
TEST(NSDocumentControllerDeathTest, AStandInGivesWayToTheNextControllerMade) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const NSDocumentController* standIn = &NSDocumentController::shared();
            auto own = std::make_shared<NSDocumentController>();
            const NSDocumentController* shared = &NSDocumentController::shared();
            std::exit(shared == own.get() && shared != standIn ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace velmora
