#include "graphics/CodecSupport.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace velmora::codec {

namespace {

using Kind = ImageCodecError::Kind;

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitfields = 3, kAlphaBitfields = 6;
constexpr uint32_t kProfileEmbedded = 0x4D424544; // 'MBED'

class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> d) : d_(d) {}
    size_t size() const { return d_.size(); }
    bool has(uint64_t offset, uint64_t count) const {
        return offset <= d_.size() && count <= d_.size() - offset;
    }
    void need(uint64_t offset, uint64_t count) const {
        if (!has(offset, count)) {
            fail(Kind::truncated, "BMP: the data ends too early");
        }
    }
    uint16_t u16(uint64_t o) const {
        need(o, 2);
        return uint16_t(d_[o] | d_[o + 1] << 8);
    }
    uint32_t u32(uint64_t o) const {
        need(o, 4);
        return uint32_t(d_[o]) | uint32_t(d_[o + 1]) << 8 | uint32_t(d_[o + 2]) << 16 |
               uint32_t(d_[o + 3]) << 24;
    }
    int32_t i32(uint64_t o) const { return static_cast<int32_t>(u32(o)); }
    const uint8_t* at(uint64_t o) const { return d_.data() + o; }

private:
    std::span<const uint8_t> d_;
};

struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m = 0) : mask(m) {
        if (m != 0) {
            shift = std::countr_zero(m);
            const uint32_t bits = m >> shift;
            max = bits;
        }
    }
    uint8_t operator()(uint32_t pixel) const {
        if (max == 0) {
            return 0;
        }
        return static_cast<uint8_t>((uint64_t((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

struct Header {
    int64_t width = 0, height = 0;
    bool topDown = false;
    uint32_t bits = 0, compression = kRGB, offset = 0, headerSize = 0;
    uint32_t colorsUsed = 0;
    uint32_t masks[4] = {};
    bool hasMasks = false;
    uint64_t paletteOffset = 0;
    int paletteEntrySize = 4;
    std::span<const uint8_t> icc;
};

Header readHeader(const Bytes& b) {
    Header h;
    b.need(0, 18);
    h.offset = b.u32(10);
    h.headerSize = b.u32(14);
    if (h.headerSize == 12) {
        h.width = b.u16(18);
        h.height = b.u16(20);
        h.bits = b.u16(24);
        h.paletteEntrySize = 3;
    } else if (h.headerSize >= 40 && h.headerSize <= 4096) {
        const int32_t w = b.i32(18), hh = b.i32(22);
        h.bits = b.u16(28);
        h.compression = b.u32(30);
        h.colorsUsed = b.u32(46);
        if (w <= 0 || hh == 0 || hh == INT32_MIN) {
            fail(Kind::corrupt, "BMP: invalid image size");
        }
        h.width = w;
        h.topDown = hh < 0;
        h.height = hh < 0 ? -int64_t(hh) : hh;
        if (h.compression == kBitfields || h.compression == kAlphaBitfields) {
            const int count = h.compression == kAlphaBitfields ? 4 : 3;
            // The masks sit in the larger headers, or just after the 40-byte one.
            for (int i = 0; i < count; ++i) {
                h.masks[i] = b.u32(14 + 40 + 4 * i);
            }
            if (h.headerSize >= 56) {
                h.masks[3] = b.u32(14 + 52);
            }
            h.hasMasks = true;
        } else if (h.headerSize >= 56) {
            h.masks[3] = b.u32(14 + 52); // an alpha mask beside plain RGB
        }
        if (h.headerSize >= 124 && b.u32(14 + 56) == kProfileEmbedded) {
            const uint64_t at = 14 + uint64_t(b.u32(14 + 112));
            const uint64_t size = b.u32(14 + 116);
            if (b.has(at, size)) {
                h.icc = {b.at(at), size};
            }
        }
    } else {
        fail(Kind::unsupported, "BMP: unknown header form");
    }
    h.paletteOffset = 14 + uint64_t(h.headerSize);
    if (h.headerSize == 40 && h.hasMasks) {
        h.paletteOffset += h.compression == kAlphaBitfields ? 16 : 12;
    }
    return h;
}

void validate(const Header& h) {
    const bool paletted = h.bits == 1 || h.bits == 4 || h.bits == 8;
    const bool direct = h.bits == 16 || h.bits == 24 || h.bits == 32;
    if (!paletted && !direct) {
        fail(Kind::unsupported, "BMP: unsupported depth " + std::to_string(h.bits));
    }
    switch (h.compression) {
    case kRGB:
        return;
    case kRLE8:
    case kRLE4:
        if (h.bits != (h.compression == kRLE8 ? 8u : 4u) || h.topDown) {
            fail(Kind::corrupt, "BMP: run-length data of the wrong form");
        }
        return;
    case kBitfields:
    case kAlphaBitfields:
        if (h.bits != 16 && h.bits != 32) {
            fail(Kind::corrupt, "BMP: bit fields need 16 or 32 bits");
        }
        return;
    default:
        fail(Kind::unsupported, "BMP: unsupported compression");
    }
}

// Decodes run-length data into palette indices; 0xFFFF marks pixels never set,
// which stay transparent. Rows are bottom-up, as the format stores them.
std::vector<uint16_t> expandRunLength(const Bytes& b, const Header& h) {
    std::vector<uint16_t> indices(size_t(h.width * h.height), 0xFFFF);
    const bool four = h.compression == kRLE4;
    uint64_t p = h.offset;
    int64_t x = 0, y = 0;
    auto put = [&](uint32_t index) {
        if (x < h.width && y < h.height) {
            indices[size_t(y * h.width + x)] = static_cast<uint16_t>(index);
        }
        ++x;
    };
    while (y < h.height) {
        b.need(p, 2);
        const uint8_t count = *b.at(p), value = *b.at(p + 1);
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                put(four ? (i % 2 == 0 ? value >> 4 : value & 15) : value);
            }
            continue;
        }
        if (value == 0) { // end of line
            x = 0, ++y;
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // delta
            b.need(p, 2);
            x += *b.at(p);
            y += *b.at(p + 1);
            p += 2;
        } else { // literal run, padded to an even byte count
            const uint64_t bytes = four ? (value + 1) / 2 : value;
            b.need(p, bytes);
            for (int i = 0; i < value; ++i) {
                const uint8_t byte = *b.at(p + (four ? i / 2 : i));
                put(four ? (i % 2 == 0 ? byte >> 4 : byte & 15) : byte);
            }
            p += bytes + (bytes & 1);
        }
    }
    return indices;
}

} // namespace

ImageInfo bmpInfo(std::span<const uint8_t> data) {
    const Bytes b(data);
    const Header h = readHeader(b);
    ImageInfo info{NSBitmapImageFileType::bmp};
    info.pixelsWide = h.width;
    info.pixelsHigh = h.height;
    info.colorSpaceModel = NSColorSpaceModel::rgb;
    info.bitsPerSample = 8;
    return info;
}

NSBitmapImageRepRef bmpDecode(std::span<const uint8_t> data, const ImageDecodingLimits& limits) {
    const Bytes b(data);
    const Header h = readHeader(b);
    validate(h);
    checkPixelCount(h.width, h.height, limits);

    std::vector<uint8_t> palette; // RGBA entries
    if (h.bits <= 8) {
        const uint32_t capacity = 1u << h.bits;
        const uint32_t count = h.colorsUsed == 0 ? capacity : std::min(h.colorsUsed, 256u);
        b.need(h.paletteOffset, uint64_t(count) * h.paletteEntrySize);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = b.at(h.paletteOffset + uint64_t(i) * h.paletteEntrySize);
            palette.insert(palette.end(), {e[2], e[1], e[0], 255});
        }
    }
    const uint32_t paletteCount = static_cast<uint32_t>(palette.size() / 4);

    Channel red, green, blue, alpha;
    if (h.bits == 16 || h.bits == 32) {
        if (h.hasMasks) {
            red = Channel(h.masks[0]), green = Channel(h.masks[1]), blue = Channel(h.masks[2]);
        } else if (h.bits == 16) {
            red = Channel(0x7C00), green = Channel(0x03E0), blue = Channel(0x001F);
        } else {
            red = Channel(0xFF0000), green = Channel(0xFF00), blue = Channel(0xFF);
        }
        alpha = Channel(h.masks[3]);
    }

    ImageBuilder builder(h.width, h.height, PixelLayout::rgba8, h.icc);
    std::vector<uint8_t> row(size_t(h.width) * 4);
    auto paletteEntry = [&](uint32_t index, uint8_t* out) {
        if (index >= paletteCount) {
            fail(Kind::corrupt, "BMP: palette index out of range");
        }
        std::memcpy(out, &palette[size_t(index) * 4], 4);
    };

    if (h.compression == kRLE8 || h.compression == kRLE4) {
        const auto indices = expandRunLength(b, h);
        for (int64_t y = 0; y < h.height; ++y) {
            const uint16_t* source = &indices[size_t((h.height - 1 - y) * h.width)];
            for (int64_t x = 0; x < h.width; ++x) {
                if (source[x] == 0xFFFF) {
                    std::memset(&row[size_t(x) * 4], 0, 4);
                } else {
                    paletteEntry(source[x], &row[size_t(x) * 4]);
                }
            }
            builder.putRow(y, row.data());
        }
        builder.setMetricResolution(b.i32(38), b.i32(42));
        return builder.finish();
    }

    const uint64_t stride = ((uint64_t(h.width) * h.bits + 31) / 32) * 4;
    b.need(h.offset, stride * uint64_t(h.height));
    bool anyAlpha = false;
    for (int64_t y = 0; y < h.height; ++y) {
        const int64_t stored = h.topDown ? y : h.height - 1 - y;
        const uint8_t* s = b.at(h.offset + stride * uint64_t(stored));
        uint8_t* o = builder.rgbaRow(y);
        for (int64_t x = 0; x < h.width; ++x, o += 4) {
            switch (h.bits) {
            case 1:
            case 4:
            case 8: {
                const uint64_t bit = uint64_t(x) * h.bits;
                const uint32_t index =
                    (s[bit >> 3] >> (8 - h.bits - (bit & 7))) & ((1u << h.bits) - 1);
                paletteEntry(index, o);
                break;
            }
            case 24:
                o[0] = s[x * 3 + 2], o[1] = s[x * 3 + 1], o[2] = s[x * 3], o[3] = 255;
                break;
            default: {
                const uint32_t v = h.bits == 16 ? uint32_t(s[x * 2] | s[x * 2 + 1] << 8)
                                                : uint32_t(s[x * 4]) | uint32_t(s[x * 4 + 1]) << 8 |
                                                      uint32_t(s[x * 4 + 2]) << 16 |
                                                      uint32_t(s[x * 4 + 3]) << 24;
                o[0] = red(v), o[1] = green(v), o[2] = blue(v);
                o[3] = alpha.max != 0 ? alpha(v) : 255;
                anyAlpha = anyAlpha || o[3] != 0;
                break;
            }
            }
        }
    }
    if (alpha.max != 0 && !anyAlpha) {
        // Writers often fill the alpha bits with zero; such a picture is opaque.
        for (int64_t y = 0; y < h.height; ++y) {
            uint8_t* o = builder.rgbaRow(y);
            for (int64_t x = 0; x < h.width; ++x) {
                o[x * 4 + 3] = 255;
            }
        }
    }
    if (!h.icc.empty()) {
        // The rows were written in place above; convert them now from the embedded profile.
        std::vector<uint8_t> copy(row.size());
        for (int64_t y = 0; y < h.height; ++y) {
            std::memcpy(copy.data(), builder.rgbaRow(y), copy.size());
            builder.putRow(y, copy.data());
        }
    }
    if (h.headerSize >= 40) {
        builder.setMetricResolution(b.i32(38), b.i32(42));
    }
    return builder.finish();
}

} // namespace velmora::codec
