#pragma once

#include "desktop/NSResponder.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/ErrorDescription.hpp"
#include "foundation/URL.hpp"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class NSDocumentSaveQueue;
class NSSavePanel;
class NSWindowController;
class Timer;
class UndoManager;

// How a change moves the document away from (or back to) its saved state.
enum class NSDocumentChangeType {
    changeDone = 0,
    changeUndone = 1,
    changeCleared = 2,
    changeReadOtherContents = 3,
    changeAutosaved = 4,
    changeRedone = 5,
};

enum class NSSaveOperationType {
    saveOperation = 0,
    saveAsOperation = 1,
    saveToOperation = 2,
    autosaveInPlaceOperation = 4,
};

// One open file: its contents, where and as what type it is stored, its
// windows, and its edited state, which follows the undo manager: edited exactly
// while the undo position differs from the saved one (an edit made after undoing
// past the save loses the saved position until the next save).
//
// Reading and writing throw; a failure changes nothing: the document keeps its
// contents, file and edited state, and saving shows the error in an alert.
//
// A document may save asynchronously (canAsynchronouslyWrite): what the file
// needs is taken on the main thread, then the user goes on while the file is
// written on the document's save thread, one save at a time. The file holds the
// document as it was when its save began; edits made meanwhile leave it edited.
// A save that falls due while one writes waits for it; closing, reverting and
// quitting wait for the save in flight.
// Main thread only; made with std::make_shared.
class NSDocument : public NSResponder {
public:
    using Data = std::vector<std::uint8_t>;
    using Interval = std::chrono::duration<double>;

    // The error of an operation the document cannot do, shown as it is described.
    class Error : public std::exception, public DescribedError {
    public:
        explicit Error(ErrorDescription description) : description_(std::move(description)) {}
        const char* what() const noexcept override { return description_.messageText.c_str(); }
        ErrorDescription errorDescription() const override { return description_; }

    private:
        ErrorDescription description_;
    };

    NSDocument();
    ~NSDocument() override;

    std::optional<URL> fileURL() const { return fileURL_; }
    void setFileURL(std::optional<URL> url);
    const std::string& fileType() const { return fileType_; }
    void setFileType(std::string type) { fileType_ = std::move(type); }
    // The name given, else the file's name without its extension, else
    // "Untitled" (numbered from the second untitled document on).
    virtual std::string displayName() const;
    void setDisplayName(std::string name);

    // The document's own undo manager, made on first use. Subclasses may hide it
    // (answer none); the one kept here stays reachable as NSDocument::undoManager().
    std::shared_ptr<UndoManager> undoManager() override;
    virtual void setUndoManager(std::shared_ptr<UndoManager> undoManager);

    bool isDocumentEdited() const { return changeCount_ != 0 || savedStateLost_; }
    void updateChangeCount(NSDocumentChangeType change);

    // The defaults read the file's bytes and hand them to the data reader; the
    // data reader and writer of this base class refuse every type.
    virtual void read(const URL& url, const std::string& typeName);
    virtual void read(const Data& data, const std::string& typeName);
    virtual Data data(const std::string& typeName);
    // Writes `data(ofType:)` atomically.
    virtual void write(const URL& url, const std::string& typeName);

    // Whether this save may be written on the save thread; none may by default.
    virtual bool canAsynchronouslyWrite(const URL& url, const std::string& typeName,
                                        NSSaveOperationType operation) const;
    // The work that writes the file on the save thread; what it needs is taken
    // here, on the main thread, so that later edits cannot change it. The work
    // throws what `write` throws and touches neither the document nor Qt. By
    // default `data(ofType:)` now, written atomically then.
    using BackgroundWrite = std::function<void()>;
    virtual BackgroundWrite prepareAsynchronousWrite(const URL& url, const std::string& typeName,
                                                     NSSaveOperationType operation);

    // Asked of each document (not of the class): whether edits are written back
    // to the file by themselves, some time after the last change, when a window
    // closes and at quit.
    virtual bool autosavesInPlace() const { return false; }
    // The delay after the last change; 15 seconds unless changed (tests).
    static Interval autosaveDelay();
    static void setAutosaveDelay(Interval delay);
    // Whether an autosave that falls due may write now. One that may not is
    // tried again `autosaveRetryDelay` later, until it may: a document says
    // no while an edit is under way, so that a save never holds it up.
    virtual bool autosaveMayStartNow() const { return true; }
    static constexpr Interval autosaveRetryDelay = Interval(0.25);
    // The pending autosave, none when nothing waits; tests fire it by hand.
    const std::shared_ptr<Timer>& autosaveTimer() const { return autosaveTimer_; }

    // Writes the document; on success it takes the URL and type (save, save
    // as) and is no longer edited, but for the edits made since the save began.
    // A failure is shown in an alert. `completion`, when given, is told on the
    // main thread whether the file was written, once it is known.
    using SaveCompletion = std::function<void(bool saved)>;
    void save(const URL& url, const std::string& typeName, NSSaveOperationType operation,
              SaveCompletion completion);
    // The same, waiting for the save's end; answers whether the file was written.
    bool save(const URL& url, const std::string& typeName, NSSaveOperationType operation);
    // "saveDocument:": in place when there is a file, else as "saveDocumentAs:".
    void saveDocument(SaveCompletion completion);
    bool saveDocument();
    // "saveDocumentAs:": asks for a place in the save panel.
    void saveDocumentAs(SaveCompletion completion);
    bool saveDocumentAs();
    // Writes an edited document with a file in place, when it autosaves.
    void autosaveInPlaceIfNeeded(SaveCompletion completion);
    bool autosaveInPlaceIfNeeded();
    // Whether a save is writing or waits for its turn.
    bool isSaving() const;
    // Returns once no save writes nor waits (see NSDocumentSaveQueue::waitUntilIdle).
    void waitForSaves();
    // "revertDocumentToSaved:": reads the file again and forgets every change.
    bool revertToSaved();

    // The save panel's chance to show more (an accessory view); false cancels.
    virtual bool prepareSavePanel(NSSavePanel& panel);
    // The type the save panel's user picked: the writable type of the chosen
    // file's extension, else the document's type.
    virtual std::string fileTypeFromLastRunSavePanel() const;
    // Types this document can be written as: those registered as writable.
    virtual std::vector<std::string> writableTypes() const;

    const std::vector<std::shared_ptr<NSWindowController>>& windowControllers() const {
        return windowControllers_;
    }
    virtual void makeWindowControllers() {}
    void addWindowController(const std::shared_ptr<NSWindowController>& controller);
    void removeWindowController(const std::shared_ptr<NSWindowController>& controller);
    void showWindows();

    // Whether the document may close: an edited one autosaves in place, or asks
    // the user (Save, Don't Save, Cancel) when it cannot.
    bool canClose();
    // The window's closing asks the document when it is its last window.
    void shouldCloseWindowController(NSWindowController& controller,
                                     const std::function<void(bool)>& reply);
    // Closes its windows and leaves the document controller.
    virtual void close();
    bool isClosed() const { return closed_; }

    // Revert to Saved needs a file and changes.
    bool validateMenuItem(const NSMenuItem& item) override;

    // Shows an error of a document operation in a modal alert, as it describes
    // itself (DescribedError) or by what().
    virtual void presentError(const std::exception& error);
    static void presentErrorModally(const std::exception& error);

    enum class SaveChangesAnswer { save, dontSave, cancel };
    // Asks whether to save the changes before closing (Save or Save…, Don't
    // Save, Cancel).
    virtual SaveChangesAnswer askToSaveChanges();
    // Where and as what type to save, from the save panel; none when cancelled.
    struct SaveDestination {
        URL url;
        std::string typeName;
    };
    virtual std::optional<SaveDestination> runSavePanel();

private:
    void observeUndoManager();
    void synchronizeWindowTitles();
    void scheduleAutosave();
    void scheduleAutosave(Interval delay);
    void autosaveFallsDue();
    // Runs `work` once no save writes: at once, or after the save in flight.
    void whenNotSaving(std::function<void()> work);
    // A save that is its turn: written now, or handed to the save thread.
    void startSave(const URL& url, const std::string& typeName, NSSaveOperationType operation,
                   SaveCompletion completion);
    // The end of a written save: the document takes the state it held when
    // the save began (`changeCountAtStart` changes from the saved one).
    void didSave(const URL& url, const std::string& typeName, NSSaveOperationType operation,
                 long long changeCountAtStart, bool savedStateLostSinceStart);
    NSDocumentSaveQueue& saveQueue();

    std::optional<URL> fileURL_;
    std::string fileType_;
    std::string displayName_;
    int untitledNumber_ = 0;
    std::shared_ptr<UndoManager> undoManager_;
    std::vector<NotificationCenter::ObserverToken> undoObservers_;
    long long changeCount_ = 0;
    bool savedStateLost_ = false;
    std::vector<std::shared_ptr<NSWindowController>> windowControllers_;
    std::shared_ptr<Timer> autosaveTimer_;
    std::optional<URL> lastSavePanelURL_;
    bool closed_ = false;
    std::shared_ptr<NSDocumentSaveQueue> saveQueue_;
    // The state the save in flight writes, as changes from the saved state, and
    // whether an edit since has thrown it away (made while undone past it).
    std::optional<long long> writingChangeCount_;
    bool writtenStateLost_ = false;
    bool autosaveHeldBack_ = false;
    bool closing_ = false;
};

} // namespace velmora
