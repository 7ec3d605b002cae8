#include "gpu/cpu/ArgumentTable.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/CPUBuffer.hpp"

namespace velmora::cpu {

std::span<const uint8_t> BufferBinding::data() const {
    if (inlineBytes) {
        return bytes;
    }
    if (buffer == nullptr) {
        return {};
    }
    auto* cpuBuffer = dynamic_cast<CPUBuffer*>(buffer.get());
    precondition(cpuBuffer != nullptr, "Buffer of another device");
    return {cpuBuffer->storage().data() + offset, static_cast<size_t>(buffer->length() - offset)};
}

void ArgumentTable::setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) {
    precondition(index < kMaxTextureBindings, "Texture index out of range");
    textures_[index] = std::move(texture);
}

void ArgumentTable::setBytes(const void* bytes, size_t length, uint64_t index) {
    precondition(index < kMaxBufferBindings, "Buffer index out of range");
    precondition(length <= kMaxInlineBytes, "setBytes accepts at most 4096 bytes");
    precondition(bytes != nullptr || length == 0, "setBytes without bytes");
    BufferBinding b;
    b.inlineBytes = true;
    const auto* p = static_cast<const uint8_t*>(bytes);
    b.bytes.assign(p, p + length);
    buffers_[index] = std::move(b);
}

void ArgumentTable::setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset, uint64_t index) {
    precondition(index < kMaxBufferBindings, "Buffer index out of range");
    precondition(buffer == nullptr || (offset >= 0 && offset <= buffer->length()),
                 "Buffer offset out of range");
    BufferBinding b;
    b.buffer = std::move(buffer);
    b.offset = offset;
    buffers_[index] = std::move(b);
}

const std::shared_ptr<MTLTexture>& ArgumentTable::textureObject(uint64_t index) const {
    precondition(index < kMaxTextureBindings, "Texture index out of range");
    return textures_[index];
}

MTLTextureContents ArgumentTable::texture(uint64_t index) const {
    const auto& t = textureObject(index);
    precondition(t != nullptr, "No texture bound at the index a function reads");
    return t->contents();
}

MTLTextureContents ArgumentTable::textureForReading(uint64_t index) const {
    const auto& t = textureObject(index);
    precondition(t != nullptr, "No texture bound at the index a function reads");
    return t->contentsForReading();
}

std::span<const uint8_t> ArgumentTable::buffer(uint64_t index) const {
    precondition(index < kMaxBufferBindings, "Buffer index out of range");
    precondition(buffers_[index].isBound(), "No buffer bound at the index a function reads");
    return buffers_[index].data();
}

void ArgumentTable::checkLength(size_t have, size_t need) {
    precondition(have >= need, "Bound buffer is shorter than the function reads");
}

} // namespace velmora::cpu
