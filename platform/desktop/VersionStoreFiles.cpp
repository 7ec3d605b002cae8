#include "desktop/VersionStoreFiles.hpp"

#include "foundation/FileDescriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora::VersionStoreFiles {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// A temporary file beside `destination`, removed unless renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(const fs::path& destination) {
        path_ = (destination.parent_path() / (std::string(temporaryPrefix) + "XXXXXX")).string();
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            fail(errno, "Cannot create a temporary file beside " + destination.string());
        }
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!renamed_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    void closeAndRename(const fs::path& destination) {
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) {
            fail(errno, "Cannot close " + path_);
        }
        if (::rename(path_.c_str(), destination.c_str()) != 0) {
            fail(errno, "Cannot rename " + path_ + " to " + destination.string());
        }
        renamed_ = true;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool renamed_ = false;
};

void writeAll(int fd, const char* data, std::size_t size, const std::string& name) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno, "Cannot write " + name);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The kernel copies (sharing blocks where the file system can); a plain
// read and write loop where it will not.
void copyContents(int source, int destination, std::uint64_t size, const std::string& name) {
    loff_t in = 0;
    loff_t out = 0;
    bool kernelCopy = true;
    while (kernelCopy && static_cast<std::uint64_t>(in) < size) {
        const ssize_t n = ::copy_file_range(source, &in, destination, &out,
                                            static_cast<std::size_t>(size - std::uint64_t(in)), 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                fail(errno, "Cannot copy into " + name);
            }
            kernelCopy = false;
        } else if (n == 0) {
            break; // the source shrank meanwhile: the size check below refuses it
        }
    }
    if (kernelCopy) {
        if (static_cast<std::uint64_t>(in) != size) {
            fail(EIO, "The file changed while it was copied into " + name);
        }
        return;
    }
    std::vector<char> buffer(std::size_t(1) << 20);
    std::uint64_t done = static_cast<std::uint64_t>(in);
    while (done < size) {
        const ssize_t n = ::pread(source, buffer.data(), buffer.size(), static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno, "Cannot read the file copied into " + name);
        }
        if (n == 0) {
            fail(EIO, "The file changed while it was copied into " + name);
        }
        if (::lseek(destination, static_cast<off_t>(done), SEEK_SET) < 0) {
            fail(errno, "Cannot seek in " + name);
        }
        writeAll(destination, buffer.data(), static_cast<std::size_t>(n), name);
        done += static_cast<std::uint64_t>(n);
    }
}

// Any write into a file changes this, even one that puts the file's time back.
timespec changedTime(int fd, const std::string& name) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        fail(errno, "Cannot read the file copied into " + name);
    }
    return status.st_ctim;
}

} // namespace

FileStamp FileStamp::of(const struct stat& status) {
    return FileStamp{status.st_dev, status.st_ino, static_cast<std::uint64_t>(status.st_size),
                     std::int64_t(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

std::optional<FileStamp> stampOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return FileStamp::of(status);
}

std::optional<UUID> readIdentity(const fs::path& path) {
    char value[64];
    const ssize_t n = ::getxattr(path.c_str(), identityAttribute, value, sizeof value);
    if (n <= 0) {
        return std::nullopt;
    }
    return UUID::fromString(std::string_view(value, static_cast<std::size_t>(n)));
}

bool writeIdentity(const fs::path& path, const UUID& identity) {
    const std::string text = identity.uuidString();
    return ::setxattr(path.c_str(), identityAttribute, text.data(), text.size(), 0) == 0;
}

void makeFolders(const fs::path& folder) {
    if (folder.empty() || fs::is_directory(folder)) {
        return;
    }
    if (folder.has_parent_path() && folder.parent_path() != folder) {
        makeFolders(folder.parent_path());
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        fail(errno, "Cannot create the folder " + folder.string());
    }
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void writeRecord(const fs::path& path, std::string_view contents) {
    TemporaryFile temporary(path);
    writeAll(temporary.fd(), contents.data(), contents.size(), temporary.path());
    temporary.closeAndRename(path);
}

std::optional<std::string> readRecord(const fs::path& path, std::size_t limit) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done > limit) {
        return std::nullopt;
    }
    text.resize(done);
    return text;
}

void copyVersion(int source, const FileStamp& stamp, const fs::path& destination) {
    TemporaryFile temporary(destination);
    const timespec before = changedTime(source, temporary.path());
    copyContents(source, temporary.fd(), stamp.size, temporary.path());
    const timespec after = changedTime(source, temporary.path());
    if (before.tv_sec != after.tv_sec || before.tv_nsec != after.tv_nsec) {
        fail(EAGAIN, "The file changed while it was copied into " + temporary.path());
    }
    constexpr std::int64_t billion = 1'000'000'000;
    const std::int64_t nanoseconds = ((stamp.modifiedNs % billion) + billion) % billion;
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>((stamp.modifiedNs - nanoseconds) / billion),
                                static_cast<long>(nanoseconds)}};
    if (::fchmod(temporary.fd(), 0600) != 0 || ::futimens(temporary.fd(), times) != 0) {
        fail(errno, "Cannot set the attributes of " + temporary.path());
    }
    if (::fsync(temporary.fd()) != 0) {
        fail(errno, "Cannot flush " + temporary.path());
    }
    temporary.closeAndRename(destination);
}

FolderLock::FolderLock(const fs::path& lockFile, bool exclusive) {
    FileDescriptor fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        fail(errno, "Cannot open the lock " + lockFile.string());
    }
    while (::flock(fd.get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            fail(errno, "Cannot lock " + lockFile.string());
        }
    }
    fd_ = fd.release();
}

FolderLock::~FolderLock() {
    ::close(fd_); // releases the lock
}

} // namespace velmora::VersionStoreFiles
