#include "desktop/NSDocument.hpp"

#include "desktop/NSAlert.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSDocumentSaveQueue.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/UndoManager.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/Timer.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace velmora {

namespace {

NSDocument::Interval& autosaveDelayValue() {
    static NSDocument::Interval delay{15.0};
    return delay;
}

int nextUntitledNumber() {
    static int next = 0;
    return ++next;
}

std::string fileName(const URL& url) {
    return url.filePath().stem().string();
}

NSDocument::Error saveError(const std::string& displayName, const URL& url,
                            const std::exception& error) {
    return NSDocument::Error({"The document \"" + displayName + "\" could not be saved as \"" +
                                  url.lastPathComponent() + "\".",
                              error.what()});
}

// The error a save's thread threw, shown by the document.
void presentFailure(NSDocument& document, const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        document.presentError(error);
    } catch (...) {
        document.presentError(NSDocument::Error(
            {"The document \"" + document.displayName() + "\" could not be saved.", ""}));
    }
}

} // namespace

NSDocument::NSDocument() {
    // Menu saves do not wait for their writing.
    setAction("saveDocument:", [this](NSObject*) { saveDocument(SaveCompletion()); });
    setAction("saveDocumentAs:", [this](NSObject*) { saveDocumentAs(SaveCompletion()); });
    setAction("revertDocumentToSaved:", [this](NSObject*) { revertToSaved(); });
}

bool NSDocument::validateMenuItem(const NSMenuItem& item) {
    if (item.action() == "revertDocumentToSaved:") {
        return fileURL_.has_value() && isDocumentEdited();
    }
    return true;
}

NSDocument::~NSDocument() {
    if (autosaveTimer_) {
        autosaveTimer_->invalidate();
    }
}

std::string NSDocument::displayName() const {
    if (!displayName_.empty()) {
        return displayName_;
    }
    if (fileURL_) {
        return fileName(*fileURL_);
    }
    auto& self = const_cast<NSDocument&>(*this);
    if (self.untitledNumber_ == 0) {
        self.untitledNumber_ = nextUntitledNumber();
    }
    return untitledNumber_ == 1 ? "Untitled" : "Untitled " + std::to_string(untitledNumber_);
}

void NSDocument::setFileURL(std::optional<URL> url) {
    fileURL_ = std::move(url);
    synchronizeWindowTitles();
}

void NSDocument::setDisplayName(std::string name) {
    displayName_ = std::move(name);
    synchronizeWindowTitles();
}

void NSDocument::synchronizeWindowTitles() {
    for (const auto& controller : windowControllers_) {
        controller->synchronizeWindowTitleWithDocumentName();
    }
}

std::shared_ptr<UndoManager> NSDocument::undoManager() {
    if (!undoManager_) {
        undoManager_ = std::make_shared<UndoManager>();
        observeUndoManager();
    }
    return undoManager_;
}

void NSDocument::setUndoManager(std::shared_ptr<UndoManager> undoManager) {
    undoManager_ = std::move(undoManager);
    observeUndoManager();
}

void NSDocument::observeUndoManager() {
    undoObservers_.clear();
    if (!undoManager_) {
        return;
    }
    auto& center = NotificationCenter::defaultCenter();
    const struct {
        const char* name;
        NSDocumentChangeType change;
    } links[] = {
        {UndoManager::didCloseUndoGroupNotification, NSDocumentChangeType::changeDone},
        {UndoManager::didUndoChangeNotification, NSDocumentChangeType::changeUndone},
        {UndoManager::didRedoChangeNotification, NSDocumentChangeType::changeRedone},
    };
    for (const auto& link : links) {
        undoObservers_.push_back(center.addObserver(
            link.name, undoManager_.get(), std::nullopt,
            [this, change = link.change](const Notification&) { updateChangeCount(change); }));
    }
}

void NSDocument::updateChangeCount(NSDocumentChangeType change) {
    switch (change) {
    case NSDocumentChangeType::changeDone:
    case NSDocumentChangeType::changeRedone:
        // A new edit while the saved state lies on the redo stack throws it
        // away; so it does with the state a save is writing.
        if (change == NSDocumentChangeType::changeDone && changeCount_ < 0) {
            savedStateLost_ = true;
        }
        if (change == NSDocumentChangeType::changeDone && writingChangeCount_ &&
            changeCount_ < *writingChangeCount_) {
            writtenStateLost_ = true;
        }
        ++changeCount_;
        break;
    case NSDocumentChangeType::changeUndone:
        --changeCount_;
        break;
    case NSDocumentChangeType::changeCleared:
    case NSDocumentChangeType::changeReadOtherContents:
    case NSDocumentChangeType::changeAutosaved:
        changeCount_ = 0;
        savedStateLost_ = false;
        // The state being written is no longer known from this one.
        writtenStateLost_ = writingChangeCount_.has_value();
        break;
    }
    synchronizeWindowTitles();
    scheduleAutosave();
}

NSDocument::Interval NSDocument::autosaveDelay() {
    return autosaveDelayValue();
}

void NSDocument::setAutosaveDelay(Interval delay) {
    autosaveDelayValue() = delay;
}

void NSDocument::scheduleAutosave() {
    scheduleAutosave(autosaveDelay());
}

void NSDocument::scheduleAutosave(Interval delay) {
    if (autosaveTimer_) {
        autosaveTimer_->invalidate();
        autosaveTimer_.reset();
    }
    if (!isDocumentEdited() || !fileURL_ || !autosavesInPlace()) {
        return;
    }
    autosaveTimer_ = Timer::scheduledTimer(delay, false, [weak = weakAs<NSDocument>()](Timer&) {
        if (const auto self = weak.lock()) {
            self->autosaveFallsDue();
        }
    });
}

void NSDocument::autosaveFallsDue() {
    if (saveQueue_ && !saveQueue_->isIdle()) {
        // Once, after the save in flight; the edits it left are written then.
        if (!autosaveHeldBack_) {
            autosaveHeldBack_ = true;
            saveQueue_->whenIdle([self = sharedAs<NSDocument>()] {
                self->autosaveHeldBack_ = false;
                self->autosaveFallsDue();
            });
        }
        return;
    }
    if (!autosaveMayStartNow()) {
        scheduleAutosave(std::min(autosaveRetryDelay, autosaveDelay()));
        return;
    }
    autosaveInPlaceIfNeeded(SaveCompletion());
}

void NSDocument::read(const URL& url, const std::string& typeName) {
    std::ifstream file(url.filePath(), std::ios::binary);
    if (!file) {
        throw Error({"The document \"" + url.lastPathComponent() + "\" could not be opened.",
                     "The file does not exist or cannot be read."});
    }
    Data bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        throw Error({"The document \"" + url.lastPathComponent() + "\" could not be opened.",
                     "The file cannot be read."});
    }
    read(bytes, typeName);
}

void NSDocument::read(const Data&, const std::string& typeName) {
    throw Error({"The document could not be opened.",
                 "Documents of type " + typeName + " cannot be read."});
}

NSDocument::Data NSDocument::data(const std::string& typeName) {
    throw Error({"The document could not be saved.",
                 "Documents of type " + typeName + " cannot be written."});
}

void NSDocument::write(const URL& url, const std::string& typeName) {
    const Data bytes = data(typeName);
    try {
        writeFileAtomically(url.filePath(), bytes, 0644);
    } catch (const std::exception& error) {
        throw saveError(displayName(), url, error);
    }
}

bool NSDocument::canAsynchronouslyWrite(const URL&, const std::string&, NSSaveOperationType) const {
    return false;
}

NSDocument::BackgroundWrite NSDocument::prepareAsynchronousWrite(const URL& url,
                                                                 const std::string& typeName,
                                                                 NSSaveOperationType) {
    auto bytes = std::make_shared<const Data>(data(typeName));
    return [bytes = std::move(bytes), url, name = displayName()] {
        try {
            writeFileAtomically(url.filePath(), *bytes, 0644);
        } catch (const std::exception& error) {
            throw saveError(name, url, error);
        }
    };
}

NSDocumentSaveQueue& NSDocument::saveQueue() {
    if (!saveQueue_) {
        saveQueue_ = std::make_shared<NSDocumentSaveQueue>();
    }
    return *saveQueue_;
}

void NSDocument::whenNotSaving(std::function<void()> work) {
    if (saveQueue_) {
        saveQueue_->whenIdle(std::move(work));
    } else {
        work();
    }
}

void NSDocument::save(const URL& url, const std::string& typeName, NSSaveOperationType operation,
                      SaveCompletion completion) {
    whenNotSaving([self = sharedAs<NSDocument>(), url, typeName, operation,
                   completion = std::move(completion)] {
        self->startSave(url, typeName, operation, completion);
    });
}

void NSDocument::startSave(const URL& url, const std::string& typeName,
                           NSSaveOperationType operation, SaveCompletion completion) {
    const auto tell = [&](bool saved) {
        if (completion) {
            completion(saved);
        }
    };
    if (!canAsynchronouslyWrite(url, typeName, operation)) {
        try {
            write(url, typeName);
        } catch (const std::exception& error) {
            presentError(error);
            tell(false);
            return;
        }
        didSave(url, typeName, operation, changeCount_, false);
        tell(true);
        return;
    }
    BackgroundWrite work;
    try {
        work = prepareAsynchronousWrite(url, typeName, operation);
    } catch (const std::exception& error) {
        presentError(error);
        tell(false);
        return;
    }
    writingChangeCount_ = changeCount_;
    writtenStateLost_ = false;
    // The document stays until its save's end is handled.
    saveQueue().start(std::move(work), [self = sharedAs<NSDocument>(), url, typeName, operation,
                                        completion](std::exception_ptr failure) {
        const long long count = self->writingChangeCount_.value_or(0);
        const bool lost = self->writtenStateLost_;
        self->writingChangeCount_.reset();
        self->writtenStateLost_ = false;
        if (failure) {
            presentFailure(*self, failure);
        } else {
            self->didSave(url, typeName, operation, count, lost);
        }
        if (completion) {
            completion(!failure);
        }
    });
}

void NSDocument::didSave(const URL& url, const std::string& typeName, NSSaveOperationType operation,
                         long long changeCountAtStart, bool savedStateLostSinceStart) {
    if (operation == NSSaveOperationType::saveToOperation) {
        return;
    }
    const bool moved = fileURL_ != url;
    fileURL_ = url;
    fileType_ = typeName;
    if (moved) {
        displayName_.clear();
    }
    // The file holds the state the save began with; what was done since stays to do.
    changeCount_ -= changeCountAtStart;
    savedStateLost_ = savedStateLostSinceStart;
    synchronizeWindowTitles();
    scheduleAutosave();
    if (operation != NSSaveOperationType::autosaveInPlaceOperation) {
        NSDocumentController::shared().noteNewRecentDocument(*this);
    }
}

bool NSDocument::save(const URL& url, const std::string& typeName, NSSaveOperationType operation) {
    std::optional<bool> saved;
    save(url, typeName, operation, [&saved](bool written) { saved = written; });
    waitForSaves();
    return saved.value_or(false);
}

void NSDocument::saveDocument(SaveCompletion completion) {
    // Decided in its turn: a save as in flight gives the document its file.
    whenNotSaving([self = sharedAs<NSDocument>(), completion = std::move(completion)] {
        if (!self->fileURL_) {
            self->saveDocumentAs(completion);
            return;
        }
        self->startSave(*self->fileURL_, self->fileType_, NSSaveOperationType::saveOperation,
                        completion);
    });
}

bool NSDocument::saveDocument() {
    std::optional<bool> saved;
    saveDocument([&saved](bool written) { saved = written; });
    waitForSaves();
    return saved.value_or(false);
}

void NSDocument::saveDocumentAs(SaveCompletion completion) {
    const auto destination = runSavePanel();
    if (!destination) {
        if (completion) {
            completion(false);
        }
        return;
    }
    save(destination->url, destination->typeName, NSSaveOperationType::saveAsOperation,
         std::move(completion));
}

bool NSDocument::saveDocumentAs() {
    std::optional<bool> saved;
    saveDocumentAs([&saved](bool written) { saved = written; });
    waitForSaves();
    return saved.value_or(false);
}

void NSDocument::autosaveInPlaceIfNeeded(SaveCompletion completion) {
    whenNotSaving([self = sharedAs<NSDocument>(), completion = std::move(completion)] {
        if (!self->isDocumentEdited() || !self->fileURL_ || !self->autosavesInPlace()) {
            if (completion) {
                completion(true);
            }
            return;
        }
        self->startSave(*self->fileURL_, self->fileType_,
                        NSSaveOperationType::autosaveInPlaceOperation, completion);
    });
}

bool NSDocument::autosaveInPlaceIfNeeded() {
    std::optional<bool> saved;
    autosaveInPlaceIfNeeded([&saved](bool written) { saved = written; });
    waitForSaves();
    return saved.value_or(false);
}

bool NSDocument::isSaving() const {
    return saveQueue_ && !saveQueue_->isIdle();
}

void NSDocument::waitForSaves() {
    if (!saveQueue_) {
        return;
    }
    QWidget* parent = nullptr;
    for (const auto& controller : windowControllers_) {
        if (controller->isWindowLoaded() && controller->window()->isVisible()) {
            parent = controller->window()->widget();
            break;
        }
    }
    saveQueue_->waitUntilIdle("Saving \"" + displayName() + "\"…", parent);
}

bool NSDocument::revertToSaved() {
    if (!fileURL_) {
        return false;
    }
    // The file read is the one the save in flight leaves.
    waitForSaves();
    try {
        read(*fileURL_, fileType_);
    } catch (const std::exception& error) {
        presentError(error);
        return false;
    }
    if (undoManager_) {
        undoManager_->removeAllActions();
    }
    updateChangeCount(NSDocumentChangeType::changeCleared);
    return true;
}

bool NSDocument::prepareSavePanel(NSSavePanel&) {
    return true;
}

std::string NSDocument::fileTypeFromLastRunSavePanel() const {
    if (lastSavePanelURL_) {
        const auto& controller = NSDocumentController::shared();
        std::string extension = lastSavePanelURL_->pathExtension();
        std::ranges::transform(extension, extension.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (const auto& identifier : writableTypes()) {
            const auto* type = controller.documentType(identifier);
            if (type != nullptr &&
                std::ranges::find(type->extensions, extension) != type->extensions.end()) {
                return identifier;
            }
        }
    }
    return fileType_;
}

std::vector<std::string> NSDocument::writableTypes() const {
    std::vector<std::string> types;
    for (const auto& type : NSDocumentController::shared().documentTypes()) {
        if (type.writable) {
            types.push_back(type.identifier);
        }
    }
    return types;
}

void NSDocument::addWindowController(const std::shared_ptr<NSWindowController>& controller) {
    if (!controller ||
        std::ranges::find(windowControllers_, controller) != windowControllers_.end()) {
        return;
    }
    windowControllers_.push_back(controller);
    controller->setDocument(sharedAs<NSDocument>());
    const auto weak = weakAs<NSDocument>();
    controller->shouldCloseHandler = [weak](NSWindowController& closing,
                                            std::function<void(bool)> reply) {
        if (const auto self = weak.lock()) {
            self->shouldCloseWindowController(closing, reply);
        } else {
            reply(true);
        }
    };
    controller->willCloseHandler = [weak](NSWindowController& closing) {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        const auto held = closing.sharedAs<NSWindowController>();
        self->removeWindowController(held);
        if (self->windowControllers_.empty() && !self->closed_) {
            self->close();
        }
    };
}

void NSDocument::removeWindowController(const std::shared_ptr<NSWindowController>& controller) {
    const auto found = std::ranges::find(windowControllers_, controller);
    if (found == windowControllers_.end()) {
        return;
    }
    const auto held = *found;
    windowControllers_.erase(found);
    held->shouldCloseHandler = nullptr;
    held->willCloseHandler = nullptr;
    held->setDocument({});
}

void NSDocument::showWindows() {
    for (const auto& controller : std::vector(windowControllers_)) {
        controller->showWindow(this);
    }
}

bool NSDocument::canClose() {
    // A close already waiting for this document's save answers for both.
    if (closing_) {
        return false;
    }
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{closing_};
    waitForSaves();
    if (!isDocumentEdited()) {
        return true;
    }
    if (autosavesInPlace() && fileURL_) {
        return autosaveInPlaceIfNeeded();
    }
    switch (askToSaveChanges()) {
    case SaveChangesAnswer::save:
        return saveDocument();
    case SaveChangesAnswer::dontSave:
        return true;
    case SaveChangesAnswer::cancel:
        return false;
    }
    return false;
}

void NSDocument::shouldCloseWindowController(NSWindowController& controller,
                                             const std::function<void(bool)>& reply) {
    const bool last =
        windowControllers_.size() == 1 && windowControllers_.front().get() == &controller;
    reply(!last || canClose());
}

void NSDocument::close() {
    if (closed_) {
        return;
    }
    const auto keep = sharedAs<NSDocument>();
    waitForSaves();
    if (closed_) {
        return;
    }
    closed_ = true;
    if (autosaveTimer_) {
        autosaveTimer_->invalidate();
        autosaveTimer_.reset();
    }
    for (const auto& controller : std::vector(windowControllers_)) {
        removeWindowController(controller);
        controller->close();
    }
    NSDocumentController::shared().removeDocument(this);
}

void NSDocument::presentError(const std::exception& error) {
    presentErrorModally(error);
}

void NSDocument::presentErrorModally(const std::exception& error) {
    if (dynamic_cast<const NSPresentedError*>(&error) != nullptr) {
        return; // its thrower has shown it already
    }
    NSAlert alert;
    alert.messageText = error.what();
    if (const auto* described = dynamic_cast<const DescribedError*>(&error)) {
        const ErrorDescription description = described->errorDescription();
        alert.messageText = description.messageText;
        alert.informativeText = description.informativeText;
    }
    alert.runModal();
}

NSDocument::SaveChangesAnswer NSDocument::askToSaveChanges() {
    NSAlert alert;
    alert.messageText =
        "Do you want to save the changes made to the document \"" + displayName() + "\"?";
    alert.informativeText = "Your changes will be lost if you don't save them.";
    const NSModalResponse save = alert.addButtonWithTitle(fileURL_ ? "Save" : "Save…");
    const NSModalResponse dontSave = alert.addButtonWithTitle("Don't Save");
    alert.addButtonWithTitle("Cancel");
    const NSModalResponse answer = alert.runModal();
    if (answer == save) {
        return SaveChangesAnswer::save;
    }
    return answer == dontSave ? SaveChangesAnswer::dontSave : SaveChangesAnswer::cancel;
}

std::optional<NSDocument::SaveDestination> NSDocument::runSavePanel() {
    const auto panel = NSSavePanel::savePanel();
    panel->nameFieldStringValue = displayName();
    panel->setAllowedFileTypes(writableTypes());
    if (fileURL_) {
        panel->directoryURL = fileURL_->deletingLastPathComponent();
    }
    if (!prepareSavePanel(*panel) || panel->runModal() != NSModalResponseOK || !panel->url()) {
        return std::nullopt;
    }
    lastSavePanelURL_ = panel->url();
    return SaveDestination{*panel->url(), fileTypeFromLastRunSavePanel()};
}

} // namespace velmora
