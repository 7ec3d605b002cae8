#include "UtilityPanels/Tools/BrushFiles.hpp"

#include "foundation/AtomicFile.hpp"
#include "foundation/FileDescriptor.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora::brushfiles {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

bool somethingExists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

void makeFolders(const fs::path& folder) {
    fs::path partial;
    for (const fs::path& component : folder.lexically_normal()) {
        partial /= component;
        if (component.empty() || component == "/") {
            continue;
        }
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            fail(errno, "Cannot create the folder " + partial.string());
        }
    }
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fail(error ? error.value() : ENOTDIR, "Not a folder: " + folder.string());
    }
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error == std::errc::no_such_file_or_directory) {
        return names;
    }
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    if (error) {
        fail(error.value(), "Cannot list the folder " + folder.string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::uint8_t> readFile(const fs::path& path, std::size_t limit) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        fail(errno, "Cannot open " + path.string());
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        fail(errno, "Cannot read " + path.string());
    }
    if (!S_ISREG(info.st_mode)) {
        fail(EINVAL, path.string() + " is not a regular file");
    }
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        fail(EFBIG, path.string() + " is larger than " + std::to_string(limit) + " bytes");
    }
    // One byte more than the limit tells a file that grew since fstat.
    std::vector<std::uint8_t> bytes(limit + 1);
    std::size_t size = 0;
    while (size < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + size, bytes.size() - size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno, "Cannot read " + path.string());
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    if (size > limit) {
        fail(EFBIG, path.string() + " is larger than " + std::to_string(limit) + " bytes");
    }
    bytes.resize(size);
    return bytes;
}

void copyFolder(const fs::path& source, const fs::path& destination) {
    constexpr std::size_t copyLimit = 64 * 1024 * 1024;
    const fs::path parent = destination.parent_path();
    std::string temporary = (parent / ("." + destination.filename().string() + ".XXXXXX")).string();
    if (::mkdtemp(temporary.data()) == nullptr) {
        fail(errno, "Cannot create a folder beside " + destination.string());
    }
    try {
        for (const std::string& name : listFolder(source)) {
            const fs::path from = source / name;
            std::error_code error;
            if (!fs::is_regular_file(from, error)) {
                continue;
            }
            writeFileAtomically(fs::path(temporary) / name, readFile(from, copyLimit), 0600);
        }
        if (::rename(temporary.c_str(), destination.c_str()) != 0) {
            fail(errno, "Cannot create the folder " + destination.string());
        }
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
        throw;
    }
}

void removeFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0) {
        fail(errno, "Cannot remove " + path.string());
    }
}

} // namespace velmora::brushfiles
