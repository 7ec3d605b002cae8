#pragma once

// Writers for inputs our own encoders never produce (16-bit, grey, palettes, CMYK,
// tiles, planes, interlacing), made with the format libraries directly.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <stdexcept>
#include <string>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

namespace velmora::test {

inline std::vector<uint8_t> readWholeFile(std::FILE* f) {
    std::vector<uint8_t> out;
    std::rewind(f);
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

struct TiffSpec {
    uint32_t width = 4, height = 3;
    uint16_t bits = 8, samples = 3, photometric = PHOTOMETRIC_RGB;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    uint16_t extra = 0; // EXTRASAMPLE_* of one extra sample, or 0
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint32_t tile = 0; // tile side (multiple of 16), 0 for strips
    uint32_t rowsPerStrip = 1;
    std::vector<uint16_t> colormap; // 3 × 2^bits entries, red then green then blue
    std::vector<uint8_t> icc;
    // Raw rows as stored: for planar data, plane after plane, each `height` rows.
    std::vector<std::vector<uint8_t>> rows;
};

inline std::vector<uint8_t> makeTiff(const TiffSpec& s) {
    char path[] = "/tmp/velmora-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("mkstemp");
    }
    close(fd);
    TIFF* t = TIFFOpen(path, "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(t, TIFFTAG_ORIENTATION, s.orientation);
    if (s.extra != 0) {
        const uint16_t extra[1] = {s.extra};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (!s.colormap.empty()) {
        const size_t n = s.colormap.size() / 3;
        TIFFSetField(t, TIFFTAG_COLORMAP, s.colormap.data(), s.colormap.data() + n,
                     s.colormap.data() + 2 * n);
    }
    if (!s.icc.empty()) {
        TIFFSetField(t, TIFFTAG_ICCPROFILE, uint32_t(s.icc.size()), s.icc.data());
    }
    const int planes = s.planar == PLANARCONFIG_SEPARATE ? s.samples : 1;
    if (s.tile != 0) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
        TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
        const size_t rowBytes = s.rows[0].size();
        const size_t tileRow = rowBytes * s.tile / s.width; // whole bytes in these tests
        std::vector<uint8_t> tile(TIFFTileSize(t));
        for (int p = 0; p < planes; ++p) {
            for (uint32_t ty = 0; ty < s.height; ty += s.tile) {
                for (uint32_t tx = 0; tx < s.width; tx += s.tile) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t r = 0; r < s.tile && ty + r < s.height; ++r) {
                        const auto& row = s.rows[p * s.height + ty + r];
                        const size_t offset = rowBytes * tx / s.width;
                        std::memcpy(&tile[r * tileRow], row.data() + offset,
                                    std::min(tileRow, rowBytes - offset));
                    }
                    TIFFWriteTile(t, tile.data(), tx, ty, 0, uint16_t(p));
                }
            }
        }
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
        for (int p = 0; p < planes; ++p) {
            for (uint32_t y = 0; y < s.height; ++y) {
                auto row = s.rows[p * s.height + y];
                TIFFWriteScanline(t, row.data(), y, uint16_t(p));
            }
        }
    }
    TIFFClose(t);
    std::FILE* f = std::fopen(path, "rb");
    auto bytes = readWholeFile(f);
    std::fclose(f);
    std::remove(path);
    return bytes;
}

struct PngSpec {
    uint32_t width = 4, height = 3;
    int bits = 8, colorType = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    std::vector<png_color> palette;
    std::vector<uint8_t> paletteAlpha;
    std::vector<uint8_t> icc;
    // Rows as stored (16-bit samples big-endian, sub-byte samples packed).
    std::vector<std::vector<uint8_t>> rows;
};

inline std::vector<uint8_t> makePng(const PngSpec& s) {
    std::FILE* f = std::tmpfile();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        throw std::runtime_error("libpng refused the test picture");
    }
    png_set_check_for_invalid_index(png, 0);
    png_init_io(png, f);
    png_set_IHDR(png, info, s.width, s.height, s.bits, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) {
        png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
    }
    if (!s.paletteAlpha.empty()) {
        png_set_tRNS(png, info, s.paletteAlpha.data(), int(s.paletteAlpha.size()), nullptr);
    }
    if (!s.icc.empty()) {
        png_set_iCCP(png, info, "test", 0, s.icc.data(), png_uint_32(s.icc.size()));
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (auto& r : const_cast<PngSpec&>(s).rows) {
        rows.push_back(r.data());
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    auto bytes = readWholeFile(f);
    std::fclose(f);
    return bytes;
}

struct JpegSpec {
    uint32_t width = 16, height = 16;
    int components = 3;
    J_COLOR_SPACE space = JCS_RGB;
    std::vector<uint8_t> icc;
    std::function<void(uint32_t x, uint32_t y, uint8_t* sample)> pixel;
};

inline std::vector<uint8_t> makeJpeg(const JpegSpec& s) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = s.width;
    c.image_height = s.height;
    c.input_components = s.components;
    c.in_color_space = s.space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    for (int i = 0; i < s.components; ++i) {
        c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&c, TRUE);
    if (!s.icc.empty()) {
        jpeg_write_icc_profile(&c, s.icc.data(), unsigned(s.icc.size()));
    }
    std::vector<uint8_t> row(size_t(s.width) * s.components);
    while (c.next_scanline < s.height) {
        for (uint32_t x = 0; x < s.width; ++x) {
            s.pixel(x, c.next_scanline, &row[x * s.components]);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

struct GifSpec {
    int screenWidth = 5, screenHeight = 4;
    int left = 1, top = 1, width = 3, height = 2;
    bool interlaced = false;
    int transparent = -1;
    std::vector<GifColorType> colors; // a power of two entries
    std::vector<uint8_t> indices;     // width × height
};

inline std::vector<uint8_t> makeGif(const GifSpec& s) {
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* data, int n) {
            auto* o = static_cast<std::vector<uint8_t>*>(g->UserData);
            o->insert(o->end(), data, data + n);
            return n;
        },
        &error);
    ColorMapObject* map = GifMakeMapObject(int(s.colors.size()), s.colors.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, s.screenWidth, s.screenHeight, map->BitsPerPixel, 0, map);
    if (s.transparent >= 0) {
        GraphicsControlBlock control{};
        control.TransparentColor = s.transparent;
        GifByteType block[4];
        const size_t n = EGifGCBToExtension(&control, block);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), block);
    }
    EGifPutImageDesc(gif, s.left, s.top, s.width, s.height, s.interlaced, nullptr);
    std::vector<GifPixelType> line(s.width);
    static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < (s.interlaced ? 4 : 1); ++pass) {
        for (int y = s.interlaced ? start[pass] : 0; y < s.height;
             y += s.interlaced ? step[pass] : 1) {
            std::copy_n(&s.indices[size_t(y) * s.width], s.width, line.begin());
            EGifPutLine(gif, line.data(), s.width);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

// A BMP from its parts: header fields little-endian, rows as stored.
struct BmpSpec {
    int32_t width = 3, height = 2; // negative height: top row first
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    std::vector<uint32_t> masks;  // after the header (40) or inside it (≥ 56)
    std::vector<uint8_t> palette; // BGRx entries
    uint32_t colorsUsed = 0;
    std::vector<uint8_t> pixels; // rows as stored, padded to 4 bytes
};

inline std::vector<uint8_t> makeBmp(const BmpSpec& s) {
    std::vector<uint8_t> out;
    auto u16 = [&](uint32_t v) { out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const bool masksInHeader = s.headerSize >= 56;
    const uint32_t maskBytes = masksInHeader ? 0 : uint32_t(s.masks.size() * 4);
    const uint32_t offset = 14 + s.headerSize + maskBytes + uint32_t(s.palette.size());
    out.push_back('B'), out.push_back('M');
    u32(offset + uint32_t(s.pixels.size()));
    u32(0);
    u32(offset);
    u32(s.headerSize);
    u32(uint32_t(s.width));
    u32(uint32_t(s.height));
    u16(1);
    u16(s.bits);
    u32(s.compression);
    u32(uint32_t(s.pixels.size()));
    u32(2835), u32(2835);
    u32(s.colorsUsed);
    u32(0);
    for (uint32_t m : s.masks) {
        u32(m);
    }
    while (out.size() < 14 + s.headerSize) {
        out.push_back(0);
    }
    out.insert(out.end(), s.palette.begin(), s.palette.end());
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

} // namespace velmora::test
