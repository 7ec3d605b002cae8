#include "Document/DocumentVersionsBrowser.hpp"

#include "App/AppDelegate.hpp"
#include "Document/Document.hpp"
#include "Welcome/ThumbnailGenerator.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"

#include <QDateTime>
#include <QLocale>
#include <stdexcept>

namespace velmora {

namespace {

void hideUtilityPanels() {
    const auto delegate =
        std::dynamic_pointer_cast<AppDelegate>(NSApplication::shared().delegate());
    if (delegate == nullptr) {
        return;
    }
    for (const auto& panel : delegate->utilityPanelControllers()) {
        if (panel->isWindowLoaded()) {
            panel->window()->orderOut();
        }
    }
}

std::string versionName(const Document& document, const DocumentVersion& version) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(version.savedAt.time_since_epoch())
            .count();
    const QString date =
        QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms), QLocale::ShortFormat);
    return document.displayName() + " (" + date.toStdString() + ")";
}

} // namespace

QImage DocumentVersionsBrowser::thumbnail(const DocumentVersion& version) {
    std::optional<QImage> image = ThumbnailGenerator::shared().make(
        version.url.filePath(), {VersionsBrowser::thumbnailSide, VersionsBrowser::thumbnailSide});
    if (!image) {
        return {}; // the application is going away
    }
    if (image->isNull()) {
        throw std::runtime_error("The version cannot be read.");
    }
    return *image;
}

std::shared_ptr<Document> DocumentVersionsBrowser::openVersion(const Document& document,
                                                               const DocumentVersion& version) {
    auto shown = std::make_shared<Document>();
    shown->versionStore = nullptr;
    shown->modalErrorOpenHandler = false;
    shown->setInViewingMode(true);
    const std::string type = document.versionType(version.url);
    shown->setFileType(type);
    shown->setDisplayName(versionName(document, version));
    shown->read(version.url, type);
    shown->makeWindowControllers();
    return shown;
}

std::shared_ptr<VersionsBrowser> DocumentVersionsBrowser::browse(Document& document) {
    ThumbnailGenerator::shared(); // made here, on the main thread, before its queue wants it
    const auto url = document.fileURL();
    if (!url || document.versionStore == nullptr || document.windowControllers().empty()) {
        return nullptr;
    }
    const auto window = document.windowControllers().front()->window();
    if (window == nullptr) {
        return nullptr;
    }
    auto versions = document.versionStore->versions(*url);
    // Shared with the handlers: the version on screen lives as long as its window.
    const auto shown = std::make_shared<std::shared_ptr<Document>>();
    const std::weak_ptr<Document> weak = document.sharedAs<Document>();
    VersionsBrowser::Handlers handlers;
    handlers.open = [weak, shown](const DocumentVersion& version) -> std::shared_ptr<NSWindow> {
        const auto owner = weak.lock();
        if (owner == nullptr) {
            return nullptr;
        }
        *shown = openVersion(*owner, version);
        const auto window = (*shown)->windowControllers().front()->window();
        window->setTitle((*shown)->displayName());
        return window;
    };
    handlers.restore = [weak](const DocumentVersion& version) {
        const auto owner = weak.lock();
        return owner != nullptr && owner->restoreVersion(version.url);
    };
    handlers.closed = [shown] { *shown = nullptr; };
    hideUtilityPanels();
    auto browser =
        VersionsBrowser::open(window, std::move(versions), &thumbnail, std::move(handlers));
    browser->window()->setTitle("Versions of “" + document.displayName() + "”");
    return browser;
}

} // namespace velmora
