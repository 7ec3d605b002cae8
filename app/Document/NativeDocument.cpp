#include "Document/NativeDocument.hpp"

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasSize.hpp"
#include "Document/DocumentError.hpp"
#include "coding/KeyedArchiveError.hpp"

namespace velmora::NativeDocument {

namespace {

// The archive's own error when the data is no keyed archive; otherwise the
// document's, since the user only needs to know it cannot be read.
template <class Read> auto reading(Read&& read) {
    try {
        return read();
    } catch (const KeyedArchiveError& error) {
        if (error.code() == KeyedArchiveError::Code::notAnArchive) {
            throw;
        }
        throw DocumentError::unsupportedFormat();
    } catch (const LayeredCanvas::DecodingError& error) {
        throw DocumentError::unsupportedImageSize(error.currentSize());
    } catch (const std::exception&) {
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
           const std::shared_ptr<NSBitmapImageRep>& flattened, CanvasArchive::WriteSteps* steps) {
    CanvasArchive::write(
        path, canvas, [&] { return CanvasPreviews::makeStandardPreviews(flattened); }, steps);
}

} // namespace velmora::NativeDocument
