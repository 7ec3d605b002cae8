#pragma once

#include "gpu/MTLResource.hpp"
#include "graphics/CGColorSpace.hpp"
#include "imaging/ImagingGeometry.hpp"
#include "imaging/PixelKernels.hpp"
#include "imaging/PixelStorage.hpp"
#include "imaging/TileBuffer.hpp"

#include <memory>
#include <optional>
#include <vector>

// The nodes of the lazy image graph. A render asks the root for one tile at a
// time; each node pulls what it needs of its inputs into scratch tiles of the
// task's arena, so intermediate images exist only tile by tile.
namespace velmora::imaging {

class ImageNode;
class PixelSource;
using NodeRef = std::shared_ptr<const ImageNode>;

enum class NodeKind : uint8_t {
    empty,
    constant,
    source,
    crop,
    translate,
    affine,
    downscale,
    premultiply,
    unpremultiply,
    colorMatrix,
    blend
};

class ImageNode {
public:
    ImageNode(NodeKind kind, CGRect extent);
    virtual ~ImageNode() = default;
    ImageNode(const ImageNode&) = delete;
    ImageNode& operator=(const ImageNode&) = delete;

    NodeKind kind() const { return kind_; }
    const CGRect& extent() const { return extent_; }
    // The whole pixels the extent touches; nothing outside is ever non-zero.
    const PixelRect& pixelExtent() const { return pixelExtent_; }

    // Writes every pixel of `rect` (premultiplied) into `out`, whose size is
    // the rect's; pixels outside the extent come out transparent.
    void render(const PixelRect& rect, const TileBuffer& out, ScratchArena& arena) const;

    // The GPU resources the recipe reads, to keep them in use while a render
    // that reads them is pending.
    virtual void collectResources(std::vector<std::shared_ptr<MTLResource>>& out) const = 0;

    // The same pixels premultiplied as they are read, when this node is a
    // stored image (or one moved by whole pixels) that does not do so yet.
    virtual NodeRef premultipliedOnRead() const { return nullptr; }

    // For the fused blend: a stored image moved by whole pixels...
    struct DirectSource {
        const PixelSource* source;
        int64_t dx, dy;
        bool premultiply;
        float scale = 1.0f; // one opacity applied after the read
    };
    virtual std::optional<DirectSource> directSource() const { return std::nullopt; }
    // ...one premultiplied colour over whole pixels (transparent elsewhere)...
    struct ConstantFill {
        float rgba[4];
        PixelRect extent;
    };
    virtual std::optional<ConstantFill> constantFill() const { return std::nullopt; }
    // ...and a blend of two images.
    struct BlendInputs {
        kernels::BlendOp op;
        const ImageNode* foreground;
        const ImageNode* background;
    };
    virtual std::optional<BlendInputs> blendInputs() const { return std::nullopt; }
    // ...and an image whose premultiplied pixels are multiplied by one
    // opacity in [0, 1], as a direct source's scale is applied.
    struct ScaledInput {
        const ImageNode* image;
        float scale;
    };
    virtual std::optional<ScaledInput> scaledInput() const { return std::nullopt; }

protected:
    // Called only for rects inside `pixelExtent()`.
    virtual void evaluate(const PixelRect& rect, const TileBuffer& out,
                          ScratchArena& arena) const = 0;

private:
    NodeKind kind_;
    CGRect extent_;
    PixelRect pixelExtent_;
};

// Pixel memory that a source node reads when a render runs, not before: a
// texture is read at the point of the timeline where the render happens.
class PixelSource {
public:
    virtual ~PixelSource() = default;
    virtual int64_t width() const = 0;
    virtual int64_t height() const = 0;
    // Valid until the render that asked for it ends.
    virtual PixelStorage storage() const = 0;
    virtual std::shared_ptr<MTLResource> resource() const { return nullptr; }
    // Where the pixels may be other than zero (none: anywhere), as the storage's
    // rows are numbered; the rest need not be read.
    virtual std::optional<PixelRect> nonZeroBounds() const { return std::nullopt; }
};

enum class Sampling : uint8_t { linear, nearest };

NodeRef emptyNode();
// `rgba` premultiplied; the extent is infinite.
NodeRef constantNode(const float rgba[4]);
NodeRef sourceNode(std::shared_ptr<const PixelSource> source);
NodeRef cropNode(NodeRef child, const CGRect& rect);
NodeRef translateNode(NodeRef child, int64_t dx, int64_t dy);
NodeRef affineNode(NodeRef child, const CGAffineTransform& t, Sampling sampling);
// Area-averaging scale by factors in (0, 1], then translation by (tx, ty).
NodeRef downscaleNode(NodeRef child, double sx, double sy, double tx, double ty);
NodeRef premultiplyNode(NodeRef child);
NodeRef unpremultiplyNode(NodeRef child);
NodeRef colorMatrixNode(NodeRef child, const kernels::ColorMatrix& m);
NodeRef blendNode(kernels::BlendOp op, NodeRef foreground, NodeRef background);
// Straight colour converted from one space to another (lcms2), alpha kept.
NodeRef colorConvertNode(NodeRef child, CGColorSpaceRef from, CGColorSpaceRef to);

} // namespace velmora::imaging
