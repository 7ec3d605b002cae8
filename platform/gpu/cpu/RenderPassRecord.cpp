#include "gpu/cpu/RenderPassRecord.hpp"

#include "gpu/MTLLibrary.hpp"

namespace velmora::cpu {

std::optional<RenderPassRecord::Bytes> RenderPassRecord::bytesOf(const ArgumentTable& table) {
    Bytes bytes;
    for (size_t i = 0; i < kMaxBufferBindings; ++i) {
        const auto& b = table.buffers()[i];
        if (b.buffer != nullptr) {
            return std::nullopt; // its contents can change unseen
        }
        if (b.inlineBytes) {
            const auto data = b.data();
            bytes.slots[i].assign(data.begin(), data.end());
            bytes.bound[i] = true;
        }
    }
    return bytes;
}

std::shared_ptr<RenderPassRecord>
RenderPassRecord::make(const MTLRenderPassColorAttachmentDescriptor& attachment,
                       const std::vector<DrawCall>& draws) {
    if (attachment.loadAction != MTLLoadAction::clear || draws.size() > 1) {
        return nullptr;
    }
    auto record = std::make_shared<RenderPassRecord>();
    record->clearColor_ = attachment.clearColor;
    if (draws.empty()) {
        return record;
    }
    const DrawCall& draw = draws.front();
    const auto& desc = draw.pipeline->descriptor();
    const auto& footprint = desc.fragmentFunction->body()->footprint;
    if (!footprint || desc.colorAttachments[0].blendingEnabled) {
        return nullptr;
    }
    for (const auto& t : draw.vertexArguments.textures()) {
        if (t != nullptr) {
            return nullptr;
        }
    }
    const auto& textures = draw.fragmentArguments.textures();
    for (size_t i = 0; i < textures.size(); ++i) {
        if (textures[i] != nullptr && i != footprint->texture) {
            return nullptr;
        }
    }
    auto vertexBytes = bytesOf(draw.vertexArguments);
    auto fragmentBytes = bytesOf(draw.fragmentArguments);
    const auto& sampled = textures.at(footprint->texture);
    if (!vertexBytes || !fragmentBytes || sampled == nullptr) {
        return nullptr;
    }
    record->drawing_ = true;
    record->pipeline_ = draw.pipeline;
    record->viewport_ = draw.viewport;
    record->vertexStart_ = draw.vertexStart;
    record->vertexCount_ = draw.vertexCount;
    record->vertexBytes_ = std::move(*vertexBytes);
    record->fragmentBytes_ = std::move(*fragmentBytes);
    record->sampled_ = sampled;
    record->sampledIdentity_ = sampled.get();
    return record;
}

bool RenderPassRecord::drawsAs(const RenderPassRecord& next) const {
    if (clearColor_ != next.clearColor_ || drawing_ != next.drawing_) {
        return false;
    }
    if (!drawing_) {
        return true;
    }
    // The same object, still alive: a new texture at a freed one's address is another.
    const auto sampled = sampled_.lock();
    return sampled != nullptr && sampled.get() == next.sampledIdentity_ &&
           pipeline_ == next.pipeline_ && viewport_ == next.viewport_ &&
           vertexStart_ == next.vertexStart_ && vertexCount_ == next.vertexCount_ &&
           vertexBytes_ == next.vertexBytes_ && fragmentBytes_ == next.fragmentBytes_;
}

void RenderPassRecord::noteRead() {
    if (const auto sampled = sampled_.lock()) {
        sampledGeneration_ = sampled->contentGeneration();
    }
}

std::optional<MTLRegion> RenderPassRecord::changedTexels() const {
    if (!drawing_) {
        return MTLRegion{};
    }
    const auto sampled = sampled_.lock();
    if (sampled == nullptr) {
        return std::nullopt;
    }
    return sampled->changedSince(sampledGeneration_);
}

} // namespace velmora::cpu
