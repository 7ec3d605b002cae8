#include "Rendering/MetalHelper.hpp"

#include "MetalExtensions/MTLCommandBufferExtensions.hpp"
#include "MetalExtensions/MTLPixelFormatExtensions.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "MetalExtensions/MTLTextureExtensions.hpp"
#include "MetalExtensions/ShaderValueConversions.hpp"
#include "foundation/FatalError.hpp"
#include "gpu/MPSImageConversion.hpp"
#include "gpu/MTKTextureLoader.hpp"
#include "gpu/MTLError.hpp"
#include "graphics/ColorManagement.hpp"
#include "imaging/ImagingGeometry.hpp"

#include <array>

namespace velmora {

const std::shared_ptr<MetalHelper>& MetalHelper::shared() {
    static const auto* instance = new std::shared_ptr<MetalHelper>(std::make_shared<MetalHelper>());
    return *instance;
}

MetalHelper::MetalHelper() {
    device_ = MTLCreateSystemDefaultDevice();
    precondition(device_ != nullptr);
    commandQueue_ = device_->newCommandQueue();
    precondition(commandQueue_ != nullptr);
    const auto library = device_->newDefaultLibrary();
    if (library == nullptr) {
        fatalError("The shader library cannot be loaded");
    }
    auto function = library->newFunction("fill");
    precondition(function != nullptr);
    try {
        fillComputePipeline_ = device_->newComputePipelineState(std::move(function));
    } catch (const MTLError& e) {
        fatalError(e.what());
    }
}

std::shared_ptr<MTLCommandBuffer> MetalHelper::newCommandBuffer() {
    auto commandBuffer = commandQueue_->commandBuffer();
    precondition(commandBuffer != nullptr);
    return commandBuffer;
}

void MetalHelper::commitAndWait(MTLCommandBuffer& commandBuffer) {
    commandBuffer.commit();
    commandBuffer.waitUntilCompleted();
    if (commandBuffer.status() == MTLCommandBufferStatus::error) {
        throw CommandBufferError(commandBuffer.error().value_or("Command buffer failed"));
    }
}

void MetalHelper::execute(
    const std::function<void(MetalHelper&, const std::shared_ptr<MTLCommandBuffer>&)>& body) {
    const auto commandBuffer = newCommandBuffer();
    body(*this, commandBuffer);
    commitAndWait(*commandBuffer);
}

void MetalHelper::fill(const std::shared_ptr<MTLTexture>& texture, const NSColor& color,
                       const MTLRegion& region,
                       const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const auto working = color.colorUsingColorSpace(ColorManagement::workingNSColorSpace());
    precondition(working != nullptr);
    const std::array<float, 4> components{static_cast<float>(working->redComponent()),
                                          static_cast<float>(working->greenComponent()),
                                          static_cast<float>(working->blueComponent()),
                                          static_cast<float>(working->alphaComponent())};
    const auto clipped = intersection(region, MTLRegion{MTLOriginZero, size(*texture)});
    if (!clipped) {
        fatalError("Internal inconcistency");
    }
    const auto origin = simd2UInt32(clipped->origin);
    const auto extent = simd2UInt32(clipped->size);
    compute(*commandBuffer, "Fill texture with color", [&](MTLComputeCommandEncoder& encoder) {
        encoder.setComputePipelineState(fillComputePipeline_);
        encoder.setTexture(texture, 0);
        encoder.setBytes(components.data(), sizeof(components), 1);
        encoder.setBytes(&origin, sizeof(origin), 2);
        encoder.setBytes(&extent, sizeof(extent), 3);
        dispatchThreadgroupsForWorkingOn(encoder, *texture);
    });
}

std::shared_ptr<NSBitmapImageRep>
MetalHelper::makeBitmap(const std::shared_ptr<MTLTexture>& texture) {
    if (texture->storageMode() != MTLStorageMode::managed) {
        fatalError("Cannot download data for non-managed texture");
    }
    if (texture->pixelFormat() != MTLPixelFormat::rgba8Unorm) {
        fatalError("Unsupported pixel format: " + std::string(description(texture->pixelFormat())) +
                   ". Only rgba8Unorm is supported.");
    }
    const auto commandBuffer = newCommandBuffer();
    blit(*commandBuffer, std::nullopt,
         [&](MTLBlitCommandEncoder& encoder) { encoder.synchronizeResource(texture); });
    commitAndWait(*commandBuffer);
    // Tagged with the working space the texture is in, so pasting it back keeps its colours.
    auto bitmap = NSBitmapImageRep::makeRGBA8(texture->width(), texture->height(),
                                              ColorManagement::workingNSColorSpace());
    precondition(bitmap != nullptr);
    precondition(bitmap->bytesPerRow() == texture->width() * 4);
    texture->getBytes(bitmap->bitmapData(), bitmap->bytesPerRow(),
                      MTLRegion{MTLOriginZero, {texture->width(), texture->height(), 1}}, 0);
    return bitmap;
}

std::shared_ptr<MTLTexture> MetalHelper::makeTexture(const MTLSize& size, MTLTextureUsage usage,
                                                     MTLStorageMode storageMode,
                                                     MTLPixelFormat format,
                                                     const std::optional<std::string>& label) {
    auto descriptor = MTLTextureDescriptor::texture2DDescriptor(format, size.width, size.height);
    descriptor.usage = usage;
    descriptor.storageMode = storageMode;
    auto texture = device_->newTexture(descriptor);
    precondition(texture != nullptr);
    if (label) {
        texture->setLabel(*label);
    }
    return texture;
}

std::shared_ptr<MTLTexture> MetalHelper::makeTexture(const NSBitmapImageRep& bitmap,
                                                     const CGColorSpaceRef& colorspace) {
    auto texture = makeTexture(bitmap.pixelSize(), MTLTextureUsage::shaderReadWrite,
                               MTLStorageMode::private_, MTLPixelFormat::rgba8Unorm, std::nullopt);
    const auto commandBuffer = newCommandBuffer();
    paste(bitmap, texture, colorspace, commandBuffer);
    commitAndWait(*commandBuffer);
    return texture;
}

std::shared_ptr<MTLTexture>
MetalHelper::transferTexture(const std::string& name, const MTLSize& size, MTLPixelFormat format) {
    return pool_.texture(name, size, MTLTextureUsage::shaderReadWrite, MTLStorageMode::managed,
                         format);
}

void MetalHelper::paste(const std::shared_ptr<MTLTexture>& source,
                        const std::optional<MTLRegion>& subrect, const MTLOrigin& origin,
                        const std::shared_ptr<MTLTexture>& destination,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    const MTLRegion region = subrect.value_or(MTLRegion{MTLOriginZero, size(*source)});
    blit(*commandBuffer, std::nullopt, [&](MTLBlitCommandEncoder& encoder) {
        encodePaste(source, region, destination, origin, encoder);
    });
}

void MetalHelper::encodePaste(const std::shared_ptr<MTLTexture>& source, const MTLRegion& subrect,
                              const std::shared_ptr<MTLTexture>& destination,
                              const MTLOrigin& origin, MTLBlitCommandEncoder& encoder) {
    encoder.setLabel("Paste '" + source->label().value_or("texture") + "' subrect " +
                     description(subrect) + " to '" +
                     destination->label().value_or("another texture") + "'");
    encoder.copyFromTexture(source, 0, 0, subrect.origin, subrect.size, destination, 0, 0, origin);
}

void MetalHelper::paste(const NSBitmapImageRep& bitmap,
                        const std::shared_ptr<MTLTexture>& destination,
                        const CGColorSpaceRef& destinationColorSpace,
                        const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    precondition(bitmap.pixelsWide() == destination->width() &&
                 bitmap.pixelsHigh() == destination->height());
    const MTKTextureLoader loader(device_);
    MTKTextureLoaderOptions options;
    options.srgb = false;
    options.origin = MTKTextureLoaderOrigin::bottomLeft;
    const auto source = loader.newTexture(bitmap, options);
    precondition(bitmap.colorSpace() != nullptr && bitmap.colorSpace()->cgColorSpace() != nullptr &&
                 destinationColorSpace != nullptr);
    MPSImageConversion conversion(
        device_, MPSAlphaType::nonPremultiplied, MPSAlphaType::nonPremultiplied, std::nullopt,
        CGColorConversionInfoCreate(bitmap.colorSpace()->cgColorSpace(), destinationColorSpace));
    conversion.setLabel("Convert input image to " + destinationColorSpace->description());
    conversion.encode(*commandBuffer, source, destination);
}

void MetalHelper::convert(const std::shared_ptr<MTLTexture>& source,
                          const std::optional<MTLRegion>& region,
                          const std::shared_ptr<MTLTexture>& destination,
                          const std::shared_ptr<MTLCommandBuffer>& commandBuffer) {
    if (source->pixelFormat() == destination->pixelFormat()) {
        fatalError("Calling useless conversion while both texture have same pixel format");
    }
    const MTLRegion sourceRegion = region.value_or(MTLRegion{MTLOriginZero, size(*source)});
    if (sourceRegion.size != size(*destination)) {
        fatalError("Calling conversion with src size " + description(size(*source)) +
                   " different from destination size " + description(size(*destination)));
    }
    MPSImageConversion conversion(device_, MPSAlphaType::nonPremultiplied,
                                  MPSAlphaType::nonPremultiplied, std::nullopt, std::nullopt);
    conversion.setOffset(mpsOffset(sourceRegion.origin));
    conversion.setClipRect(MTLRegion{MTLOriginZero, sourceRegion.size});
    conversion.setLabel("Convert pixel format");
    conversion.encode(*commandBuffer, source, destination);
}

void MetalHelper::render(const CIImage& image, const std::shared_ptr<MTLTexture>& destination,
                         const MTLOrigin& origin, const MTLRegion& region,
                         const std::shared_ptr<MTLCommandBuffer>& commandBuffer,
                         const std::string& label) {
    commandBuffer->pushDebugGroup(label);
    const MTLRegion target{origin, region.size};
    if (const auto clipped = intersection(target, MTLRegion{MTLOriginZero, size(*destination)})) {
        const CGRect fromRect{
            {static_cast<CGFloat>(region.origin.x), static_cast<CGFloat>(region.origin.y)},
            {static_cast<CGFloat>(region.size.width), static_cast<CGFloat>(region.size.height)}};
        // The extent lives where the region does, in the image's space; the
        // destination is clipped separately.
        const auto extent = image.extent();
        if (!imaging::isEmpty(extent) &&
            !imaging::isEmpty(imaging::intersection(extent, fromRect))) {
            CIRenderDestination renderDestination(destination, commandBuffer);
            renderDestination.setAlphaMode(CIRenderDestinationAlphaMode::unpremultiplied);
            renderDestination.setColorSpace(ColorManagement::workingColorSpace());
            try {
                context().startTask(
                    image, fromRect, renderDestination,
                    {static_cast<CGFloat>(origin.x), static_cast<CGFloat>(origin.y)});
            } catch (const std::exception& e) {
                fatalError(e.what());
            }
        } else {
            fill(destination, *NSColor::clearColor(), *clipped, commandBuffer);
        }
    }
    commandBuffer->popDebugGroup();
}

const CIContext& MetalHelper::context() {
    if (!context_) {
        CIContextOptions options;
        options.outputPremultiplied = false;
        options.workingColorSpace = ColorManagement::workingColorSpace();
        options.outputColorSpace = ColorManagement::workingColorSpace();
        precondition(MTLCreateSystemDefaultDevice() != nullptr);
        context_.emplace(options);
    }
    return *context_;
}

void MetalHelper::clearCaches() {
    context().clearCaches();
}

void MetalHelper::replaceContents(const std::shared_ptr<MTLTexture>& texture,
                                  const NSBitmapImageRep& bitmap) {
    if (size(*texture) != MTLSize{bitmap.pixelsWide(), bitmap.pixelsHigh(), 1}) {
        fatalError();
    }
    if (bitmap.isPlanar()) {
        fatalError();
    }
    if (bitsPerSample(texture->pixelFormat()) != bitmap.bitsPerSample()) {
        fatalError("Pixel format don't match: " + std::string(description(texture->pixelFormat())) +
                   " vs " + bitmap.description());
    }
    // The copy takes the bitmap's bytes as the texture's pixels: they must have the
    // texture's layout, and the data must hold every row.
    const int64_t bytesPerPixel = texture->contentsForReading().bytesPerPixel;
    const bool rgbaLayout = bitmap.samplesPerPixel() == 4 && bitmap.hasAlpha() &&
                            !contains(bitmap.bitmapFormat(), NSBitmapFormat::alphaFirst) &&
                            !bitmap.isAlphaPremultiplied() &&
                            bitmap.bitsPerPixel() == bitmap.bitsPerSample() * 4 &&
                            bitmap.bitsPerPixel() / 8 == bytesPerPixel;
    precondition(rgbaLayout, "Bitmap layout does not match the texture: " + bitmap.description());
    precondition(bitmap.bytesPerRow() >= texture->width() * bytesPerPixel &&
                     static_cast<int64_t>(bitmap.dataSize()) >=
                         bitmap.bytesPerRow() * (texture->height() - 1) +
                             texture->width() * bytesPerPixel,
                 "Bitmap data shorter than its rows");
    texture->replaceRegion(MTLRegion{MTLOriginZero, size(*texture)}, 0, bitmap.bitmapData(),
                           bitmap.bytesPerRow());
}

} // namespace velmora
