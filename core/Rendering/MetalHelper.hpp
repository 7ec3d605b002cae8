#pragma once

#include "Rendering/TexturePool.hpp"
#include "gpu/MTLCommandBuffer.hpp"
#include "gpu/MTLDevice.hpp"
#include "graphics/CGColorSpace.hpp"
#include "graphics/NSBitmapImageRep.hpp"
#include "graphics/NSColor.hpp"
#include "imaging/CIContext.hpp"
#include "imaging/CIImage.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace velmora {

// The GPU service of the framework: the device, its command queue, the "fill"
// pipeline, transfer textures and the image context. Encoding operations only add
// work to the caller's command buffer; execute, makeBitmap and makeTexture(bitmap)
// commit their own buffer and wait for it.
class MetalHelper {
public:
    // Raised by the waiting operations when their command buffer failed, so a
    // failure is never taken for a result.
    class CommandBufferError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // Made on first use, from any thread; kept for the life of the process.
    static const std::shared_ptr<MetalHelper>& shared();

    MetalHelper();
    MetalHelper(const MetalHelper&) = delete;
    MetalHelper& operator=(const MetalHelper&) = delete;

    const std::shared_ptr<MTLComputePipelineState>& fillComputePipeline() const {
        return fillComputePipeline_;
    }
    const std::shared_ptr<MTLDevice>& device() const { return device_; }
    const std::shared_ptr<MTLCommandQueue>& commandQueue() const { return commandQueue_; }

    // The callback only encodes; the buffer is then committed and waited for.
    void execute(
        const std::function<void(MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&)>& body);

    // The region, clipped to the texture, set to the colour (in the working space).
    // A region that does not meet the texture stops the program.
    void fill(const std::shared_ptr<MTLTexture>& texture, const NSColor& color,
              const MTLRegion& region, const std::shared_ptr<MTLCommandBuffer>& commandBuffer);

    // The texture's rows as they are (row 0 first), 8-bit straight RGBA tagged with
    // the working colour space. Managed rgba8Unorm textures only.
    std::shared_ptr<NSBitmapImageRep> makeBitmap(const std::shared_ptr<MTLTexture>& texture);

    std::shared_ptr<MTLTexture> makeTexture(const MTLSize& size, MTLTextureUsage usage,
                                            MTLStorageMode storageMode, MTLPixelFormat format,
                                            const std::optional<std::string>& label);
    // A private rgba8Unorm texture holding the bitmap (bottom row first) converted
    // into `colorspace`, ready when the call returns.
    std::shared_ptr<MTLTexture> makeTexture(const NSBitmapImageRep& bitmap,
                                            const CGColorSpaceRef& colorspace);

    // A managed shader-read-write texture kept under `name`: the same object while
    // size and format stay the same.
    std::shared_ptr<MTLTexture> transferTexture(const std::string& name, const MTLSize& size,
                                                MTLPixelFormat format);

    // Copies `subrect` of the source (all of it when none) to `origin` of the
    // destination in one blit.
    void paste(const std::shared_ptr<MTLTexture>& source, const std::optional<MTLRegion>& subrect,
               const MTLOrigin& origin, const std::shared_ptr<MTLTexture>& destination,
               const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The bitmap, bottom row first, converted from its colour space into
    // `destinationColorSpace`; sizes must match. Throws MTKTextureLoaderError for a
    // bitmap that cannot be read.
    void paste(const NSBitmapImageRep& bitmap, const std::shared_ptr<MTLTexture>& destination,
               const CGColorSpaceRef& destinationColorSpace,
               const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The source region (all of the source when none) into the destination at (0, 0),
    // in the destination's pixel format.
    void convert(const std::shared_ptr<MTLTexture>& source, const std::optional<MTLRegion>& region,
                 const std::shared_ptr<MTLTexture>& destination,
                 const std::shared_ptr<MTLCommandBuffer>& commandBuffer);
    // The part `region` of the image into the texture with the region's corner at
    // `origin`, clipped to the texture, unpremultiplied in the working space. Where
    // the image has nothing in the region the destination is cleared instead.
    void render(const CIImage& image, const std::shared_ptr<MTLTexture>& destination,
                const MTLOrigin& origin, const MTLRegion& region,
                const std::shared_ptr<MTLCommandBuffer>& commandBuffer,
                const std::string& label = "Render CIImage");
    void clearCaches();

    // The bitmap's rows into the texture as they are, by the CPU. The bitmap must
    // match the texture in size and pixel layout (interleaved RGBA, alpha last and
    // straight, rows and data long enough).
    void replaceContents(const std::shared_ptr<MTLTexture>& texture,
                         const NSBitmapImageRep& bitmap);
    // The copy step of paste, inside the caller's blit pass.
    void encodePaste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& subrect,
                     const std::shared_ptr<MTLTexture>& destination, const MTLOrigin& origin,
                     MTLBlitCommandEncoder& encoder);

private:
    std::shared_ptr<MTLCommandBuffer> newCommandBuffer();
    void commitAndWait(MTLCommandBuffer& commandBuffer);
    const CIContext& context();

    std::shared_ptr<MTLComputePipelineState> fillComputePipeline_;
    std::shared_ptr<MTLDevice> device_;
    std::shared_ptr<MTLCommandQueue> commandQueue_;
    TexturePool pool_;
    std::optional<CIContext> context_;
};

} // namespace velmora
