#include "Document/DocumentVersionsBrowser.hpp"

#include "App/AppDelegate.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentError.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <QDateTime>
#include <QLocale>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace velmora {

namespace {

std::vector<std::uint8_t> bytesOf(const URL& url) {
    std::ifstream file(url.filePath(), std::ios::binary);
    if (!file) {
        throw std::runtime_error("The version's file cannot be read.");
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
    if (file.bad()) {
        throw std::runtime_error("The version's file cannot be read.");
    }
    return bytes;
}

// The smallest preview at least a thumbnail wide or high, else the largest:
// the full-size one is decoded but never scaled on this path.
std::shared_ptr<NSBitmapImageRep> previewForThumbnail(const std::vector<std::uint8_t>& data) {
    const auto previews = CanvasArchive::readPreviews(data);
    if (previews == nullptr) {
        throw DocumentError::unsupportedFormat();
    }
    std::shared_ptr<NSBitmapImageRep> best;
    const auto side = VersionsBrowser::thumbnailSide;
    for (const auto& [size, bitmap] : previews->previews) {
        if (bitmap == nullptr) {
            continue;
        }
        const bool enough = bitmap->pixelsWide() >= side || bitmap->pixelsHigh() >= side;
        const bool bestEnough = best && (best->pixelsWide() >= side || best->pixelsHigh() >= side);
        if (!best || (enough && (!bestEnough || bitmap->pixelsWide() < best->pixelsWide())) ||
            (!enough && !bestEnough && bitmap->pixelsWide() > best->pixelsWide())) {
            best = bitmap;
        }
    }
    if (best == nullptr) {
        throw DocumentError::unsupportedFormat();
    }
    return best;
}

QImage imageOf(const NSBitmapImageRep& bitmap) {
    const int samples = bitmap.samplesPerPixel();
    if (bitmap.bitsPerSample() != 8 || bitmap.isPlanar() || (samples != 3 && samples != 4)) {
        throw DocumentError::unsupportedFormat();
    }
    QImage image(int(bitmap.pixelsWide()), int(bitmap.pixelsHigh()),
                 samples == 4 ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const auto rowBytes = std::size_t(bitmap.pixelsWide()) * std::size_t(samples);
    for (int64_t y = 0; y < bitmap.pixelsHigh(); ++y) {
        std::memcpy(image.scanLine(int(y)), bitmap.row(y), rowBytes);
    }
    return image;
}

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

QImage DocumentVersionsBrowser::thumbnail(const DocumentVersion& version, DocumentFileType type) {
    const auto data = bytesOf(version.url);
    if (type == DocumentFileType::velmora) {
        return imageOf(*previewForThumbnail(data));
    }
    const auto bitmap = NSBitmapImageRep::imageRepWithData(data);
    if (bitmap == nullptr) {
        throw DocumentError::unsupportedFormat();
    }
    return imageOf(*bitmap);
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
    const auto url = document.fileURL();
    if (!url || document.versionStore == nullptr || document.windowControllers().empty()) {
        return nullptr;
    }
    const auto window = document.windowControllers().front()->window();
    if (window == nullptr) {
        return nullptr;
    }
    auto versions = document.versionStore->versions(*url);
    const auto type = DocumentFileTypes::fileType(document.fileType());
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
    auto browser = VersionsBrowser::open(
        window, std::move(versions),
        [type, weak](const DocumentVersion& version) {
            const auto path = DocumentFileTypes::fileTypeForPath(version.url.path());
            return thumbnail(version, path ? *path : type.value_or(DocumentFileType::velmora));
        },
        std::move(handlers));
    browser->window()->setTitle("Versions of “" + document.displayName() + "”");
    return browser;
}

} // namespace velmora
