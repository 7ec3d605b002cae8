#include "foundation/StaleFile.hpp"

#include "foundation/FileDescriptor.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velmora {

bool removeStaleFile(const std::filesystem::path& path,
                     const std::function<bool(int fd, const struct stat& status)>& isStale) {
    const FileDescriptor fd(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (fd.get() < 0 || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_uid != ::geteuid() || !isStale(fd.get(), opened) ||
        ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    // Still the file that was checked and locked under that name.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino) {
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

} // namespace velmora
