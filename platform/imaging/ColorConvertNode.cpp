#include "foundation/FatalError.hpp"
#include "graphics/PixelConversion.hpp"
#include "imaging/ImageNode.hpp"

namespace velmora::imaging {

namespace {

// Converts straight colour row by row through lcms2; alpha passes unchanged.
class ColorConvertNode final : public ImageNode {
public:
    ColorConvertNode(NodeRef child, CGColorSpaceRef from, CGColorSpaceRef to)
        : ImageNode(NodeKind::colorMatrix, child->extent()), child_(std::move(child)),
          from_(std::move(from)), to_(std::move(to)) {}

    void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const override {
        child_->collectResources(out);
    }

protected:
    void evaluate(const PixelRect& rect, const TileBuffer& out,
                  ScratchArena& arena) const override {
        child_->render(rect, out, arena);
        kernels::unpremultiply(out);
        ScratchScope scope(arena);
        const size_t n = size_t(rect.width);
        // Rows of interleaved RGBA floats: a 4-plane tile of height 1 is 4n contiguous floats.
        float* row = arena.allocate(rect.width, 1).planes[0];
        float* converted = arena.allocate(rect.width, 1).planes[0];
        for (int64_t j = 0; j < rect.height; ++j) {
            for (size_t i = 0; i < n; ++i) {
                for (int c = 0; c < 4; ++c) {
                    row[4 * i + size_t(c)] = out.row(c, j)[i];
                }
            }
            convertPixels(from_.get(), PixelLayout::rgbaFloat32, row, *to_,
                          PixelLayout::rgbaFloat32, converted, n);
            for (size_t i = 0; i < n; ++i) {
                for (int c = 0; c < 4; ++c) {
                    out.row(c, j)[i] = converted[4 * i + size_t(c)];
                }
            }
        }
        kernels::premultiply(out);
    }

private:
    NodeRef child_;
    CGColorSpaceRef from_, to_;
};

} // namespace

NodeRef colorConvertNode(NodeRef child, CGColorSpaceRef from, CGColorSpaceRef to) {
    precondition(from != nullptr && to != nullptr, "Colour conversion without spaces");
    return std::make_shared<ColorConvertNode>(std::move(child), std::move(from), std::move(to));
}

} // namespace velmora::imaging
