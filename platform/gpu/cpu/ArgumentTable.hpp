#pragma once

#include "gpu/MTLBuffer.hpp"
#include "gpu/MTLTexture.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace velmora::cpu {

inline constexpr size_t kMaxBufferBindings = 31;
inline constexpr size_t kMaxTextureBindings = 32;
// The platform's limit for bytes passed inline with a command.
inline constexpr size_t kMaxInlineBytes = 4096;

// One slot of the buffer table: inline bytes or a buffer at an offset.
struct BufferBinding {
    // Shared, never changed: a dispatch's copy of the table costs no copy of them.
    std::shared_ptr<const uint8_t[]> bytes;
    size_t length = 0;
    std::shared_ptr<MTLBuffer> buffer;
    int64_t offset = 0;
    bool inlineBytes = false;

    bool isBound() const { return inlineBytes || buffer != nullptr; }
    std::span<const uint8_t> data() const;
};

// The bindings of one stage, captured by value when a command is encoded.
class ArgumentTable {
public:
    ArgumentTable() = default;
    // Copy and move only the slots up to the highest one bound: every dispatch copies
    // its table and moves it into its command.
    ArgumentTable(const ArgumentTable& other);
    ArgumentTable& operator=(const ArgumentTable& other);
    ArgumentTable(ArgumentTable&& other) noexcept;
    ArgumentTable& operator=(ArgumentTable&& other) noexcept;
    ~ArgumentTable() = default;

    void setTexture(std::shared_ptr<MTLTexture> texture, uint64_t index);
    void setBytes(const void* bytes, size_t length, uint64_t index);
    void setBuffer(std::shared_ptr<MTLBuffer> buffer, int64_t offset, uint64_t index);

    const std::shared_ptr<MTLTexture>& textureObject(uint64_t index) const;
    // The host memory of the texture bound at `index`; a missing binding stops the program.
    MTLTextureContents texture(uint64_t index) const;
    // The same for functions that only sample the texture: not counted as a change.
    MTLTextureContents textureForReading(uint64_t index) const;
    std::span<const uint8_t> buffer(uint64_t index) const;

    template <class T> T bytesAs(uint64_t index) const {
        const auto b = buffer(index);
        checkLength(b.size(), sizeof(T));
        T out;
        std::memcpy(&out, b.data(), sizeof(T));
        return out;
    }

    // Element `i` of an array of T bound at `index`; reading past the binding stops
    // the program.
    template <class T> T element(uint64_t index, size_t i) const {
        const auto b = buffer(index);
        checkLength(b.size() / sizeof(T), i + 1);
        T out;
        std::memcpy(&out, b.data() + i * sizeof(T), sizeof(T));
        return out;
    }

    const std::array<std::shared_ptr<MTLTexture>, kMaxTextureBindings>& textures() const {
        return textures_;
    }
    const std::array<BufferBinding, kMaxBufferBindings>& buffers() const { return buffers_; }

private:
    static void checkLength(size_t have, size_t need);
    std::array<std::shared_ptr<MTLTexture>, kMaxTextureBindings> textures_;
    std::array<BufferBinding, kMaxBufferBindings> buffers_;
    // One past the highest slot ever set; the slots above are empty.
    size_t textureEnd_ = 0;
    size_t bufferEnd_ = 0;
};

} // namespace velmora::cpu
