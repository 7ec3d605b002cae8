#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/MainQueue.hpp"
#include "foundation/Timer.hpp"
#include "foundation/UserDefaults.hpp"
#include "support/SaveProgressWatch.hpp"
#include "support/WriteGate.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <vector>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// A text document whose questions to the user are answered by the test.
class TextDocument : public NSDocument {
public:
    std::string text;
    bool autosaves = true;
    std::deque<SaveChangesAnswer> answers;
    std::optional<SaveDestination> panelAnswer;
    std::vector<std::string> asked; // "question", "panel", the errors shown

    bool autosavesInPlace() const override { return autosaves; }
    bool autosaveMayStartNow() const override { return !busy; }
    bool busy = false;
    void read(const Data& data, const std::string&) override {
        text.assign(data.begin(), data.end());
    }
    Data data(const std::string&) override { return Data(text.begin(), text.end()); }
    void presentError(const std::exception& error) override { asked.push_back(error.what()); }
    SaveChangesAnswer askToSaveChanges() override {
        asked.push_back("question");
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<SaveDestination> runSavePanel() override {
        asked.push_back("panel");
        return panelAnswer;
    }

    // An edit that registers its inverse, ending the event's turn like a user's.
    void edit(const std::string& newText) {
        const auto old = text;
        text = newText;
        undoManager()->registerUndo<TextDocument>(sharedAs<TextDocument>(),
                                                  [old](TextDocument& d) { d.edit(old); });
        QCoreApplication::processEvents();
    }
};

// The same written on the save's thread, past the gate.
class AsyncTextDocument : public TextDocument {
public:
    std::shared_ptr<test::WriteGate> gate = std::make_shared<test::WriteGate>();
    bool canAsynchronouslyWrite(const URL&, const std::string&,
                                NSSaveOperationType) const override {
        return true;
    }
    BackgroundWrite prepareAsynchronousWrite(const URL& url, const std::string& type,
                                             NSSaveOperationType operation) override {
        auto write = TextDocument::prepareAsynchronousWrite(url, type, operation);
        return [gate = gate, write = std::move(write)] {
            gate->pass();
            write();
        };
    }
};

// The same without answers of its own: the alert and panel answer.
class PlainTextDocument : public NSDocument {
public:
    std::string text;
    void read(const Data& data, const std::string&) override {
        text.assign(data.begin(), data.end());
    }
    Data data(const std::string&) override { return Data(text.begin(), text.end()); }
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("velmora-documents-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        UserDefaults::standard().removeObjectForKey(NSDocumentController::recentDocumentsKey);
        controller = std::make_shared<NSDocumentController>();
        controller->registerDocumentType(
            {"public.plain-text", {"txt", "text"}, "text/plain", "Text", true, [] {
                 return std::make_shared<TextDocument>();
             }});
        NSDocument::setAutosaveDelay(15s);
    }
    void TearDown() override {
        TearDownGates();
        std::filesystem::remove_all(folder);
        NSDocument::setAutosaveDelay(15s);
    }

    URL file(const std::string& name, const std::string& text = {}) {
        const auto path = folder / name;
        std::ofstream(path) << text;
        return URL::fileURL(path, false);
    }

    std::shared_ptr<TextDocument> open(const URL& url) {
        std::shared_ptr<NSDocument> opened;
        controller->openDocument(url, false, [&](auto document, bool, std::exception_ptr error) {
            EXPECT_FALSE(error);
            opened = document;
        });
        return std::dynamic_pointer_cast<TextDocument>(opened);
    }
    std::shared_ptr<AsyncTextDocument> openAsync(const URL& url) {
        if (controller->documentType("public.async-text") == nullptr) {
            controller->registerDocumentType(
                {"public.async-text", {"atxt"}, "text/x-async", "Async text", true, [] {
                     return std::make_shared<AsyncTextDocument>();
                 }});
        }
        auto document = std::dynamic_pointer_cast<AsyncTextDocument>(open(url));
        if (document) {
            gates.push_back(document->gate);
        }
        return document;
    }
    void TearDownGates() {
        for (const auto& gate : gates) {
            gate->open(1000); // no save thread stays held by a failed test
        }
    }

    std::vector<std::shared_ptr<test::WriteGate>> gates;

    std::filesystem::path folder;
    std::shared_ptr<NSDocumentController> controller;
};

} // namespace

TEST_F(DocumentTest, EditedExactlyWhileTheUndoPositionDiffersFromTheSavedOne) {
    const auto document = open(file("notes.txt", "a"));
    ASSERT_TRUE(document);
    document->autosaves = false;
    const auto undo = document->undoManager();
    struct Step {
        const char* what;
        std::function<void()> run;
        bool edited;
    };
    const std::vector<Step> steps = {
        {"opened", [] {}, false},
        {"edit", [&] { document->edit("ab"); }, true},
        {"undo", [&] { undo->undo(); }, false},
        {"redo", [&] { undo->redo(); }, true},
        {"save", [&] { document->saveDocument(); }, false},
        {"undo past the save", [&] { undo->undo(); }, true},
        {"redo back to it", [&] { undo->redo(); }, false},
        {"another edit", [&] { document->edit("abc"); }, true},
        {"undo to the save", [&] { undo->undo(); }, false},
        {"undo past the save again", [&] { undo->undo(); }, true},
        {"an edit past the save", [&] { document->edit("x"); }, true},
        {"undo that edit", [&] { undo->undo(); }, true}, // the saved state is gone
        {"save", [&] { document->saveDocument(); }, false},
    };
    for (const auto& step : steps) {
        step.run();
        EXPECT_EQ(document->isDocumentEdited(), step.edited) << step.what;
    }
    EXPECT_EQ(contents(folder / "notes.txt"), "a");
}

TEST_F(DocumentTest, AFailedSaveKeepsTheDocumentEditedAndShowsTheError) {
    const auto document = open(file("draft.txt", "a"));
    document->autosaves = false;
    document->edit("b");
    std::filesystem::remove_all(folder);
    EXPECT_FALSE(document->saveDocument());
    EXPECT_TRUE(document->isDocumentEdited());
    ASSERT_EQ(document->asked.size(), 1u);
    EXPECT_NE(document->asked[0].find("could not be saved"), std::string::npos);
}

TEST_F(DocumentTest, OpeningAnOpenURLGivesItsDocument) {
    const URL url = file("same.txt", "x");
    const auto first = open(url);
    std::filesystem::create_directories(folder / "sub");
    bool wasOpen = false;
    std::shared_ptr<NSDocument> second;
    controller->openDocument(URL::fileURL(folder / "sub" / ".." / "same.txt", false), false,
                             [&](auto document, bool alreadyOpen, std::exception_ptr) {
                                 second = document;
                                 wasOpen = alreadyOpen;
                             });
    EXPECT_EQ(second, first);
    EXPECT_TRUE(wasOpen);
    EXPECT_EQ(controller->documents().size(), 1u);

    std::exception_ptr failure;
    controller->openDocument(file("picture.xyz"), false,
                             [&](auto, bool, std::exception_ptr error) { failure = error; });
    EXPECT_TRUE(failure) << "a type nobody registered";
    EXPECT_EQ(controller->documents().size(), 1u);
}

TEST_F(DocumentTest, RecentDocumentsNewestFirstWithoutDuplicatesAtMostTen) {
    std::vector<URL> urls;
    for (int i = 0; i < 12; ++i) {
        urls.push_back(file("doc" + std::to_string(i) + ".txt"));
        controller->noteNewRecentDocumentURL(urls.back());
    }
    controller->noteNewRecentDocumentURL(urls[5]);
    const auto recent = controller->recentDocumentURLs();
    ASSERT_EQ(recent.size(), 10u);
    EXPECT_EQ(recent[0], urls[5]);
    EXPECT_EQ(recent[1], urls[11]);
    EXPECT_EQ(recent[9], urls[2]);
    EXPECT_EQ(std::ranges::count(recent, urls[5]), 1);
    const auto stored = UserDefaults::standard().arrayForKey("NSRecentDocuments");
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored->front().stringValue(), urls[5].path());

    open(urls[0]);
    EXPECT_EQ(controller->recentDocumentURLs().front(), urls[0]) << "opening notes the file";
    controller->clearRecentDocuments();
    EXPECT_TRUE(controller->recentDocumentURLs().empty());
}

TEST_F(DocumentTest, AnEditedDocumentWithAFileAutosavesAfterTheDelayWithoutAsking) {
    // The timers are fired by hand: the delay is far beyond the test's length.
    const auto document = open(file("auto.txt", "a"));
    EXPECT_EQ(document->autosaveTimer(), nullptr) << "nothing to save";
    document->edit("ab");
    const auto first = document->autosaveTimer();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->timeInterval(), NSDocument::autosaveDelay());
    EXPECT_FALSE(first->repeats());
    document->edit("abc"); // the delay counts from the last change
    const auto last = document->autosaveTimer();
    ASSERT_NE(last, nullptr);
    EXPECT_NE(last, first);
    EXPECT_FALSE(first->isValid());
    EXPECT_TRUE(last->isValid());
    EXPECT_EQ(contents(folder / "auto.txt"), "a");
    last->fire();
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(contents(folder / "auto.txt"), "abc");
    EXPECT_TRUE(document->asked.empty());
    EXPECT_EQ(document->autosaveTimer(), nullptr) << "saved: nothing waits";
}

TEST_F(DocumentTest, AnAutosaveDueDuringAnEditWaitsForItsEnd) {
    const auto document = open(file("busy.txt", "a"));
    document->edit("ab");
    document->busy = true;
    for (int i = 0; i < 3; ++i) {
        const auto due = document->autosaveTimer();
        ASSERT_NE(due, nullptr);
        due->fire();
        EXPECT_EQ(contents(folder / "busy.txt"), "a") << "nothing written while busy";
        EXPECT_TRUE(document->isDocumentEdited());
        const auto again = document->autosaveTimer();
        ASSERT_NE(again, nullptr) << "tried again later";
        EXPECT_NE(again, due);
        EXPECT_EQ(again->timeInterval(), NSDocument::autosaveRetryDelay);
    }
    document->busy = false;
    const auto due = document->autosaveTimer(); // held: the save replaces the document's
    due->fire();
    EXPECT_EQ(contents(folder / "busy.txt"), "ab");
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_EQ(document->autosaveTimer(), nullptr);
}

TEST_F(DocumentTest, ClosingAutosavesInPlaceButAsksForAnUntitledDocument) {
    using Answer = NSDocument::SaveChangesAnswer;
    struct Case {
        const char* what;
        bool hasFile;
        bool autosaves;
        std::optional<Answer> answer;
        bool panelGivesPlace;
        bool closes;
        std::vector<std::string> asked;
        const char* written; // what the file holds afterwards
    };
    const std::vector<Case> cases = {
        {"autosaving with a file", true, true, {}, false, true, {}, "new"},
        {"untitled, Don't Save", false, true, Answer::dontSave, false, true, {"question"}, ""},
        {"untitled, Cancel", false, true, Answer::cancel, false, false, {"question"}, ""},
        {"untitled, Save…", false, true, Answer::save, true, true, {"question", "panel"}, "new"},
        {"untitled, Save… cancelled",
         false,
         true,
         Answer::save,
         false,
         false,
         {"question", "panel"},
         ""},
        {"not autosaving, Save", true, false, Answer::save, false, true, {"question"}, "new"},
    };
    for (const auto& c : cases) {
        const URL url = file("close.txt", "old");
        std::shared_ptr<TextDocument> document;
        if (c.hasFile) {
            document = open(url);
        } else {
            document = std::dynamic_pointer_cast<TextDocument>(
                controller->openUntitledDocumentAndDisplay(false));
            std::filesystem::remove(url.filePath());
        }
        document->autosaves = c.autosaves;
        if (c.answer) {
            document->answers.push_back(*c.answer);
        }
        if (c.panelGivesPlace) {
            document->panelAnswer = NSDocument::SaveDestination{url, "public.plain-text"};
        }
        document->edit("new");
        EXPECT_EQ(document->canClose(), c.closes) << c.what;
        EXPECT_EQ(document->asked, c.asked) << c.what;
        EXPECT_EQ(contents(url.filePath()), c.written) << c.what;
        EXPECT_EQ(document->isDocumentEdited(), std::string(c.written) != "new") << c.what;
        document->close();
    }
    EXPECT_TRUE(controller->documents().empty());
}

TEST_F(DocumentTest, ClosingTheLastWindowAsksTheDocumentAndCloseReleasesIt) {
    auto document =
        std::dynamic_pointer_cast<TextDocument>(controller->openUntitledDocumentAndDisplay(false));
    auto window = std::make_shared<NSWindow>();
    auto windowController = std::make_shared<NSWindowController>(window);
    document->addWindowController(windowController);
    EXPECT_EQ(windowController->document(), document);
    document->showWindows();
    document->edit("unsaved");

    document->answers = {NSDocument::SaveChangesAnswer::cancel,
                         NSDocument::SaveChangesAnswer::dontSave};
    window->performClose();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(controller->documents().size(), 1u);
    window->performClose();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(document->isClosed());
    EXPECT_TRUE(document->windowControllers().empty());
    EXPECT_TRUE(controller->documents().empty());
    std::weak_ptr<TextDocument> gone = document;
    document.reset();
    EXPECT_TRUE(gone.expired()) << "the controller and windows let the document go";
}

TEST_F(DocumentTest, QuitStopsAtTheFirstDocumentThatRefusesAndClosesNone) {
    auto saved = open(file("saved.txt", "s"));
    auto untitled =
        std::dynamic_pointer_cast<TextDocument>(controller->openUntitledDocumentAndDisplay(false));
    untitled->edit("unsaved");
    untitled->answers = {NSDocument::SaveChangesAnswer::cancel};
    EXPECT_FALSE(controller->closeAllDocumentsForTermination());
    EXPECT_EQ(controller->documents().size(), 2u);
    EXPECT_FALSE(saved->isClosed());
    untitled->answers = {NSDocument::SaveChangesAnswer::dontSave};
    EXPECT_TRUE(controller->closeAllDocumentsForTermination());
    EXPECT_TRUE(controller->documents().empty());
}

TEST_F(DocumentTest, TheUntitledQuestionAndTheSavePanelAnswerThroughTheirTestHooks) {
    controller->registerDocumentType({"public.log", {"log"}, "text/x-log", "Log", true, [] {
                                          return std::make_shared<PlainTextDocument>();
                                      }});
    const auto document = std::make_shared<PlainTextDocument>();
    document->setFileType("public.plain-text");
    controller->addDocument(document);
    document->text = "kept";
    document->updateChangeCount(NSDocumentChangeType::changeDone);

    std::vector<std::string> alerts;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        alerts.push_back(alert.messageText + " | " +
                         (alert.buttonTitles().empty() ? "" : alert.buttonTitles().front()));
        return NSAlertFirstButtonReturn; // Save…
    });
    std::vector<std::string> offered;
    NSSavePanel::setTestResponder([&](NSSavePanel& panel) -> std::optional<std::vector<URL>> {
        offered = panel.allowedFileTypes();
        return std::vector<URL>{URL::fileURL(folder / "kept.LOG", false)};
    });
    // Earlier tests' untitled windows took the first numbers.
    const std::string untitled = document->displayName();
    EXPECT_TRUE(untitled.starts_with("Untitled"));
    EXPECT_TRUE(document->canClose());
    NSSavePanel::setTestResponder(nullptr);
    EXPECT_EQ(alerts, std::vector<std::string>{"Do you want to save the changes made to the "
                                               "document \"" +
                                               untitled + "\"? | Save…"});
    EXPECT_EQ(offered, (std::vector<std::string>{"public.plain-text", "public.log"}));
    EXPECT_EQ(document->fileType(), "public.log") << "the type follows the chosen extension";
    EXPECT_EQ(contents(folder / "kept.LOG"), "kept");
    EXPECT_EQ(document->displayName(), "kept");

    // A failed write is shown by its description.
    document->updateChangeCount(NSDocumentChangeType::changeDone);
    std::filesystem::remove_all(folder);
    alerts.clear();
    EXPECT_FALSE(document->saveDocument());
    NSAlert::setTestResponder(nullptr);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].rfind("The document \"kept\" could not be saved", 0), 0u) << alerts[0];
    EXPECT_TRUE(document->isDocumentEdited());
}

TEST_F(DocumentTest, RevertReadsTheFileAgainAndForgetsEveryChange) {
    const auto document = open(file("revert.txt", "saved"));
    document->autosaves = false;
    document->edit("changed");
    ASSERT_TRUE(document->revertToSaved());
    EXPECT_EQ(document->text, "saved");
    EXPECT_FALSE(document->isDocumentEdited());
    EXPECT_FALSE(document->undoManager()->canUndo());
    std::filesystem::remove(folder / "revert.txt");
    document->edit("again");
    EXPECT_FALSE(document->revertToSaved());
    EXPECT_EQ(document->text, "again") << "a failed read keeps the contents";
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_EQ(document->asked.size(), 1u);
}

TEST_F(DocumentTest, TheWindowTitleNamesTheDocumentAndSaysWhenItIsEdited) {
    const auto document = open(file("notes.txt", "a"));
    ASSERT_TRUE(document);
    document->autosaves = false;
    auto windowController = std::make_shared<NSWindowController>();
    auto window = std::make_shared<NSWindow>();
    windowController->setWindowLoader([window] { return window; });
    document->addWindowController(windowController);
    EXPECT_EQ(window->title(), "") << "an unloaded window is left alone";

    windowController->loadWindowIfNeeded();
    const auto shown = [&] { return window->widget()->windowTitle().toStdString(); };
    EXPECT_EQ(shown(), "notes");
    document->edit("ab");
    EXPECT_EQ(shown(), "notes — Edited");
    EXPECT_EQ(window->title(), "notes");
    document->undoManager()->undo();
    EXPECT_EQ(shown(), "notes");

    document->edit("abc");
    document->panelAnswer = NSDocument::SaveDestination{file("renamed.txt"), "public.plain-text"};
    ASSERT_TRUE(document->saveDocumentAs());
    EXPECT_EQ(shown(), "renamed");
}

TEST_F(DocumentTest, AnAsynchronousSaveWritesTheStateItBeganWithAndLaterEditsStayEdited) {
    struct Case {
        const char* what;
        std::function<void(AsyncTextDocument&)> meanwhile; // while "ab" is written
        bool editedAfter;
        const char* fileAfterAutosave;
    };
    const std::vector<Case> cases = {
        {"nothing", [](auto&) {}, false, "ab"},
        {"an edit, and an autosave falls due",
         [](AsyncTextDocument& d) {
             d.edit("abc");
             ASSERT_NE(d.autosaveTimer(), nullptr);
             d.autosaveTimer()->fire();
         },
         true, "abc"},
        {"an edit undone",
         [](AsyncTextDocument& d) {
             d.edit("abc");
             d.undoManager()->undo();
         },
         false, "ab"},
        // The written state lay on the redo stack that the edit threw away.
        {"an undo past the written state, then an edit",
         [](AsyncTextDocument& d) {
             d.undoManager()->undo();
             d.edit("x");
             d.undoManager()->undo();
         },
         true, "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = folder / "draft.atxt";
        const auto document = openAsync(file("draft.atxt", "a"));
        ASSERT_TRUE(document);
        document->edit("ab");
        std::optional<bool> saved;
        document->saveDocument([&](bool written) { saved = written; });
        EXPECT_TRUE(document->isSaving());
        c.meanwhile(*document);
        EXPECT_EQ(contents(path), "a") << "held before writing";

        document->gate->open();
        EXPECT_TRUE(MainQueue::runUntil([&] { return saved.has_value(); }, 60s));
        EXPECT_TRUE(saved.value_or(false));
        EXPECT_EQ(contents(path), "ab");
        EXPECT_EQ(document->isDocumentEdited(), c.editedAfter);

        // The autosave held back, if any, then the one the edited state asks for.
        document->gate->open(2);
        document->waitForSaves();
        if (const auto due = document->autosaveTimer()) {
            due->fire();
            document->waitForSaves();
        }
        EXPECT_EQ(contents(path), c.fileAfterAutosave);
        EXPECT_EQ(contents(path), document->text);
        EXPECT_FALSE(document->isDocumentEdited());
        EXPECT_TRUE(document->asked.empty());
        document->close();
        TearDownGates();
    }
}

TEST_F(DocumentTest, AFailedBackgroundWriteShowsOneAlertOnceKnownAndLeavesTheOldFile) {
    const auto path = folder / "full.atxt";
    const auto document = openAsync(file("full.atxt", "old"));
    document->edit(std::string(64 * 1024, 'n'));
    std::optional<bool> saved;
    document->saveDocument([&](bool written) { saved = written; });
    EXPECT_TRUE(document->asked.empty()) << "nothing known yet";

    // No room beyond 4 KB for this process's files, as on a full disk.
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    document->gate->open();
    const bool ended = MainQueue::runUntil([&] { return saved.has_value(); }, 60s);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, ignored);

    ASSERT_TRUE(ended);
    EXPECT_FALSE(*saved);
    ASSERT_EQ(document->asked.size(), 1u);
    EXPECT_NE(document->asked[0].find("could not be saved"), std::string::npos);
    EXPECT_EQ(contents(path), "old");
    EXPECT_TRUE(document->isDocumentEdited());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary left beside it";
    MainQueue::runUntilIdle();
    EXPECT_EQ(document->asked.size(), 1u) << "shown once";
}

// Closing a window or quitting while a save writes waits for it, showing its
// progress once it takes more than half a second; a quit then also writes
// the edits made while it wrote. The gate opens only from the main thread's
// events, which only the wait with its progress shown handles.
TEST_F(DocumentTest, ClosingAndQuittingWaitForTheSaveInFlightShowingItsProgress) {
    for (const bool quitting : {false, true}) {
        SCOPED_TRACE(quitting ? "quit" : "close");
        const auto path = folder / "close.atxt";
        const auto document = openAsync(file("close.atxt", "old"));
        auto window = std::make_shared<NSWindow>();
        document->addWindowController(std::make_shared<NSWindowController>(window));
        document->showWindows();
        document->edit("new");
        document->performAction("saveDocument:", nullptr);
        if (quitting) {
            document->edit("newer");
        }

        test::SaveProgressWatch watch(document->gate, [&] {
            return std::string(document->isClosed() ? " closed" : " open");
        });
        if (quitting) {
            NSApplication::shared().terminate();
        } else {
            window->performClose();
        }

        const std::string progress = "Saving \"close\"… open";
        const std::vector<std::string> expected(quitting ? 2 : 1, progress);
        EXPECT_EQ(watch.shown, expected);
        EXPECT_TRUE(document->isClosed());
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(contents(path), quitting ? "newer" : "new");
        EXPECT_TRUE(controller->documents().empty());
        EXPECT_TRUE(document->asked.empty());
    }
}
