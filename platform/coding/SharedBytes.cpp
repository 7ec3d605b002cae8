#include "coding/SharedBytes.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

SharedBytes::SharedBytes(std::vector<std::uint8_t> bytes) {
    auto owner = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    data_ = owner->data();
    size_ = owner->size();
    owner_ = std::move(owner);
}

SharedBytes SharedBytes::copy(std::span<const std::uint8_t> bytes) {
    return SharedBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

struct SharedBytes::Mapping {
    void* address = nullptr;
    std::size_t size = 0;
    // Kept open to tell later whether the file changed under the mapping.
    int fd = -1;
    timespec modified{};
    ~Mapping() {
        if (address != nullptr) {
            ::munmap(address, size);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

SharedBytes SharedBytes::view(std::span<const std::uint8_t> part) const {
    SharedBytes result(owner_, part);
    result.mapping_ = mapping_;
    return result;
}

bool SharedBytes::isIntact() const {
    if (mapping_ == nullptr) {
        return true;
    }
    struct stat now {};
    return ::fstat(mapping_->fd, &now) == 0 && std::size_t(now.st_size) == mapping_->size &&
           now.st_mtim.tv_sec == mapping_->modified.tv_sec &&
           now.st_mtim.tv_nsec == mapping_->modified.tv_nsec;
}

SharedBytes SharedBytes::mapping(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "Cannot open " + path.string());
    }
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throw std::system_error(errno, std::generic_category(), "Cannot read " + path.string());
    }
    if (!S_ISREG(info.st_mode)) {
        throw std::system_error(EINVAL, std::generic_category(), path.string() + " is no file");
    }
    if (info.st_size == 0) {
        return {};
    }
    auto mapped = std::make_shared<Mapping>();
    mapped->size = std::size_t(info.st_size);
    // Populated at once: the pages are read ahead in large pieces instead of
    // faulted in one by one by whoever touches them first.
    void* address = ::mmap(nullptr, mapped->size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (address == MAP_FAILED) {
        throw std::system_error(errno, std::generic_category(), "Cannot map " + path.string());
    }
    mapped->address = address;
    mapped->modified = info.st_mtim;
    mapped->fd = closer.fd;
    closer.fd = -1;
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(address),
                                              mapped->size);
    SharedBytes result(mapped, bytes);
    result.mapping_ = mapped.get();
    return result;
}

bool operator==(const SharedBytes& a, const SharedBytes& b) {
    return a.size_ == b.size_ &&
           (a.data_ == b.data_ || a.size_ == 0 || std::memcmp(a.data_, b.data_, a.size_) == 0);
}

} // namespace velmora
