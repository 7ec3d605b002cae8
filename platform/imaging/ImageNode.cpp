#include "imaging/ImageNode.hpp"

#include "foundation/FatalError.hpp"

#include <cmath>
#include <cstring>

namespace velmora::imaging {

ImageNode::ImageNode(NodeKind kind, CGRect extent)
    : kind_(kind), extent_(extent), pixelExtent_(pixelCover(extent)) {}

void ImageNode::render(const PixelRect& rect, const TileBuffer& out, ScratchArena& arena) const {
    precondition(out.width == rect.width && out.height == rect.height, "Tile size mismatch");
    const PixelRect inner = intersection(rect, pixelExtent_);
    if (inner.isEmpty()) {
        kernels::clear(out);
        return;
    }
    if (inner == rect) {
        evaluate(rect, out, arena);
        return;
    }
    ScratchScope scope(arena);
    const TileBuffer part = arena.allocate(inner.width, inner.height);
    evaluate(inner, part, arena);
    kernels::clear(out);
    kernels::copy(part, 0, 0, out, inner.x - rect.x, inner.y - rect.y, inner.width, inner.height);
}

namespace {

class EmptyNode final : public ImageNode {
public:
    EmptyNode() : ImageNode(NodeKind::empty, CGRect::zero()) {}
    void collectResources(std::vector<std::shared_ptr<MTLResource>>&) const override {}

protected:
    void evaluate(const PixelRect&, const TileBuffer& out, ScratchArena&) const override {
        kernels::clear(out);
    }
};

class ConstantNode final : public ImageNode {
public:
    explicit ConstantNode(const float rgba[4]) : ImageNode(NodeKind::constant, infiniteRect()) {
        std::memcpy(rgba_, rgba, sizeof(rgba_));
    }
    void collectResources(std::vector<std::shared_ptr<MTLResource>>&) const override {}
    std::optional<ConstantFill> constantFill() const override {
        return ConstantFill{{rgba_[0], rgba_[1], rgba_[2], rgba_[3]}, pixelExtent()};
    }

protected:
    void evaluate(const PixelRect&, const TileBuffer& out, ScratchArena&) const override {
        kernels::fill(out, rgba_);
    }

private:
    float rgba_[4];
};

// Reads stored pixels; with `premultiply` the straight pixels are
// premultiplied as they are read, sparing a pass over the tile.
class SourceNode final : public ImageNode {
public:
    SourceNode(std::shared_ptr<const PixelSource> source, bool premultiply)
        : ImageNode(NodeKind::source,
                    {{0, 0}, {double(source->width()), double(source->height())}}),
          source_(std::move(source)), premultiply_(premultiply) {}

    const std::shared_ptr<const PixelSource>& source() const { return source_; }
    bool premultiplies() const { return premultiply_; }
    std::optional<DirectSource> directSource() const override {
        return DirectSource{source_.get(), 0, 0, premultiply_};
    }
    NodeRef premultipliedOnRead() const override {
        return premultiply_ ? nullptr : std::make_shared<SourceNode>(source_, true);
    }
    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        if (auto r = source_->resource()) {
            out.push_back(std::move(r));
        }
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out, ScratchArena&) const override {
        const PixelStorage s = source_->storage();
        if (s.base == nullptr) {
            kernels::clear(out);
            return;
        }
        precondition(rect.x >= 0 && rect.y >= 0 && rect.maxX() <= s.width &&
                         rect.maxY() <= s.height,
                     "Source read outside its storage");
        const size_t bpp = bytesPerPixel(s.format);
        for (int64_t j = 0; j < rect.height; ++j) {
            const int64_t y = rect.y + j;
            const int64_t row = s.topRowFirst ? s.height - 1 - y : y;
            const std::byte* p = s.base + size_t(row) * s.bytesPerRow + size_t(rect.x) * bpp;
            kernels::loadRow(p, s.format, size_t(rect.width), premultiply_, out.row(0, j),
                             out.row(1, j), out.row(2, j), out.row(3, j));
        }
    }

private:
    std::shared_ptr<const PixelSource> source_;
    bool premultiply_;
};

// Keeps the pixels whose centres lie inside the rectangle.
class CropNode final : public ImageNode {
public:
    CropNode(NodeRef child, const CGRect& rect)
        : ImageNode(NodeKind::crop, intersection(child->extent(), rect)), child_(std::move(child)),
          keep_(centreCover(rect)) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }
    std::optional<ConstantFill> constantFill() const override {
        auto fill = child_->constantFill();
        if (fill) {
            fill->extent = intersection(fill->extent, keep_);
        }
        return fill;
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        const PixelRect inner = intersection(rect, keep_);
        if (inner == rect) {
            child_->render(rect, out, arena);
            return;
        }
        kernels::clear(out);
        if (inner.isEmpty()) {
            return;
        }
        ScratchScope scope(arena);
        const TileBuffer part = arena.allocate(inner.width, inner.height);
        child_->render(inner, part, arena);
        kernels::copy(part, 0, 0, out, inner.x - rect.x, inner.y - rect.y, inner.width,
                      inner.height);
    }

private:
    static PixelRect centreCover(const CGRect& r) {
        if (isEmpty(r)) {
            return {};
        }
        if (isInfinite(r)) {
            return pixelCover(r);
        }
        constexpr double limit = double(int64_t(1) << 40);
        const double x0 = std::clamp(std::ceil(r.minX() - 0.5), -limit, limit);
        const double y0 = std::clamp(std::ceil(r.minY() - 0.5), -limit, limit);
        const double x1 = std::clamp(std::ceil(r.maxX() - 0.5), -limit, limit);
        const double y1 = std::clamp(std::ceil(r.maxY() - 0.5), -limit, limit);
        return {int64_t(x0), int64_t(y0), int64_t(std::max(0.0, x1 - x0)),
                int64_t(std::max(0.0, y1 - y0))};
    }

    NodeRef child_;
    PixelRect keep_;
};

class TranslateNode final : public ImageNode {
public:
    TranslateNode(NodeRef child, int64_t dx, int64_t dy)
        : ImageNode(NodeKind::translate, moved(child->extent(), dx, dy)), child_(std::move(child)),
          dx_(dx), dy_(dy) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

    std::optional<DirectSource> directSource() const override {
        auto d = child_->directSource();
        if (d) {
            d->dx += dx_;
            d->dy += dy_;
        }
        return d;
    }

    NodeRef premultipliedOnRead() const override {
        NodeRef inner = child_->premultipliedOnRead();
        return inner ? translateNode(std::move(inner), dx_, dy_) : nullptr;
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        child_->render({rect.x - dx_, rect.y - dy_, rect.width, rect.height}, out, arena);
    }

private:
    static CGRect moved(const CGRect& r, int64_t dx, int64_t dy) {
        if (isEmpty(r) || isInfinite(r)) {
            return r;
        }
        return {{r.origin.x + double(dx), r.origin.y + double(dy)}, r.size};
    }

    NodeRef child_;
    int64_t dx_, dy_;
};

class AlphaNode final : public ImageNode {
public:
    AlphaNode(NodeRef child, bool premultiply)
        : ImageNode(premultiply ? NodeKind::premultiply : NodeKind::unpremultiply, child->extent()),
          child_(std::move(child)), premultiply_(premultiply) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        child_->render(rect, out, arena);
        if (premultiply_) {
            kernels::premultiply(out);
        } else {
            kernels::unpremultiply(out);
        }
    }

private:
    NodeRef child_;
    bool premultiply_;
};

class ColorMatrixNode final : public ImageNode {
public:
    ColorMatrixNode(NodeRef child, const kernels::ColorMatrix& m)
        : ImageNode(NodeKind::colorMatrix, m.bias[3] > 0 ? infiniteRect() : child->extent()),
          child_(std::move(child)), matrix_(m), alphaScale_(alphaScaleOf(m)) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

    std::optional<DirectSource> directSource() const override {
        auto d = child_->directSource();
        if (!d || alphaScale_ < 0 || d->scale != 1.0f) {
            return std::nullopt;
        }
        d->scale = alphaScale_;
        return d;
    }

    std::optional<ScaledInput> scaledInput() const override {
        if (alphaScale_ < 0) {
            return std::nullopt;
        }
        return ScaledInput{child_.get(), alphaScale_};
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        child_->render(rect, out, arena);
        if (alphaScale_ >= 0) {
            // Only alpha is scaled: on premultiplied pixels that is one product.
            kernels::scale(out, alphaScale_);
        } else {
            kernels::colorMatrix(out, matrix_);
        }
    }

private:
    // The scale when the matrix keeps colour and multiplies alpha by k in
    // [0, 1] (the opacity filter); -1 otherwise.
    static float alphaScaleOf(const kernels::ColorMatrix& m) {
        const kernels::ColorMatrix identity;
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 4; ++c) {
                if (m.m[r][c] != identity.m[r][c]) {
                    return -1;
                }
            }
        }
        for (int c = 0; c < 4; ++c) {
            if (m.bias[c] != 0) {
                return -1;
            }
        }
        const float k = m.m[3][3];
        if (m.m[3][0] != 0 || m.m[3][1] != 0 || m.m[3][2] != 0 || !(k >= 0 && k <= 1)) {
            return -1;
        }
        return k;
    }

    NodeRef child_;
    kernels::ColorMatrix matrix_;
    float alphaScale_;
};

CGRect blendExtent(kernels::BlendOp op, const CGRect& fg, const CGRect& bg) {
    // Where the result can be non-zero: source-out keeps only the foreground's
    // footprint, every other mode the union.
    if (op == kernels::BlendOp::sourceOut) {
        return fg;
    }
    return unionRect(fg, bg);
}

class BlendNode final : public ImageNode {
public:
    BlendNode(kernels::BlendOp op, NodeRef fg, NodeRef bg)
        : ImageNode(NodeKind::blend, blendExtent(op, fg->extent(), bg->extent())), op_(op),
          fg_(std::move(fg)), bg_(std::move(bg)) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        fg_->collectResources(out);
        bg_->collectResources(out);
    }

    std::optional<BlendInputs> blendInputs() const override {
        return BlendInputs{op_, fg_.get(), bg_.get()};
    }

    kernels::BlendOp op() const { return op_; }
    const NodeRef& foreground() const { return fg_; }
    const NodeRef& background() const { return bg_; }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        const bool fgMeets = !intersection(rect, fg_->pixelExtent()).isEmpty();
        const bool bgMeets = !intersection(rect, bg_->pixelExtent()).isEmpty();
        if (!bgMeets) {
            // D = 0: every mode gives S.
            fg_->render(rect, out, arena);
            return;
        }
        if (!fgMeets) {
            // S = 0: source-out gives 0, the others D.
            if (op_ == kernels::BlendOp::sourceOut) {
                kernels::clear(out);
            } else {
                bg_->render(rect, out, arena);
            }
            return;
        }
        bg_->render(rect, out, arena);
        ScratchScope scope(arena);
        const TileBuffer fg = arena.allocate(rect.width, rect.height);
        fg_->render(rect, fg, arena);
        kernels::blend(op_, fg, out);
    }

private:
    kernels::BlendOp op_;
    NodeRef fg_, bg_;
};

} // namespace

NodeRef emptyNode() {
    static const NodeRef empty = std::make_shared<EmptyNode>();
    return empty;
}

NodeRef constantNode(const float rgba[4]) {
    return std::make_shared<ConstantNode>(rgba);
}

NodeRef sourceNode(std::shared_ptr<const PixelSource> source) {
    precondition(source != nullptr, "No pixel source");
    return std::make_shared<SourceNode>(std::move(source), false);
}

NodeRef cropNode(NodeRef child, const CGRect& rect) {
    return std::make_shared<CropNode>(std::move(child), rect);
}

NodeRef translateNode(NodeRef child, int64_t dx, int64_t dy) {
    // Whole-pixel moves commute with per-pixel blends; moved inputs keep the
    // blend visible to the one-pass paths that read stored rows directly.
    if (const auto* blend = dynamic_cast<const BlendNode*>(child.get())) {
        return blendNode(blend->op(), translateNode(blend->foreground(), dx, dy),
                         translateNode(blend->background(), dx, dy));
    }
    return std::make_shared<TranslateNode>(std::move(child), dx, dy);
}

NodeRef premultiplyNode(NodeRef child) {
    if (NodeRef onRead = child->premultipliedOnRead()) {
        return onRead;
    }
    return std::make_shared<AlphaNode>(std::move(child), true);
}

NodeRef unpremultiplyNode(NodeRef child) {
    return std::make_shared<AlphaNode>(std::move(child), false);
}

NodeRef colorMatrixNode(NodeRef child, const kernels::ColorMatrix& m) {
    return std::make_shared<ColorMatrixNode>(std::move(child), m);
}

NodeRef blendNode(kernels::BlendOp op, NodeRef foreground, NodeRef background) {
    return std::make_shared<BlendNode>(op, std::move(foreground), std::move(background));
}

} // namespace velmora::imaging
