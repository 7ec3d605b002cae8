#include "Document/Document.hpp"

#include "App/AppLogHandles.hpp"
#include "App/Preferences.hpp"
#include "Document/DocumentConversionController.hpp"
#include "Document/DocumentConversionDecision.hpp"
#include "Document/DocumentError.hpp"
#include "Document/DocumentVersionsBrowser.hpp"
#include "Document/FlatExport.hpp"
#include "Document/ImageDropHandler.hpp"
#include "Document/ImageImport.hpp"
#include "Document/NativeDocument.hpp"
#include "Document/OpenSaveStoryboard.hpp"
#include "Document/SaveAccessoryViewController.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Extensions/AppKitExtensions.hpp"
#include "coding/PropertyListError.hpp"
#include "desktop/NSMenuItem.hpp"
#include "desktop/NSPresentedError.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/UndoManager.hpp"
#include "desktop/VersionStore.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/FatalError.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <system_error>

namespace velmora {

namespace fs = std::filesystem;

namespace {

// The whole file in one read of its size.
NSDocument::Data readFile(const URL& url) {
    const auto fail = [&](const std::string& why) {
        return NSDocument::Error(
            {"The document \"" + url.lastPathComponent() + "\" could not be opened.", why});
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(url.path().c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        throw fail("The file does not exist or cannot be read.");
    }
    std::error_code error;
    const auto size = fs::file_size(url.filePath(), error);
    if (error || !fs::is_regular_file(url.filePath())) {
        throw fail("The file cannot be read.");
    }
    NSDocument::Data bytes(size);
    if (size != 0 && std::fread(bytes.data(), 1, size, file.get()) != size) {
        throw fail("The file cannot be read.");
    }
    return bytes;
}

// A native document is read whole into memory of its own, never mapped:
// another program may cut the file short or write into it while it is open,
// and its patches' stored bytes, views into that memory, are read again by
// every save and by the undo of a layer's removal.
std::shared_ptr<LayeredCanvas> readNativeCanvas(const URL& url) {
    const auto start = std::chrono::steady_clock::now();
    SharedBytes bytes;
    try {
        bytes = SharedBytes::readFile(url.filePath());
    } catch (const std::system_error&) {
        const bool exists = fs::exists(url.filePath());
        throw NSDocument::Error(
            {"The document \"" + url.lastPathComponent() + "\" could not be opened.",
             exists ? "The file cannot be read." : "The file does not exist or cannot be read."});
    }
    const auto read = std::chrono::steady_clock::now();
    CanvasArchive::ReadSteps steps;
    auto canvas = NativeDocument::readCanvas(bytes, &steps);
    const auto seconds = [](auto a, auto b) {
        return std::chrono::duration<double>(b - a).count();
    };
    logFileResources().log(
        "Read %{public}@ (%f MB) in %f s: file %f s, archive %f s, layers %f s, pixels %f s",
        url.lastPathComponent(), double(bytes.size()) / 1e6,
        seconds(start, std::chrono::steady_clock::now()), seconds(start, read), steps.archive,
        steps.layers, steps.pixels);
    return canvas;
}

DocumentFileType fileTypeOrThrow(const std::string& typeName) {
    const auto type = DocumentFileTypes::fileType(typeName);
    if (!type) {
        throw DocumentError::unsupportedFormat();
    }
    return *type;
}

} // namespace

Document::Document() : versionStore(VersionStore::standard()) {
    setAction("browseDocumentVersions:", [this](NSObject*) { browseVersions(); });
}

Document::~Document() = default;

std::shared_ptr<LayeredCanvas> Document::layeredCanvas() const {
    if (!content_) {
        return nullptr;
    }
    const auto* canvas = std::get_if<std::shared_ptr<LayeredCanvas>>(&*content_);
    return canvas ? *canvas : nullptr;
}

std::shared_ptr<PreviewCanvas> Document::previewCanvas() const {
    if (!content_) {
        return nullptr;
    }
    const auto* preview = std::get_if<std::shared_ptr<PreviewCanvas>>(&*content_);
    return preview ? *preview : nullptr;
}

void Document::setContent(std::optional<Content> content) {
    content_ = std::move(content);
    if (const auto canvas = layeredCanvas()) {
        const std::weak_ptr<Document> weak = sharedAs<Document>();
        imageDropHandler_ = std::make_shared<ImageDropHandler>(
            canvas,
            [weak](const std::exception& error) {
                if (const auto self = weak.lock()) {
                    self->runAlert(error);
                }
            },
            [weak]() -> std::shared_ptr<RegistrationUndoManager> {
                const auto self = weak.lock();
                return self ? self->NSDocument::undoManager() : nullptr;
            });
    } else {
        imageDropHandler_.reset();
    }
    delegates | [this](DocumentDelegate& delegate) { delegate.documentContentDidChange(*this); };
}

namespace {

void ensureOpenSaveStoryboard() {
    if (!NSStoryboard::hasController("OpenSave", "SaveAccessoryView")) {
        registerOpenSaveStoryboard();
    }
}

} // namespace

SaveAccessoryViewController& Document::accessoryViewController() {
    if (!accessoryViewController_) {
        ensureOpenSaveStoryboard();
        accessoryViewController_ =
            instantiateController<SaveAccessoryViewController>("OpenSave", "SaveAccessoryView");
        accessoryViewController_->writableTypes = writableTypes();
    }
    return *accessoryViewController_;
}

DocumentConversionController& Document::conversionController() {
    if (!conversionController_) {
        ensureOpenSaveStoryboard();
        conversionController_ = instantiateController<DocumentConversionController>(
            "OpenSave", "DocumentFormatConversionPanel");
    }
    return *conversionController_;
}

void Document::makeWindowControllers() {
    if (!NSStoryboard::hasController("Document", "Document Window Controller")) {
        registerDocumentStoryboard();
    }
    const auto controller =
        instantiateController<NSWindowController>("Document", "Document Window Controller");
    addWindowController(controller);
    const auto content = controller->contentViewController();
    if (!content) {
        fatalError("The document window has no content view controller");
    }
    content->setRepresentedObject(sharedAs<Document>());
}

bool Document::autosavesInPlace() const {
    return fileType() == DocumentFileTypes::identifier(FileType::velmora);
}

std::vector<std::string> Document::writableTypes() const {
    return DocumentFileTypes::writableIdentifiers();
}

std::string Document::fileTypeFromLastRunSavePanel() const {
    auto& accessory = const_cast<Document&>(*this).accessoryViewController();
    const auto identifier = accessory.selectedIdentifier();
    if (!identifier || !DocumentFileTypes::fileType(*identifier)) {
        fatalError("The save panel's format is none of the document types");
    }
    return *identifier;
}

void Document::read(const URL& url, const std::string& typeName) {
    // Only a first read opens the file for editing: a revert or a reload
    // replaces content that is there already.
    const bool opening = !content_ && !viewingMode_;
    try {
        const FileType type = fileTypeOrThrow(typeName);
        if (type == FileType::velmora && !viewingMode_) {
            setContent(readNativeCanvas(url));
        } else {
            read(readFile(url), typeName);
        }
        if (opening && shouldConvertOpenedDocument(type, Preferences::shared(), [&] {
                return conversionController().runModal(url);
            })) {
            convertToNativeType();
        }
    } catch (const std::exception& error) {
        if (!modalErrorOpenHandler) {
            throw;
        }
        runAlert(error);
        throw NSPresentedError(std::current_exception());
    }
}

void Document::read(const Data& data, const std::string& typeName) {
    setContent(contentOf(data, fileTypeOrThrow(typeName), viewingMode_));
}

Document::Content Document::contentOf(const Data& data, FileType type, bool viewing) const {
    const bool native = type == FileType::velmora;
    if (viewing) {
        if (native) {
            return NativeDocument::readPreviewCanvas(data);
        }
        return std::make_shared<PreviewCanvas>(*ImageImport::bitmap(
            data, ImageImport::CheckOrder::formatFirst, DocumentError::Kind::unsupportedFormat));
    }
    if (native) {
        return NativeDocument::readCanvas(data);
    }
    const auto bitmap = ImageImport::bitmap(data, ImageImport::CheckOrder::formatFirst,
                                            DocumentError::Kind::unsupportedFormat);
    return LayeredCanvas::make(*bitmap, displayName());
}

Document::Flattened Document::flattened(const std::string& typeName) const {
    const auto canvas = layeredCanvas();
    if (!canvas) {
        throw DocumentError::missingCanvas();
    }
    const auto provider = bitmapProvider();
    if (!provider) {
        throw DocumentError::missingCanvas();
    }
    // Refused before the canvas is flattened, which costs a read-back.
    const auto type = DocumentFileTypes::fileType(typeName);
    if (!type || !DocumentFileTypes::isWritable(*type)) {
        throw DocumentError::unsupportedFormat();
    }
    return {canvas, provider->bitmap(), *type};
}

NSDocument::Data Document::data(const std::string& typeName) {
    const Flattened flat = flattened(typeName);
    if (flat.type == FileType::velmora) {
        return NativeDocument::data(*flat.canvas, flat.bitmap);
    }
    return FlatExport::data(*flat.bitmap, flat.type);
}

void Document::write(const URL& url, const std::string& typeName) {
    prepareAsynchronousWrite(url, typeName, NSSaveOperationType::saveToOperation)();
}

bool Document::canAsynchronouslyWrite(const URL&, const std::string&, NSSaveOperationType) const {
    return true;
}

namespace {

double secondsBetween(std::chrono::steady_clock::time_point a,
                      std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// A native document's file streamed through a temporary file, the version of
// the file it replaces kept meanwhile, as VersionStore::replaceFile keeps it.
void writeNative(const URL& url, CanvasArchive::PreparedWrite& canvas,
                 const std::shared_ptr<NSBitmapImageRep>& flattened,
                 const std::shared_ptr<VersionStore>& store, CanvasArchive::WriteSteps& steps) {
    if (!store) {
        NativeDocument::write(url.filePath(), canvas, flattened, &steps);
        return;
    }
    auto keeping = std::async(std::launch::async, [&]() -> std::string {
        try {
            store->keepVersion(url);
            return {};
        } catch (const std::exception& error) {
            return error.what();
        }
    });
    NativeDocument::write(url.filePath(), canvas, flattened, &steps,
                          [&](const fs::path& temporary) {
                              // The version is whole before the file it keeps is replaced.
                              if (const std::string failure = keeping.get(); !failure.empty()) {
                                  logFileResources().error("No version of %{public}@ was kept: "
                                                           "%{public}@",
                                                           url.path(), failure);
                              }
                              store->adoptIdentity(url, temporary);
                          });
}

} // namespace

// Only the canvas's changed strips are copied here, and the canvas
// flattened: the patches' TIFFs, the previews, the archive and the file are
// made on the save's thread from bytes no later edit changes.
NSDocument::BackgroundWrite Document::prepareAsynchronousWrite(const URL& url,
                                                               const std::string& typeName,
                                                               NSSaveOperationType) {
    const auto start = std::chrono::steady_clock::now();
    const Flattened flat = flattened(typeName);
    const auto read = std::chrono::steady_clock::now();
    auto steps = std::make_shared<CanvasArchive::WriteSteps>();
    std::shared_ptr<CanvasArchive::PreparedWrite> canvas;
    if (flat.type == FileType::velmora) {
        canvas = std::make_shared<CanvasArchive::PreparedWrite>(
            *flat.canvas, steps.get(), CanvasArchive::PreparedWrite::Patches::encodedByWrite);
    }
    const double mainThread = secondsBetween(start, std::chrono::steady_clock::now());
    const double flattening = secondsBetween(start, read);
    // Neither the canvas nor the document: only what the file is made of.
    return [url, name = displayName(), store = versionStore, type = flat.type, bitmap = flat.bitmap,
            canvas = std::move(canvas), steps, mainThread, flattening] {
        const auto began = std::chrono::steady_clock::now();
        const auto started = std::chrono::system_clock::now();
        // Named by the document and its file, never by the hidden temporary.
        const auto failed = [&](const std::exception& error) {
            return Error({"The document \"" + name + "\" could not be saved as \"" +
                              url.lastPathComponent() + "\".",
                          error.what()});
        };
        try {
            if (type == FileType::velmora) {
                writeNative(url, *canvas, bitmap, store, *steps);
            } else if (const Data bytes = FlatExport::data(*bitmap, type); store) {
                store->replaceFile(url, bytes);
            } else {
                writeFileAtomically(url.filePath(), bytes, 0644);
            }
        } catch (const std::system_error& error) {
            throw failed(error);
        } catch (const PropertyListError& error) {
            if (error.code() != PropertyListError::Code::fileError) {
                throw;
            }
            throw failed(error);
        }
        logFileResources().log(
            "Wrote %{public}@: on the main thread %f s (flattened canvas %f s, patches %f s, "
            "archive %f s), then on the save's thread %f s (waiting for the previews %f s: made "
            "in %f s, JPEG %f s; file %f s; patches encoded in %f s)",
            url.lastPathComponent(), mainThread, flattening, steps->patches, steps->archive,
            secondsBetween(began, std::chrono::steady_clock::now()), steps->previews,
            steps->previewsMade, steps->previewsEncoded, steps->file, steps->patchesEncoded);
        // Saves killed before their rename left their temporaries; this one went through.
        removeStaleTemporaries(url.filePath(), started);
    };
}

std::string Document::versionType(const URL& version) const {
    if (const auto type = DocumentFileTypes::fileTypeForPath(version.path())) {
        return std::string(DocumentFileTypes::identifier(*type));
    }
    return fileType();
}

bool Document::restoreVersion(const URL& version) {
    const auto current = layeredCanvas();
    const auto undo = NSDocument::undoManager();
    if (current == nullptr || !fileURL() || undoManager() == nullptr) {
        return false;
    }
    Content restored;
    try {
        restored = contentOf(readFile(version), fileTypeOrThrow(versionType(version)), false);
    } catch (const std::exception& error) {
        runAlert(error);
        return false;
    }
    if (!keepCurrentStateAsVersion()) {
        return false;
    }
    undo->beginUndoGrouping();
    registerContentUndo(*undo, current);
    undo->setActionName("Restore Version");
    undo->endUndoGrouping();
    setContent(std::move(restored));
    return true;
}

void Document::browseVersions() {
    if (versionsBrowser_ != nullptr && versionsBrowser_->isOpen()) {
        versionsBrowser_->window()->makeKeyAndOrderFront();
        return;
    }
    versionsBrowser_ = DocumentVersionsBrowser::browse(*this);
}

bool Document::validateMenuItem(const NSMenuItem& item) {
    // A version that is only viewed is never written nor browsed itself.
    if (viewingMode_ &&
        (item.action() == "saveDocument:" || item.action() == "saveDocumentAs:" ||
         item.action() == "revertDocumentToSaved:" || item.action() == "browseDocumentVersions:")) {
        return false;
    }
    if (item.action() == "browseDocumentVersions:") {
        return fileURL() && versionStore != nullptr && layeredCanvas() != nullptr &&
               undoManager() != nullptr;
    }
    return ManagedDocument::validateMenuItem(item);
}

void Document::registerContentUndo(UndoManager& undo, std::shared_ptr<LayeredCanvas> canvas) {
    undo.registerUndo<Document>(sharedAs<Document>(), [canvas](Document& document) {
        const auto replaced = document.layeredCanvas();
        const auto manager = document.NSDocument::undoManager();
        if (replaced != nullptr) {
            document.registerContentUndo(*manager, replaced);
        }
        document.setContent(canvas);
    });
}

bool Document::keepCurrentStateAsVersion() {
    // Unsaved changes reach the file first, so they too can be browsed.
    if (autosavesInPlace() && isDocumentEdited() && !autosaveInPlaceIfNeeded()) {
        return false;
    }
    if (versionStore) {
        try {
            versionStore->keepVersion(*fileURL());
        } catch (const std::exception& error) {
            // Undo still brings the state back.
            logFileResources().error("No version kept of %{public}@: %{public}@", fileURL()->path(),
                                     error.what());
        }
    }
    return true;
}

void Document::convertToNativeType() {
    const auto native = std::string(DocumentFileTypes::identifier(FileType::velmora));
    if (fileType() == native) {
        fatalError("Converting a document that has the native type already");
    }
    setFileType(native);
    if (const auto url = fileURL()) {
        setDisplayName(url->filePath().stem().string());
    }
    setFileURL(std::nullopt);
}

void Document::runAlert(const std::exception& error) {
    makeAlert(error)->runModal();
}

void Document::presentError(const std::exception& error) {
    if (dynamic_cast<const NSPresentedError*>(&error) == nullptr) {
        runAlert(error);
    }
}

bool Document::prepareSavePanel(NSSavePanel& panel) {
    panel.setExtensionHidden(false);
    auto& accessory = accessoryViewController();
    accessory.savePanel = panel.sharedAs<NSSavePanel>();
    panel.accessoryView = accessory.view();
    accessory.viewWillAppear();
    return true;
}

std::optional<NSDocument::SaveDestination> Document::runSavePanel() {
    const auto panel = NSSavePanel::savePanel();
    panel->nameFieldStringValue = displayName();
    if (const auto url = fileURL()) {
        panel->directoryURL = url->deletingLastPathComponent();
    }
    if (!prepareSavePanel(*panel) || panel->runModal() != NSModalResponseOK || !panel->url()) {
        return std::nullopt;
    }
    return SaveDestination{*panel->url(), fileTypeFromLastRunSavePanel()};
}

} // namespace velmora
