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
    // as) and is no longer edited. A failure is shown in an alert; answers
    // whether the write happened.
    bool save(const URL& url, const std::string& typeName, NSSaveOperationType operation);
    // "saveDocument:": in place when there is a file, else as "saveDocumentAs:".
    bool saveDocument();
    // "saveDocumentAs:": asks for a place in the save panel.
    bool saveDocumentAs();
    // Writes an edited document with a file in place, when it autosaves.
    bool autosaveInPlaceIfNeeded();
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
};

} // namespace velmora
