#include "coding/AtomicFileWriter.hpp"

#include "coding/PropertyListError.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/DispatchQueue.hpp"

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

std::filesystem::path folderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::filesystem::path destination)
    : AtomicFileWriter(std::move(destination), Options()) {}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path destination, Options options)
    : destination_(std::move(destination)), options_(std::move(options)) {
    std::string pattern = temporaryPathOf(destination_, "XXXXXX").string();
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
    // Errors name the file the user knows, not the hidden temporary.
    streamer_ = std::make_unique<FileStreamer>(fd_, destination_, options_.pieceBytes);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (fd_ >= 0) {
        abandon();
    }
}

void AtomicFileWriter::abandon() {
    streamer_.reset();
    ::close(fd_);
    fd_ = -1;
    ::unlink(temporary_.c_str());
}

void AtomicFileWriter::write(std::span<const std::uint8_t> bytes) {
    streamer_->write(bytes);
}

void AtomicFileWriter::writeShared(const SharedBytes& bytes) {
    streamer_->write(bytes);
}

void AtomicFileWriter::commit() {
    streamer_->finish();
    if (::fsync(fd_) != 0) {
        fail("Cannot flush", destination_, errno);
    }
    if (options_.beforeReplace) {
        options_.beforeReplace(temporary_);
    }
    // Held past the rename, the file replaced is freed when this is closed, on
    // a background queue: freeing the blocks of a large file takes a while.
    const int replaced = ::open(destination_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        const int error = errno;
        if (replaced >= 0) {
            ::close(replaced);
        }
        fail("Cannot replace", destination_, error);
    }
    // Flushed above: the lock it held ends with the name, and nothing is left to report.
    ::close(fd_);
    fd_ = -1;
    streamer_.reset();
    // Make the rename itself durable.
    const int dir = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    if (replaced >= 0) {
        DispatchQueue::global(DispatchQoS::background).async([replaced] { ::close(replaced); });
    }
}

} // namespace velmora
