#include "desktop/NSDocumentController.hpp"

#include "desktop/NSDocument.hpp"
#include "desktop/NSOpenPanel.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCoreApplication>
#include <algorithm>
#include <cctype>

namespace velmora {

namespace {

NSDocumentController*& firstController() {
    static NSDocumentController* first = nullptr;
    return first;
}

// Made when the shared controller is asked for before anyone made one.
std::shared_ptr<NSDocumentController>& standIn() {
    static std::shared_ptr<NSDocumentController> controller;
    return controller;
}

std::string lowercased(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

NSDocumentController::NSDocumentController() {
    // A stand-in yields to the first controller made after it, which would
    // otherwise never become the shared one whatever its kind.
    if (firstController() == nullptr || firstController() == standIn().get()) {
        firstController() = this;
        // File dialogs name the registered types by their extensions.
        NSSavePanel::setFileTypeResolver(
            [](std::string_view identifier) -> std::optional<NSSavePanel::FileType> {
                const auto* first = firstController();
                const auto* type = first ? first->documentType(identifier) : nullptr;
                if (type == nullptr) {
                    return std::nullopt;
                }
                return NSSavePanel::FileType{type->identifier, type->extensions, type->name};
            });
    }
    setAction("newDocument:", [this](NSObject*) { newDocument(); });
    setAction("openDocument:", [this](NSObject*) { openDocument(); });
    setAction("clearRecentDocuments:", [this](NSObject*) { clearRecentDocuments(); });
}

NSDocumentController::~NSDocumentController() {
    if (firstController() == this) {
        firstController() = nullptr;
    }
}

NSDocumentController& NSDocumentController::shared() {
    if (firstController() == nullptr) {
        // Its documents may hold windows, so it goes while the application
        // object still lives.
        standIn() = std::make_shared<NSDocumentController>();
        qAddPostRoutine([] { standIn().reset(); });
    }
    return *firstController();
}

void NSDocumentController::registerDocumentType(NSDocumentType type) {
    types_.push_back(std::move(type));
}

std::string NSDocumentController::defaultType() const {
    return types_.empty() ? std::string() : types_.front().identifier;
}

const NSDocumentType* NSDocumentController::documentType(std::string_view identifier) const {
    const auto found = std::ranges::find(types_, identifier, &NSDocumentType::identifier);
    return found == types_.end() ? nullptr : &*found;
}

std::string NSDocumentController::typeForContents(const URL& url) const {
    const std::string extension = lowercased(url.pathExtension());
    for (const auto& type : types_) {
        for (const auto& candidate : type.extensions) {
            if (!extension.empty() && lowercased(candidate) == extension) {
                return type.identifier;
            }
        }
    }
    throw NSDocument::Error(
        {"The document \"" + url.lastPathComponent() + "\" could not be opened.",
         "The application cannot open files of this type."});
}

void NSDocumentController::addDocument(std::shared_ptr<NSDocument> document) {
    if (document && std::ranges::find(documents_, document) == documents_.end()) {
        documents_.push_back(std::move(document));
    }
}

void NSDocumentController::removeDocument(const NSDocument* document) {
    std::erase_if(documents_, [&](const auto& held) { return held.get() == document; });
}

std::shared_ptr<NSDocument> NSDocumentController::documentForURL(const URL& url) const {
    const auto found = std::ranges::find_if(documents_, [&](const auto& document) {
        const auto fileURL = document->fileURL();
        return fileURL && std::filesystem::weakly_canonical(fileURL->filePath()) ==
                              std::filesystem::weakly_canonical(url.filePath());
    });
    return found == documents_.end() ? nullptr : *found;
}

std::shared_ptr<NSDocument> NSDocumentController::currentDocument() const {
    const auto window = NSWindow::mainWindow();
    if (!window) {
        return nullptr;
    }
    const auto controller = window->windowController();
    return controller ? controller->document() : nullptr;
}

bool NSDocumentController::hasEditedDocuments() const {
    return std::ranges::any_of(documents_, [](const auto& d) { return d->isDocumentEdited(); });
}

std::shared_ptr<NSDocument>
NSDocumentController::makeUntitledDocument(const std::string& typeName) {
    const NSDocumentType* type = documentType(typeName);
    if (type == nullptr || !type->make) {
        throw NSDocument::Error({"A new document could not be created.",
                                 "No document type \"" + typeName + "\" is registered."});
    }
    auto document = type->make();
    document->setFileType(typeName);
    return document;
}

std::shared_ptr<NSDocument> NSDocumentController::makeDocument(const URL& url,
                                                               const std::string& typeName) {
    auto document = makeUntitledDocument(typeName);
    document->setFileURL(url);
    try {
        document->read(url, typeName);
    } catch (...) {
        document->setFileURL(std::nullopt);
        throw;
    }
    return document;
}

std::shared_ptr<NSDocument> NSDocumentController::openUntitledDocumentAndDisplay(bool display) {
    auto document = makeUntitledDocument(defaultType());
    addDocument(document);
    if (display) {
        document->makeWindowControllers();
        document->showWindows();
    }
    return document;
}

void NSDocumentController::newDocument() {
    try {
        openUntitledDocumentAndDisplay(true);
    } catch (const std::exception& error) {
        NSDocument::presentErrorModally(error);
    }
}

void NSDocumentController::openDocument() {
    const auto panel = NSOpenPanel::openPanel();
    std::vector<std::string> readable;
    for (const auto& type : types_) {
        readable.push_back(type.identifier);
    }
    panel->setAllowedFileTypes(readable);
    panel->allowsMultipleSelection = true;
    if (panel->runModal() != NSModalResponseOK) {
        return;
    }
    for (const auto& url : panel->urls()) {
        openDocument(url, true, [](const auto&, bool, std::exception_ptr error) {
            if (!error) {
                return;
            }
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                NSDocument::presentErrorModally(e);
            }
        });
    }
}

void NSDocumentController::openDocument(const URL& url, bool display,
                                        const OpenCompletion& completion) {
    if (auto open = documentForURL(url)) {
        if (display) {
            open->showWindows();
        }
        completion(open, true, nullptr);
        return;
    }
    std::shared_ptr<NSDocument> document;
    try {
        document = makeDocument(url, typeForContents(url));
    } catch (...) {
        completion(nullptr, false, std::current_exception());
        return;
    }
    addDocument(document);
    noteNewRecentDocumentURL(url);
    if (display) {
        document->makeWindowControllers();
        document->showWindows();
    }
    completion(document, false, nullptr);
}

std::vector<URL> NSDocumentController::recentDocumentURLs() const {
    std::vector<URL> urls;
    const auto stored = UserDefaults::standard().arrayForKey(recentDocumentsKey);
    if (!stored) {
        return urls;
    }
    for (const auto& value : *stored) {
        // Anything else than an absolute path is not ours: skipped, not fatal.
        const std::string* path = value.stringValue();
        if (path != nullptr && !path->empty() && path->front() == '/' &&
            urls.size() < maximumRecentDocumentCount) {
            urls.push_back(URL::fileURL(*path, false));
        }
    }
    return urls;
}

void NSDocumentController::storeRecentDocumentURLs(const std::vector<URL>& urls) {
    DefaultsValue::Array paths;
    for (const auto& url : urls) {
        paths.emplace_back(url.path());
    }
    UserDefaults::standard().set(DefaultsValue(std::move(paths)), recentDocumentsKey);
}

void NSDocumentController::noteNewRecentDocumentURL(const URL& url) {
    auto urls = recentDocumentURLs();
    std::erase(urls, url);
    urls.insert(urls.begin(), url);
    if (urls.size() > maximumRecentDocumentCount) {
        urls.erase(urls.begin() + maximumRecentDocumentCount, urls.end());
    }
    storeRecentDocumentURLs(urls);
}

void NSDocumentController::noteNewRecentDocument(const NSDocument& document) {
    if (const auto url = document.fileURL()) {
        noteNewRecentDocumentURL(*url);
    }
}

void NSDocumentController::clearRecentDocuments() {
    storeRecentDocumentURLs({});
}

bool NSDocumentController::closeAllDocumentsForTermination() {
    for (const auto& document : std::vector(documents_)) {
        if (!document->canClose()) {
            return false;
        }
    }
    for (const auto& document : std::vector(documents_)) {
        document->close();
    }
    return true;
}

} // namespace velmora
