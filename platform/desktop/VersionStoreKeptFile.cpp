#include "desktop/VersionStoreKeptFile.hpp"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

namespace {

template <class T> bool parseNumber(std::string_view text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

std::optional<VersionStoreKeptFile> parse(const fs::path& path) {
    const std::string filename = path.filename().string();
    const std::string_view name = std::string_view(filename).substr(0, filename.find('.'));
    const auto first = name.find('_');
    const auto second = first == std::string_view::npos ? first : name.find('_', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    VersionStoreKeptFile file{path};
    std::uint64_t inode = 0;
    if (!parseNumber(name.substr(0, first), file.savedNs) ||
        !parseNumber(name.substr(first + 1, second - first - 1), file.size) ||
        !parseNumber(name.substr(second + 1), inode)) {
        return std::nullopt;
    }
    return file;
}

std::string unreadable(int error) {
    return "The version cannot be read: " + std::system_category().message(error) + ".";
}

} // namespace

VersionStoreKeptFile VersionStoreKeptFile::make(const fs::path& folder,
                                                const VersionStoreFiles::FileStamp& stamp,
                                                const fs::path& document) {
    std::string name = std::to_string(stamp.modifiedNs) + "_" + std::to_string(stamp.size) + "_" +
                       std::to_string(stamp.inode);
    if (const std::string extension = URL::fileURL(document, false).pathExtension();
        !extension.empty()) {
        name += "." + extension;
    }
    return {folder / name, stamp.modifiedNs, stamp.size};
}

std::vector<VersionStoreKeptFile> VersionStoreKeptFile::inFolder(const fs::path& folder) {
    std::vector<VersionStoreKeptFile> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (auto file = parse(it->path())) {
            files.push_back(std::move(*file));
        }
    }
    return files;
}

std::chrono::system_clock::time_point VersionStoreKeptFile::savedAt() const {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(savedNs)));
}

std::string VersionStoreKeptFile::damage() const {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return unreadable(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return "The version is not a file.";
    }
    const auto stamp = VersionStoreFiles::FileStamp::of(status);
    if (stamp.size != size) {
        return "The version has " + std::to_string(stamp.size) + " bytes but was kept with " +
               std::to_string(size) + ".";
    }
    if (stamp.modifiedNs != savedNs) {
        return "The version was changed after it was kept.";
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return unreadable(errno);
    }
    // Its first and last bytes, which a lost or unreadable extent would refuse.
    char byte = 0;
    std::string damage;
    errno = EIO; // for a read that comes back short without an error
    if (size > 0 && (::pread(fd, &byte, 1, 0) != 1 ||
                     ::pread(fd, &byte, 1, static_cast<off_t>(size - 1)) != 1)) {
        damage = unreadable(errno);
    }
    ::close(fd);
    return damage;
}

DocumentVersion VersionStoreKeptFile::version() const {
    DocumentVersion version{URL::fileURL(path, false), savedAt(), size};
    version.error = damage();
    version.isDamaged = !version.error.empty();
    return version;
}

} // namespace velmora
