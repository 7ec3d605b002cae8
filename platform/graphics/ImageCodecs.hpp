#pragma once

#include "graphics/NSBitmapImageRep.hpp"
#include "graphics/NSColorSpace.hpp"
#include "graphics/PixelAllocator.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

enum class NSBitmapImageFileType : uint8_t { tiff, bmp, gif, jpeg, png };

// What a file says about its pixels before any is decoded.
struct ImageInfo {
    NSBitmapImageFileType fileType;
    int64_t pixelsWide = 0;
    int64_t pixelsHigh = 0;
    NSColorSpaceModel colorSpaceModel = NSColorSpaceModel::unknown;
    // Of the stored samples; palettes count as 8-bit RGB.
    int bitsPerSample = 0;

    // "<model> <bits> bits", e.g. "RGB 16 bits".
    std::string formatText() const;
};

class ImageCodecError : public std::runtime_error {
public:
    enum class Kind {
        unknownFormat, // not a file of a type we read
        truncated,     // the data ends too early
        corrupt,       // malformed headers or compressed data
        tooLarge,      // more pixels than the decoder's limit
        unsupported,   // a valid file in a form we do not handle
        encodingFailed,
    };
    ImageCodecError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct ImageDecodingLimits {
    // Enough for the largest canvas (8000 × 8000); checked before any pixel is allocated.
    uint64_t maxPixelCount = uint64_t(1) << 26;
};

// The platform's representation properties.
struct ImageEncodingProperties {
    // TIFF: 1 none, 5 LZW (NSImageCompressionMethod). Default none.
    std::optional<int> compressionMethod;
    // JPEG quality from 0 to 1 (NSImageCompressionFactor). Default 0.75.
    std::optional<double> compressionFactor;
    // Profile to embed (NSImageColorSyncProfileData); pixels are converted into
    // it. Default: the bitmap's own space.
    std::optional<std::vector<uint8_t>> colorSyncProfileData;
};

// Bytes of a large encoded image, in memory that is not zeroed before it is
// written (a mapping of huge pages of its own).
using LargeBytes = std::vector<uint8_t, PixelAllocator<uint8_t>>;

// Codecs on in-memory buffers. Decoders give 8-bit straight RGBA, top row first,
// in the working colour space (tagged images converted, untagged ones taken as
// sRGB); every failure is an ImageCodecError.
namespace ImageCodecs {

std::optional<NSBitmapImageFileType> fileTypeOf(std::span<const uint8_t> data);
ImageInfo readInfo(std::span<const uint8_t> data);
NSBitmapImageRepRef decode(std::span<const uint8_t> data, const ImageDecodingLimits& limits = {});
// TIFF, JPEG and PNG only.
std::vector<uint8_t> encode(const NSBitmapImageRep& bitmap, NSBitmapImageFileType type,
                            const ImageEncodingProperties& properties = {});

// Rows [first, end) of an 8-bit RGBA picture with straight alpha, top row
// first, 4 · width bytes a row. Called from several threads at once, for
// different rows.
using RowFiller = std::function<void(int64_t first, int64_t end, uint8_t* rgba)>;
// The TIFF `encode` writes of a 72 dpi bitmap, for a picture whose rows are
// made band by band as the encoder needs them, so that the whole picture is
// never held at once. The rows are in the space of the profile to embed
// (none: the working space).
std::vector<uint8_t> encodeTiff(int64_t width, int64_t height, bool alpha, const RowFiller& rows,
                                const ImageEncodingProperties& properties = {});
// The same TIFF made from `previous`, an `encodeTiff` of the picture before
// the rows in `changedRows` ([first, end), top row first) changed: only the
// strips those rows meet are encoded, in parallel, and the others' coded
// bytes copied. None when `previous` is laid out or coded otherwise (another
// size, strip height, compression or profile) or every strip changed: then
// only a whole `encodeTiff` will do.
std::optional<LargeBytes> reencodeTiff(std::span<const uint8_t> previous,
                                       const std::vector<std::pair<int64_t, int64_t>>& changedRows,
                                       int64_t width, int64_t height, bool alpha,
                                       const RowFiller& rows,
                                       const ImageEncodingProperties& properties = {});

} // namespace ImageCodecs

} // namespace velmora
