#include "desktop/NSAlert.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/Timer.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCoreApplication>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
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
