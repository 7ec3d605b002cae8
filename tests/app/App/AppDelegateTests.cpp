#include "App/AppDelegate.hpp"
#include "App/CrashPrompt.hpp"
#include "App/PreferencesViewController.hpp"
#include "App/PreferencesWindowController.hpp"
#include "Document/DocumentController.hpp"
#include "Document/Viewers/SnapshotStore.hpp"
#include "UtilityPanels/UtilityPanelStoryboards.hpp"
#include "Welcome/WelcomeWindowController.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;

namespace {

std::vector<std::string> shown;

class RecordingController : public NSWindowController {
public:
    explicit RecordingController(std::string name) : name_(std::move(name)) {}
    void showWindow(NSObject*) override { shown.push_back(name_); }

private:
    std::string name_;
};

void registerRecorder(const AppDelegate::StoryboardKey& key) {
    NSStoryboard::registerController(key.storyboard, key.identifier, [key] {
        return std::make_shared<RecordingController>(key.identifier);
    });
}

std::shared_ptr<NSMenuItem> reportBugItem(const NSMenu& menu) {
    for (const auto& item : menu.items()) {
        if (item->submenu()) {
            if (auto found = item->submenu()->itemWithAction("reportBug:")) {
                return found;
            }
        }
    }
    return nullptr;
}

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        shown.clear();
        registerRecorder(AppDelegate::welcomeKey);
        for (const auto& key : AppDelegate::panelKeys) {
            registerRecorder(key);
        }
    }
    void TearDown() override {
        NSApplication::shared().setDelegate(nullptr);
        // The real panels and welcome window for the tests that follow.
        registerUtilityPanelStoryboards();
        WelcomeWindowController::registerStoryboard();
    }
};

} // namespace

TEST_F(AppDelegateTest, LaunchShowsPanelsInOrderThenWelcomeAndNoUntitledDocument) {
    auto delegate = std::make_shared<AppDelegate>();
    auto& application = NSApplication::shared();
    ASSERT_EQ(delegate->utilityPanelControllers().size(), 4u);
    EXPECT_TRUE(shown.empty()) << "nothing is shown before launching";

    delegate->applicationWillFinishLaunching(application);
    EXPECT_FALSE(delegate->applicationShouldOpenUntitledFile(application));
    EXPECT_EQ(shown, (std::vector<std::string>{"PresetsPanel", "ToolSettings", "Tools", "Layers",
                                               "Welcome"}));
    EXPECT_TRUE(NSDocumentController::shared().documents().empty());
}

// A program killed with undo history in its file (in the user's cache folder,
// never beside a document) leaves the file; the next launch removes it, and
// only it: neither a look-alike without our mark nor the file of a program
// still running.
TEST_F(AppDelegateTest, LaunchRemovesTheUndoHistoryFileOfAKilledProgram) {
    namespace fs = std::filesystem;
    // The killed program is a fresh process running this body again from the
    // start: it finds the cache folder in the environment.
    constexpr const char* inheritedCache = "VELMORA_KILLED_UNDO_CACHE";
    std::optional<QTemporaryDir> own;
    std::string cache;
    if (const char* inherited = std::getenv(inheritedCache)) {
        cache = inherited;
    } else {
        cache = own.emplace().path().toStdString();
        ::setenv(inheritedCache, cache.c_str(), 1);
    }
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const auto& store = SnapshotStore::shared();
    const size_t budget = store->budget();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            store->setBudget(0);
            const auto kept = store->keep(std::vector<uint8_t>(5000, 7));
            store->waitForMoves();
            ::kill(::getpid(), SIGKILL);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    ::unsetenv(inheritedCache);
    const fs::path folder = fs::path(cache) / "velmora" / "Undo";
    const auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    };
    ASSERT_EQ(names().size(), 1u) << "the killed program's file";
    struct stat made {};
    ASSERT_EQ(::stat(folder.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700u);
    std::ofstream(folder / "velmora-undo-notes") << "Velmora undo history, and more\n";
    store->setBudget(0);
    const auto kept = store->keep(std::vector<uint8_t>(5000, 9));
    store->waitForMoves();
    const auto running = store->filePath();
    ASSERT_TRUE(running);

    auto delegate = std::make_shared<AppDelegate>();
    delegate->applicationWillFinishLaunching(NSApplication::shared());
    EXPECT_EQ(names(), (std::set<std::string>{"velmora-undo-notes", running->filename().string()}));
    EXPECT_EQ(*kept->bytes(), std::vector<uint8_t>(5000, 9));
    store->setBudget(budget);
    ::unsetenv("XDG_CACHE_HOME");
}

TEST_F(AppDelegateTest, FileOnCommandLineThatCannotOpenIsReportedOnce) {
    QTemporaryDir folder;
    const auto missing = std::filesystem::path(folder.path().toStdString()) / "gone.velmora";
    std::vector<std::string> alerts;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        alerts.push_back(alert.messageText);
        return NSAlertFirstButtonReturn;
    });
    auto delegate = std::make_shared<AppDelegate>(std::vector{URL::fileURL(missing, false)});
    delegate->applicationWillFinishLaunching(NSApplication::shared());
    NSAlert::setTestResponder(nullptr);
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(NSDocumentController::shared().documents().empty());
}

TEST_F(AppDelegateTest, ReportBugIsDisabledWithoutHelperAndStartsItOnce) {
    QTemporaryDir folder;
    const std::filesystem::path root = folder.path().toStdString();
    auto delegate = std::make_shared<AppDelegate>();
    delegate->diagnosticsProgram = root / "Velmora Helpers" / "Velmora Diagnostics";
    auto& application = NSApplication::shared();
    application.setDelegate(delegate);
    const auto menu = AppDelegate::makeMainMenu();
    const auto item = reportBugItem(*menu);
    ASSERT_TRUE(item);
    EXPECT_FALSE(application.validate(*item));
    EXPECT_FALSE(application.sendAction(*item));

    std::filesystem::create_directories(delegate->diagnosticsProgram.parent_path());
    const auto marks = root / "marks";
    {
        std::ofstream script(delegate->diagnosticsProgram);
        script << "#!/bin/sh\necho started >> '" << marks.string() << "'\n";
    }
    std::filesystem::permissions(delegate->diagnosticsProgram, std::filesystem::perms::owner_all);
    EXPECT_TRUE(application.validate(*item));
    EXPECT_TRUE(application.sendAction(*item));

    const auto starts = [&] {
        std::ifstream lines(marks);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            count += line == "started" ? 1 : 0;
        }
        return count;
    };
    // The helper's line, not merely its file: the shell may be slow to write it.
    QDeadlineTimer deadline(60000);
    while (starts() == 0 && !deadline.hasExpired()) {
        QThread::msleep(20);
    }
    QThread::msleep(200); // time for a second start, were there one
    EXPECT_EQ(starts(), 1);
}

TEST_F(AppDelegateTest, PreferencesItemOpensOneWindowWithThePane) {
    PreferencesWindowController::registerStoryboard();
    auto delegate = std::make_shared<AppDelegate>();
    auto& application = NSApplication::shared();
    application.setDelegate(delegate);
    const auto menu = AppDelegate::makeMainMenu();
    const auto item = menu->items().front()->submenu()->items().front();
    EXPECT_EQ(item->title(), "Preferences…");
    EXPECT_EQ(item->keyEquivalent(), QKeySequence(QStringLiteral("Ctrl+,")));
    application.setMainMenu(menu);
    ASSERT_TRUE(application.sendAction(*item));
    const auto first = delegate->preferencesWindowController();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->window()->isVisible());
    EXPECT_EQ(first->window()->widget()->menuWidget(), nullptr) << "a panel has no menu bar";
    EXPECT_TRUE(std::dynamic_pointer_cast<PreferencesViewController>(
        first->window()->contentViewController()));
    first->close();
    ASSERT_TRUE(application.sendAction(*item));
    EXPECT_EQ(delegate->preferencesWindowController(), first) << "made once";
    EXPECT_TRUE(first->window()->isVisible());
    first->close();
    application.setMainMenu(nullptr);
}

TEST(CrashPromptTest, ButtonsGiveTheirAnswersAndAnythingElseNone) {
    const std::pair<NSModalResponse, std::optional<UserConfirmation>> cases[] = {
        {NSAlertFirstButtonReturn, UserConfirmation::always},
        {NSAlertSecondButtonReturn, UserConfirmation::send},
        {NSAlertThirdButtonReturn, UserConfirmation::dontSend},
        {NSModalResponseAbort, std::nullopt},
        {NSAlertThirdButtonReturn + 1, std::nullopt},
    };
    for (const auto& [response, answer] : cases) {
        EXPECT_EQ(crashConfirmation(response), answer) << response;
    }
}

TEST(CrashPromptTest, HandlerAsksWithTheThreeButtons) {
    std::vector<std::string> buttons;
    std::string message;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        buttons = alert.buttonTitles();
        message = alert.messageText;
        return NSModalResponseAbort;
    });
    EXPECT_TRUE(makeCrashConfirmationHandler()({"a.crash"}));
    NSAlert::setTestResponder(nullptr);
    EXPECT_EQ(buttons, (std::vector<std::string>{"Always send", "Send", "Don't send"}));
    EXPECT_NE(message.find("has crashed during the previous session."), std::string::npos);
}
