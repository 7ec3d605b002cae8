#include "CrashTestSupport.hpp"
#include "foundation/CrashReportStore.hpp"
#include "foundation/UserDefaults.hpp"

#include <gtest/gtest.h>
#include <optional>

using namespace velmora;
using namespace crashtest;

namespace {

// One run of the program: its own defaults store read from disk, as after a restart.
struct Start {
    UserDefaults defaults;
    CrashReportStore store;
    std::vector<std::vector<fs::path>> asked;
    Start(const fs::path& folder, const fs::path& defaultsFolder)
        : defaults(defaultsFolder), store(folder, defaults) {}
    void offer() {
        store.offerPendingReports([this](const std::vector<fs::path>& reports) {
            asked.push_back(reports);
            return true;
        });
    }
};

struct CrashReportStoreTest : testing::Test {
    TemporaryFolder crashes;
    void crash(const std::string& name) { writeText(crashes.path / name, "report " + name); }
    std::vector<std::string> pending() { return filesEndingIn(crashes.path, ".crash"); }
    std::vector<std::string> confirmed() {
        return filesEndingIn(crashes.path / "Confirmed", ".crash");
    }
};

} // namespace

TEST_F(CrashReportStoreTest, EachAnswerAppliesToTheReportsOfferedAndAlwaysIsRemembered) {
    const struct {
        std::optional<UserConfirmation> answer; // none: the prompt was never answered
        bool keptPending;
        bool confirmed;
        bool alwaysAfter;
    } cases[] = {
        {UserConfirmation::dontSend, false, false, false},
        {UserConfirmation::send, false, true, false},
        {UserConfirmation::always, false, true, true},
        {std::nullopt, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer ? static_cast<int>(*c.answer) : -1);
        TemporaryFolder folder, defaultsFolder;
        writeText(folder.path / "20261201T100000Z-41.crash", "old");
        writeText(folder.path / "20261202T100000Z-42.crash", "new");
        std::vector<std::string> names = filesEndingIn(folder.path, ".crash");
        {
            Start first(folder.path, defaultsFolder.path);
            first.offer();
            ASSERT_EQ(first.asked.size(), 1u);
            ASSERT_EQ(first.asked[0].size(), 2u);
            EXPECT_EQ(first.asked[0][0].filename(), "20261201T100000Z-41.crash");
            EXPECT_EQ(first.store.awaitingReports(), first.asked[0]);
            if (c.answer) {
                first.store.notifyWithUserConfirmation(*c.answer);
                EXPECT_TRUE(first.store.awaitingReports().empty());
            }
        }
        EXPECT_EQ(filesEndingIn(folder.path, ".crash"),
                  c.keptPending ? names : std::vector<std::string>{});
        EXPECT_EQ(filesEndingIn(folder.path / "Confirmed", ".crash"),
                  c.confirmed ? names : std::vector<std::string>{});

        // The next start, after one more crash.
        writeText(folder.path / "20261203T100000Z-43.crash", "later");
        Start next(folder.path, defaultsFolder.path);
        EXPECT_EQ(next.store.alwaysSend(), c.alwaysAfter);
        next.offer();
        if (c.alwaysAfter) {
            EXPECT_TRUE(next.asked.empty());
            EXPECT_EQ(filesEndingIn(folder.path / "Confirmed", ".crash").size(), 3u);
            EXPECT_TRUE(filesEndingIn(folder.path, ".crash").empty());
        } else {
            ASSERT_EQ(next.asked.size(), 1u);
            EXPECT_EQ(next.asked[0].size(), c.keptPending ? 3u : 1u);
        }
    }
}

TEST_F(CrashReportStoreTest, AnAnswerGivenInsideTheHandlerAsAModalAlertDoesIsApplied) {
    crash("20261201T100000Z-41.crash");
    UserDefaults defaults(std::nullopt);
    CrashReportStore store(crashes.path, defaults);
    store.offerPendingReports([&](const std::vector<fs::path>& reports) {
        EXPECT_EQ(reports.size(), 1u);
        store.notifyWithUserConfirmation(UserConfirmation::send);
        return true;
    });
    EXPECT_TRUE(pending().empty());
    EXPECT_EQ(confirmed(), std::vector<std::string>{"20261201T100000Z-41.crash"});
}

TEST_F(CrashReportStoreTest, AnUnfinishedReportIsKeptOnlyOnceItsWriterIsGone) {
    // pid 1 never writes our reports and is always alive; a huge pid never runs.
    crash("20261201T100000Z-2147483646.crash.tmp");
    crash("20261201T100000Z-1.crash.tmp");
    crash("20261201T100000Z-" + std::to_string(::getpid()) + ".crash.tmp");
    UserDefaults defaults(std::nullopt);
    CrashReportStore store(crashes.path, defaults);
    const auto reports = store.pendingReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].filename(), "20261201T100000Z-2147483646.crash");
    EXPECT_EQ(readText(reports[0]), "report 20261201T100000Z-2147483646.crash.tmp");
    EXPECT_EQ(filesEndingIn(crashes.path, ".crash.tmp").size(), 2u);
}
