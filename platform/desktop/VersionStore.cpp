#include "desktop/VersionStore.hpp"

#include "desktop/VersionStoreFiles.hpp"
#include "desktop/VersionStoreIdentities.hpp"
#include "desktop/VersionStoreKeptFile.hpp"
#include "desktop/VersionStoreThinning.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/Logger.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;
using namespace VersionStoreFiles;

namespace {

// Freeing a large file's blocks takes long on some file systems, so versions
// leave the store by a rename into this folder and are deleted from it later,
// off the saving thread (after a crash, by the next store that thins).
constexpr std::string_view removedName = ".removed";

const Logger& versionLogs() {
    static const Logger* log = new Logger("com.tovik.Velmora", "Versions");
    return *log;
}

void removeFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        versionLogs().error("Cannot remove the version %{public}s: %{public}s", path.string(),
                            std::system_category().message(errno));
    }
}

void emptyRemoved(const fs::path& removed) {
    std::error_code error;
    for (fs::directory_iterator it(removed, error), end; !error && it != end; it.increment(error)) {
        removeFile(it->path());
    }
}

bool isInside(const fs::path& path, const fs::path& folder) {
    const auto relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace

// The store's lock. Writers make the folder first and must have the lock;
// readers go on without it when it cannot be taken, as listing changes nothing.
class VersionStore::Lock {
public:
    Lock(const VersionStore& store, bool exclusive) {
        const fs::path file = store.folder_ / ".lock";
        if (exclusive) {
            makeFolders(store.folder_);
            lock_.emplace(file, true);
            return;
        }
        try {
            lock_.emplace(file, false);
        } catch (const std::system_error& error) {
            versionLogs().error("Listing versions unlocked: %{public}s", error.what());
        }
    }

private:
    std::optional<FolderLock> lock_;
};

VersionStore::VersionStore(fs::path folder) : VersionStore(std::move(folder), Options()) {}

VersionStore::VersionStore(fs::path folder, Options options)
    : folder_(std::move(folder)), options_(std::move(options)) {}

std::optional<fs::path> VersionStore::standardFolder() {
    if (std::getenv("VELMORA_TEST") != nullptr) {
        return std::nullopt;
    }
    const auto data = xdgBaseFolder("XDG_DATA_HOME", fs::path(".local") / "share");
    if (!data) {
        return std::nullopt;
    }
    return *data / "velmora" / "Versions";
}

std::shared_ptr<VersionStore> VersionStore::standard() {
    static const std::shared_ptr<VersionStore> store = [] {
        const auto folder = standardFolder();
        return folder ? std::make_shared<VersionStore>(*folder) : nullptr;
    }();
    return store;
}

std::chrono::system_clock::time_point VersionStore::now() const {
    return options_.clock ? options_.clock() : std::chrono::system_clock::now();
}

std::optional<DocumentVersion> VersionStore::keepVersion(const URL& document) {
    const fs::path path = document.filePath();
    // A version opened and saved as a document would be replaced in place.
    if (isInside(path, folder_)) {
        return std::nullopt;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw std::system_error(errno, std::generic_category(),
                                "Cannot read " + path.string() + " to keep a version of it");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    const FileStamp stamp = FileStamp::of(status);

    const Lock lock(*this, true);
    const VersionStoreIdentities identities(folder_, options_.extendedAttributes);
    const UUID identity = identities.identityOf(path, true).value_or(UUID());
    const fs::path folder = folder_ / identity.uuidString();
    makeFolders(folder);
    const auto kept = VersionStoreKeptFile::make(folder, stamp, path);
    if (!kept.damage().empty()) {
        removeFile(kept.path); // a damaged earlier keep of this state is replaced
        copyVersion(fd, stamp, kept.path);
        syncFolder(folder);
    }
    identities.record(identity, path, path);
    thinLocked(kept.path);
    return kept.version();
}

void VersionStore::adoptIdentity(const URL& document, const fs::path& temporary) noexcept {
    try {
        const fs::path path = document.filePath();
        const Lock lock(*this, true);
        const VersionStoreIdentities identities(folder_, options_.extendedAttributes);
        const UUID identity = identities.identityOf(path, true).value_or(UUID());
        identities.give(identity, temporary);
        identities.record(identity, path, temporary);
    } catch (const std::exception& error) {
        versionLogs().error("Cannot record the identity of %{public}s: %{public}s", document.path(),
                            error.what());
    }
}

void VersionStore::adoptIdentity(const URL& document) noexcept {
    adoptIdentity(document, document.filePath());
}

void VersionStore::replaceFile(const URL& document, std::span<const std::uint8_t> bytes) {
    const fs::path path = document.filePath();
    // Copied on a thread of its own while the new contents are written.
    auto keeping = std::async(std::launch::async, [this, document]() -> std::string {
        try {
            keepVersion(document);
            return {};
        } catch (const std::exception& error) {
            return error.what();
        }
    });
    struct stat previous {};
    const bool replacing = ::stat(path.c_str(), &previous) == 0;
    // A new file gets the usual 0666 less the umask, from open() itself.
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
        temporary = temporaryPathOf(path, UUID().uuidString().substr(0, 6));
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Cannot create a temporary file beside " + path.string());
    }
    // Marks it as being written, for a later save that clears what killed ones left.
    ::flock(fd, LOCK_EX | LOCK_NB);
    auto abandon = [&](const std::string& what) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        throw std::system_error(error, std::generic_category(), what);
    };
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            abandon("Cannot write " + path.string());
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // The version is whole before the file it keeps is replaced.
    if (const std::string failure = keeping.get(); !failure.empty()) {
        versionLogs().error("No version of %{public}s was kept: %{public}s", path.string(),
                            failure.c_str());
    }
    adoptIdentity(document, temporary);
    if (replacing && ::fchmod(fd, previous.st_mode & 07777) != 0) {
        abandon("Cannot set the permissions of " + path.string());
    }
    if (::fsync(fd) != 0) {
        abandon("Cannot flush " + path.string());
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw std::system_error(error, std::generic_category(), "Cannot replace " + path.string());
    }
    syncFolder(path.parent_path());
}

std::vector<DocumentVersion> VersionStore::versions(const URL& document) const {
    std::error_code error;
    if (!fs::is_directory(folder_, error)) {
        return {};
    }
    const Lock lock(*this, false);
    const auto identity = VersionStoreIdentities(folder_, options_.extendedAttributes)
                              .identityOf(document.filePath(), false);
    if (!identity) {
        return {};
    }
    std::vector<DocumentVersion> list;
    for (const auto& file : VersionStoreKeptFile::inFolder(folder_ / identity->uuidString())) {
        list.push_back(file.version());
    }
    std::sort(list.begin(), list.end(), [](const DocumentVersion& a, const DocumentVersion& b) {
        return a.savedAt != b.savedAt ? a.savedAt > b.savedAt : a.url.path() > b.url.path();
    });
    return list;
}

void VersionStore::thin() noexcept {
    try {
        const Lock lock(*this, true);
        thinLocked({});
    } catch (const std::exception& error) {
        versionLogs().error("Cannot thin the versions: %{public}s", error.what());
    }
}

void VersionStore::discard(const fs::path& version) const {
    const fs::path removed = folder_ / removedName;
    makeFolders(removed);
    if (::rename(version.c_str(), (removed / UUID().uuidString()).c_str()) != 0) {
        removeFile(version);
    }
}

void VersionStore::thinLocked(const fs::path& keep) noexcept {
    try {
        thinOrThrow(keep);
    } catch (const std::exception& error) {
        versionLogs().error("Cannot thin the versions: %{public}s", error.what());
    }
}

void VersionStore::thinOrThrow(const fs::path& keep) {
    const auto time = now();
    const VersionStoreIdentities identities(folder_, options_.extendedAttributes);
    std::vector<fs::path> remaining;
    std::vector<VersionStoreThinning::Entry> entries;
    for (const fs::path& folder : VersionStoreIdentities::folders(folder_)) {
        std::error_code error;
        // Nobody else writes while the lock is held: these copies were cut short.
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            if (it->path().filename().string().starts_with(temporaryPrefix)) {
                removeFile(it->path());
            }
        }
        const auto files = VersionStoreKeptFile::inFolder(folder);
        std::vector<VersionStoreThinning::TimePoint> times;
        for (const auto& file : files) {
            times.push_back(file.savedAt());
        }
        const auto stays = VersionStoreThinning::survivors(times, time);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (!stays[i] && files[i].path != keep) {
                discard(files[i].path);
                continue;
            }
            struct stat status {};
            const bool exists = ::stat(files[i].path.c_str(), &status) == 0;
            remaining.push_back(files[i].path);
            entries.push_back(
                {times[i], exists ? std::uint64_t(status.st_size) : 0, files[i].path == keep});
            ++kept;
        }
        // A history that is empty and whose file is gone is forgotten.
        if (kept == 0 && !identities.isPresent(*UUID::fromString(folder.filename().string()))) {
            fs::remove_all(folder, error);
        }
    }
    for (const std::size_t i : VersionStoreThinning::overLimit(entries, options_.sizeLimit)) {
        discard(remaining[i]);
    }
    std::error_code error;
    if (!fs::is_empty(folder_ / removedName, error) && !error) {
        DispatchQueue::global(DispatchQoS::background).async([removed = folder_ / removedName] {
            emptyRemoved(removed);
        });
    }
}

std::uint64_t VersionStore::totalSize() const {
    std::error_code error;
    if (!fs::is_directory(folder_, error)) {
        return 0;
    }
    const Lock lock(*this, false);
    std::uint64_t total = 0;
    for (const fs::path& folder : VersionStoreIdentities::folders(folder_)) {
        for (const auto& file : VersionStoreKeptFile::inFolder(folder)) {
            struct stat status {};
            if (::stat(file.path.c_str(), &status) == 0) {
                total += static_cast<std::uint64_t>(status.st_size);
            }
        }
    }
    return total;
}

} // namespace velmora
