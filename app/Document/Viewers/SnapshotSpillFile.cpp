#include "Document/Viewers/SnapshotSpillFile.hpp"

#include "foundation/FileDescriptor.hpp"
#include "foundation/PrivateFolder.hpp"
#include "foundation/StaleFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

namespace {

// The first block: the mark, then nothing. Payloads follow, each on a block
// boundary, so that the space of one given back can be given to the system.
constexpr std::string_view mark = "Velmora undo history\n";
constexpr uint64_t block = 4096;

uint64_t roundedUp(uint64_t length) {
    return (length + block - 1) / block * block;
}

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

bool carriesMark(int fd) {
    char head[mark.size()];
    return ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
           std::string_view(head, sizeof head) == mark;
}

} // namespace

SnapshotSpillFile::SnapshotSpillFile(fs::path path, int fd)
    : path_(std::move(path)), fd_(fd), end_(block) {}

std::unique_ptr<SnapshotSpillFile> SnapshotSpillFile::create(const fs::path& folder) {
    std::error_code error;
    if (!createPrivateFolder(folder, error)) {
        throw std::system_error(error, "The folder " + folder.string() + " could not be made");
    }
    std::string name = (folder / (std::string(namePrefix) + "XXXXXX")).string();
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        fail("The undo history's file could not be made in " + folder.string());
    }
    // Locked before it is marked: no launch ever takes it for a dead program's.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 ||
        ::pwrite(fd.get(), mark.data(), mark.size(), 0) != ssize_t(mark.size())) {
        const int failure = errno;
        ::unlink(name.c_str());
        errno = failure;
        fail("The undo history's file could not be prepared");
    }
    return std::unique_ptr<SnapshotSpillFile>(new SnapshotSpillFile(name, fd.release()));
}

SnapshotSpillFile::~SnapshotSpillFile() {
    ::unlink(path_.c_str());
    ::close(fd_);
}

uint64_t SnapshotSpillFile::allocate(uint64_t length) {
    const std::lock_guard lock(mutex_);
    for (auto it = holes_.begin(); it != holes_.end(); ++it) {
        if (it->second >= length) {
            const uint64_t offset = it->first, left = it->second - length;
            holes_.erase(it);
            if (left > 0) {
                holes_.emplace(offset + length, left);
            }
            return offset;
        }
    }
    const uint64_t offset = end_;
    end_ += length;
    return offset;
}

void SnapshotSpillFile::free(uint64_t offset, uint64_t length) {
    const std::lock_guard lock(mutex_);
    auto next = holes_.lower_bound(offset);
    if (next != holes_.begin()) {
        if (const auto before = std::prev(next); before->first + before->second == offset) {
            offset = before->first;
            length += before->second;
            holes_.erase(before);
        }
    }
    if (next != holes_.end() && offset + length == next->first) {
        length += next->second;
        holes_.erase(next);
    }
    if (offset + length == end_) {
        end_ = offset;
        // A failure only leaves the file longer than it needs to be.
        (void)::ftruncate(fd_, off_t(end_));
        return;
    }
    holes_.emplace(offset, length);
#ifdef FALLOC_FL_PUNCH_HOLE
    (void)::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(offset),
                      off_t(length));
#endif
}

uint64_t SnapshotSpillFile::write(std::span<const uint8_t> bytes) {
    const uint64_t length = roundedUp(std::max<uint64_t>(bytes.size(), 1));
    const uint64_t offset = allocate(length);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd_, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int failure = n < 0 ? errno : ENOSPC;
            free(offset, length);
            errno = failure;
            fail("The undo history could not be written to " + path_.string());
        }
        done += size_t(n);
    }
    return offset;
}

std::vector<uint8_t> SnapshotSpillFile::read(uint64_t offset, size_t size) const {
    std::vector<uint8_t> bytes(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, bytes.data() + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            fail("The undo history could not be read back from " + path_.string());
        }
        done += size_t(n);
    }
    return bytes;
}

void SnapshotSpillFile::release(uint64_t offset, size_t size) {
    free(offset, roundedUp(std::max<uint64_t>(size, 1)));
}

size_t SnapshotSpillFile::removeStale(const fs::path& folder) {
    std::error_code error;
    size_t removed = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        // A file still being made has no mark yet; one in use is locked.
        if (name.starts_with(namePrefix) &&
            removeStaleFile(it->path(),
                            [](int fd, const struct stat&) { return carriesMark(fd); })) {
            removed += 1;
        }
    }
    return removed;
}

} // namespace velmora
