#include "Welcome/RecentDocumentThumbnail.hpp"

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasSize.hpp"
#include "Document/DocumentFileType.hpp"
#include "Document/ImageImport.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/ImageCodecs.hpp"

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

namespace velmora {

namespace {

QImage imageOf(const NSBitmapImageRep& bitmap) {
    if (bitmap.isPlanar() || bitmap.samplesPerPixel() != 4 || bitmap.bitsPerSample() != 8 ||
        bitmap.bitsPerPixel() != 32) {
        const auto converted = bitmap.converting(ColorManagement::workingNSColorSpace());
        return converted ? imageOf(*converted) : QImage();
    }
    const QImage::Format format = bitmap.isAlphaPremultiplied()
                                      ? QImage::Format_RGBA8888_Premultiplied
                                      : QImage::Format_RGBA8888;
    // A view of the bitmap's rows; the caller copies or scales it before the bitmap goes.
    return QImage(bitmap.bitmapData(), int(bitmap.pixelsWide()), int(bitmap.pixelsHigh()),
                  qsizetype(bitmap.bytesPerRow()), format);
}

QImage fitted(const NSBitmapImageRep& bitmap, QSize pixels) {
    const QImage view = imageOf(bitmap);
    if (view.isNull()) {
        return {};
    }
    if (view.width() <= pixels.width() && view.height() <= pixels.height()) {
        return view.copy();
    }
    return view.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The stored pictures of a native document as the archive holds them, none decoded.
struct StoredPreviews {
    std::vector<std::vector<std::uint8_t>> jpegs;

    static StoredPreviews decode(Decoder& decoder) {
        return {decoder.container().decode<std::vector<std::vector<std::uint8_t>>>("previews")};
    }
};

bool fits(const CGSize& size, const CGSize& target) {
    return size.width <= target.width && size.height <= target.height;
}

// The one stored picture that the thumbnail for `target` is made from: the
// widest that fits, or the next wider one when that one touches no side of the
// target, or the narrowest when none fits. Only that one is decoded, so that a
// thumbnail never decodes the full-size picture of a large canvas.
std::size_t chosenPreview(const std::vector<CGSize>& byWidth, const CGSize& target) {
    for (std::size_t i = byWidth.size(); i-- > 0;) {
        if (!fits(byWidth[i], target)) {
            continue;
        }
        const bool touches = byWidth[i].width == target.width || byWidth[i].height == target.height;
        return touches || i + 1 == byWidth.size() ? i : i + 1;
    }
    return 0;
}

std::shared_ptr<NSBitmapImageRep> nativePreview(std::span<const std::uint8_t> bytes,
                                                const CGSize& target) {
    // A view of the bytes read: the layers' data is never copied.
    KeyedUnarchiver unarchiver(SharedBytes(nullptr, bytes));
    auto stored = unarchiver.decodeDecodable<StoredPreviews>(CanvasArchive::previewsKey);
    if (!stored || stored->jpegs.empty()) {
        return nullptr;
    }
    std::vector<std::pair<CGSize, const std::vector<std::uint8_t>*>> sized;
    for (const auto& jpeg : stored->jpegs) {
        const ImageInfo info = ImageCodecs::readInfo(jpeg);
        if (!isAcceptableCanvasSize({info.pixelsWide, info.pixelsHigh, 1})) {
            return nullptr;
        }
        sized.emplace_back(CGSize{CGFloat(info.pixelsWide), CGFloat(info.pixelsHigh)}, &jpeg);
    }
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& a, const auto& b) { return a.first.width < b.first.width; });
    std::vector<CGSize> byWidth;
    for (const auto& entry : sized) {
        byWidth.push_back(entry.first);
    }
    auto decoded =
        NSBitmapImageRep::imageRepWithData(*sized[chosenPreview(byWidth, target)].second);
    if (!decoded) {
        return nullptr;
    }
    CanvasPreviews previews;
    previews.previews[decoded->size()] = std::move(decoded);
    return previews.bestPreview(target);
}

std::shared_ptr<NSBitmapImageRep> picture(std::span<const std::uint8_t> bytes,
                                          DocumentFileType type, QSize pixels) {
    if (type == DocumentFileType::velmora) {
        return nativePreview(bytes, CGSize{CGFloat(pixels.width()), CGFloat(pixels.height())});
    }
    return ImageImport::bitmap(bytes, ImageImport::CheckOrder::formatFirst,
                               DocumentError::Kind::unsupportedFormat);
}

} // namespace

QImage RecentDocumentThumbnail::make(const std::filesystem::path& path, QSize pixels) {
    if (pixels.isEmpty()) {
        return {};
    }
    const auto type = DocumentFileTypes::fileTypeForPath(path.string());
    if (!type) {
        return {};
    }
    try {
        // Read, not mapped: a file cut short meanwhile would fault where mapped.
        const SharedBytes file = SharedBytes::readFile(path);
        const auto bitmap = picture(file.span(), *type, pixels);
        return bitmap ? fitted(*bitmap, pixels) : QImage();
    } catch (const std::exception&) {
        // Damaged or foreign files show their type's icon.
        return {};
    }
}

} // namespace velmora
