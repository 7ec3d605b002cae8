#include "Reference.hpp"

#include "graphics/ColorManagement.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmora::engine::reference {

namespace {

double clamp01(double v) {
    return std::min(1.0, std::max(0.0, v));
}

uint8_t to8(double v) {
    return uint8_t(std::lround(clamp01(v) * 255.0));
}

RGBA toF(const RGBA8& p) {
    return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
}

RGBA8 to8(const RGBA& p) {
    return {to8(p[0]), to8(p[1]), to8(p[2]), to8(p[3])};
}

// Premultiplied in, straight out.
RGBA straight(const RGBA& premultiplied) {
    const double a = premultiplied[3];
    if (a <= 0) {
        return {0, 0, 0, 0};
    }
    return {premultiplied[0] / a, premultiplied[1] / a, premultiplied[2] / a, a};
}

RGBA premultiplied(const RGBA& s) {
    return {s[0] * s[3], s[1] * s[3], s[2] * s[3], s[3]};
}

double separable(BlendMode mode, double cs, double cd) {
    switch (mode) {
    case BlendMode::multiply:
        return cs * cd;
    case BlendMode::overlay:
        return cd <= 0.5 ? 2 * cs * cd : 1 - 2 * (1 - cs) * (1 - cd);
    case BlendMode::linearBurn:
        return std::max(cs + cd - 1, 0.0);
    case BlendMode::linearDodge:
        return std::min(cs + cd, 1.0);
    default:
        return cs;
    }
}

// Straight foreground (its alpha already scaled) over a straight background.
RGBA blend(BlendMode mode, const RGBA& fg, const RGBA& bg) {
    const RGBA s = premultiplied(fg), d = premultiplied(bg);
    const double sa = s[3], da = d[3];
    RGBA r{};
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
            r[i] = s[i] * (1 - da) + d[i] * (1 - sa) + sa * da * separable(mode, fg[i], bg[i]);
        }
        r[3] = sa + da - sa * da;
    }
    return straight(r);
}

Picture8 composite(const std::vector<Node>& layers, Picture8 below) {
    for (const auto& layer : layers) {
        Picture8 picture;
        if (layer.isGroup) {
            picture = composite(layer.children, Picture8(below.width, below.height));
        } else {
            picture = layer.pixels;
        }
        const double alpha = layer.visible ? layer.opacity : 0;
        for (int64_t y = 0; y < below.height; ++y) {
            for (int64_t x = 0; x < below.width; ++x) {
                RGBA fg = toF(picture.at(x, y));
                fg[3] *= alpha;
                below.at(x, y) = to8(blend(layer.mode, fg, toF(below.at(x, y))));
            }
        }
    }
    return below;
}

} // namespace

PictureF stamp(int64_t width, int64_t height, const std::vector<StrokesViewModel::Dot>& dots,
               PictureF onto) {
    if (onto.pixels.empty()) {
        onto = PictureF(width, height);
    }
    for (const auto& dot : dots) {
        const double r = dot.radius, h = dot.hardness;
        RGBA color{1, 1, 1, 1};
        if (dot.color != nullptr) {
            color = {dot.color->redComponent(), dot.color->greenComponent(),
                     dot.color->blueComponent(), dot.color->alphaComponent()};
        }
        const double inner = h * r - 0.5, outer = r + 0.5;
        const auto R = int64_t(std::ceil(r));
        const auto cx = int64_t(std::trunc(dot.position.x)),
                   cy = int64_t(std::trunc(dot.position.y));
        for (int64_t y = std::max<int64_t>(0, cy - R); y <= std::min(height - 1, cy + R); ++y) {
            for (int64_t x = std::max<int64_t>(0, cx - R); x <= std::min(width - 1, cx + R); ++x) {
                const double d = std::hypot(x + 0.5 - dot.position.x, y + 0.5 - dot.position.y);
                const double t = clamp01((d - inner) / (outer - inner));
                const double a = (1 - t * t * (3 - 2 * t)) * dot.opacity * color[3];
                RGBA& p = onto.at(x, y);
                if (a <= p[3]) {
                    continue;
                }
                // Source-over by the share s that lifts alpha from p[3] to a.
                const double s = (a - p[3]) / (1 - p[3]);
                RGBA over{};
                for (int i = 0; i < 3; ++i) {
                    over[i] = s * color[i] + (1 - s) * p[3] * p[i];
                }
                over[3] = a;
                p = straight(over);
            }
        }
    }
    return onto;
}

Picture8 blendStroke(const Picture8& layer, const PictureF& stroke, bool erasing) {
    Picture8 out = layer;
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        out.pixels[i] = to8(blend(erasing ? BlendMode::eraser : BlendMode::sourceOver,
                                  stroke.pixels[i], toF(layer.pixels[i])));
    }
    return out;
}

Picture8 flatten(const std::vector<Node>& layers, int64_t width, int64_t height) {
    return composite(layers, Picture8(width, height, RGBA8{255, 255, 255, 255}));
}

Picture8 fromBitmap(const NSBitmapImageRep& bitmap) {
    Picture8 p(bitmap.pixelsWide(), bitmap.pixelsHigh());
    for (int64_t y = 0; y < p.height; ++y) {
        const uint8_t* row = bitmap.row(p.height - 1 - y);
        for (int64_t x = 0; x < p.width; ++x) {
            std::copy(row + 4 * x, row + 4 * x + 4, p.at(x, y).begin());
        }
    }
    return p;
}

std::shared_ptr<NSBitmapImageRep> toBitmap(const Picture8& picture) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(picture.width, picture.height,
                                              ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < picture.height; ++y) {
        uint8_t* row = bitmap->row(picture.height - 1 - y);
        for (int64_t x = 0; x < picture.width; ++x) {
            std::copy(picture.at(x, y).begin(), picture.at(x, y).end(), row + 4 * x);
        }
    }
    return bitmap;
}

Difference compare(const Picture8& a, const Picture8& b, int tolerance, const Picture8* base) {
    Difference d;
    if (a.width != b.width || a.height != b.height) {
        d.pixels = -1;
        return d;
    }
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        int worst = 0;
        for (int c = 0; c < 4; ++c) {
            worst = std::max(worst, std::abs(int(a.pixels[i][c]) - int(b.pixels[i][c])));
        }
        d.largest = std::max(d.largest, worst);
        d.pixels += worst > tolerance ? 1 : 0;
        if (base != nullptr && a.pixels[i] != base->pixels[i]) {
            d.changed += 1;
        }
    }
    return d;
}

std::string describe(const Difference& d) {
    return std::to_string(d.pixels) + " pixels off, largest difference " +
           std::to_string(d.largest) + ", " + std::to_string(d.changed) + " pixels changed";
}

} // namespace velmora::engine::reference
