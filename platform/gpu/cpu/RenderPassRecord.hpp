#pragma once

#include "gpu/MTLRenderPassDescriptor.hpp"
#include "gpu/cpu/CPURenderCommandEncoder.hpp"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace velmora::cpu {

// A clearing render pass of at most one draw, whose fragment function tells what it
// reads (FragmentFootprint), as it was last drawn into its attachment. When the same
// pass comes again and nothing else wrote the attachment since, only the rows whose
// fragments can read a texel changed since have to be drawn for the attachment to
// end as if drawn from scratch: a view showing a canvas redraws only where it changed.
class RenderPassRecord {
public:
    // None when the pass cannot be drawn in part: another load action, more draws,
    // blending, buffers, textures the fragment function does not tell it reads.
    static std::shared_ptr<RenderPassRecord>
    make(const MTLRenderPassColorAttachmentDescriptor& attachment,
         const std::vector<DrawCall>& draws);

    // Whether `next` draws exactly what this pass drew: the same clear colour,
    // pipeline, viewport, vertices, bytes and texture.
    bool drawsAs(const RenderPassRecord& next) const;

    // Call as the pass starts: the sampled texture's change count.
    void noteRead();
    // Call as the pass ends: the attachment's change count.
    void noteDrawn(const MTLTexture& attachment) {
        attachmentGeneration_ = attachment.contentGeneration();
    }
    uint64_t attachmentGeneration() const { return attachmentGeneration_; }

    // The sampled texels changed since noteRead (empty: none); none when not known.
    std::optional<MTLRegion> changedTexels() const;

private:
    struct Bytes {
        std::array<std::vector<uint8_t>, kMaxBufferBindings> slots;
        std::array<bool, kMaxBufferBindings> bound{};
        friend bool operator==(const Bytes&, const Bytes&) = default;
    };
    static std::optional<Bytes> bytesOf(const ArgumentTable& table);

    MTLClearColor clearColor_;
    bool drawing_ = false;
    std::shared_ptr<MTLRenderPipelineState> pipeline_;
    MTLViewport viewport_;
    uint64_t vertexStart_ = 0, vertexCount_ = 0;
    Bytes vertexBytes_, fragmentBytes_;
    std::weak_ptr<MTLTexture> sampled_;
    const MTLTexture* sampledIdentity_ = nullptr;
    uint64_t sampledGeneration_ = 0;
    uint64_t attachmentGeneration_ = 0;
};

} // namespace velmora::cpu
