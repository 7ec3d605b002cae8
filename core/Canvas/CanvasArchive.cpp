#include "Canvas/CanvasArchive.hpp"

#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "coding/PropertyListEncoder.hpp"

#include <future>

namespace velmora {

namespace {

void collectPatches(const Layers& layers, RasterLayer::Patches& patches) {
    for (const auto& layer : layers) {
        if (const auto raster = std::dynamic_pointer_cast<RasterLayer>(layer)) {
            patches.insert(patches.end(), raster->patches().begin(), raster->patches().end());
        } else if (const auto group = std::dynamic_pointer_cast<GroupLayer>(layer)) {
            collectPatches(group->immediateLayers(), patches);
        }
    }
}

KeyedArchiver archiverFor(const LayeredCanvas& canvas, const CanvasPreviews& previews) {
    RasterLayer::Patches patches;
    collectPatches(canvas.immediateLayers(), patches);
    KeyedArchiver archiver(true);
    // The previews' JPEG encoding is as long as a patch's render: both at once.
    // A thread of its own rather than a pool task, so that ThreadSanitizer sees
    // the hand-over (the pool's library is not instrumented). The future waits
    // for it also when the patches throw.
    auto encoding = std::async(std::launch::async, [&] {
        PropertyListEncoder encoder;
        encoder.userInfo = archiver.userInfo;
        return encoder.encodeToTopLevelObject(previews);
    });
    RasterLayer::Patch::refreshCaches(patches);
    PropertyListObject previewsObject = encoding.get();
    archiver.userInfo[std::string(RasterLayer::Patch::cachesRefreshedKey)] = true;
    archiver.encodeEncodable(canvas, CanvasArchive::canvasKey);
    // What encodeEncodable places under the key, made above.
    archiver.encodeObject(std::move(previewsObject), CanvasArchive::previewsKey);
    return archiver;
}

// What a decode that answered nothing failed with.
[[noreturn]] void throwFailure(const KeyedUnarchiver& unarchiver, std::string_view key) {
    if (unarchiver.error()) {
        std::rethrow_exception(unarchiver.error());
    }
    throw DecodingError::keyNotFound(CodingKey(std::string(key)),
                                     {{}, "The document holds no \"" + std::string(key) + "\"."});
}

} // namespace

std::vector<uint8_t> CanvasArchive::encodedData(const LayeredCanvas& canvas,
                                                const CanvasPreviews& previews) {
    return archiverFor(canvas, previews).encodedData();
}

void CanvasArchive::write(const std::filesystem::path& path, const LayeredCanvas& canvas,
                          const CanvasPreviews& previews) {
    archiverFor(canvas, previews).writeToFile(path);
}

std::shared_ptr<LayeredCanvas> CanvasArchive::readCanvas(std::span<const uint8_t> data) {
    KeyedUnarchiver unarchiver(data);
    const auto uploads = std::make_shared<PatchUploads>();
    unarchiver.userInfo[std::string(RasterLayer::Patch::uploadsKey)] = uploads;
    auto canvas = unarchiver.decodeDecodable<std::shared_ptr<LayeredCanvas>>(canvasKey);
    if (!canvas) {
        throwFailure(unarchiver, canvasKey);
    }
    uploads->run();
    return std::move(*canvas);
}

std::shared_ptr<CanvasPreviews> CanvasArchive::readPreviews(std::span<const uint8_t> data) {
    KeyedUnarchiver unarchiver(data);
    auto previews = unarchiver.decodeDecodable<std::shared_ptr<CanvasPreviews>>(previewsKey);
    if (!previews) {
        throwFailure(unarchiver, previewsKey);
    }
    return std::move(*previews);
}

} // namespace velmora
