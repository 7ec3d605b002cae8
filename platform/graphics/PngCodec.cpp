#include "graphics/CodecSupport.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <optional>
#include <png.h>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

// libpng reports fatal errors through png_error, which longjmps to the frame that
// called setjmp(png_jmpbuf). As with JPEG, that frame and the callbacks in
// between keep all C++ state in the session object, never in jumped-over locals.
struct PngError {
    char message[256] = {};
    Kind kind = Kind::corrupt;
};

void onError(png_structp png, png_const_charp message) {
    auto* e = static_cast<PngError*>(png_get_error_ptr(png));
    if (e->message[0] == '\0') {
        std::snprintf(e->message, sizeof e->message, "%s", message);
    }
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

struct Reader {
    std::span<const uint8_t> data;
    size_t position = 0;
    PngError* error = nullptr;
};

void readData(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (length > r->data.size() - r->position) {
        r->error->kind = Kind::truncated;
        png_error(png, "The PNG data ends too early");
    }
    std::memcpy(out, r->data.data() + r->position, length);
    r->position += length;
}

struct DecodeSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    Reader reader;
    const ImageDecodingLimits* limits = nullptr;
    std::optional<ImageBuilder> builder;
    std::vector<uint8_t> image; // whole source image, only for interlaced files
    std::vector<uint8_t> row, converted;
    std::string pendingError;
    Kind pendingKind = Kind::corrupt;

    ~DecodeSession() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
    }
};

struct Palette {
    png_colorp colors = nullptr;
    int count = 0;
    png_bytep alpha = nullptr;
    int alphaCount = 0;
};

bool runDecode(DecodeSession* s) {
    if (setjmp(png_jmpbuf(s->png)) != 0) {
        s->pendingKind = s->error.kind;
        s->pendingError = s->error.message;
        return false;
    }
    png_set_read_fn(s->png, &s->reader, readData);
    png_set_user_limits(s->png, 1u << 24, 1u << 24);
    png_set_chunk_malloc_max(s->png, 16u << 20);
    png_set_chunk_cache_max(s->png, 1000);
    png_set_benign_errors(s->png, 1);
    png_read_info(s->png, s->info);

    const png_uint_32 width = png_get_image_width(s->png, s->info);
    const png_uint_32 height = png_get_image_height(s->png, s->info);
    const int colorType = png_get_color_type(s->png, s->info);
    const int depth = png_get_bit_depth(s->png, s->info);
    const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
    Palette pal;
    if (palette) {
        png_get_PLTE(s->png, s->info, &pal.colors, &pal.count);
        if (pal.colors == nullptr || pal.count == 0) {
            png_error(s->png, "PNG palette image without a palette");
        }
        png_color_16p unused = nullptr;
        png_get_tRNS(s->png, s->info, &pal.alpha, &pal.alphaCount, &unused);
        png_set_packing(s->png); // indices of 1, 2 or 4 bits become one byte each
    } else {
        png_set_expand_gray_1_2_4_to_8(s->png);
        if (png_get_valid(s->png, s->info, PNG_INFO_tRNS)) {
            png_set_tRNS_to_alpha(s->png);
        }
        if (depth == 16 && std::endian::native == std::endian::little) {
            png_set_swap(s->png);
        }
    }
    const int passes = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    const int channels = png_get_channels(s->png, s->info);
    const int outDepth = png_get_bit_depth(s->png, s->info);

    PixelLayout layout;
    if (palette) {
        layout = pal.alphaCount > 0 ? PixelLayout::rgba8 : PixelLayout::rgb8;
    } else {
        static constexpr PixelLayout eight[] = {PixelLayout::gray8, PixelLayout::grayAlpha8,
                                                PixelLayout::rgb8, PixelLayout::rgba8};
        static constexpr PixelLayout sixteen[] = {PixelLayout::gray16, PixelLayout::grayAlpha16,
                                                  PixelLayout::rgb16, PixelLayout::rgba16};
        if (channels < 1 || channels > 4 || (outDepth != 8 && outDepth != 16)) {
            png_error(s->png, "Unexpected PNG row form");
        }
        layout = outDepth == 16 ? sixteen[channels - 1] : eight[channels - 1];
    }

    try {
        checkPixelCount(width, height, *s->limits);
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileSize = 0;
        std::span<const uint8_t> icc;
        if (png_get_iCCP(s->png, s->info, &name, &compression, &profile, &profileSize) ==
                PNG_INFO_iCCP &&
            profile != nullptr) {
            icc = {profile, profileSize};
        }
        s->builder.emplace(width, height, layout, icc);
        png_uint_32 xppm = 0, yppm = 0;
        int unit = 0;
        if (png_get_pHYs(s->png, s->info, &xppm, &yppm, &unit) == PNG_INFO_pHYs &&
            unit == PNG_RESOLUTION_METER) {
            s->builder->setMetricResolution(xppm, yppm);
        }
        const size_t rowBytes = png_get_rowbytes(s->png, s->info);
        if (rowBytes < size_t(width) * channels * (outDepth / 8)) {
            png_error(s->png, "Unexpected PNG row size");
        }
        if (passes > 1) {
            s->image.resize(rowBytes * height);
        }
        s->row.resize(rowBytes);
        s->converted.resize(size_t(width) * 4);
    } catch (const ImageCodecError& e) {
        s->pendingKind = e.kind();
        s->pendingError = e.what();
        return false;
    } catch (const std::bad_alloc&) {
        s->pendingKind = Kind::tooLarge;
        s->pendingError = "Not enough memory for the PNG image";
        return false;
    }

    const size_t rowBytes = s->row.size();
    // Interlaced files need every pass before any row is complete.
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            png_bytep target = passes > 1 ? s->image.data() + rowBytes * y : s->row.data();
            png_read_row(s->png, target, nullptr);
            if (passes > 1 && pass + 1 < passes) {
                continue;
            }
            const uint8_t* source = target;
            if (palette) {
                const int stride = pal.alphaCount > 0 ? 4 : 3;
                for (png_uint_32 x = 0; x < width; ++x) {
                    const int index = source[x];
                    if (index >= pal.count) {
                        png_error(s->png, "PNG palette index out of range");
                    }
                    uint8_t* o = &s->converted[size_t(x) * stride];
                    o[0] = pal.colors[index].red;
                    o[1] = pal.colors[index].green;
                    o[2] = pal.colors[index].blue;
                    if (stride == 4) {
                        o[3] = index < pal.alphaCount ? pal.alpha[index] : 255;
                    }
                }
                source = s->converted.data();
            }
            s->builder->putRow(y, source);
        }
    }
    return true;
}

struct Writer {
    std::vector<uint8_t> out;
};

void writeData(png_structp png, png_bytep data, size_t length) {
    auto* w = static_cast<Writer*>(png_get_io_ptr(png));
    w->out.insert(w->out.end(), data, data + length);
}

void flushData(png_structp) {}

struct EncodeSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    Writer writer;
    RowReader* rows = nullptr;
    const std::vector<uint8_t>* icc = nullptr;
    uint32_t width = 0, height = 0;
    bool alpha = true;
    double dpiX = 72, dpiY = 72;
    std::vector<uint8_t> line;
    std::string pendingError;

    ~EncodeSession() {
        if (png != nullptr) {
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        }
    }
};

bool runEncode(EncodeSession* s) {
    if (setjmp(png_jmpbuf(s->png)) != 0) {
        s->pendingError = s->error.message;
        return false;
    }
    png_set_write_fn(s->png, &s->writer, writeData, flushData);
    png_set_IHDR(s->png, s->info, s->width, s->height, 8,
                 s->alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_iCCP(s->png, s->info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, s->icc->data(),
                 static_cast<png_uint_32>(s->icc->size()));
    if (s->dpiX != 72 || s->dpiY != 72) {
        png_set_pHYs(s->png, s->info, static_cast<png_uint_32>(std::lround(s->dpiX / 0.0254)),
                     static_cast<png_uint_32>(std::lround(s->dpiY / 0.0254)), PNG_RESOLUTION_METER);
    }
    png_write_info(s->png, s->info);
    for (uint32_t y = 0; y < s->height; ++y) {
        const uint8_t* rgba = s->rows->row(y);
        if (s->alpha) {
            std::memcpy(s->line.data(), rgba, s->line.size());
        } else {
            for (uint32_t x = 0; x < s->width; ++x) {
                std::memcpy(&s->line[size_t(x) * 3], rgba + size_t(x) * 4, 3);
            }
        }
        png_write_row(s->png, s->line.data());
    }
    png_write_end(s->png, nullptr);
    return true;
}

DecodeSession* prepare(DecodeSession& s, std::span<const uint8_t> data) {
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.error, onError, onWarning);
    if (s.png == nullptr) {
        fail(Kind::tooLarge, "libpng could not start");
    }
    s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) {
        fail(Kind::tooLarge, "libpng could not start");
    }
    s.reader.data = data;
    s.reader.error = &s.error;
    return &s;
}

} // namespace

// Only the signature and the IHDR chunk are needed, so the header can be told
// before the rest of the file (profiles, text, pixels) is read or even present.
ImageInfo pngInfo(std::span<const uint8_t> data) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (data.size() < 8 || !std::equal(kSignature, kSignature + 8, data.begin())) {
        fail(Kind::unknownFormat, "PNG: not a PNG file");
    }
    if (data.size() < 8 + 8 + 13 + 4) {
        fail(Kind::truncated, "PNG: the data ends too early");
    }
    auto be32 = [&](size_t o) {
        return uint32_t(data[o]) << 24 | uint32_t(data[o + 1]) << 16 | uint32_t(data[o + 2]) << 8 |
               uint32_t(data[o + 3]);
    };
    if (be32(8) != 13 || std::memcmp(data.data() + 12, "IHDR", 4) != 0) {
        fail(Kind::corrupt, "PNG: the header chunk is missing");
    }
    const uint32_t width = be32(16), height = be32(20);
    const int depth = data[24], colorType = data[25];
    const bool depthFits =
        (colorType == 0 && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16)) ||
        (colorType == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)) ||
        ((colorType == 2 || colorType == 4 || colorType == 6) && (depth == 8 || depth == 16));
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF || !depthFits) {
        fail(Kind::corrupt, "PNG: invalid header");
    }
    ImageInfo info{NSBitmapImageFileType::png};
    info.pixelsWide = width;
    info.pixelsHigh = height;
    info.colorSpaceModel =
        (colorType & PNG_COLOR_MASK_COLOR) != 0 ? NSColorSpaceModel::rgb : NSColorSpaceModel::gray;
    info.bitsPerSample = colorType == PNG_COLOR_TYPE_PALETTE ? 8 : depth;
    return info;
}

NSBitmapImageRepRef pngDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    DecodeSession s;
    s.limits = &limits;
    if (!runDecode(prepare(s, data))) {
        fail(s.pendingKind, "PNG: " + s.pendingError);
    }
    return s.builder->finish();
}

std::vector<uint8_t> pngEncode(const NSBitmapImageRep& bitmap,
                               const ImageEncodingProperties& properties) {
    const auto space = targetSpace(bitmap, properties);
    RowReader rows(bitmap, space);
    EncodeSession s;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.error, onError, onWarning);
    if (s.png == nullptr || (s.info = png_create_info_struct(s.png)) == nullptr) {
        fail(Kind::encodingFailed, "libpng could not start");
    }
    s.rows = &rows;
    s.icc = &space->iccData();
    s.width = static_cast<uint32_t>(bitmap.pixelsWide());
    s.height = static_cast<uint32_t>(bitmap.pixelsHigh());
    s.alpha = bitmap.hasAlpha();
    if (bitmap.size().width > 0 && bitmap.size().height > 0) {
        s.dpiX = 72.0 * s.width / bitmap.size().width;
        s.dpiY = 72.0 * s.height / bitmap.size().height;
    }
    s.line.resize(size_t(s.width) * (s.alpha ? 4 : 3));
    if (!runEncode(&s)) {
        fail(Kind::encodingFailed, "PNG: " + std::string(s.error.message));
    }
    return std::move(s.writer.out);
}

} // namespace velmora::codec
