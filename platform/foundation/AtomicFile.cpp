#include "foundation/AtomicFile.hpp"

#include "foundation/FileDescriptor.hpp"
#include "foundation/StaleFile.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

// No person or other program names a file so: see temporaryPathOf.
constexpr std::string_view temporaryMark = ".velmora-save-";
constexpr std::size_t uniqueLength = 6;
constexpr std::size_t nameLimit = 255;

bool isRandomPart(std::string_view part) {
    return part.size() == uniqueLength && std::ranges::all_of(part, [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

std::string temporaryPrefix(const std::filesystem::path& destination) {
    std::string name = destination.filename().string();
    const std::size_t room = nameLimit - 1 - temporaryMark.size() - uniqueLength;
    if (name.size() > room) {
        std::size_t cut = room;
        // Not within a character of several bytes.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return "." + name + std::string(temporaryMark);
}

std::chrono::system_clock::time_point modified(const struct stat& status) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(status.st_mtim.tv_sec) +
            std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
}

} // namespace

std::filesystem::path temporaryPathOf(const std::filesystem::path& destination,
                                      std::string_view unique) {
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    return folder / (temporaryPrefix(destination) + std::string(unique));
}

bool isTemporaryNameOf(const std::filesystem::path& destination, std::string_view name) {
    if (destination.filename().empty()) {
        return false;
    }
    const std::string prefix = temporaryPrefix(destination);
    return name.starts_with(prefix) && isRandomPart(name.substr(prefix.size()));
}

std::size_t removeStaleTemporaries(const std::filesystem::path& destination,
                                   std::chrono::system_clock::time_point writeStarted) {
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    std::size_t removed = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::filesystem::path& path = entry->path();
        if (isTemporaryNameOf(destination, path.filename().string()) &&
            removeStaleFile(path, [&](int, const struct stat& status) {
                return modified(status) < writeStarted;
            })) {
            ++removed;
        }
    }
    return removed;
}

void writeFileAtomically(const std::filesystem::path& destination,
                         std::span<const std::uint8_t> bytes, unsigned permissions) {
    const std::filesystem::path folder =
        destination.has_parent_path() ? destination.parent_path() : std::filesystem::path(".");
    std::string temporary = temporaryPathOf(destination, "XXXXXX").string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(errno, "Cannot create a temporary file beside " + destination.string());
    }
    // A new file nobody else holds; the duplicate keeps the lock past the close
    // below, up to the rename.
    ::flock(fd, LOCK_EX | LOCK_NB);
    const FileDescriptor lock(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
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
            abandon(errno, "Cannot write " + destination.string());
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, static_cast<mode_t>(permissions)) != 0) {
        abandon(errno, "Cannot set the permissions of " + destination.string());
    }
    if (::fsync(fd) != 0) {
        abandon(errno, "Cannot flush " + destination.string());
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "Cannot close " + destination.string());
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
