#pragma once

#include "Canvas/GroupLayer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "Rendering/MetalHelper.hpp"
#include "Rendering/RenderedCanvas.hpp"
#include "core/Canvas/CanvasTestSupport.hpp"
#include "graphics/ColorManagement.hpp"

#include <array>
#include <cmath>
#include <gmock/gmock.h>
#include <memory>
#include <string>

namespace velmora::testing {

using RGBA8 = std::array<uint8_t, 4>;

inline std::shared_ptr<NSBitmapImageRep> solidBitmap(int64_t w, int64_t h, RGBA8 c) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(w, h, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < h; ++y) {
        for (int64_t x = 0; x < w; ++x) {
            std::copy(c.begin(), c.end(), bitmap->row(y) + 4 * x);
        }
    }
    return bitmap;
}

inline std::shared_ptr<RasterLayer> solidLayer(std::string name, int64_t w, int64_t h, RGBA8 c,
                                               BlendMode mode = BlendMode::sourceOver) {
    auto layer = RasterLayer::make(std::move(name), *solidBitmap(w, h, c));
    layer->setBlendMode(mode);
    return layer;
}

inline std::shared_ptr<LayeredCanvas> canvasOf(MTLSize size, Layers layers,
                                               const std::shared_ptr<Layer>& active = nullptr) {
    auto canvas = LayeredCanvas::make(size);
    canvas->setImmediateLayers(std::move(layers));
    canvas->setActiveLayer(active);
    return canvas;
}

// Pixel (x, y) of a bitmap, y counted from the top row.
inline RGBA8 pixelAt(const NSBitmapImageRep& bitmap, int64_t x, int64_t y) {
    const uint8_t* p = bitmap.row(y) + 4 * x;
    return {p[0], p[1], p[2], p[3]};
}

inline std::shared_ptr<NSBitmapImageRep> flattened(RenderedCanvas& rendered) {
    return rendered.asBitmap();
}

// One compositing step worked out independently in double precision on
// straight 8-bit values, as the blend formulas define it, rounded to 8 bits.
inline RGBA8 referenceBlend(BlendMode mode, RGBA8 fg, double fgOpacity, RGBA8 bg) {
    double s[4], d[4];
    const double sa = fg[3] / 255.0 * fgOpacity, da = bg[3] / 255.0;
    for (int i = 0; i < 3; ++i) {
        s[i] = fg[i] / 255.0 * sa;
        d[i] = bg[i] / 255.0 * da;
    }
    s[3] = sa;
    d[3] = da;
    double r[4];
    if (mode == BlendMode::eraser) {
        for (int i = 0; i < 4; ++i) {
            r[i] = d[i] * (1 - sa);
        }
    } else if (mode == BlendMode::sourceOver) {
        for (int i = 0; i < 4; ++i) {
            r[i] = s[i] + d[i] * (1 - sa);
        }
    } else {
        for (int i = 0; i < 3; ++i) {
            const double cs = sa > 0 ? s[i] / sa : 0, cd = da > 0 ? d[i] / da : 0;
            double b = 0;
            switch (mode) {
            case BlendMode::multiply:
                b = cs * cd;
                break;
            case BlendMode::overlay:
                b = cd <= 0.5 ? 2 * cs * cd : 1 - 2 * (1 - cs) * (1 - cd);
                break;
            case BlendMode::linearBurn:
                b = std::max(cs + cd - 1, 0.0);
                break;
            default:
                b = std::min(cs + cd, 1.0);
                break;
            }
            r[i] = s[i] * (1 - da) + d[i] * (1 - sa) + sa * da * b;
        }
        r[3] = sa + da - sa * da;
    }
    RGBA8 out{};
    const auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    for (int i = 0; i < 3; ++i) {
        out[i] = r[3] > 0 ? byte(r[i] / r[3]) : 0;
    }
    out[3] = byte(r[3]);
    return out;
}

MATCHER_P(NearPixel, expected, "") {
    for (int i = 0; i < 4; ++i) {
        if (std::abs(int(arg[i]) - int(expected[i])) > 1) {
            return false;
        }
    }
    return true;
}

} // namespace velmora::testing
