#include "coding/FileStreamer.hpp"

#include "coding/PropertyListError.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace velmora {

namespace {

// Small writes are gathered into blocks of this size before they are queued.
constexpr std::size_t stagingBytes = std::size_t(1) << 20;
// Shared bytes below this are copied like any other.
constexpr std::size_t sharedMinimum = std::size_t(64) << 10;
// Copies not yet written beyond which the producer waits.
constexpr std::size_t copiedLimit = std::size_t(64) << 20;

} // namespace

FileStreamer::FileStreamer(int fd, std::filesystem::path path, std::size_t pieceBytes)
    : fd_(fd), path_(std::move(path)), pieceBytes_(std::max<std::size_t>(pieceBytes, 4096)) {
    thread_ = std::thread([this] { run(); });
}

FileStreamer::~FileStreamer() {
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
}

void FileStreamer::throwIfFailed() {
    const std::lock_guard lock(mutex_);
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

void FileStreamer::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (staging_.capacity() < stagingBytes) {
            staging_.reserve(stagingBytes);
        }
        const std::size_t n = std::min(bytes.size(), stagingBytes - staging_.size());
        staging_.insert(staging_.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(n));
        bytes = bytes.subspan(n);
        if (staging_.size() == stagingBytes) {
            queueStaging();
        }
    }
}

void FileStreamer::write(const SharedBytes& bytes) {
    if (bytes.size() < sharedMinimum) {
        write(bytes.span());
        return;
    }
    queueStaging();
    queue(bytes, 0);
}

void FileStreamer::queueStaging() {
    if (staging_.empty()) {
        return;
    }
    const std::size_t n = staging_.size();
    queue(SharedBytes(std::exchange(staging_, {})), n);
}

void FileStreamer::queue(SharedBytes bytes, std::size_t copied) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || copiedInQueue_ + copied <= copiedLimit; });
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        copiedInQueue_ += copied;
        queue_.emplace_back(std::move(bytes), copied);
    }
    changed_.notify_all();
}

void FileStreamer::finish() {
    queueStaging();
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    thread_.join();
    throwIfFailed();
}

void FileStreamer::run() {
    for (;;) {
        std::pair<SharedBytes, std::size_t> item;
        bool failed = false;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || finishing_ || !queue_.empty(); });
            if (stopping_ || queue_.empty()) {
                return;
            }
            item = std::move(queue_.front());
            queue_.pop_front();
            failed = failure_ != nullptr;
        }
        if (!failed) {
            try {
                writeOut(item.first.span());
            } catch (...) {
                const std::lock_guard lock(mutex_);
                failure_ = std::current_exception();
            }
        }
        {
            const std::lock_guard lock(mutex_);
            copiedInQueue_ -= item.second;
        }
        item.first.clear();
        changed_.notify_all();
    }
}

void FileStreamer::writeOut(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        // Up to the end of the current piece, so that each is started as it fills.
        const std::size_t room = pieceBytes_ - std::size_t(written_ % pieceBytes_);
        const ssize_t n = ::write(fd_, bytes.data(), std::min(bytes.size(), room));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            // A source mapped from a file cut short faults here as EFAULT, not as a signal.
            const int error = n < 0 ? errno : EIO;
            throw PropertyListError(PropertyListError::Code::fileError,
                                    "Cannot write \"" + path_.string() +
                                        "\": " + std::strerror(error));
        }
        bytes = bytes.subspan(std::size_t(n));
        written_ += std::uint64_t(n);
        while (written_ - kicked_ >= pieceBytes_) {
            // Only hints: the final flush still writes and waits for everything.
            // The piece before the previous one is waited for, so that dirty
            // pages stay few and the writes never stall on their throttling.
            ::sync_file_range(fd_, off64_t(kicked_), off64_t(pieceBytes_), SYNC_FILE_RANGE_WRITE);
            if (kicked_ >= 2 * pieceBytes_) {
                ::sync_file_range(fd_, off64_t(kicked_ - 2 * pieceBytes_), off64_t(pieceBytes_),
                                  SYNC_FILE_RANGE_WAIT_BEFORE);
            }
            kicked_ += pieceBytes_;
        }
    }
}

} // namespace velmora
