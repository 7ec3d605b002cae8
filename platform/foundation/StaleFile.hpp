#pragma once

#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace velmora {

// Removes the file named `path` if it is a regular file of this user's own, one
// that `isStale` (given it open and its status) takes for stale and that no one
// holds locked (flock). A link so named is not followed, let alone its target
// removed, and nothing goes unless the name still names the file so checked.
// Never throws; answers whether the file went.
bool removeStaleFile(const std::filesystem::path& path,
                     const std::function<bool(int fd, const struct stat& status)>& isStale);

} // namespace velmora
