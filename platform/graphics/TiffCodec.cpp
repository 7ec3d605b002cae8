#include "foundation/FatalError.hpp"
#include "graphics/CodecSupport.hpp"
#include "graphics/ColorManagement.hpp"
#include "graphics/PieceWriter.hpp"
#include "graphics/TiffBands.hpp"
#include "graphics/TiffStripReader.hpp"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <tbb/parallel_for.h>
#include <tiffio.h>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

// A TIFF in memory: read from `data`, or written into `out` or as `pieces`.
struct MemoryFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr;
    PieceWriter* pieces = nullptr;
    uint64_t position = 0;
    std::string error;

    size_t length() const {
        return pieces != nullptr ? pieces->length() : out != nullptr ? out->size() : size;
    }
    const uint8_t* bytes() const { return out != nullptr ? out->data() : data; }
};

tmsize_t readProc(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->pieces != nullptr && n >= 0) {
        const size_t count = f->pieces->read(f->position, static_cast<uint8_t*>(buffer), size_t(n));
        f->position += count;
        return tmsize_t(count);
    }
    if (n < 0 || f->position >= f->length()) {
        return 0;
    }
    const size_t count = std::min<uint64_t>(static_cast<uint64_t>(n), f->length() - f->position);
    std::memcpy(buffer, f->bytes() + f->position, count);
    f->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeProc(thandle_t h, void* buffer, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->pieces != nullptr && n >= 0) {
        f->pieces->write(f->position, static_cast<const uint8_t*>(buffer), size_t(n));
        f->position += uint64_t(n);
        return n;
    }
    if (f->out == nullptr || n < 0) {
        return -1;
    }
    if (n == 0) {
        return 0;
    }
    const uint64_t end = f->position + static_cast<uint64_t>(n);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    if (f->position == f->out->size()) {
        f->out->insert(f->out->end(), bytes, bytes + n); // appending: no zeros written first
    } else {
        if (end > f->out->size()) {
            f->out->resize(end);
        }
        std::memcpy(f->out->data() + f->position, bytes, static_cast<size_t>(n));
    }
    f->position = end;
    return n;
}

toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = f->position;
    } else if (whence == SEEK_END) {
        base = f->length();
    }
    const uint64_t target = base + offset;
    if (target < base || target > (uint64_t(1) << 40)) {
        return static_cast<toff_t>(-1);
    }
    f->position = target;
    return target;
}

int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t h) {
    return static_cast<MemoryFile*>(h)->length();
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int errorHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* f = static_cast<MemoryFile*>(user);
    if (f != nullptr && f->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        f->error = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    }
    return 1; // handled: nothing reaches stderr
}

int warningHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle open(MemoryFile& file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &file);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(1) << 30);
    TIFF* tif = TIFFClientOpenExt("memory", mode, &file, readProc, writeProc, seekProc, closeProc,
                                  sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    return TiffHandle(tif);
}

TiffHandle openForReading(MemoryFile& file, std::span<const uint8_t> data) {
    file.data = data.data();
    file.size = data.size();
    // 'm': no memory mapping; 'c' not given, so the first directory is read at once.
    TiffHandle tif = open(file, "rm");
    if (tif == nullptr) {
        fail(data.size() < 16 ? Kind::truncated : Kind::corrupt,
             file.error.empty() ? "Unreadable TIFF header" : file.error);
    }
    return tif;
}

struct Form {
    uint32_t width = 0, height = 0;
    uint16_t bitsPerSample = 1, samplesPerPixel = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, orientation = ORIENTATION_TOPLEFT;
    uint16_t inkSet = INKSET_CMYK;
    bool hasPhotometric = false;
};

Form readForm(TIFF* tif) {
    Form f;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &f.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &f.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &f.inkSet);
    f.hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric) == 1;
    if (!f.hasPhotometric) {
        // Readers commonly assume grey, or RGB for three samples and more.
        f.photometric = f.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    return f;
}

NSColorSpaceModel modelOf(const Form& f) {
    switch (f.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return NSColorSpaceModel::gray;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_YCBCR:
        return NSColorSpaceModel::rgb;
    case PHOTOMETRIC_SEPARATED:
        return f.inkSet == INKSET_CMYK ? NSColorSpaceModel::cmyk : NSColorSpaceModel::unknown;
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return NSColorSpaceModel::lab;
    default:
        return NSColorSpaceModel::unknown;
    }
}

std::span<const uint8_t> iccOf(TIFF* tif) {
    uint32_t count = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &count, &profile) == 1 && profile != nullptr) {
        return {static_cast<const uint8_t*>(profile), count};
    }
    return {};
}

void applyResolution(TIFF* tif, ImageBuilder& builder) {
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) != 1 ||
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) != 1) {
        return;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_CENTIMETER) {
        builder.setMetricResolution(x * 100.0, y * 100.0);
    } else if (unit == RESUNIT_INCH) {
        builder.setResolution(x, y);
    }
}

void unpremultiply8(uint8_t* p, size_t count, int channels) {
    const int stride = channels + 1;
    for (size_t i = 0; i < count; ++i, p += stride) {
        const uint32_t a = p[channels];
        for (int c = 0; c < channels && a != 255; ++c) {
            p[c] = a == 0 ? 0
                          : static_cast<uint8_t>(std::min<uint32_t>(255, (p[c] * 255 + a / 2) / a));
        }
    }
}

void unpremultiply16(uint16_t* p, size_t count, int channels) {
    const int stride = channels + 1;
    for (size_t i = 0; i < count; ++i, p += stride) {
        const uint64_t a = p[channels];
        for (int c = 0; c < channels && a != 65535; ++c) {
            p[c] = a == 0 ? 0
                          : static_cast<uint16_t>(
                                std::min<uint64_t>(65535, (p[c] * 65535ull + a / 2) / a));
        }
    }
}

// Everything TIFFRGBAImage understands that our own reader does not (YCbCr, Lab,
// odd depths). It hands back premultiplied 8-bit pixels.
NSBitmapImageRepRef decodeThroughRGBAImage(TIFF* tif, const Form& f, MemoryFile& file) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) {
        fail(Kind::unsupported, std::string("Unsupported TIFF: ") + message);
    }
    const auto icc = iccOf(tif);
    ImageBuilder builder(f.width, f.height, PixelLayout::rgba8,
                         f.photometric == PHOTOMETRIC_RGB || f.photometric == PHOTOMETRIC_YCBCR
                             ? icc
                             : std::span<const uint8_t>());
    std::vector<uint32_t> raster(size_t(f.width) * f.height);
    if (!TIFFReadRGBAImageOriented(tif, f.width, f.height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
        fail(Kind::corrupt, file.error.empty() ? "Corrupt TIFF data" : file.error);
    }
    std::vector<uint8_t> row(size_t(f.width) * 4);
    for (uint32_t y = 0; y < f.height; ++y) {
        const uint32_t* source = raster.data() + size_t(y) * f.width;
        for (uint32_t x = 0; x < f.width; ++x) {
            row[x * 4 + 0] = static_cast<uint8_t>(TIFFGetR(source[x]));
            row[x * 4 + 1] = static_cast<uint8_t>(TIFFGetG(source[x]));
            row[x * 4 + 2] = static_cast<uint8_t>(TIFFGetB(source[x]));
            row[x * 4 + 3] = static_cast<uint8_t>(TIFFGetA(source[x]));
        }
        unpremultiplyRGBA8(row.data(), f.width);
        builder.putRow(y, row.data());
    }
    applyResolution(tif, builder);
    return builder.finish();
}

// Reads rows band by band (a strip or a row of tiles at a time) so that memory
// stays proportional to a band, whatever the compression.
class BandReader {
public:
    BandReader(TIFF* tif, const Form& f, MemoryFile& file) : tif_(tif), f_(f), file_(file) {
        planes_ = f.planar == PLANARCONFIG_SEPARATE ? f.samplesPerPixel : 1;
        const uint64_t samplesInPlane = planes_ > 1 ? 1 : f.samplesPerPixel;
        planeRowBytes_ = (uint64_t(f.width) * samplesInPlane * f.bitsPerSample + 7) / 8;
        tiled_ = TIFFIsTiled(tif) != 0;
        if (tiled_) {
            uint32_t tw = 0, tl = 0;
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tl);
            if (tw == 0 || tl == 0 || tw > 65536 || tl > 65536 ||
                (uint64_t(tw) * samplesInPlane * f.bitsPerSample) % 8 != 0) {
                fail(Kind::corrupt, "Invalid TIFF tile size");
            }
            tileWidth_ = tw;
            bandRows_ = tl;
            tileRowBytes_ = uint64_t(tw) * samplesInPlane * f.bitsPerSample / 8;
            if (tileRowBytes_ * tl > (uint64_t(1) << 28)) {
                fail(Kind::tooLarge, "TIFF tiles too large");
            }
            tile_.resize(tileRowBytes_ * tl);
        } else {
            uint32_t rowsPerStrip = f.height;
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
            bandRows_ = std::clamp<uint32_t>(rowsPerStrip, 1, f.height);
        }
        if (planeRowBytes_ * bandRows_ * planes_ > (uint64_t(1) << 30)) {
            fail(Kind::tooLarge, "TIFF strips too large");
        }
        bands_.assign(planes_, std::vector<uint8_t>(planeRowBytes_ * bandRows_));
    }

    uint32_t bandRows() const { return bandRows_; }
    int planes() const { return planes_; }
    const uint8_t* planeRow(int plane, uint32_t rowInBand) const {
        return bands_[plane].data() + rowInBand * planeRowBytes_;
    }

    void load(uint32_t y0) {
        const uint32_t rows = std::min(bandRows_, f_.height - y0);
        const uint64_t wanted = uint64_t(rows) * planeRowBytes_;
        for (int p = 0; p < planes_; ++p) {
            if (!tiled_) {
                const uint32_t strip = TIFFComputeStrip(tif_, y0, static_cast<uint16_t>(p));
                const tmsize_t n = TIFFReadEncodedStrip(tif_, strip, bands_[p].data(),
                                                        static_cast<tmsize_t>(wanted));
                if (n < 0 || uint64_t(n) < wanted) {
                    fail(Kind::corrupt,
                         file_.error.empty() ? "Corrupt or truncated TIFF strip" : file_.error);
                }
                continue;
            }
            for (uint32_t x = 0; x < f_.width; x += tileWidth_) {
                const uint32_t t = TIFFComputeTile(tif_, x, y0, 0, static_cast<uint16_t>(p));
                const tmsize_t n =
                    TIFFReadEncodedTile(tif_, t, tile_.data(), static_cast<tmsize_t>(tile_.size()));
                if (n < 0 || size_t(n) < tile_.size()) {
                    fail(Kind::corrupt,
                         file_.error.empty() ? "Corrupt or truncated TIFF tile" : file_.error);
                }
                const uint64_t offset = uint64_t(x / tileWidth_) * tileRowBytes_;
                const uint64_t count = std::min(tileRowBytes_, planeRowBytes_ - offset);
                for (uint32_t r = 0; r < rows; ++r) {
                    std::memcpy(bands_[p].data() + r * planeRowBytes_ + offset,
                                tile_.data() + r * tileRowBytes_, count);
                }
            }
        }
    }

private:
    TIFF* tif_;
    const Form& f_;
    MemoryFile& file_;
    int planes_ = 1;
    bool tiled_ = false;
    uint32_t bandRows_ = 1, tileWidth_ = 0;
    uint64_t planeRowBytes_ = 0, tileRowBytes_ = 0;
    std::vector<std::vector<uint8_t>> bands_;
    std::vector<uint8_t> tile_;
};

bool ownReaderHandles(const Form& f) {
    if (f.sampleFormat != SAMPLEFORMAT_UINT && f.sampleFormat != SAMPLEFORMAT_VOID) {
        return false;
    }
    const int bits = f.bitsPerSample;
    switch (f.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
        return (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) &&
               f.samplesPerPixel >= 1;
    case PHOTOMETRIC_PALETTE:
        return (bits == 1 || bits == 2 || bits == 4 || bits == 8) && f.samplesPerPixel >= 1;
    case PHOTOMETRIC_RGB:
        return (bits == 8 || bits == 16) && f.samplesPerPixel >= 3;
    case PHOTOMETRIC_SEPARATED:
        return (bits == 8 || bits == 16) && f.samplesPerPixel >= 4 && f.inkSet == INKSET_CMYK;
    default:
        return false;
    }
}

NSBitmapImageRepRef decodeOwn(TIFF* tif, const Form& f, MemoryFile& file) {
    const bool gray =
        f.photometric == PHOTOMETRIC_MINISBLACK || f.photometric == PHOTOMETRIC_MINISWHITE;
    const bool palette = f.photometric == PHOTOMETRIC_PALETTE;
    const bool cmyk = f.photometric == PHOTOMETRIC_SEPARATED;
    const int colours = gray || palette ? 1 : cmyk ? 4 : 3;
    const int bits = f.bitsPerSample;

    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    bool alpha = false, associated = false;
    if (!cmyk && f.samplesPerPixel > colours && extraCount > 0 && extraTypes != nullptr &&
        (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA)) {
        alpha = true;
        associated = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    }

    const uint16_t *mapR = nullptr, *mapG = nullptr, *mapB = nullptr;
    bool eightBitMap = false;
    if (palette) {
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &mapR, &mapG, &mapB) != 1 || mapR == nullptr) {
            fail(Kind::corrupt, "TIFF palette image without a colour map");
        }
        eightBitMap = true;
        for (uint32_t i = 0; i < (1u << bits); ++i) {
            if (mapR[i] > 255 || mapG[i] > 255 || mapB[i] > 255) {
                eightBitMap = false;
                break;
            }
        }
    }

    const bool wide = bits == 16 && !cmyk; // CMYK is taken to 8 bits
    PixelLayout layout;
    int outChannels;
    if (palette) {
        layout = alpha ? PixelLayout::rgba8 : PixelLayout::rgb8;
        outChannels = alpha ? 4 : 3;
    } else if (gray) {
        layout = wide ? (alpha ? PixelLayout::grayAlpha16 : PixelLayout::gray16)
                      : (alpha ? PixelLayout::grayAlpha8 : PixelLayout::gray8);
        outChannels = alpha ? 2 : 1;
    } else if (cmyk) {
        layout = PixelLayout::cmyk8;
        outChannels = 4;
    } else {
        layout = wide ? (alpha ? PixelLayout::rgba16 : PixelLayout::rgb16)
                      : (alpha ? PixelLayout::rgba8 : PixelLayout::rgb8);
        outChannels = alpha ? 4 : 3;
    }

    ImageBuilder builder(f.width, f.height, layout, iccOf(tif));
    BandReader reader(tif, f, file);
    const int spp = f.samplesPerPixel;
    const int planes = reader.planes();
    const uint32_t maxValue = (1u << bits) - 1;
    std::vector<uint8_t> row8(size_t(f.width) * outChannels);
    std::vector<uint16_t> row16(wide ? size_t(f.width) * outChannels : 0);
    const bool flip = f.orientation == ORIENTATION_BOTLEFT;

    // Interleaved 8 or 16-bit samples with straight or no alpha are already the
    // builder's layout, which is the common case of every file we write.
    const bool samplesAsStored = planes == 1 && (bits == 8 || bits == 16) && !palette && !cmyk &&
                                 !associated && f.photometric != PHOTOMETRIC_MINISWHITE &&
                                 spp == outChannels;
    for (uint32_t y0 = 0; y0 < f.height; y0 += reader.bandRows()) {
        reader.load(y0);
        const uint32_t rows = std::min(reader.bandRows(), f.height - y0);
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t y = y0 + r;
            if (samplesAsStored) {
                builder.putRow(flip ? f.height - 1 - y : y, reader.planeRow(0, r));
                continue;
            }
            auto sample = [&](uint32_t x, int s) -> uint32_t {
                const uint8_t* base = reader.planeRow(planes > 1 ? s : 0, r);
                const uint64_t index = planes > 1 ? x : uint64_t(x) * spp + s;
                if (bits == 8) {
                    return base[index];
                }
                if (bits == 16) {
                    uint16_t v;
                    std::memcpy(&v, base + index * 2, 2);
                    return v;
                }
                const uint64_t bit = index * bits;
                return (base[bit >> 3] >> (8 - bits - (bit & 7))) & maxValue;
            };
            for (uint32_t x = 0; x < f.width; ++x) {
                if (palette) {
                    const uint32_t i = sample(x, 0);
                    uint8_t* o = &row8[size_t(x) * outChannels];
                    auto entry = [&](const uint16_t* map) {
                        return static_cast<uint8_t>(eightBitMap ? map[i] : map[i] * 255u / 65535u);
                    };
                    o[0] = entry(mapR), o[1] = entry(mapG), o[2] = entry(mapB);
                    if (alpha) {
                        o[3] = static_cast<uint8_t>(sample(x, 1) * 255 / maxValue);
                    }
                    continue;
                }
                for (int c = 0; c < outChannels; ++c) {
                    uint32_t v = sample(x, c);
                    if (gray && c == 0 && f.photometric == PHOTOMETRIC_MINISWHITE) {
                        v = maxValue - v;
                    }
                    if (wide) {
                        row16[size_t(x) * outChannels + c] = static_cast<uint16_t>(v);
                    } else if (bits == 16) {
                        row8[size_t(x) * outChannels + c] =
                            static_cast<uint8_t>((v * 255 + 32767) / 65535);
                    } else {
                        row8[size_t(x) * outChannels + c] =
                            static_cast<uint8_t>(bits == 8 ? v : v * 255 / maxValue);
                    }
                }
            }
            if (associated) {
                if (wide) {
                    unpremultiply16(row16.data(), f.width, outChannels - 1);
                } else {
                    unpremultiply8(row8.data(), f.width, outChannels - 1);
                }
            }
            builder.putRow(flip ? f.height - 1 - y : y,
                           wide ? static_cast<const void*>(row16.data()) : row8.data());
        }
    }
    applyResolution(tif, builder);
    return builder.finish();
}

} // namespace

ImageInfo tiffInfo(std::span<const uint8_t> data) {
    MemoryFile file;
    auto tif = openForReading(file, data);
    const Form f = readForm(tif.get());
    ImageInfo info{NSBitmapImageFileType::tiff};
    info.pixelsWide = f.width;
    info.pixelsHigh = f.height;
    info.colorSpaceModel = modelOf(f);
    info.bitsPerSample = f.photometric == PHOTOMETRIC_PALETTE ? 8 : f.bitsPerSample;
    return info;
}

NSBitmapImageRepRef tiffDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    MemoryFile file;
    auto tif = openForReading(file, data);
    const Form f = readForm(tif.get());
    checkPixelCount(f.width, f.height, limits);
    if (f.bitsPerSample == 0 || f.bitsPerSample > 16 || f.samplesPerPixel == 0) {
        fail(Kind::corrupt, "Invalid TIFF sample description");
    }
    if (ownReaderHandles(f)) {
        return decodeOwn(tif.get(), f, file);
    }
    return decodeThroughRGBAImage(tif.get(), f, file);
}

namespace {

// The fields every strip's encoding depends on, shared by the file and the
// bands encoded on their own.
struct StripForm {
    uint32_t width = 0;
    bool alpha = false;
    int method = COMPRESSION_NONE;
};

void setStripForm(TIFF* t, const StripForm& form, uint32_t height) {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, form.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, form.alpha ? 4 : 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, form.method);
    if (form.method == COMPRESSION_LZW) {
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    }
    if (form.alpha) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
}

// Rows of `rgba` (straight RGBA, 4 · width bytes each) as scanlines 0, 1, ...
// of `t`. The rows are scratch: the encoder's predictor works on them in place.
void writeRows(TIFF* t, const StripForm& form, uint8_t* rgba, uint32_t count, MemoryFile& file) {
    const size_t rowBytes = size_t(form.width) * 4;
    for (uint32_t r = 0; r < count; ++r) {
        uint8_t* row = rgba + r * rowBytes;
        if (!form.alpha) {
            // In place, front to back: each pixel moves down, never over one unread.
            for (uint32_t x = 1; x < form.width; ++x) {
                std::memmove(row + size_t(x) * 3, row + size_t(x) * 4, 3);
            }
        }
        if (TIFFWriteScanline(t, row, r, 0) != 1) {
            fail(Kind::encodingFailed, "TIFF writer failed: " + file.error);
        }
    }
}

// One band of whole strips encoded as a TIFF of its own; its strips are then
// taken raw from `bytes`.
EncodedBand encodeBand(const StripForm& form, uint32_t y0, uint32_t y1, uint32_t rowsPerStrip,
                       const BandFiller& fill) {
    std::vector<uint8_t> rgba(size_t(y1 - y0) * form.width * 4);
    fill(y0, y1, rgba.data());
    EncodedBand band;
    MemoryFile file;
    file.out = &band.bytes;
    auto tif = open(file, "wm");
    if (tif == nullptr) {
        fail(Kind::encodingFailed, "TIFF writer could not start: " + file.error);
    }
    TIFF* t = tif.get();
    setStripForm(t, form, y1 - y0);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    writeRows(t, form, rgba.data(), y1 - y0, file);
    // The strips' data written, the directory (with their places) still in memory.
    if (!TIFFFlushData(t)) {
        fail(Kind::encodingFailed, "TIFF writer failed: " + file.error);
    }
    const uint32_t count = TIFFNumberOfStrips(t);
    for (uint32_t s = 0; s < count; ++s) {
        const uint64_t offset = TIFFGetStrileOffset(t, s);
        const uint64_t size = TIFFGetStrileByteCount(t, s);
        if (offset > band.bytes.size() || size > band.bytes.size() - offset) {
            fail(Kind::encodingFailed, "TIFF writer lost a strip");
        }
        band.strips.emplace_back(offset, size);
    }
    return band;
}

} // namespace

namespace {

// The TIFF being written, its tags set as every writer of rows sets them.
class TiffOutput {
public:
    // Written into memory of its own, or as `pieces`.
    TiffOutput(const StripForm& form, uint32_t height, const TiffResolution& resolution,
               const std::vector<uint8_t>& icc, PieceWriter* pieces = nullptr) {
        file_.out = &out_;
        file_.pieces = pieces;
        tif_ = open(file_, "wm");
        if (tif_ == nullptr) {
            fail(Kind::encodingFailed, "TIFF writer could not start: " + file_.error);
        }
        TIFF* t = tif_.get();
        setStripForm(t, form, height);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, resolution.dpiX);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, resolution.dpiY);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        rowsPerStrip_ = TIFFDefaultStripSize(t, 0);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip_);
        TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc.size()), icc.data());
    }
    TiffOutput(const TiffOutput&) = delete;
    TiffOutput& operator=(const TiffOutput&) = delete;

    TIFF* tif() const { return tif_.get(); }
    MemoryFile& file() { return file_; }
    uint32_t rowsPerStrip() const { return rowsPerStrip_; }
    void reserve(size_t bytes) { out_.reserve(bytes); }

    void writeRawStrip(uint32_t strip, const uint8_t* bytes, uint64_t size) {
        if (TIFFWriteRawStrip(tif_.get(), strip, const_cast<uint8_t*>(bytes), tmsize_t(size)) < 0) {
            fail(Kind::encodingFailed, "TIFF writer failed: " + file_.error);
        }
    }

    std::vector<uint8_t> finish() {
        if (!TIFFFlush(tif_.get())) {
            fail(Kind::encodingFailed, "TIFF writer failed: " + file_.error);
        }
        tif_.reset();
        return std::move(out_);
    }
    PieceWriter::Bytes finish(const PieceWriter& pieces) {
        finish();
        return pieces.assemble();
    }

private:
    std::vector<uint8_t> out_;
    MemoryFile file_;
    TiffHandle tif_;
    uint32_t rowsPerStrip_ = 1;
};

// Strips are compressed each on its own: bands of whole strips are encoded in
// parallel, small ones with our LZW, about 2 MiB of pixels through libtiff,
// whose every band is a TIFF of its own.
uint32_t stripsPerBand(const StripForm& form, uint32_t rowsPerStrip) {
    const size_t stripBytes = size_t(rowsPerStrip) * form.width * 4;
    const size_t bandBytes = size_t(1) << (form.method == COMPRESSION_LZW ? 18 : 21);
    return uint32_t(std::max<size_t>(1, bandBytes / std::max<size_t>(stripBytes, 1)));
}

EncodedBand encodeStrips(const StripForm& form, uint32_t y0, uint32_t y1, uint32_t rowsPerStrip,
                         const BandFiller& fill) {
    return form.method == COMPRESSION_LZW
               ? encodeLzwBand(form.width, form.alpha, y0, y1, rowsPerStrip, fill)
               : encodeBand(form, y0, y1, rowsPerStrip, fill);
}

} // namespace

std::vector<uint8_t> tiffEncodeRows(uint32_t width, uint32_t height, bool alpha, int method,
                                    const TiffResolution& resolution,
                                    const std::vector<uint8_t>& icc, const BandFiller& fill) {
    if (method != COMPRESSION_NONE && method != COMPRESSION_LZW && method != COMPRESSION_PACKBITS) {
        fail(Kind::encodingFailed, "Unsupported TIFF compression " + std::to_string(method));
    }
    const StripForm form{width, alpha, method};
    TiffOutput output(form, height, resolution, icc);
    const uint32_t rowsPerStrip = output.rowsPerStrip();
    const bool lzw = method == COMPRESSION_LZW;
    if (lzw || height > rowsPerStrip) {
        const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
        const uint32_t bandRows = stripsPerBand(form, rowsPerStrip) * rowsPerStrip;
        const size_t bandCount = (height + bandRows - 1) / bandRows;
        // LZW takes most paint to well under half its pixels' bytes.
        output.reserve(size_t(height) * width * (lzw ? 2 : 4) + icc.size() + size_t(strips) * 16 +
                       (size_t(1) << 16));
        // Bands are copied into the file in order as soon as they and those
        // before are encoded, by whichever thread finishes one, while later
        // ones are still encoded: little is left to copy at the end.
        std::vector<EncodedBand> bands(bandCount);
        const auto ready = std::make_unique<std::atomic<bool>[]>(bandCount);
        std::atomic<size_t> written{0};
        std::mutex writing;
        uint32_t s = 0;
        const auto writeReady = [&] {
            for (size_t b = written.load(); b < bandCount && ready[b].load(); ++b) {
                for (const auto& [offset, size] : bands[b].strips) {
                    precondition(s < strips, "A band holds more strips than its rows");
                    output.writeRawStrip(s++, bands[b].bytes.data() + offset, size);
                }
                bands[b] = {}; // given back as soon as it is copied
                written.store(b + 1);
            }
        };
        tbb::parallel_for(size_t(0), bandCount, [&](size_t b) {
            const uint32_t y0 = uint32_t(b) * bandRows;
            bands[b] = encodeStrips(form, y0, std::min(height, y0 + bandRows), rowsPerStrip, fill);
            ready[b].store(true);
            // A band whose turn comes while another thread copies waits for
            // the next band finished, or for the end.
            if (std::unique_lock lock(writing, std::try_to_lock); lock.owns_lock()) {
                writeReady();
            }
        });
        {
            const std::lock_guard lock(writing);
            writeReady();
        }
        precondition(written.load() == bandCount, "A band was never copied");
    } else {
        std::vector<uint8_t> rgba(size_t(height) * width * 4);
        fill(0, height, rgba.data());
        writeRows(output.tif(), form, rgba.data(), height, output.file());
    }
    return output.finish();
}

std::optional<LargeBytes> tiffReencodeRows(std::span<const uint8_t> previous,
                                           std::span<const RowRange> changedRows, uint32_t width,
                                           uint32_t height, bool alpha, int method,
                                           const TiffResolution& resolution,
                                           const std::vector<uint8_t>& icc,
                                           const BandFiller& fill) {
    if (!alpha || (method != COMPRESSION_LZW && method != COMPRESSION_PACKBITS &&
                   method != COMPRESSION_NONE)) {
        return std::nullopt;
    }
    const StripForm form{width, alpha, method};
    // Most strips are the old ones: placed where they go in the new file, once.
    PieceWriter pieces;
    pieces.keepReferencesInto(previous);
    TiffOutput output(form, height, resolution, icc, &pieces);
    const uint32_t rowsPerStrip = output.rowsPerStrip();
    const uint32_t strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    // The old strips are taken raw: they must be coded exactly as ours are.
    std::optional<TiffStripReader> old;
    std::vector<std::pair<uint64_t, uint64_t>> places;
    try {
        old = TiffStripReader::open(previous, icc);
        if (!old || old->width() != width || old->height() != height ||
            old->rowsPerStrip() != rowsPerStrip || old->strips() != strips ||
            old->compression() != method || old->fillOrder() != FILLORDER_MSB2LSB ||
            old->predictor() !=
                (method == COMPRESSION_LZW ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE)) {
            return std::nullopt;
        }
        places = old->stripPlaces();
    } catch (const ImageCodecError&) {
        return std::nullopt;
    }
    std::vector<bool> changed(strips, false);
    for (const RowRange& rows : changedRows) {
        const uint32_t end = std::min(rows.end, height);
        for (uint32_t y = rows.first - rows.first % rowsPerStrip; y < end; y += rowsPerStrip) {
            changed[y / rowsPerStrip] = true;
        }
    }
    // Bands of runs of changed strips, each band no longer than a whole encode's.
    struct Band {
        uint32_t firstStrip, endStrip;
    };
    std::vector<Band> bands;
    const uint32_t perBand = stripsPerBand(form, rowsPerStrip);
    for (uint32_t s = 0; s < strips;) {
        if (!changed[s]) {
            ++s;
            continue;
        }
        uint32_t e = s + 1;
        while (e < strips && changed[e] && e - s < perBand) {
            ++e;
        }
        bands.push_back({s, e});
        s = e;
    }
    size_t changedCount = 0;
    for (const Band& band : bands) {
        changedCount += band.endStrip - band.firstStrip;
    }
    if (changedCount == strips) {
        return std::nullopt; // nothing to keep
    }
    std::vector<EncodedBand> encoded(bands.size());
    tbb::parallel_for(size_t(0), bands.size(), [&](size_t b) {
        encoded[b] =
            encodeStrips(form, bands[b].firstStrip * rowsPerStrip,
                         std::min(height, bands[b].endStrip * rowsPerStrip), rowsPerStrip, fill);
    });
    for (const EncodedBand& band : encoded) {
        pieces.keepReferencesInto(band.bytes);
    }
    size_t b = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        if (b < bands.size() && s >= bands[b].firstStrip) {
            precondition(encoded[b].strips.size() == bands[b].endStrip - bands[b].firstStrip,
                         "A band encoded otherwise than its strips");
            const auto& [offset, bytes] = encoded[b].strips[s - bands[b].firstStrip];
            output.writeRawStrip(s, encoded[b].bytes.data() + offset, bytes);
            b += s + 1 == bands[b].endStrip;
            continue;
        }
        output.writeRawStrip(s, previous.data() + places[s].first, places[s].second);
    }
    return output.finish(pieces);
}

std::vector<uint8_t> tiffEncode(const NSBitmapImageRep& bitmap,
                                const ImageEncodingProperties& properties) {
    const auto space = targetSpace(bitmap, properties);
    RowReader check(bitmap, space); // refuses layouts it cannot read before any work
    const uint32_t width = static_cast<uint32_t>(bitmap.pixelsWide());
    const uint32_t height = static_cast<uint32_t>(bitmap.pixelsHigh());
    const auto size = bitmap.size();
    const TiffResolution resolution{size.width > 0 ? float(72.0 * width / size.width) : 72.0f,
                                    size.height > 0 ? float(72.0 * height / size.height) : 72.0f};
    return tiffEncodeRows(
        width, height, bitmap.hasAlpha(), properties.compressionMethod.value_or(COMPRESSION_NONE),
        resolution, space->iccData(), [&](uint32_t y0, uint32_t y1, uint8_t* rgba) {
            RowReader rows(bitmap, space);
            for (uint32_t y = y0; y < y1; ++y) {
                std::memcpy(rgba + size_t(y - y0) * width * 4, rows.row(y), size_t(width) * 4);
            }
        });
}

} // namespace velmora::codec
