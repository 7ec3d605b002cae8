#include "graphics/TiffStripReader.hpp"

#include "graphics/CodecSupport.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <tiffio.h>
#include <vector>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

// The image in memory, handed to libtiff as a mapped file so that strips are
// decoded from where they lie.
struct MappedImage {
    std::span<const uint8_t> data;
    uint64_t position = 0;
    std::string error;
};

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<MappedImage*>(h);
    if (n < 0 || f->position >= f->data.size()) {
        return 0;
    }
    const size_t count = std::min<uint64_t>(uint64_t(n), f->data.size() - f->position);
    std::memcpy(buffer, f->data.data() + f->position, count);
    f->position += count;
    return tmsize_t(count);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MappedImage*>(h);
    const uint64_t base = whence == SEEK_CUR   ? f->position
                          : whence == SEEK_END ? f->data.size()
                                               : 0;
    const uint64_t target = base + offset;
    if (target < base) {
        return toff_t(-1);
    }
    f->position = target;
    return target;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t h) {
    return static_cast<MappedImage*>(h)->data.size();
}

int mapProc(thandle_t h, void** base, toff_t* size) {
    auto* f = static_cast<MappedImage*>(h);
    // libtiff only reads through the mapping.
    *base = const_cast<uint8_t*>(f->data.data());
    *size = f->data.size();
    return 1;
}

void unmapProc(thandle_t, void*, toff_t) {}

int errorHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* f = static_cast<MappedImage*>(user);
    if (f != nullptr && f->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        f->error = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    }
    return 1;
}

int warningHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Handle = std::unique_ptr<TIFF, Closer>;

Handle openHandle(MappedImage& image) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &image);
    TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &image);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(1) << 30);
    TIFF* tif = TIFFClientOpenExt("memory", "r", &image, readProc, writeProc, seekProc, closeProc,
                                  sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        fail(Kind::corrupt, image.error.empty() ? "Unreadable TIFF header" : image.error);
    }
    return Handle(tif);
}

template <class T> T field(TIFF* tif, ttag_t tag, T fallback) {
    T value = fallback;
    TIFFGetFieldDefaulted(tif, tag, &value);
    return value;
}

} // namespace

std::optional<TiffStripReader> TiffStripReader::open(std::span<const uint8_t> data,
                                                     std::span<const uint8_t> expectedProfile) {
    MappedImage image{data};
    const Handle handle = openHandle(image);
    TIFF* tif = handle.get();
    uint16_t photometric = 0, extraCount = 0;
    uint16_t* extraTypes = nullptr;
    uint32_t width = 0, height = 0;
    if (TIFFIsTiled(tif) || TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1 ||
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 ||
        photometric != PHOTOMETRIC_RGB || field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE, 1) != 8 ||
        field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL, 1) != 4 ||
        field<uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) != PLANARCONFIG_CONTIG ||
        field<uint16_t>(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT) != SAMPLEFORMAT_UINT ||
        field<uint16_t>(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) != ORIENTATION_TOPLEFT ||
        TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) != 1 || extraCount != 1 ||
        extraTypes == nullptr || extraTypes[0] != EXTRASAMPLE_UNASSALPHA) {
        return std::nullopt;
    }
    // Colour-converting codecs have readers of their own.
    const uint16_t compression = field<uint16_t>(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    if (compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG ||
        !TIFFIsCODECConfigured(compression)) {
        return std::nullopt;
    }
    uint32_t profileSize = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileSize, &profile) == 1 && profile != nullptr &&
        !std::equal(expectedProfile.begin(), expectedProfile.end(),
                    static_cast<const uint8_t*>(profile),
                    static_cast<const uint8_t*>(profile) + profileSize)) {
        return std::nullopt;
    }
    if (width == 0 || height == 0) {
        fail(Kind::corrupt, "A TIFF without pixels");
    }
    const uint32_t rowsPerStrip =
        std::clamp(field<uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, height), uint32_t(1), height);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    if (strips != (height - 1) / rowsPerStrip + 1) {
        fail(Kind::corrupt, "A TIFF's strips do not cover its rows");
    }
    if (uint64_t(width) * 4 * rowsPerStrip > (uint64_t(1) << 30)) {
        fail(Kind::tooLarge, "TIFF strips too large");
    }
    TiffStripReader reader(data);
    reader.width_ = width;
    reader.height_ = height;
    reader.rowsPerStrip_ = rowsPerStrip;
    reader.strips_ = strips;
    reader.compression_ = compression;
    reader.predictor_ = field<uint16_t>(tif, TIFFTAG_PREDICTOR, PREDICTOR_NONE);
    reader.fillOrder_ = field<uint16_t>(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    return reader;
}

std::vector<std::pair<uint64_t, uint64_t>> TiffStripReader::stripPlaces() const {
    MappedImage image{data_};
    const Handle handle = openHandle(image);
    TIFF* tif = handle.get();
    if (TIFFNumberOfStrips(tif) != strips_) {
        fail(Kind::corrupt, "A TIFF's strips changed");
    }
    std::vector<std::pair<uint64_t, uint64_t>> places(strips_);
    for (uint32_t s = 0; s < strips_; ++s) {
        int error = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, s, &error);
        const uint64_t size = error == 0 ? TIFFGetStrileByteCountWithErr(tif, s, &error) : 0;
        if (error != 0 || size == 0 || offset > data_.size() || size > data_.size() - offset) {
            fail(Kind::corrupt, "A TIFF strip lies outside the file");
        }
        places[s] = {offset, size};
    }
    return places;
}

void TiffStripReader::decode(uint32_t first, uint32_t end,
                             const std::function<uint8_t*(uint32_t)>& row) const {
    if (first >= end) {
        return;
    }
    MappedImage image{data_};
    const Handle handle = openHandle(image);
    TIFF* tif = handle.get();
    // Checked again: this handle reads the header anew.
    if (TIFFNumberOfStrips(tif) != strips_) {
        fail(Kind::corrupt, "A TIFF's strips changed");
    }
    const size_t rowBytes = size_t(width_) * 4;
    std::vector<uint8_t> scratch(rowsPerStrip_ > 1 ? rowBytes * rowsPerStrip_ : 0);
    for (uint32_t s = first; s < end && s < strips_; ++s) {
        const uint32_t y0 = s * rowsPerStrip_;
        const uint32_t rows = std::min(rowsPerStrip_, height_ - y0);
        const tmsize_t wanted = tmsize_t(rows * rowBytes);
        // A strip of one row goes straight to its place.
        uint8_t* target = rowsPerStrip_ == 1 ? row(y0) : scratch.data();
        if (TIFFReadEncodedStrip(tif, s, target, wanted) != wanted) {
            fail(Kind::corrupt,
                 image.error.empty() ? "Corrupt or truncated TIFF strip" : image.error);
        }
        if (rowsPerStrip_ > 1) {
            for (uint32_t r = 0; r < rows; ++r) {
                std::memcpy(row(y0 + r), scratch.data() + r * rowBytes, rowBytes);
            }
        }
    }
}

} // namespace velmora::codec
