#include "Canvas/CanvasArchive.hpp"

#include "Canvas/GroupLayer.hpp"
#include "Canvas/RasterLayer.hpp"
#include "coding/AtomicFileWriter.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "coding/PropertyListEncoder.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/cpu/Workers.hpp"

#include <algorithm>
#include <chrono>
#include <future>
#include <optional>
#include <tbb/parallel_for_each.h>
#include <unordered_map>

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

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

using PreviewsMaker = std::function<std::shared_ptr<const CanvasPreviews>()>;

void refreshPatchCaches(const RasterLayer::Patches& patches, CanvasArchive::WriteSteps* steps) {
    const auto start = std::chrono::steady_clock::now();
    RasterLayer::Patch::refreshCaches(patches);
    if (steps) {
        steps->patches = secondsSince(start);
    }
}

KeyedArchiver archiverFor(const LayeredCanvas& canvas, const PreviewsMaker& makePreviews,
                          CanvasArchive::WriteSteps* steps) {
    RasterLayer::Patches patches;
    collectPatches(canvas.immediateLayers(), patches);
    KeyedArchiver archiver(true);
    // The previews' scaling and JPEG encoding are as long as a patch's render:
    // both at once. A thread of its own rather than a pool task, so that
    // ThreadSanitizer sees the hand-over (the pool's library is not
    // instrumented). The future waits for it also when the patches throw.
    auto encoding = std::async(std::launch::async, [&] {
        const auto previews = makePreviews();
        PropertyListEncoder encoder;
        encoder.userInfo = archiver.userInfo;
        return encoder.encodeToTopLevelObject(*previews);
    });
    refreshPatchCaches(patches, steps);
    auto start = std::chrono::steady_clock::now();
    PropertyListObject previewsObject = encoding.get();
    if (steps) {
        steps->previews = secondsSince(start);
    }
    archiver.userInfo[std::string(RasterLayer::Patch::cachesRefreshedKey)] = true;
    archiver.encodeEncodable(canvas, CanvasArchive::canvasKey);
    // What encodeEncodable places under the key, made above.
    archiver.encodeObject(std::move(previewsObject), CanvasArchive::previewsKey);
    return archiver;
}

// Previews the caller owns, handed over as made.
PreviewsMaker sharing(const CanvasPreviews& previews) {
    return [&previews] {
        return std::shared_ptr<const CanvasPreviews>(std::shared_ptr<const CanvasPreviews>(),
                                                     &previews);
    };
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
    return archiverFor(canvas, sharing(previews), nullptr).encodedData();
}

void CanvasArchive::write(const std::filesystem::path& path, const LayeredCanvas& canvas,
                          const CanvasPreviews& previews, WriteSteps* steps) {
    write(path, canvas, sharing(previews), steps);
}

void CanvasArchive::write(const std::filesystem::path& path, const LayeredCanvas& canvas,
                          const PreviewsMaker& makePreviews, WriteSteps* steps,
                          const BeforeReplace& beforeReplace) {
    PreparedWrite(canvas, steps).write(path, makePreviews, steps, beforeReplace);
}

CanvasArchive::PreparedWrite::PreparedWrite(const LayeredCanvas& canvas, WriteSteps* steps,
                                            Patches encoding)
    : archiver_(std::make_unique<KeyedArchiver>(true)) {
    RasterLayer::Patches patches;
    collectPatches(canvas.immediateLayers(), patches);
    if (encoding == Patches::encodedByWrite) {
        const auto start = std::chrono::steady_clock::now();
        deferred_ = RasterLayer::Patch::deferCaches(patches);
        if (steps) {
            steps->patches = secondsSince(start);
        }
    } else {
        refreshPatchCaches(patches, steps);
    }
    const auto start = std::chrono::steady_clock::now();
    archiver_->userInfo[std::string(RasterLayer::Patch::cachesRefreshedKey)] = true;
    archiver_->userInfo[std::string(RasterLayer::Patch::tiffsDeferredKey)] = true;
    archiver_->encodeEncodable(canvas, CanvasArchive::canvasKey);
    archiver_->userInfo.erase(std::string(RasterLayer::Patch::cachesRefreshedKey));
    archiver_->userInfo.erase(std::string(RasterLayer::Patch::tiffsDeferredKey));
    if (steps) {
        steps->archive = secondsSince(start);
    }
}

CanvasArchive::PreparedWrite::PreparedWrite(PreparedWrite&&) noexcept = default;
CanvasArchive::PreparedWrite&
CanvasArchive::PreparedWrite::operator=(PreparedWrite&&) noexcept = default;
CanvasArchive::PreparedWrite::~PreparedWrite() {
    for (const auto& tiff : deferred_) {
        tiff->abandon();
    }
}

// The file is written while the previews' JPEGs are still being encoded: the
// archive holds a stand-in for each until the writing reaches them, which
// comes last, so the canvas's bytes are written (and their flush to the disk
// begun, piece by piece, by the file's own thread) meanwhile. The bytes are
// those `encodedData` gives.
void CanvasArchive::PreparedWrite::write(const std::filesystem::path& path,
                                         const PreviewsMaker& makePreviews, WriteSteps* steps,
                                         const BeforeReplace& beforeReplace) {
    precondition(archiver_ != nullptr, "A prepared write written twice");
    const auto archiver = std::move(archiver_);
    // The patches' TIFFs, each split into strips across the pool, on a thread
    // of their own as the previews are; the future waits also when the writing throws.
    double patchesEncoded = 0;
    // Both threads' work at the save's standing: painting has the workers first.
    auto patches = std::async(std::launch::async, cpu::atCallersStanding([&] {
                                  const auto began = std::chrono::steady_clock::now();
                                  tbb::parallel_for_each(deferred_.begin(), deferred_.end(),
                                                         [](const auto& tiff) { tiff->encode(); });
                                  patchesEncoded = secondsSince(began);
                              }));
    // Each TIFF by its stand-in, and its bytes once the writing reaches it.
    std::unordered_map<const uint8_t*,
                       std::pair<const RasterLayerPatch::DeferredTiff*, SharedBytes>>
        patchBytes;
    for (const auto& tiff : deferred_) {
        patchBytes.emplace(tiff->standIn().data(), std::pair(tiff.get(), SharedBytes()));
    }
    std::promise<std::size_t> counted;
    auto previewCount = counted.get_future();
    // A thread of its own, as in archiverFor; the future waits for it also
    // when the writing throws. The user info is copied here: this thread
    // changes the archiver's while the previews are encoded.
    double made = 0, encodedIn = 0; // that thread's, read once it is done
    auto encoding =
        std::async(std::launch::async, cpu::atCallersStanding([&, userInfo = archiver->userInfo] {
                       auto began = std::chrono::steady_clock::now();
                       std::shared_ptr<const CanvasPreviews> previews;
                       try {
                           previews = makePreviews();
                           counted.set_value(previews->previews.size());
                       } catch (...) {
                           counted.set_exception(std::current_exception());
                           throw;
                       }
                       made = secondsSince(began);
                       began = std::chrono::steady_clock::now();
                       PropertyListEncoder encoder;
                       encoder.userInfo = userInfo;
                       auto object = encoder.encodeToTopLevelObject(*previews);
                       encodedIn = secondsSince(began);
                       return object;
                   }));
    auto start = std::chrono::steady_clock::now();
    // As CanvasPreviews encodes itself: its JPEGs, in its order, under "previews".
    std::vector<SharedBytes> standIns;
    PropertyListArray standInArray;
    for (std::size_t i = 0, n = previewCount.get(); i < n; ++i) {
        const uint8_t index = uint8_t(i);
        standIns.push_back(SharedBytes::copy({&index, 1}));
        standInArray.push_back(standIns.back());
    }
    const double counting = secondsSince(start);
    double waited = 0, waitedForPatches = 0;
    PropertyListDictionary standIn;
    standIn.append("previews", std::move(standInArray));
    archiver->encodeObject(std::move(standIn), CanvasArchive::previewsKey);

    start = std::chrono::steady_clock::now();
    AtomicFileWriter::Options options;
    options.beforeReplace = beforeReplace;
    AtomicFileWriter file(path, std::move(options));
    std::optional<PropertyListObject> encoded;
    const PropertyListArray* jpegs = nullptr;
    archiver->write(file, [&](const SharedBytes& bytes) -> const SharedBytes& {
        if (const auto patch = patchBytes.find(bytes.data()); patch != patchBytes.end()) {
            auto& [tiff, made] = patch->second;
            const auto before = std::chrono::steady_clock::now();
            made = tiff->bytes();
            waitedForPatches += secondsSince(before);
            return made;
        }
        const auto it = std::find_if(standIns.begin(), standIns.end(), [&](const SharedBytes& s) {
            return s.data() == bytes.data();
        });
        if (it == standIns.end()) {
            return bytes;
        }
        if (jpegs == nullptr) {
            const auto before = std::chrono::steady_clock::now();
            encoded = encoding.get();
            waited += secondsSince(before);
            const auto* dictionary = encoded->dictionary();
            const auto* list = dictionary ? dictionary->find("previews") : nullptr;
            jpegs = list ? list->array() : nullptr;
            precondition(jpegs != nullptr && jpegs->size() == standIns.size(),
                         "The previews encoded otherwise than counted");
        }
        const SharedBytes* jpeg = (*jpegs)[std::size_t(it - standIns.begin())].data();
        precondition(jpeg != nullptr, "A preview encoded as no data");
        return *jpeg;
    });
    file.commit();
    if (patches.valid()) {
        patches.wait();
    }
    if (steps) {
        steps->previews = counting + waited;
        steps->file = secondsSince(start) - waited - waitedForPatches;
        steps->patchesEncoded = patchesEncoded;
        if (encoding.valid()) {
            encoding.wait();
        }
        steps->previewsMade = made;
        steps->previewsEncoded = encodedIn;
    }
}

namespace {

std::shared_ptr<LayeredCanvas> readCanvasFrom(KeyedUnarchiver& unarchiver,
                                              CanvasArchive::ReadSteps* steps) {
    auto start = std::chrono::steady_clock::now();
    const auto uploads = std::make_shared<PatchUploads>();
    unarchiver.userInfo[std::string(RasterLayer::Patch::uploadsKey)] = uploads;
    auto canvas =
        unarchiver.decodeDecodable<std::shared_ptr<LayeredCanvas>>(CanvasArchive::canvasKey);
    if (!canvas) {
        throwFailure(unarchiver, CanvasArchive::canvasKey);
    }
    if (steps) {
        steps->layers = secondsSince(start);
    }
    start = std::chrono::steady_clock::now();
    uploads->run();
    if (steps) {
        steps->pixels = secondsSince(start);
    }
    return std::move(*canvas);
}

} // namespace

std::shared_ptr<LayeredCanvas> CanvasArchive::readCanvas(std::span<const uint8_t> data) {
    KeyedUnarchiver unarchiver(data);
    return readCanvasFrom(unarchiver, nullptr);
}

std::shared_ptr<LayeredCanvas> CanvasArchive::readCanvas(const SharedBytes& data,
                                                         ReadSteps* steps) {
    const auto start = std::chrono::steady_clock::now();
    KeyedUnarchiver unarchiver(data);
    if (steps) {
        steps->archive = secondsSince(start);
    }
    return readCanvasFrom(unarchiver, steps);
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
