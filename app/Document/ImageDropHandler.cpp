#include "Document/ImageDropHandler.hpp"

#include "Canvas/RasterLayer.hpp"
#include "Document/ImageImport.hpp"
#include "Extensions/IndexPathExtensions.hpp"
#include "MetalExtensions/MTLOriginExtensions.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "foundation/CheckedMath.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/PrivateFolder.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> cacheHome() {
    return xdgBaseFolder("XDG_CACHE_HOME", ".cache");
}

// A folder of its own for one received item, so no two drops share a name.
fs::path makeItemFolder() {
    const auto drops = ImageDropHandler::dropsDirectory();
    if (!drops) {
        throw std::runtime_error("The folder for dropped images could not be made.");
    }
    std::string pattern = (*drops / "drop-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(),
                                "The folder for a dropped image could not be made");
    }
    return pattern;
}

std::vector<std::uint8_t> readFile(const URL& file) {
    std::ifstream stream(file.filePath(), std::ios::binary);
    std::vector<std::uint8_t> bytes;
    if (stream) {
        bytes.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
    }
    if (!stream && !stream.eof()) {
        throw std::runtime_error("The file \"" + file.lastPathComponent() +
                                 "\" could not be read.");
    }
    return bytes;
}

} // namespace

ImageDropHandler::ImageDropHandler(std::shared_ptr<LayeredCanvas> canvas,
                                   ErrorHandler handleDropError, UndoManagerSource undoManager)
    : canvas_(std::move(canvas)), handleDropError_(std::move(handleDropError)),
      undoManager_(std::move(undoManager)) {}

std::optional<fs::path> ImageDropHandler::dropsDirectory() {
    const auto cache = cacheHome();
    if (!cache) {
        return std::nullopt;
    }
    const fs::path drops = *cache / "velmora" / "Drops";
    std::error_code error;
    if (!createPrivateFolder(drops, error)) {
        return std::nullopt;
    }
    return drops;
}

bool ImageDropHandler::isInsideDropsDirectory(const fs::path& file) {
    const auto cache = cacheHome();
    if (!cache) {
        return false;
    }
    const fs::path drops = (*cache / "velmora" / "Drops").lexically_normal();
    const fs::path path = fs::absolute(file).lexically_normal();
    const auto [dropsEnd, pathAt] = std::ranges::mismatch(drops, path);
    // The folder itself, or a trailing empty component, is no file inside it.
    return dropsEnd == drops.end() && pathAt != path.end() && !pathAt->empty();
}

void ImageDropHandler::report(const std::exception& error) const {
    if (handleDropError_) {
        handleDropError_(error);
    }
}

bool ImageDropHandler::performDrop(const NSDraggingInfo& info,
                                   const std::optional<IndexPath>& insertionPath, CGPoint point) {
    using ItemClass = NSDraggingInfo::ItemClass;
    NSDraggingInfo::SearchOptions options;
    options.fileURLsOnly = true;
    options.contentsConformToTypes = {kUTTypeImage};
    const std::weak_ptr<ImageDropHandler> weak = weak_from_this();
    bool taken = false;
    info.enumerateDraggingItems(
        {ItemClass::filePromiseReceiver, ItemClass::url}, options,
        [&](const NSDraggingInfo::DraggingItem& item, size_t, bool&) {
            if (const auto* url = std::get_if<URL>(&item)) {
                taken = true;
                DispatchQueue::main().async([weak, file = *url, insertionPath, point] {
                    if (const auto self = weak.lock()) {
                        self->loadImage(file, insertionPath, point);
                    }
                });
                return;
            }
            const auto& receiver = std::get<std::shared_ptr<NSFilePromiseReceiver>>(item);
            taken = true;
            fs::path folder;
            try {
                folder = makeItemFolder();
            } catch (const std::exception& error) {
                DispatchQueue::main().async([weak, message = std::string(error.what())] {
                    if (const auto self = weak.lock()) {
                        self->report(std::runtime_error(message));
                    }
                });
                return;
            }
            receiver->receivePromisedFiles(
                URL::fileURL(folder, true), DispatchQueue::main(),
                [weak, folder, insertionPath, point](const URL& file, std::exception_ptr error) {
                    const auto self = weak.lock();
                    if (error) {
                        if (self) {
                            try {
                                std::rethrow_exception(error);
                            } catch (const std::exception& e) {
                                self->report(e);
                            }
                        }
                    } else if (self) {
                        self->loadImage(file, insertionPath, point);
                    } else {
                        std::error_code ignored;
                        fs::remove(file.filePath(), ignored);
                    }
                    std::error_code ignored;
                    fs::remove(folder, ignored);
                });
        });
    return taken;
}

void ImageDropHandler::loadImage(const URL& file, const std::optional<IndexPath>& insertionPath,
                                 CGPoint point) {
    try {
        const auto bytes = readFile(file);
        const auto bitmap = ImageImport::bitmap(bytes, ImageImport::CheckOrder::sizeFirst,
                                                DocumentError::Kind::unsupportedDroppedFormat);
        const auto add = [&] {
            addLayer(*bitmap, file.filePath().stem().string(), insertionPath, point);
        };
        // Loaded in a later turn, maybe beside another edit or another image.
        if (const auto manager = undoManager_ ? undoManager_() : nullptr) {
            manager->registerSeparateEntry(add);
        } else {
            add();
        }
        DrawingSettings::shared().setPersistentTool(DrawingSettings::Tool::move);
    } catch (const std::exception& error) {
        report(error);
    }
    if (isInsideDropsDirectory(file.filePath())) {
        std::error_code ignored;
        fs::remove(file.filePath(), ignored);
    }
}

void ImageDropHandler::addLayer(const NSBitmapImageRep& bitmap, const std::string& name,
                                const std::optional<IndexPath>& insertionPath, CGPoint point) {
    const auto layer = RasterLayer::make(name, bitmap);
    const MTLOrigin origin = makeMTLOrigin(point);
    const MTLVector offset{checked::sub(origin.x, bitmap.pixelsWide() / 2),
                           checked::sub(origin.y, bitmap.pixelsHigh() / 2), 0};
    if (!offset.isNull()) {
        layer->moveContents(offset);
    }
    IndexPath path;
    if (insertionPath) {
        path = *insertionPath;
    } else if (const auto active = canvas_->activeLayer();
               active && canvas_->path(*active).has_value()) {
        path = next(*canvas_->path(*active));
    } else {
        path = IndexPath{static_cast<IndexPath::Element>(canvas_->immediateLayers().size())};
    }
    canvas_->insertLayer(layer, path);
    canvas_->setActiveLayer(layer);
}

} // namespace velmora
