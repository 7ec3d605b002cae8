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

} // namespace
} // namespace velmora
