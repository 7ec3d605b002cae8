#include "foundation/LogFile.hpp"

#include "foundation/PrivateFolder.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

LogFile::LogFile(std::filesystem::path path, std::uintmax_t limit)
    : path_(std::move(path)), limit_(limit) {}

LogFile::~LogFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool LogFile::open() {
    if (fd_ >= 0) {
        return true;
    }
    if (failed_) {
        return false;
    }
    std::error_code error;
    if (!createPrivateFolder(path_.parent_path(), error)) {
        failed_ = true;
        return false;
    }
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    struct stat status {};
    if (fd_ < 0 || ::fstat(fd_, &status) != 0) {
        failed_ = true;
        return false;
    }
    size_ = static_cast<std::uintmax_t>(status.st_size);
    return true;
}

void LogFile::rotate() {
    ::close(fd_);
    fd_ = -1;
    std::filesystem::path old = path_;
    old += ".1";
    std::error_code error;
    std::filesystem::rename(path_, old, error);
    if (error) {
        // Better an emptied log than one without a bound.
        std::filesystem::remove(path_, error);
    }
}

void LogFile::append(std::string_view line) {
    const std::lock_guard lock(mutex_);
    if (!open()) {
        return;
    }
    if (size_ > 0 && size_ + line.size() > limit_) {
        rotate();
        if (!open()) {
            return;
        }
    }
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    size_ += written;
}

} // namespace velmora
