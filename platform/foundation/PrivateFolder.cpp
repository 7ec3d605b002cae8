#include "foundation/PrivateFolder.hpp"

#include <cerrno>
#include <sys/stat.h>

namespace velmora {

bool createPrivateFolder(const std::filesystem::path& folder, std::error_code& error) {
    error.clear();
    std::filesystem::path prefix;
    for (const auto& component : folder.lexically_normal()) {
        prefix /= component;
        if (component.empty() || component == prefix.root_path()) {
            continue;
        }
        if (::mkdir(prefix.c_str(), 0700) == 0) {
            continue;
        }
        const int failure = errno;
        // EEXIST may also name a file; EACCES may come from a parent we may not write into.
        struct stat info {};
        if (::stat(prefix.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            continue;
        }
        error = std::error_code(failure == EEXIST ? ENOTDIR : failure, std::generic_category());
        return false;
    }
    return true;
}

} // namespace velmora
