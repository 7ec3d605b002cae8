#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

namespace velmora {

// A temporary file that holds undo payloads moved out of memory. Its name and
// its first bytes mark it as ours, and it stays locked while open, so that a
// later launch removes it only when the program that made it is gone. It is
// removed when closed. Space given back is used again. Any thread.
class SnapshotSpillFile {
public:
    static constexpr std::string_view namePrefix = "velmora-undo-";

    // A new file in `folder`, made (mode 0700) when missing; throws
    // std::system_error when it cannot be made.
    static std::unique_ptr<SnapshotSpillFile> create(const std::filesystem::path& folder);
    ~SnapshotSpillFile();
    SnapshotSpillFile(const SnapshotSpillFile&) = delete;
    SnapshotSpillFile& operator=(const SnapshotSpillFile&) = delete;

    // Writes `bytes` into free space and returns where; throws std::system_error.
    uint64_t write(std::span<const uint8_t> bytes);
    // Throws std::system_error when the bytes cannot be read back whole.
    std::vector<uint8_t> read(uint64_t offset, size_t size) const;
    // The space of a write no longer needed.
    void release(uint64_t offset, size_t size);
    const std::filesystem::path& path() const { return path_; }

    // Removes the files of `folder` that carry our mark and that no running
    // program holds; returns how many.
    static size_t removeStale(const std::filesystem::path& folder);

private:
    SnapshotSpillFile(std::filesystem::path path, int fd);
    uint64_t allocate(uint64_t length);
    void free(uint64_t offset, uint64_t length);

    std::filesystem::path path_;
    int fd_;
    std::mutex mutex_;
    // Free space before the end, by offset.
    std::map<uint64_t, uint64_t> holes_;
    uint64_t end_;
};

} // namespace velmora
