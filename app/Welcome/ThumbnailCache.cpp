#include "Welcome/ThumbnailCache.hpp"

#include <algorithm>
#include <sys/stat.h>

namespace velmora {

namespace {

std::int64_t nanoseconds(const timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

std::optional<ThumbnailCache::FileVersion>
ThumbnailCache::FileVersion::of(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return FileVersion{std::uintmax_t(status.st_dev), std::uintmax_t(status.st_ino),
                       std::uintmax_t(status.st_size), nanoseconds(status.st_mtim),
                       nanoseconds(status.st_ctim)};
}

std::optional<QImage> ThumbnailCache::find(const std::filesystem::path& path, QSize pixels,
                                           const FileVersion& version) {
    const std::lock_guard lock(mutex_);
    const auto found = entries_.find({path.string(), pixels.width(), pixels.height()});
    if (found == entries_.end() || found->second.version != version) {
        return std::nullopt;
    }
    found->second.lastUse = ++uses_;
    return found->second.image;
}

void ThumbnailCache::insert(const std::filesystem::path& path, QSize pixels,
                            const FileVersion& version, QImage image) {
    const std::lock_guard lock(mutex_);
    entries_[{path.string(), pixels.width(), pixels.height()}] = {version, std::move(image),
                                                                  ++uses_};
    if (entries_.size() > capacity_) {
        entries_.erase(std::ranges::min_element(
            entries_, {}, [](const auto& entry) { return entry.second.lastUse; }));
    }
}

} // namespace velmora
