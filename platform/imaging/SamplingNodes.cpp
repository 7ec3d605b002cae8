#include "foundation/FatalError.hpp"
#include "imaging/ImageNode.hpp"

#include <cmath>
#include <vector>

namespace velmora::imaging {

namespace {

// Largest input tile a sampling node pulls at once; bigger footprints are
// split so that memory stays bounded whatever the scale.
constexpr int64_t footprintLimit = int64_t(1) << 20;

CGRect transformedRect(const CGRect& r, const CGAffineTransform& t) {
    if (isEmpty(r) || isInfinite(r)) {
        return r;
    }
    const CGPoint p[4] = {
        t.apply(CGPoint{r.minX(), r.minY()}), t.apply(CGPoint{r.maxX(), r.minY()}),
        t.apply(CGPoint{r.minX(), r.maxY()}), t.apply(CGPoint{r.maxX(), r.maxY()})};
    double x0 = p[0].x, x1 = p[0].x, y0 = p[0].y, y1 = p[0].y;
    for (const CGPoint& q : p) {
        x0 = std::min(x0, q.x);
        x1 = std::max(x1, q.x);
        y0 = std::min(y0, q.y);
        y1 = std::max(y1, q.y);
    }
    return {{x0, y0}, {x1 - x0, y1 - y0}};
}

// Splits `rect` in two along its longer side and renders each half through
// `part`, used when one pass would pull too large an input.
template <typename Part>
void splitInHalves(const PixelRect& rect, const TileBuffer& out, ScratchArena& arena, Part part) {
    PixelRect a = rect, b = rect;
    if (rect.width >= rect.height) {
        a.width = rect.width / 2;
        b.x = rect.x + a.width;
        b.width = rect.width - a.width;
    } else {
        a.height = rect.height / 2;
        b.y = rect.y + a.height;
        b.height = rect.height - a.height;
    }
    for (const PixelRect& h : {a, b}) {
        ScratchScope scope(arena);
        const TileBuffer t = arena.allocate(h.width, h.height);
        part(h, t);
        kernels::copy(t, 0, 0, out, h.x - rect.x, h.y - rect.y, h.width, h.height);
    }
}

class AffineNode final : public ImageNode {
public:
    AffineNode(NodeRef child, const CGAffineTransform& t, Sampling sampling)
        : ImageNode(NodeKind::affine, transformedRect(child->extent(), t)),
          child_(std::move(child)), inverse_(t.inverted()), sampling_(sampling) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        const PixelRect fp = footprint(rect);
        if (fp.isEmpty()) {
            kernels::clear(out);
            return;
        }
        if (fp.width * fp.height > footprintLimit && rect.width * rect.height > 1) {
            splitInHalves(rect, out, arena,
                          [&](const PixelRect& h, const TileBuffer& t) { evaluate(h, t, arena); });
            return;
        }
        ScratchScope scope(arena);
        const TileBuffer src = arena.allocate(fp.width, fp.height);
        child_->render(fp, src, arena);
        const CGAffineTransform& m = inverse_;
        for (int64_t j = 0; j < rect.height; ++j) {
            const double py = double(rect.y + j) + 0.5;
            for (int64_t i = 0; i < rect.width; ++i) {
                const double px = double(rect.x + i) + 0.5;
                const double qx = m.a * px + m.c * py + m.tx - double(fp.x);
                const double qy = m.b * px + m.d * py + m.ty - double(fp.y);
                float v[4];
                if (sampling_ == Sampling::nearest) {
                    nearest(src, qx, qy, v);
                } else {
                    bilinear(src, qx, qy, v);
                }
                for (int c = 0; c < 4; ++c) {
                    out.row(c, j)[i] = v[c];
                }
            }
        }
    }

private:
    // The input pixels the rect's pixel centres can sample (with the bilinear
    // neighbours), limited to the input's pixels: everything else reads as zero.
    // Extreme down-scales thus pull only what they sample.
    PixelRect footprint(const PixelRect& rect) const {
        const double x0 = double(rect.x) + 0.5, x1 = double(rect.maxX()) - 0.5;
        const double y0 = double(rect.y) + 0.5, y1 = double(rect.maxY()) - 0.5;
        const CGPoint p[4] = {inverse_.apply(CGPoint{x0, y0}), inverse_.apply(CGPoint{x1, y0}),
                              inverse_.apply(CGPoint{x0, y1}), inverse_.apply(CGPoint{x1, y1})};
        double minX = p[0].x, maxX = p[0].x, minY = p[0].y, maxY = p[0].y;
        for (const CGPoint& q : p) {
            minX = std::min(minX, q.x);
            maxX = std::max(maxX, q.x);
            minY = std::min(minY, q.y);
            maxY = std::max(maxY, q.y);
        }
        static constexpr double limit = double(int64_t(1) << 40);
        const auto index = [](double v) {
            return int64_t(std::clamp(std::floor(v), -limit, limit));
        };
        const int64_t ix0 = index(minX - 0.5), iy0 = index(minY - 0.5);
        const int64_t ix1 = index(maxX - 0.5) + 2, iy1 = index(maxY - 0.5) + 2;
        return intersection({ix0, iy0, ix1 - ix0, iy1 - iy0}, child_->pixelExtent());
    }

    static float at(const TileBuffer& s, int c, int64_t x, int64_t y) {
        if (x < 0 || y < 0 || x >= s.width || y >= s.height) {
            return 0.0f;
        }
        return s.row(c, y)[x];
    }

    static void nearest(const TileBuffer& s, double qx, double qy, float v[4]) {
        const int64_t x = int64_t(std::floor(qx)), y = int64_t(std::floor(qy));
        for (int c = 0; c < 4; ++c) {
            v[c] = at(s, c, x, y);
        }
    }

    static void bilinear(const TileBuffer& s, double qx, double qy, float v[4]) {
        const double sx = qx - 0.5, sy = qy - 0.5;
        const double fx0 = std::floor(sx), fy0 = std::floor(sy);
        const int64_t x0 = int64_t(fx0), y0 = int64_t(fy0);
        const float fx = float(sx - fx0), fy = float(sy - fy0);
        for (int c = 0; c < 4; ++c) {
            const float top = at(s, c, x0, y0) * (1.0f - fx) + at(s, c, x0 + 1, y0) * fx;
            const float bottom = at(s, c, x0, y0 + 1) * (1.0f - fx) + at(s, c, x0 + 1, y0 + 1) * fx;
            v[c] = top * (1.0f - fy) + bottom * fy;
        }
    }

    NodeRef child_;
    CGAffineTransform inverse_;
    Sampling sampling_;
};

// Box weights of one axis: output pixel k averages the input pixels under its
// footprint, each weighted by the length it covers.
struct AxisWeights {
    std::vector<int64_t> first; // input index relative to the footprint start
    std::vector<int64_t> count;
    std::vector<size_t> offset;
    std::vector<float> weights;
    int64_t inputStart = 0;
    int64_t inputLength = 0;

    // Input pixels outside [limit0, limit1) are zero and get no weight, so a
    // footprint never reaches beyond the input.
    AxisWeights(int64_t out0, int64_t outLength, double scale, double shift, int64_t limit0,
                int64_t limit1) {
        const auto index = [&](double v) {
            return int64_t(std::clamp(v, double(limit0), double(limit1)));
        };
        const double lo0 = (double(out0) - shift) / scale;
        const double hi0 = (double(out0 + outLength) - shift) / scale;
        inputStart = index(std::floor(lo0));
        inputLength = std::max<int64_t>(0, index(std::ceil(hi0)) - inputStart);
        for (int64_t k = 0; k < outLength; ++k) {
            const double lo = (double(out0 + k) - shift) / scale;
            const double hi = (double(out0 + k + 1) - shift) / scale;
            const int64_t i0 = index(std::floor(lo));
            const int64_t i1 = std::max(i0, index(std::ceil(hi)));
            first.push_back(i0 - inputStart);
            count.push_back(i1 - i0);
            offset.push_back(weights.size());
            for (int64_t i = i0; i < i1; ++i) {
                const double covered = std::min(double(i + 1), hi) - std::max(double(i), lo);
                weights.push_back(float(std::max(0.0, covered) * scale));
            }
        }
    }
};

class DownscaleNode final : public ImageNode {
public:
    DownscaleNode(NodeRef child, double sx, double sy, double tx, double ty)
        : ImageNode(NodeKind::downscale,
                    transformedRect(child->extent(), CGAffineTransform{sx, 0, 0, sy, tx, ty})),
          child_(std::move(child)), sx_(sx), sy_(sy), tx_(tx), ty_(ty) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        const PixelRect in = child_->pixelExtent();
        const AxisWeights wx(rect.x, rect.width, sx_, tx_, in.x, in.maxX());
        const AxisWeights wy(rect.y, rect.height, sy_, ty_, in.y, in.maxY());
        if (wx.inputLength == 0 || wy.inputLength == 0) {
            kernels::clear(out);
            return;
        }
        if (wx.inputLength * wy.inputLength > footprintLimit && rect.width * rect.height > 1) {
            splitInHalves(rect, out, arena,
                          [&](const PixelRect& h, const TileBuffer& t) { evaluate(h, t, arena); });
            return;
        }
        ScratchScope scope(arena);
        const PixelRect fp{wx.inputStart, wy.inputStart, wx.inputLength, wy.inputLength};
        const TileBuffer src = arena.allocate(fp.width, fp.height);
        child_->render(fp, src, arena);
        // Columns first, into a tile as wide as the output and as tall as the input.
        const TileBuffer mid = arena.allocate(rect.width, fp.height);
        for (int c = 0; c < 4; ++c) {
            for (int64_t j = 0; j < fp.height; ++j) {
                const float* in = src.row(c, j);
                float* o = mid.row(c, j);
                for (int64_t k = 0; k < rect.width; ++k) {
                    const float* w = wx.weights.data() + wx.offset[size_t(k)];
                    const float* p = in + wx.first[size_t(k)];
                    float sum = 0.0f;
                    for (int64_t n = 0; n < wx.count[size_t(k)]; ++n) {
                        sum += p[n] * w[n];
                    }
                    o[k] = sum;
                }
            }
            for (int64_t k = 0; k < rect.height; ++k) {
                float* o = out.row(c, k);
                for (int64_t i = 0; i < rect.width; ++i) {
                    o[i] = 0.0f;
                }
                const float* w = wy.weights.data() + wy.offset[size_t(k)];
                for (int64_t n = 0; n < wy.count[size_t(k)]; ++n) {
                    const float* in = mid.row(c, wy.first[size_t(k)] + n);
                    const float wn = w[n];
                    for (int64_t i = 0; i < rect.width; ++i) {
                        o[i] += in[i] * wn;
                    }
                }
            }
        }
    }

private:
    NodeRef child_;
    double sx_, sy_, tx_, ty_;
};

} // namespace

NodeRef affineNode(NodeRef child, const CGAffineTransform& t, Sampling sampling) {
    return std::make_shared<AffineNode>(std::move(child), t, sampling);
}

NodeRef downscaleNode(NodeRef child, double sx, double sy, double tx, double ty) {
    precondition(sx > 0 && sx <= 1 && sy > 0 && sy <= 1, "Downscale factors out of range");
    return std::make_shared<DownscaleNode>(std::move(child), sx, sy, tx, ty);
}

} // namespace velmora::imaging
