#include "coding/SharedBytes.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::size_t hugePage = std::size_t(2) << 20;
// What one thread reads at a time.
constexpr std::size_t pieceBytes = std::size_t(8) << 20;
constexpr unsigned maximumReaders = 8;
// Reads of a file that keeps changing meanwhile, before it is given up.
constexpr int attempts = 3;

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Anonymous memory, in huge pages where the system allows: a large file's read
// then faults in hundreds of pages instead of tens of thousands, which is most
// of what such a read costs.
class Pages {
public:
    explicit Pages(std::size_t size) : length_(size + hugePage) {
        address_ = ::mmap(nullptr, length_, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (address_ == MAP_FAILED) {
            fail(errno, "Cannot allocate memory for a file");
        }
        const auto start = (reinterpret_cast<std::uintptr_t>(address_) + hugePage - 1) &
                           ~(std::uintptr_t(hugePage) - 1);
        data_ = reinterpret_cast<std::uint8_t*>(start);
        ::madvise(data_, size, MADV_HUGEPAGE);
    }
    ~Pages() { ::munmap(address_, length_); }
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;

    std::uint8_t* data() const { return data_; }

private:
    void* address_ = nullptr;
    std::size_t length_ = 0;
    std::uint8_t* data_ = nullptr;
};

// What tells one state of a file from another.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static Stamp of(int fd, const std::filesystem::path& path) {
        struct stat status {};
        if (::fstat(fd, &status) != 0) {
            fail(errno, "Cannot read " + path.string());
        }
        if (!S_ISREG(status.st_mode)) {
            fail(EINVAL, path.string() + " is no file");
        }
        return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
    }
    friend bool operator==(const Stamp& a, const Stamp& b) {
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
               a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
    }
};

// Reads `size` bytes from the start of the file into `into`, pieces on several
// threads at once. False when the file ended early (it was cut short meanwhile).
bool readPieces(int fd, std::uint8_t* into, std::size_t size, const std::filesystem::path& path) {
    std::atomic<std::size_t> next{0};
    std::atomic<int> error{0};
    std::atomic<bool> shortened{false};
    const auto read = [&] {
        for (;;) {
            const std::size_t start = next.fetch_add(pieceBytes);
            if (start >= size || error.load() != 0 || shortened.load()) {
                return;
            }
            const std::size_t end = std::min(size, start + pieceBytes);
            for (std::size_t at = start; at < end;) {
                const ssize_t n = ::pread(fd, into + at, end - at, off_t(at));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n < 0) {
                    error.store(errno);
                    return;
                }
                if (n == 0) {
                    shortened.store(true);
                    return;
                }
                at += std::size_t(n);
            }
        }
    };
    const std::size_t pieces = (size + pieceBytes - 1) / pieceBytes;
    const unsigned readers = unsigned(std::min<std::size_t>(
        {pieces, std::max(1u, std::thread::hardware_concurrency()), maximumReaders}));
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < readers; ++i) {
        threads.emplace_back(read);
    }
    read();
    for (auto& thread : threads) {
        thread.join();
    }
    if (error.load() != 0) {
        fail(error.load(), "Cannot read " + path.string());
    }
    return !shortened.load();
}

} // namespace

SharedBytes::SharedBytes(std::vector<std::uint8_t> bytes) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    data_ = owner->data();
    size_ = owner->size();
    owner_ = std::move(owner);
}

SharedBytes SharedBytes::copy(std::span<const std::uint8_t> bytes) {
    return SharedBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

SharedBytes SharedBytes::readFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(errno, "Cannot open " + path.string());
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const Stamp before = Stamp::of(fd, path);
        const auto size = std::size_t(before.size);
        if (size == 0) {
            return {};
        }
        std::shared_ptr<const void> owner;
        std::uint8_t* bytes = nullptr;
        if (size < hugePage) {
            auto buffer = std::make_shared_for_overwrite<std::uint8_t[]>(size);
            bytes = buffer.get();
            owner = std::move(buffer);
        } else {
            auto pages = std::make_shared<const Pages>(size);
            bytes = pages->data();
            owner = std::move(pages);
        }
        // Read whole and unchanged, or read again.
        if (readPieces(fd, bytes, size, path) && Stamp::of(fd, path) == before) {
            return SharedBytes(std::move(owner), {bytes, size});
        }
    }
    fail(EAGAIN, path.string() + " kept changing while it was read");
}

bool operator==(const SharedBytes& a, const SharedBytes& b) {
    return a.size_ == b.size_ &&
           (a.data_ == b.data_ || a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

} // namespace velmora
