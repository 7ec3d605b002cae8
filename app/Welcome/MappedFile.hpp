#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

namespace velmora {

// A regular file mapped read-only, so that a reader touches only the pages
// it needs. The application replaces its files by renaming new ones into
// place, so a mapping keeps the bytes it was made from.
class MappedFile {
public:
    // None when the file cannot be opened or mapped, is not regular, or is empty.
    static std::optional<MappedFile> open(const std::filesystem::path& path);

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void unmap();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace velmora
