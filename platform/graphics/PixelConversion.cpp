#include "graphics/PixelConversion.hpp"

#include "foundation/FatalError.hpp"
#include "graphics/LcmsSupport.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <lcms2.h>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace velmora {

size_t bytesPerPixel(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::gray8:
        return 1;
    case PixelLayout::grayAlpha8:
        return 2;
    case PixelLayout::rgb8:
        return 3;
    case PixelLayout::rgba8:
    case PixelLayout::cmyk8:
        return 4;
    case PixelLayout::gray16:
        return 2;
    case PixelLayout::grayAlpha16:
        return 4;
    case PixelLayout::rgb16:
        return 6;
    case PixelLayout::rgba16:
        return 8;
    case PixelLayout::rgbaFloat32:
        return 16;
    }
    fatalError("Unknown pixel layout");
}

bool hasAlpha(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::grayAlpha8:
    case PixelLayout::rgba8:
    case PixelLayout::grayAlpha16:
    case PixelLayout::rgba16:
    case PixelLayout::rgbaFloat32:
        return true;
    default:
        return false;
    }
}

CGColorSpaceModel colorModel(PixelLayout layout) {
    switch (layout) {
    case PixelLayout::gray8:
    case PixelLayout::grayAlpha8:
    case PixelLayout::gray16:
    case PixelLayout::grayAlpha16:
        return CGColorSpaceModel::monochrome;
    case PixelLayout::cmyk8:
        return CGColorSpaceModel::cmyk;
    default:
        return CGColorSpaceModel::rgb;
    }
}

namespace {

// ---- Layout-only conversion -------------------------------------------------

inline uint8_t from16(uint16_t v) {
    return static_cast<uint8_t>((uint32_t(v) * 255 + 32767) / 65535);
}
inline uint8_t fromFloat(float v) {
    if (!(v > 0)) {
        return 0; // also NaN
    }
    return v >= 1 ? 255 : static_cast<uint8_t>(std::lround(v * 255.0f));
}
inline uint16_t to16(double v) {
    if (!(v > 0)) {
        return 0;
    }
    return v >= 1 ? 65535 : static_cast<uint16_t>(std::lround(v * 65535.0));
}

// A pixel as four unit values (and alpha), the slow common ground of rare pairs.
struct Unit {
    double r, g, b, a;
};

Unit readUnit(PixelLayout layout, const uint8_t* p) {
    auto u8 = [&](int i) { return p[i] / 255.0; };
    auto u16 = [&](int i) {
        uint16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        return v / 65535.0;
    };
    switch (layout) {
    case PixelLayout::gray8:
        return {u8(0), u8(0), u8(0), 1};
    case PixelLayout::grayAlpha8:
        return {u8(0), u8(0), u8(0), u8(1)};
    case PixelLayout::rgb8:
        return {u8(0), u8(1), u8(2), 1};
    case PixelLayout::rgba8:
        return {u8(0), u8(1), u8(2), u8(3)};
    case PixelLayout::cmyk8: {
        const double k = 1 - u8(3);
        return {(1 - u8(0)) * k, (1 - u8(1)) * k, (1 - u8(2)) * k, 1};
    }
    case PixelLayout::gray16:
        return {u16(0), u16(0), u16(0), 1};
    case PixelLayout::grayAlpha16:
        return {u16(0), u16(0), u16(0), u16(1)};
    case PixelLayout::rgb16:
        return {u16(0), u16(1), u16(2), 1};
    case PixelLayout::rgba16:
        return {u16(0), u16(1), u16(2), u16(3)};
    case PixelLayout::rgbaFloat32: {
        float f[4];
        std::memcpy(f, p, sizeof f);
        return {f[0], f[1], f[2], f[3]};
    }
    }
    fatalError("Unknown pixel layout");
}

void writeUnit(PixelLayout layout, const Unit& u, uint8_t* p) {
    auto w8 = [&](int i, double v) { p[i] = fromFloat(static_cast<float>(v)); };
    auto w16 = [&](int i, double v) {
        const uint16_t x = to16(v);
        std::memcpy(p + 2 * i, &x, 2);
    };
    const double y = 0.2126 * u.r + 0.7152 * u.g + 0.0722 * u.b;
    switch (layout) {
    case PixelLayout::gray8:
        w8(0, y);
        return;
    case PixelLayout::grayAlpha8:
        w8(0, y);
        w8(1, u.a);
        return;
    case PixelLayout::rgb8:
        w8(0, u.r), w8(1, u.g), w8(2, u.b);
        return;
    case PixelLayout::rgba8:
        w8(0, u.r), w8(1, u.g), w8(2, u.b), w8(3, u.a);
        return;
    case PixelLayout::cmyk8: {
        const double k = 1 - std::max({u.r, u.g, u.b});
        const double d = k < 1 ? 1 - k : 1;
        w8(0, (1 - u.r - k) / d), w8(1, (1 - u.g - k) / d), w8(2, (1 - u.b - k) / d), w8(3, k);
        return;
    }
    case PixelLayout::gray16:
        w16(0, y);
        return;
    case PixelLayout::grayAlpha16:
        w16(0, y);
        w16(1, u.a);
        return;
    case PixelLayout::rgb16:
        w16(0, u.r), w16(1, u.g), w16(2, u.b);
        return;
    case PixelLayout::rgba16:
        w16(0, u.r), w16(1, u.g), w16(2, u.b), w16(3, u.a);
        return;
    case PixelLayout::rgbaFloat32: {
        const float f[4] = {float(u.r), float(u.g), float(u.b), float(u.a)};
        std::memcpy(p, f, sizeof f);
        return;
    }
    }
    fatalError("Unknown pixel layout");
}

// The frequent case, decoding into 8-bit RGBA, gets loops of its own.
bool convertToRGBA8(PixelLayout from, const uint8_t* s, uint8_t* d, size_t n) {
    auto load16 = [](const uint8_t* p) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    };
    switch (from) {
    case PixelLayout::rgba8:
        std::memmove(d, s, n * 4);
        return true;
    case PixelLayout::rgb8:
        for (size_t i = 0; i < n; ++i, s += 3, d += 4) {
            d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
        }
        return true;
    case PixelLayout::gray8:
        for (size_t i = 0; i < n; ++i, s += 1, d += 4) {
            d[0] = d[1] = d[2] = s[0], d[3] = 255;
        }
        return true;
    case PixelLayout::grayAlpha8:
        for (size_t i = 0; i < n; ++i, s += 2, d += 4) {
            d[0] = d[1] = d[2] = s[0], d[3] = s[1];
        }
        return true;
    case PixelLayout::cmyk8:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            const uint32_t k = 255 - s[3];
            for (int c = 0; c < 3; ++c) {
                d[c] = static_cast<uint8_t>(((255 - s[c]) * k + 127) / 255);
            }
            d[3] = 255;
        }
        return true;
    case PixelLayout::gray16:
        for (size_t i = 0; i < n; ++i, s += 2, d += 4) {
            d[0] = d[1] = d[2] = from16(load16(s)), d[3] = 255;
        }
        return true;
    case PixelLayout::grayAlpha16:
        for (size_t i = 0; i < n; ++i, s += 4, d += 4) {
            d[0] = d[1] = d[2] = from16(load16(s)), d[3] = from16(load16(s + 2));
        }
        return true;
    case PixelLayout::rgb16:
        for (size_t i = 0; i < n; ++i, s += 6, d += 4) {
            d[0] = from16(load16(s)), d[1] = from16(load16(s + 2)), d[2] = from16(load16(s + 4));
            d[3] = 255;
        }
        return true;
    case PixelLayout::rgba16:
        for (size_t i = 0; i < n; ++i, s += 8, d += 4) {
            for (int c = 0; c < 4; ++c) {
                d[c] = from16(load16(s + 2 * c));
            }
        }
        return true;
    case PixelLayout::rgbaFloat32:
        for (size_t i = 0; i < n; ++i, s += 16, d += 4) {
            float f[4];
            std::memcpy(f, s, sizeof f);
            for (int c = 0; c < 4; ++c) {
                d[c] = fromFloat(f[c]);
            }
        }
        return true;
    }
    return false;
}

void convertLayout(PixelLayout from, const uint8_t* s, PixelLayout to, uint8_t* d, size_t n) {
    if (to == PixelLayout::rgba8 && convertToRGBA8(from, s, d, n)) {
        return;
    }
    if (from == to) {
        std::memmove(d, s, n * bytesPerPixel(from));
        return;
    }
    const size_t sb = bytesPerPixel(from), db = bytesPerPixel(to);
    for (size_t i = 0; i < n; ++i) {
        writeUnit(to, readUnit(from, s + i * sb), d + i * db);
    }
}

// ---- Colour-managed conversion ----------------------------------------------

cmsUInt32Number lcmsFormat(PixelLayout layout, bool withExtra) {
    const cmsUInt32Number extra = withExtra ? EXTRA_SH(1) : 0;
    switch (layout) {
    case PixelLayout::gray8:
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1);
    case PixelLayout::grayAlpha8:
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | extra;
    case PixelLayout::rgb8:
        return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(1);
    case PixelLayout::rgba8:
        return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(1) | extra;
    case PixelLayout::cmyk8:
        return TYPE_CMYK_8;
    case PixelLayout::gray16:
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(2);
    case PixelLayout::grayAlpha16:
        return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(2) | extra;
    case PixelLayout::rgb16:
        return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(2);
    case PixelLayout::rgba16:
        return COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(2) | extra;
    case PixelLayout::rgbaFloat32:
        return FLOAT_SH(1) | COLORSPACE_SH(PT_RGB) | CHANNELS_SH(3) | BYTES_SH(4) | extra;
    }
    fatalError("Unknown pixel layout");
}

struct Transform {
    // lcms2 transforms keep no reference to their profiles. Spaces are keyed by
    // serial numbers, which are never reused, so a stale entry is never hit.
    cmsHTRANSFORM handle = nullptr;
    ~Transform() {
        if (handle != nullptr) {
            cmsDeleteTransform(handle);
        }
    }
};

using Key = std::tuple<uint64_t, uint64_t, PixelLayout, PixelLayout>;

// Making a transform costs far more than running one on a row; keep the recent ones.
std::shared_ptr<Transform> transformFor(const CGColorSpace& from, PixelLayout fromLayout,
                                        const CGColorSpace& to, PixelLayout toLayout) {
    static std::mutex lock;
    static std::map<Key, std::shared_ptr<Transform>> cache;
    const Key key{from.serial(), to.serial(), fromLayout, toLayout};
    {
        std::lock_guard guard(lock);
        if (auto it = cache.find(key); it != cache.end()) {
            return it->second;
        }
    }
    const bool copyAlpha = hasAlpha(fromLayout) && hasAlpha(toLayout);
    cmsUInt32Number flags = copyAlpha ? cmsFLAGS_COPY_ALPHA : 0;
    // lcms2 turns matrix-shaper pairs into exact matrix code only for 8-bit input;
    // otherwise it samples a lookup grid that clips badly near the gamut edges.
    const bool eightBitInput = bytesPerPixel(fromLayout) <= 4 &&
                               fromLayout != PixelLayout::gray16 &&
                               fromLayout != PixelLayout::grayAlpha16;
    if (!eightBitInput) {
        flags |= cmsFLAGS_NOOPTIMIZE;
    }
    auto transform = std::make_shared<Transform>();
    {
        std::lock_guard guard(lcms::transformCreationLock());
        transform->handle = cmsCreateTransform(from.profileHandle(), lcmsFormat(fromLayout, true),
                                               to.profileHandle(), lcmsFormat(toLayout, true),
                                               INTENT_PERCEPTUAL, flags);
    }
    std::lock_guard guard(lock);
    if (cache.size() >= 64) {
        cache.clear();
    }
    cache.emplace(key, transform);
    return transform;
}

void setOpaque(PixelLayout layout, uint8_t* d, size_t n) {
    const size_t stride = bytesPerPixel(layout);
    switch (layout) {
    case PixelLayout::grayAlpha8:
    case PixelLayout::rgba8:
        for (size_t i = 0; i < n; ++i) {
            d[i * stride + stride - 1] = 255;
        }
        return;
    case PixelLayout::grayAlpha16:
    case PixelLayout::rgba16: {
        const uint16_t one = 65535;
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(d + i * stride + stride - 2, &one, 2);
        }
        return;
    }
    case PixelLayout::rgbaFloat32: {
        const float one = 1;
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(d + i * stride + 12, &one, 4);
        }
        return;
    }
    default:
        return;
    }
}

cmsUInt32Number doubleFormat(CGColorSpaceModel model) {
    switch (model) {
    case CGColorSpaceModel::monochrome:
        return TYPE_GRAY_DBL;
    case CGColorSpaceModel::rgb:
        return TYPE_RGB_DBL;
    default:
        return 0;
    }
}

} // namespace

void unpremultiplyRGBA8(uint8_t* p, size_t count) {
    for (size_t i = 0; i < count; ++i, p += 4) {
        const uint32_t a = p[3];
        if (a == 255) {
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            p[c] = a == 0 ? 0
                          : static_cast<uint8_t>(std::min<uint32_t>(255, (p[c] * 255 + a / 2) / a));
        }
    }
}

bool convertColorComponents(const CGColorSpace& from, const double* in, const CGColorSpace& to,
                            double* out) {
    const cmsUInt32Number inFormat = doubleFormat(from.model());
    const cmsUInt32Number outFormat = doubleFormat(to.model());
    if (inFormat == 0 || outFormat == 0) {
        return false;
    }
    static std::mutex lock;
    static std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<Transform>> cache;
    const std::pair<uint64_t, uint64_t> key{from.serial(), to.serial()};
    std::shared_ptr<Transform> transform;
    {
        std::lock_guard guard(lock);
        if (auto it = cache.find(key); it != cache.end()) {
            transform = it->second;
        }
    }
    if (transform == nullptr) {
        transform = std::make_shared<Transform>();
        {
            std::lock_guard creation(lcms::transformCreationLock());
            transform->handle =
                cmsCreateTransform(from.profileHandle(), inFormat, to.profileHandle(), outFormat,
                                   INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
        }
        std::lock_guard guard(lock);
        if (cache.size() >= 64) {
            cache.clear();
        }
        cache.emplace(key, transform);
    }
    if (transform->handle == nullptr) {
        return false;
    }
    double source[3] = {}, result[3] = {};
    std::copy_n(in, from.numberOfComponents(), source);
    cmsDoTransform(transform->handle, source, result, 1);
    for (size_t i = 0; i < to.numberOfComponents(); ++i) {
        out[i] = std::isfinite(result[i]) ? std::clamp(result[i], 0.0, 1.0) : 0.0;
    }
    return true;
}

void convertPixels(const CGColorSpace* from, PixelLayout fromLayout, const void* src,
                   const CGColorSpace& to, PixelLayout toLayout, void* dst, size_t count) {
    precondition(to.model() == colorModel(toLayout),
                 "Destination colour space does not fit the pixel layout");
    const auto* s = static_cast<const uint8_t*>(src);
    auto* d = static_cast<uint8_t*>(dst);
    const bool manage =
        from != nullptr && from->model() == colorModel(fromLayout) && !from->isEqual(to);
    if (manage) {
        const auto transform = transformFor(*from, fromLayout, to, toLayout);
        if (transform->handle != nullptr) {
            const size_t sb = bytesPerPixel(fromLayout), db = bytesPerPixel(toLayout);
            for (size_t done = 0; done < count;) {
                const size_t n = std::min<size_t>(count - done, 1u << 30);
                cmsDoTransform(transform->handle, s + done * sb, d + done * db,
                               static_cast<cmsUInt32Number>(n));
                done += n;
            }
            if (hasAlpha(toLayout) && !hasAlpha(fromLayout)) {
                setOpaque(toLayout, d, count);
            }
            return;
        }
        // A profile lcms2 cannot use is treated as no profile at all.
    }
    convertLayout(fromLayout, s, toLayout, d, count);
}

} // namespace velmora
