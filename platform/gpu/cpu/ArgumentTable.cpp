#include "gpu/cpu/ArgumentTable.hpp"

#include "foundation/FatalError.hpp"
#include "gpu/cpu/CPUBuffer.hpp"

#include <algorithm>
#include <cstring>

namespace velmora::cpu {

std::span<const uint8_t> BufferBinding::data() const {
    if (inlineBytes) {
        return {bytes.get(), length};
    }
    if (buffer == nullptr) {
        return {};
    }
    auto* cpuBuffer = dynamic_cast<CPUBuffer*>(buffer.get());
    precondition(cpuBuffer != nullptr, "Buffer of another device");
    return {cpuBuffer->storage().data() + offset, static_cast<size_t>(buffer->length() - offset)};
}

ArgumentTable::ArgumentTable(const ArgumentTable& other)
    : textureEnd_(other.textureEnd_), bufferEnd_(other.bufferEnd_) {
    std::copy_n(other.textures_.begin(), textureEnd_, textures_.begin());
    std::copy_n(other.buffers_.begin(), bufferEnd_, buffers_.begin());
}

ArgumentTable& ArgumentTable::operator=(const ArgumentTable& other) {
    if (this != &other) {
        const size_t textures = std::max(textureEnd_, other.textureEnd_);
        const size_t buffers = std::max(bufferEnd_, other.bufferEnd_);
        std::copy_n(other.textures_.begin(), textures, textures_.begin());
        std::copy_n(other.buffers_.begin(), buffers, buffers_.begin());
        textureEnd_ = other.textureEnd_;
        bufferEnd_ = other.bufferEnd_;
    }
    return *this;
}

ArgumentTable::ArgumentTable(ArgumentTable&& other) noexcept
    : textureEnd_(other.textureEnd_), bufferEnd_(other.bufferEnd_) {
    std::move(other.textures_.begin(), other.textures_.begin() + textureEnd_, textures_.begin());
    std::move(other.buffers_.begin(), other.buffers_.begin() + bufferEnd_, buffers_.begin());
}

ArgumentTable& ArgumentTable::operator=(ArgumentTable&& other) noexcept {
    if (this != &other) {
        const size_t textures = std::max(textureEnd_, other.textureEnd_);
        const size_t buffers = std::max(bufferEnd_, other.bufferEnd_);
        std::move(other.textures_.begin(), other.textures_.begin() + textures, textures_.begin());
        std::move(other.buffers_.begin(), other.buffers_.begin() + buffers, buffers_.begin());
        textureEnd_ = other.textureEnd_;
        bufferEnd_ = other.bufferEnd_;
    }
    return *this;
}

void ArgumentTable::setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index) {
    precondition(index < kMaxTextureBindings, "Texture index out of range");
    textures_[index] = std::move(texture);
    textureEnd_ = std::max(textureEnd_, size_t(index) + 1);
}

void ArgumentTable::setBytes(const void* bytes, size_t length, uint64_t index) {
    precondition(index < kMaxBufferBindings, "Buffer index out of range");
    precondition(length <= kMaxInlineBytes, "setBytes accepts at most 4096 bytes");
    precondition(bytes != nullptr || length == 0, "setBytes without bytes");
    BufferBinding b;
    b.inlineBytes = true;
    auto copy = std::make_shared_for_overwrite<uint8_t[]>(length);
    if (length > 0) {
        std::memcpy(copy.get(), bytes, length);
    }
    b.bytes = std::move(copy);
    b.length = length;
    buffers_[index] = std::move(b);
    bufferEnd_ = std::max(bufferEnd_, size_t(index) + 1);
}

void ArgumentTable::setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset, uint64_t index) {
    precondition(index < kMaxBufferBindings, "Buffer index out of range");
    precondition(buffer == nullptr || (offset >= 0 && offset <= buffer->length()),
                 "Buffer offset out of range");
    BufferBinding b;
    b.buffer = std::move(buffer);
    b.offset = offset;
    buffers_[index] = std::move(b);
    bufferEnd_ = std::max(bufferEnd_, size_t(index) + 1);
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
