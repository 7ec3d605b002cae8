#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>

namespace velmora {

// Thumbnails already made, each kept for as long as its file stays the version
// it was made from (same file, size and times), the least recently used going
// first beyond a small number. Any thread.
class ThumbnailCache {
public:
    // What tells one version of a file from the next: the application replaces
    // a file by renaming a new one into place, which changes the inode.
    struct FileVersion {
        std::uintmax_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0, changed = 0; // nanoseconds
        bool operator==(const FileVersion&) const = default;

        // None when the path names no regular file.
        static std::optional<FileVersion> of(const std::filesystem::path& path);
    };

    explicit ThumbnailCache(std::size_t capacity) : capacity_(capacity) {}

    // The thumbnail made from that version of the file at that size, if kept.
    std::optional<QImage> find(const std::filesystem::path& path, QSize pixels,
                               const FileVersion& version);
    void insert(const std::filesystem::path& path, QSize pixels, const FileVersion& version,
                QImage image);

private:
    using Key = std::tuple<std::string, int, int>;
    struct Entry {
        FileVersion version;
        QImage image;
        std::uint64_t lastUse = 0;
    };

    std::mutex mutex_;
    std::map<Key, Entry> entries_;
    std::size_t capacity_;
    std::uint64_t uses_ = 0;
};

} // namespace velmora
