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
// without being copied.
class SharedBytes {
public:
    SharedBytes() = default;
    // Takes the vector over without copying its bytes.
    explicit SharedBytes(std::vector<std::uint8_t> bytes);
    // A view into memory that `owner` keeps alive.
    SharedBytes(std::shared_ptr<const void> owner, std::span<const std::uint8_t> bytes)
        : owner_(std::move(owner)), data_(bytes.data()), size_(bytes.size()) {}

    static SharedBytes copy(std::span<const std::uint8_t> bytes);
    // The file's bytes mapped read-only, kept mapped while any view of them
    // lives. Throws std::system_error when it cannot be opened or mapped.
    // Writers that replace the file by renaming leave the mapping intact.
    static SharedBytes mapping(const std::filesystem::path& path);

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
