#include "foundation/AtomicFile.hpp"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

void writeFileAtomically(const std::filesystem::path& destination,
                         std::span<const std::uint8_t> bytes, unsigned permissions) {
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / ("." + destination.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(errno, "Cannot create a temporary file beside " + destination.string());
    }
    auto abandon = [&](int error, const std::string& what) {
        ::close(fd);
        ::unlink(temporary.c_str());
        fail(error, what);
    };
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            abandon(errno, "Cannot write " + temporary);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
        abandon(errno, "Cannot set the permissions of " + temporary);
    }
    if (::fsync(fd) != 0) {
        abandon(errno, "Cannot flush " + temporary);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "Cannot close " + temporary);
    }
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "Cannot replace " + destination.string());
    }
    // Make the rename itself durable; failing here loses nothing already written.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace velmora
