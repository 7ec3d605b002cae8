#include "Document/NativeDocument.hpp"

#include "App/AppLogHandles.hpp"
#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasSize.hpp"
#include "Document/DocumentError.hpp"

namespace velmora::NativeDocument {

namespace {

// Whatever the parser met, the user only needs to know that the file cannot
// be read: its details go to the log, never into the alert.
template <class Read> auto reading(Read&& read) {
    try {
        return read();
    } catch (const LayeredCanvas::DecodingError& error) {
        throw DocumentError::unsupportedImageSize(error.currentSize());
    } catch (const std::exception& error) {
        logFileResources().error("Unreadable document data: %{public}@", error.what());
        throw DocumentError::unsupportedFormat();
    }
}

} // namespace

std::shared_ptr<LayeredCanvas> readCanvas(std::span<const std::uint8_t> data) {
    return reading([&] { return CanvasArchive::readCanvas(data); });
}

std::shared_ptr<LayeredCanvas> readCanvas(const SharedBytes& data,
                                          CanvasArchive::ReadSteps* steps) {
    return reading([&] { return CanvasArchive::readCanvas(data, steps); });
}

std::shared_ptr<PreviewCanvas> readPreviewCanvas(std::span<const std::uint8_t> data) {
    const auto previews = reading([&] { return CanvasArchive::readPreviews(data); });
    const auto best = previews ? previews->bestPreview() : nullptr;
    if (!best) {
        throw DocumentError::unsupportedFormat();
    }
    if (!contains(CanvasMaximumSize, best->pixelSize())) {
        throw DocumentError::unsupportedImageSize(best->pixelSize());
    }
    return std::make_shared<PreviewCanvas>(*best);
}

std::vector<std::uint8_t> data(const LayeredCanvas& canvas,
                               const std::shared_ptr<NSBitmapImageRep>& flattened) {
    const auto previews = CanvasPreviews::makeStandardPreviews(flattened);
    return CanvasArchive::encodedData(canvas, *previews);
}

void write(const std::filesystem::path& path, const LayeredCanvas& canvas,
           const std::shared_ptr<NSBitmapImageRep>& flattened, CanvasArchive::WriteSteps* steps,
           const CanvasArchive::BeforeReplace& beforeReplace) {
    CanvasArchive::write(
        path, canvas, [&] { return CanvasPreviews::makeStandardPreviews(flattened); }, steps,
        beforeReplace);
}

void write(const std::filesystem::path& path, CanvasArchive::PreparedWrite& canvas,
           const std::shared_ptr<NSBitmapImageRep>& flattened, CanvasArchive::WriteSteps* steps,
           const CanvasArchive::BeforeReplace& beforeReplace) {
    canvas.write(
        path, [&] { return CanvasPreviews::makeStandardPreviews(flattened); }, steps,
        beforeReplace);
}

} // namespace velmora::NativeDocument
