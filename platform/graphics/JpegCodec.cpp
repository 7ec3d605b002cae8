#include "graphics/CodecSupport.hpp"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jerror.h>
#include <jpeglib.h>
#include <optional>
#include <tbb/parallel_for.h>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

// libjpeg reports fatal errors by calling error_exit, which must not return. We
// longjmp back to the one frame that called setjmp. That frame and every frame
// between hold only trivially destructible locals: all C++ state lives in the
// Session, which outlives the jump and is cleaned up normally afterwards.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    Kind kind;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->message[0] == '\0') {
        (*cinfo->err->format_message)(cinfo, err->message);
    }
    std::longjmp(err->jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level) {
    // Warnings about truncation and damaged entropy data mean the picture is not
    // what the file claims; treat them as errors. Other warnings are harmless.
    if (level < 0) {
        const int code = cinfo->err->msg_code;
        if (code == JWRN_JPEG_EOF || code == JWRN_HUFF_BAD_CODE || code == JWRN_BOGUS_PROGRESSION) {
            auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
            err->kind = code == JWRN_JPEG_EOF ? Kind::truncated : Kind::corrupt;
            (*cinfo->err->format_message)(cinfo, err->message);
            errorExit(cinfo);
        }
    }
}

void outputMessage(j_common_ptr) {} // never to stderr

void installErrors(ErrorManager& err) {
    jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.emit_message = emitMessage;
    err.base.output_message = outputMessage;
    err.message[0] = '\0';
    err.kind = Kind::corrupt;
}

// Progressive files can hold thousands of tiny scans that cost time without
// adding pixels; real encoders use about ten.
constexpr int kMaxScans = 256;

void progress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
            std::snprintf(err->message, sizeof err->message, "Too many JPEG scans");
            errorExit(cinfo);
        }
    }
}

struct DecodeSession {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    bool created = false;
    std::span<const uint8_t> data;
    const ImageDecodingLimits* limits = nullptr;
    bool headerOnly = false;
    // Results.
    ImageInfo info{NSBitmapImageFileType::jpeg};
    std::optional<ImageBuilder> builder;
    std::vector<uint8_t> row;
    std::string pendingError;
    Kind pendingKind = Kind::corrupt;

    ~DecodeSession() {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
    }
};

NSColorSpaceModel modelOf(J_COLOR_SPACE space) {
    switch (space) {
    case JCS_GRAYSCALE:
        return NSColorSpaceModel::gray;
    case JCS_CMYK:
    case JCS_YCCK:
        return NSColorSpaceModel::cmyk;
    default:
        return NSColorSpaceModel::rgb;
    }
}

// Runs the libjpeg calls. Returns false after an error; C++ exceptions (from the
// limit check or allocation) are caught here and turned into the same.
bool runDecode(DecodeSession* s) {
    if (setjmp(s->err.jump) != 0) {
        s->pendingKind = s->err.kind;
        s->pendingError = s->err.message;
        return false;
    }
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    s->cinfo.mem->max_memory_to_use = long(1) << 30;
    s->progress.progress_monitor = progress;
    s->cinfo.progress = &s->progress;
    jpeg_mem_src(&s->cinfo, s->data.data(), static_cast<unsigned long>(s->data.size()));
    jpeg_save_markers(&s->cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&s->cinfo, TRUE);

    s->info.pixelsWide = s->cinfo.image_width;
    s->info.pixelsHigh = s->cinfo.image_height;
    s->info.colorSpaceModel = modelOf(s->cinfo.jpeg_color_space);
    s->info.bitsPerSample = s->cinfo.data_precision;
    if (s->headerOnly) {
        return true;
    }

    const bool cmyk = s->info.colorSpaceModel == NSColorSpaceModel::cmyk;
    const bool gray = s->info.colorSpaceModel == NSColorSpaceModel::gray;
    s->cinfo.out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
    const PixelLayout layout = cmyk   ? PixelLayout::cmyk8
                               : gray ? PixelLayout::gray8
                                      : PixelLayout::rgb8;
    try {
        checkPixelCount(s->cinfo.image_width, s->cinfo.image_height, *s->limits);
        JOCTET* icc = nullptr;
        unsigned int iccSize = 0;
        const bool hasICC = jpeg_read_icc_profile(&s->cinfo, &icc, &iccSize) != 0;
        std::vector<uint8_t> profile;
        if (hasICC) {
            profile.assign(icc, icc + iccSize);
            std::free(icc);
        }
        s->builder.emplace(s->cinfo.image_width, s->cinfo.image_height, layout, profile);
        if (s->cinfo.saw_JFIF_marker && s->cinfo.density_unit != 0) {
            if (s->cinfo.density_unit == 2) {
                s->builder->setMetricResolution(s->cinfo.X_density * 100.0,
                                                s->cinfo.Y_density * 100.0);
            } else {
                s->builder->setResolution(s->cinfo.X_density, s->cinfo.Y_density);
            }
        }
        s->row.resize(size_t(s->cinfo.image_width) * bytesPerPixel(layout));
    } catch (const ImageCodecError& e) {
        s->pendingKind = e.kind();
        s->pendingError = e.what();
        return false;
    } catch (const std::bad_alloc&) {
        s->pendingKind = Kind::tooLarge;
        s->pendingError = "Not enough memory for the JPEG image";
        return false;
    }

    jpeg_start_decompress(&s->cinfo);
    // Adobe writes CMYK inverted, and so does everyone copying it.
    const bool inverted = cmyk && s->cinfo.saw_Adobe_marker;
    while (s->cinfo.output_scanline < s->cinfo.output_height) {
        JSAMPROW rows[1] = {s->row.data()};
        const JDIMENSION y = s->cinfo.output_scanline;
        if (jpeg_read_scanlines(&s->cinfo, rows, 1) != 1) {
            std::snprintf(s->err.message, sizeof s->err.message, "Truncated JPEG data");
            s->pendingKind = Kind::truncated;
            s->pendingError = s->err.message;
            return false;
        }
        if (inverted) {
            for (auto& v : s->row) {
                v = static_cast<uint8_t>(255 - v);
            }
        }
        s->builder->putRow(y, s->row.data());
    }
    jpeg_finish_decompress(&s->cinfo);
    return true;
}

struct EncodeSession {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    bool created = false;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    RowReader* rows = nullptr;
    int quality = 75;
    const std::vector<uint8_t>* icc = nullptr;
    uint32_t width = 0, height = 0;
    double dpiX = 72, dpiY = 72;
    std::vector<uint8_t> line;
    std::string pendingError;
    // For a band of a larger picture: its first row there, and a restart
    // after every MCU row with the standard tables, so that bands join.
    uint32_t firstRow = 0;
    bool band = false;

    ~EncodeSession() {
        if (created) {
            jpeg_destroy_compress(&cinfo);
        }
        std::free(buffer);
    }
};

bool runEncode(EncodeSession* s) {
    if (setjmp(s->err.jump) != 0) {
        s->pendingError = s->err.message;
        return false;
    }
    jpeg_create_compress(&s->cinfo);
    s->created = true;
    jpeg_mem_dest(&s->cinfo, &s->buffer, &s->size);
    s->cinfo.image_width = s->width;
    s->cinfo.image_height = s->height;
    s->cinfo.input_components = 3;
    s->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    jpeg_set_quality(&s->cinfo, s->quality, TRUE);
    if (s->quality >= 90) {
        // No chroma subsampling at high quality: painted edges keep their colour.
        for (int c = 0; c < 3; ++c) {
            s->cinfo.comp_info[c].h_samp_factor = 1;
            s->cinfo.comp_info[c].v_samp_factor = 1;
        }
    }
    s->cinfo.optimize_coding = s->band ? FALSE : TRUE;
    if (s->band) {
        s->cinfo.restart_in_rows = 1;
    }
    if (s->dpiX != 72 || s->dpiY != 72) {
        s->cinfo.density_unit = 1;
        s->cinfo.X_density = static_cast<UINT16>(std::clamp(s->dpiX, 1.0, 65535.0));
        s->cinfo.Y_density = static_cast<UINT16>(std::clamp(s->dpiY, 1.0, 65535.0));
    }
    jpeg_start_compress(&s->cinfo, TRUE);
    jpeg_write_icc_profile(&s->cinfo, s->icc->data(), static_cast<unsigned int>(s->icc->size()));
    while (s->cinfo.next_scanline < s->height) {
        const uint8_t* rgba = s->rows->row(s->firstRow + s->cinfo.next_scanline);
        for (uint32_t x = 0; x < s->width; ++x) {
            // No alpha in JPEG: the colour is shown over black, as premultiplied.
            const uint32_t a = rgba[x * 4 + 3];
            for (int c = 0; c < 3; ++c) {
                s->line[x * 3 + c] = static_cast<uint8_t>((rgba[x * 4 + c] * a + 127) / 255);
            }
        }
        JSAMPROW rows[1] = {s->line.data()};
        jpeg_write_scanlines(&s->cinfo, rows, 1);
    }
    jpeg_finish_compress(&s->cinfo);
    return true;
}

} // namespace

ImageInfo jpegInfo(std::span<const uint8_t> data) {
    DecodeSession s;
    installErrors(s.err);
    s.cinfo.err = &s.err.base;
    s.data = data;
    s.headerOnly = true;
    if (!runDecode(&s)) {
        fail(s.pendingKind, "JPEG: " + s.pendingError);
    }
    return s.info;
}

NSBitmapImageRepRef jpegDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    DecodeSession s;
    installErrors(s.err);
    s.cinfo.err = &s.err.base;
    s.data = data;
    s.limits = &limits;
    if (!runDecode(&s)) {
        fail(s.pendingKind, "JPEG: " + s.pendingError);
    }
    return s.builder->finish();
}

namespace {

struct EncodeSettings {
    int quality = 75;
    const std::vector<uint8_t>* icc = nullptr;
    uint32_t width = 0;
    double dpiX = 72, dpiY = 72;
};

std::vector<uint8_t> encodeRows(const EncodeSettings& settings, RowReader& rows, uint32_t firstRow,
                                uint32_t height, bool band) {
    EncodeSession s;
    installErrors(s.err);
    s.cinfo.err = &s.err.base;
    s.rows = &rows;
    s.quality = settings.quality;
    s.icc = settings.icc;
    s.width = settings.width;
    s.height = height;
    s.dpiX = settings.dpiX;
    s.dpiY = settings.dpiY;
    s.firstRow = firstRow;
    s.band = band;
    s.line.resize(size_t(s.width) * 3);
    if (!runEncode(&s)) {
        fail(Kind::encodingFailed, "JPEG: " + s.pendingError);
    }
    return std::vector<uint8_t>(s.buffer, s.buffer + s.size);
}

// Where the entropy-coded data of a one-scan JPEG begins (after its SOS segment).
size_t scanStart(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 2; i + 4 <= jpeg.size();) {
        if (jpeg[i] != 0xFF) {
            break;
        }
        const uint8_t marker = jpeg[i + 1];
        const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (marker == 0xDA) {
            return i + 2 + length;
        }
        i += 2 + length;
    }
    fail(Kind::encodingFailed, "JPEG band without a scan");
}

bool isRestart(uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Calls `restart(i)` for every restart marker of the entropy-coded bytes
// [begin, end), at the index of its 0xFF. Stuffed 0xFF bytes are followed by 0.
template <class Restart>
void forEachRestart(const uint8_t* bytes, size_t begin, size_t end, Restart&& restart) {
    for (size_t i = begin; i + 1 < end;) {
        const auto* ff = static_cast<const uint8_t*>(std::memchr(bytes + i, 0xFF, end - 1 - i));
        if (ff == nullptr) {
            return;
        }
        i = size_t(ff - bytes);
        if (isRestart(bytes[i + 1])) {
            restart(i);
            i += 2;
        } else {
            ++i;
        }
    }
}

// Bands of whole MCU rows are encoded at once, each with a restart after every
// MCU row, and joined into one scan with the restarts numbered on. The
// coefficients are those of one encode (restarts and Huffman coding lose
// nothing), so the picture decodes to the same pixels. The join is parallel
// too: a 64-megapixel preview's scan is tens of megabytes.
std::vector<uint8_t> encodeBands(const NSBitmapImageRep& bitmap, const CGColorSpaceRef& space,
                                 const EncodeSettings& settings, uint32_t height) {
    constexpr uint32_t mcuRows = 16; // a multiple of every MCU height we write
    constexpr uint32_t bandRows = 16 * mcuRows;
    const uint32_t bands = (height + bandRows - 1) / bandRows;
    struct Part {
        std::vector<uint8_t> bytes;
        size_t scan = 0;          // where its entropy-coded data begins
        uint64_t restarts = 0;    // within it
        uint64_t firstNumber = 0; // of its first restart, counting the one that joins it
        size_t at = 0;            // where its scan goes in the file
    };
    std::vector<Part> parts(bands);
    tbb::parallel_for(uint32_t(0), bands, [&](uint32_t b) {
        RowReader rows(bitmap, space);
        const uint32_t y0 = b * bandRows;
        Part& part = parts[b];
        part.bytes = encodeRows(settings, rows, y0, std::min(height, y0 + bandRows) - y0, true);
        part.scan = scanStart(part.bytes);
        forEachRestart(part.bytes.data(), part.scan, part.bytes.size() - 2,
                       [&](size_t) { ++part.restarts; });
    });
    const std::vector<uint8_t>& first = parts[0].bytes;
    size_t size = parts[0].scan;
    uint64_t number = 0;
    for (uint32_t b = 0; b < bands; ++b) {
        Part& part = parts[b];
        size += b > 0 ? 2 : 0; // the restart that joins it
        number += b > 0 ? 1 : 0;
        part.firstNumber = number;
        part.at = size;
        size += part.bytes.size() - 2 - part.scan; // before EOI
        number += part.restarts;
    }
    std::vector<uint8_t> out(size + 2);
    std::memcpy(out.data(), first.data(), parts[0].scan);
    // The frame header's height becomes the whole picture's.
    for (size_t i = 2; i + 9 <= parts[0].scan; i += 2 + (size_t(out[i + 2]) << 8 | out[i + 3])) {
        if (out[i + 1] >= 0xC0 && out[i + 1] <= 0xC2) {
            out[i + 5] = uint8_t(height >> 8);
            out[i + 6] = uint8_t(height);
            break;
        }
    }
    tbb::parallel_for(uint32_t(0), bands, [&](uint32_t b) {
        Part& part = parts[b];
        const size_t length = part.bytes.size() - 2 - part.scan;
        uint8_t* scan = out.data() + part.at;
        std::memcpy(scan, part.bytes.data() + part.scan, length);
        if (b > 0) {
            scan[-2] = 0xFF;
            scan[-1] = uint8_t(0xD0 + (part.firstNumber - 1) % 8);
        }
        uint64_t n = part.firstNumber;
        forEachRestart(scan, 0, length, [&](size_t i) { scan[i + 1] = uint8_t(0xD0 + n++ % 8); });
        part.bytes = {};
    });
    out[size] = 0xFF;
    out[size + 1] = 0xD9;
    return out;
}

} // namespace

std::vector<uint8_t> jpegEncode(const NSBitmapImageRep& bitmap,
                                const ImageEncodingProperties& properties) {
    const auto space = targetSpace(bitmap, properties);
    RowReader rows(bitmap, space);
    EncodeSettings settings;
    const double factor = properties.compressionFactor.value_or(0.75);
    settings.quality = static_cast<int>(std::lround(std::clamp(factor, 0.0, 1.0) * 100));
    settings.icc = &space->iccData();
    settings.width = static_cast<uint32_t>(bitmap.pixelsWide());
    const uint32_t height = static_cast<uint32_t>(bitmap.pixelsHigh());
    if (bitmap.size().width > 0 && bitmap.size().height > 0) {
        settings.dpiX = std::round(72.0 * settings.width / bitmap.size().width);
        settings.dpiY = std::round(72.0 * height / bitmap.size().height);
    }
    if (settings.width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        fail(Kind::encodingFailed, "The image is too large for JPEG");
    }
    // Pictures of many bands are encoded in parallel; small ones keep the
    // smallest file, with tables made for them.
    if (size_t(settings.width) * height >= (size_t(1) << 20) && height > 256) {
        return encodeBands(bitmap, space, settings, height);
    }
    return encodeRows(settings, rows, 0, height, false);
}

} // namespace velmora::codec
