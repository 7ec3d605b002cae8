#include "CrashTestSupport.hpp"
#include "foundation/CrashReporter.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/MainQueue.hpp"

#include <csignal>
#include <cstdio>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

using namespace velmora;
using namespace crashtest;
using testing::ContainsRegex;

namespace {

// In the child. `likeTheProgram`: the dispositions of a program built without
// sanitizers, whose own handlers would end the child their way.
void startReporter(const fs::path& folder, bool likeTheProgram = true) {
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) {
        if (likeTheProgram) {
            std::signal(signal, SIG_DFL);
        }
    }
    static UserDefaults defaults(std::nullopt);
    if (!CrashReporter::start(folder, defaults)) {
        std::_Exit(99);
    }
}

// A page no access is allowed to, so the fault's address is known.
void* forbiddenPage() {
    static void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return page;
}

// The one report of the folder, finished and whole: its header, the frames of
// the crashing code, the map that resolves them, and the end mark.
std::string onlyReport(const fs::path& folder, const std::string& signal) {
    EXPECT_TRUE(filesEndingIn(folder, ".tmp").empty());
    const auto reports = filesEndingIn(folder, ".crash");
    EXPECT_EQ(reports.size(), 1u);
    if (reports.size() != 1) {
        return {};
    }
    EXPECT_THAT(reports[0], testing::MatchesRegex("[0-9]{8}T[0-9]{6}Z-[0-9]+[.]crash"));
    const std::string report = readText(folder / reports[0]);
    EXPECT_THAT(report, testing::StartsWith("Velmora crash report\nSignal: " + signal + "\n"));
    EXPECT_THAT(report, ContainsRegex("\nTime: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z\nVersion: " +
                                      std::string(CrashReporter::version()) + "\n"));
    EXPECT_THAT(report, ContainsRegex("\nFrames:\n([^\n]+\n){3,}Memory map:\n"));
    EXPECT_THAT(report, ContainsRegex("\\[stack\\]\n([^\n]*\n)*End of report\n$"));
    return report;
}

// The child is a fork, so it writes into the parent's folder and faults at the
// parent's page.
struct CrashReporterDeathTest : testing::Test {
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }
};

} // namespace

TEST_F(CrashReporterDeathTest, AFatalErrorLeavesOneWholeReportWithItsMessage) {
    TemporaryFolder folder;
    EXPECT_EXIT(
        {
            startReporter(folder.path);
            fatalError("Crashing on purpose");
        },
        testing::KilledBySignal(SIGABRT), "Fatal error: Crashing on purpose");
    EXPECT_THAT(onlyReport(folder.path, "6 (SIGABRT)"),
                ContainsRegex("\nLast fatal error: [^ \n]+CrashReporterDeathTests[.]cpp:"
                              "[0-9]+: Fatal error: Crashing on purpose\n"));
}

TEST_F(CrashReporterDeathTest, ASegmentationFaultLeavesOneWholeReportWithItsAddress) {
    TemporaryFolder folder;
    void* page = forbiddenPage();
    ASSERT_NE(page, MAP_FAILED);
    EXPECT_EXIT(
        {
            startReporter(folder.path);
            *static_cast<volatile int*>(page) = 1;
        },
        testing::KilledBySignal(SIGSEGV), "");
    char lines[64];
    std::snprintf(lines, sizeof lines, "\nAddress: %p\n", page);
    const std::string report = onlyReport(folder.path, "11 (SIGSEGV)");
    EXPECT_NE(report.find(lines), std::string::npos) << report;
    EXPECT_NE(report.find("\nLast fatal error: none\n"), std::string::npos);
}

// As under AddressSanitizer, whose handler was there first: it still gets the
// fault, at its own address, after the report is written.
TEST_F(CrashReporterDeathTest, AFaultGoesOnToTheHandlerThatWasThereBefore) {
    TemporaryFolder folder;
    ASSERT_NE(forbiddenPage(), MAP_FAILED);
    EXPECT_EXIT(
        {
            struct sigaction earlier {};
            earlier.sa_flags = SA_SIGINFO;
            earlier.sa_sigaction = [](int, siginfo_t* info, void*) {
                std::_Exit(info->si_addr == forbiddenPage() ? 42 : 43);
            };
            ::sigaction(SIGSEGV, &earlier, nullptr);
            startReporter(folder.path, false);
            *static_cast<volatile int*>(forbiddenPage()) = 1;
        },
        testing::ExitedWithCode(42), "");
    onlyReport(folder.path, "11 (SIGSEGV)");
}

TEST_F(CrashReporterDeathTest, TheNextStartOffersTheReportAndTheAnswerKeepsIt) {
    TemporaryFolder folder;
    EXPECT_EXIT(
        {
            startReporter(folder.path);
            std::abort();
        },
        testing::KilledBySignal(SIGABRT), "");
    const auto crashed = filesEndingIn(folder.path, ".crash");
    ASSERT_EQ(crashed.size(), 1u);
    // The next start, in a process of its own since the reporter is process-wide.
    EXPECT_EXIT(
        {
            startReporter(folder.path);
            std::vector<fs::path> offered;
            CrashReporter::setUserConfirmationHandler([&](const std::vector<fs::path>& reports) {
                offered = reports;
                return true;
            });
            // Asked in a later turn of the main queue, not during start.
            const bool askedLater = offered.empty();
            MainQueue::runUntilIdle();
            if (!askedLater || offered.size() != 1 || offered[0].filename() != crashed[0]) {
                std::_Exit(1);
            }
            CrashReporter::notifyWithUserConfirmation(UserConfirmation::send);
            std::_Exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_TRUE(filesEndingIn(folder.path, ".crash").empty());
    EXPECT_EQ(filesEndingIn(folder.path / "Confirmed", ".crash"), crashed);
}
