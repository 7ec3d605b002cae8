#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace velmora {

// An immutable byte range kept alive by a shared owner, so that large data
// objects travel between a file buffer, a property list and its callers
// without being copied. The bytes are the program's own: never a view of a
// file, which another program could cut short or write over while they live.
// Whoever holds them may hand them to another thread, which reads them while
// later edits make new ones.
class SharedBytes {
public:
    SharedBytes() = default;
    // Takes the vector over without copying its bytes.
    explicit SharedBytes(std::vector<std::uint8_t> bytes);
    // A view into memory that `owner` keeps alive and nobody changes.
    SharedBytes(std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes)
        : owner_(std::move(owner)), data_(bytes.data()), size_(bytes.size()) {}

    static SharedBytes copy(std::span<const std::uint8_t> bytes);
    // The file's bytes read into memory of their own, in pieces on several
    // threads. A file that changes while it is read is read again; one that
    // keeps changing, cannot be opened or read, or is no regular file throws
    // std::system_error.
    static SharedBytes readFile(const std::filesystem::path& path);
    // A view of `part` (which lies within these bytes) sharing their owner.
    SharedBytes view(std::span<const std::uint8_t> part) const { return {owner_, part}; }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::span<const std::uint8_t> span() const { return {data_, size_}; }
    std::vector<std::uint8_t> toVector() const { return {data_, data_ + size_}; }
    // Lets go of the bytes (and of their owner).
    void clear() { *this = {}; }

    // Content equality.
    friend bool operator==(const SharedBytes& a, const SharedBytes& b);

private:
    std::shared_ptr<const void> owner_;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace velmora
