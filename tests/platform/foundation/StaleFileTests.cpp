#include "CrashTestSupport.hpp"
#include "foundation/FileDescriptor.hpp"
#include "foundation/StaleFile.hpp"

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

// Only what the judgement, the lock and the name allow goes; a link is never
// followed to its target.
TEST(StaleFile, RemovesOnlyAnUnlockedRegularFileJudgedStale) {
    struct Case {
        const char* name;
        const char* contents;
        bool locked;
        std::function<fs::path(const fs::path& folder)> make;
        bool removed;
    };
    const auto file = [](const fs::path& f) { return f / "a"; };
    const Case cases[] = {
        {"judged stale", "stale", false, file, true},
        {"judged in use", "in use", false, file, false},
        {"locked by its writer", "stale", true, file, false},
        {"a link to a stale file", "stale", false,
         [](const fs::path& f) {
             fs::create_symlink(f / "a", f / "link");
             return f / "link";
         },
         false},
        {"a folder", "stale", false,
         [](const fs::path& f) {
             fs::create_directory(f / "folder");
             return f / "folder";
         },
         false},
    };
    // Judged by what the file holds, as the undo history's files are.
    const auto holdsStale = [](int fd, const struct stat& status) {
        char head[5] = {};
        return status.st_size == 5 && ::pread(fd, head, sizeof head, 0) == 5 &&
               std::string_view(head, 5) == "stale";
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const crashtest::TemporaryFolder folder;
        std::ofstream(folder.path / "a") << c.contents;
        const fs::path named = c.make(folder.path);
        const FileDescriptor writer(::open((folder.path / "a").c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_GE(writer.get(), 0);
        if (c.locked) {
            ASSERT_EQ(::flock(writer.get(), LOCK_EX | LOCK_NB), 0);
        }
        EXPECT_EQ(removeStaleFile(named, holdsStale), c.removed);
        EXPECT_EQ(fs::exists(fs::symlink_status(named)), !c.removed);
        EXPECT_TRUE(c.removed || fs::exists(folder.path / "a")) << "a link's target stays";
    }
}

} // namespace
