#include "coding/AtomicFileWriter.hpp"

#include "coding/PropertyListError.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int error) {
    throw PropertyListError(PropertyListError::Code::fileError,
                            what + " \"" + path.string() + "\": " + std::strerror(error));
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path destination)
    : destination_(std::move(destination)) {
    std::string pattern = destination_.string() + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) {
        fail("Cannot create a temporary file for", destination_, errno);
    }
    temporary_ = pattern;
    // Marks it as being written, for a later save that clears what killed ones left.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    // mkostemp makes the file private; keep the mode of the file being replaced.
    struct stat existing {};
    const mode_t mode =
        ::stat(destination_.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : mode_t(0644);
    ::fchmod(fd_, mode);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

void AtomicFileWriter::write(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        // Linux moves at most about 2 GiB per call.
        const std::size_t chunk = left < (std::size_t(1) << 30) ? left : (std::size_t(1) << 30);
        const ssize_t n = ::write(fd_, p, chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("Cannot write", temporary_, errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void AtomicFileWriter::startWriteback() {
    // Only a hint: commit() still flushes everything.
    ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

void AtomicFileWriter::commit() {
    if (::fsync(fd_) != 0) {
        fail("Cannot flush", temporary_, errno);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        fail("Cannot close", temporary_, error);
    }
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        fail("Cannot replace", destination_, error);
    }
    // Make the rename itself durable.
    const std::filesystem::path folder =
        destination_.has_parent_path() ? destination_.parent_path() : std::filesystem::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace velmora
