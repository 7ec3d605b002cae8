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
    // Writers that replace the file by renaming leave the mapping intact;
    // one that cuts it short or writes into it does not (see isIntact()).
    static SharedBytes mapping(const std::filesystem::path& path);
    // A view of `part` (which lies within these bytes) sharing their owner.
    SharedBytes view(std::span<const std::uint8_t> part) const;
    // False only for the bytes of a mapped file that was since cut short or
    // written to in place, whose pages may now fault when read or hold other
    // bytes: checked by the file's size and time (one fstat).
    bool isIntact() const;

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
    struct Mapping;

    std::shared_ptr<const void> owner_;
    // The mapped file these bytes lie in, kept alive by the owner.
    const Mapping* mapping_ = nullptr;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace velmora
