#include "CrashTestSupport.hpp"
#include "foundation/LogFile.hpp"
#include "foundation/LogOutput.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/stat.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

LogDestinations::Environment environment(const std::map<std::string, std::string>& variables) {
    return [variables](const char* name) -> const char* {
        const auto found = variables.find(name);
        return found == variables.end() ? nullptr : found->second.c_str();
    };
}

std::vector<std::string> linesOf(const fs::path& path) {
    std::istringstream text(crashtest::readText(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

TEST(LogDestinations, FollowTheEnvironmentAndTheJournal) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> variables;
        bool journalAvailable;
        LogDestinations expected;
    };
    const std::vector<Case> cases = {
        {"journal", {{"XDG_STATE_HOME", "/s"}}, true, {LogLevel::error, true, {}}},
        {"state folder",
         {{"XDG_STATE_HOME", "/s"}},
         false,
         {LogLevel::error, false, "/s/velmora/velmora.log"}},
        {"relative state folder ignored",
         {{"XDG_STATE_HOME", "s"}, {"HOME", "/h"}},
         false,
         {LogLevel::error, false, "/h/.local/state/velmora/velmora.log"}},
        {"nowhere to write", {}, false, {LogLevel::error, false, {}}},
        {"developer",
         {{"VELMORA_LOG", "debug"}, {"HOME", "/h"}},
         true,
         {LogLevel::debug, true, {}}},
        {"info", {{"VELMORA_LOG", "info"}, {"HOME", "/h"}}, true, {LogLevel::info, true, {}}},
        {"tests keep off the user's logs",
         {{"VELMORA_TEST", "1"}, {"HOME", "/h"}},
         true,
         {LogLevel::error, false, {}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LogDestinations::fromEnvironment(environment(c.variables), c.journalAvailable),
                  c.expected)
            << c.name;
    }
}

TEST(LogOutput, DefaultLinesGoToTheFileAndOnlyErrorsAlsoToTheTerminal) {
    const crashtest::TemporaryFolder folder;
    struct Case {
        LogLevel terminalLevel;
        std::vector<std::string> terminal;
    };
    const std::vector<std::string> recorded = {"<Info> info", "default", "<Error> error",
                                               "<Fault> fault"};
    const std::vector<Case> cases = {
        {LogLevel::error, {"<Error> error", "<Fault> fault"}},
        {LogLevel::debug,
         {"<Debug> debug", "<Info> info", "default", "<Error> error", "<Fault> fault"}},
    };
    int index = 0;
    for (const Case& c : cases) {
        const fs::path terminalPath = folder.path / ("terminal" + std::to_string(index));
        const fs::path file = folder.path / std::to_string(index++) / "velmora" / "velmora.log";
        const int terminal = ::open(terminalPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(terminal, 0);
        {
            const LogOutput output({c.terminalLevel, false, file}, terminal);
            EXPECT_EQ(output.lowestLevel(), std::min(c.terminalLevel, LogLevel::info));
            for (const auto& [level, text] :
                 {std::pair{LogLevel::debug, "debug"}, std::pair{LogLevel::info, "info"},
                  std::pair{LogLevel::defaultLevel, "default"}, std::pair{LogLevel::error, "error"},
                  std::pair{LogLevel::fault, "fault"}}) {
                output.write({"com.tovik.Velmora", "User Actions", level, text});
            }
        }
        ::close(terminal);
        const auto suffixes = [](const std::vector<std::string>& lines) {
            std::vector<std::string> out;
            for (const std::string& line : lines) {
                const std::string marker = "] [com.tovik.Velmora:User Actions] ";
                const auto at = line.find(marker);
                out.push_back(at == std::string::npos ? line : line.substr(at + marker.size()));
            }
            return out;
        };
        EXPECT_EQ(suffixes(linesOf(terminalPath)), c.terminal);
        EXPECT_EQ(suffixes(linesOf(file)), recorded);
        struct stat status {};
        ASSERT_EQ(::stat(file.parent_path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
}

TEST(LogFile, StaysWithinItsBoundKeepingOneOlderFileOfWholeLines) {
    const crashtest::TemporaryFolder folder;
    const fs::path path = folder.path / "velmora" / "velmora.log";
    constexpr std::uintmax_t limit = 200;
    std::vector<std::string> written;
    {
        LogFile file(path, limit);
        for (int i = 0; i < 40; ++i) {
            written.push_back("line " + std::to_string(i) + " of the log, with some words");
            file.append(written.back() + "\n");
            ASSERT_LE(fs::file_size(path), limit) << i;
        }
    }
    fs::path older = path;
    older += ".1";
    ASSERT_TRUE(fs::exists(older));
    EXPECT_LE(fs::file_size(older), limit);
    EXPECT_EQ(crashtest::filesEndingIn(path.parent_path(), ""),
              (std::vector<std::string>{"velmora.log", "velmora.log.1"}));
    std::vector<std::string> kept = linesOf(older);
    const std::vector<std::string> current = linesOf(path);
    kept.insert(kept.end(), current.begin(), current.end());
    ASSERT_FALSE(kept.empty());
    const std::vector<std::string> newest(written.end() - std::ssize(kept), written.end());
    EXPECT_EQ(kept, newest);

    // A later run goes on from the size already on disk.
    LogFile again(path, limit);
    for (int i = 0; i < 10; ++i) {
        again.append("another line of the next run\n");
        EXPECT_LE(fs::file_size(path), limit);
    }
}
