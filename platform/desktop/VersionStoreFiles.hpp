#pragma once

#include "foundation/UUID.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace velmora {

// The file-system work of the version store: identities in extended attributes,
// versions taken by a copy that is never seen partial, and the store's lock.
// Failures throw std::system_error unless said otherwise.
namespace VersionStoreFiles {

// The extended attribute that carries a document's identity across saves.
inline constexpr const char* identityAttribute = "user.velmora.id";

// What tells one state of a file from another.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; // nanoseconds since the epoch

    static FileStamp of(const struct stat& status);
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the regular file at `path` (links followed); none for anything else.
std::optional<FileStamp> stampOf(const std::filesystem::path& path);

// The identity kept in the file's extended attribute, if any and well formed.
std::optional<UUID> readIdentity(const std::filesystem::path& path);
// False when the file system or the file refuses the attribute.
bool writeIdentity(const std::filesystem::path& path, const UUID& identity);

// Makes `folder` and its missing parents, each new one with mode 0700.
void makeFolders(const std::filesystem::path& folder);
// Flushes a folder's entries to disk; best effort.
void syncFolder(const std::filesystem::path& folder);

// Replaces `path` by `contents` through a temporary file and a rename, without
// waiting for the disk: for small records that may be rebuilt.
void writeRecord(const std::filesystem::path& path, std::string_view contents);
// At most `limit` bytes of the file; none when it cannot be read or is longer.
std::optional<std::string> readRecord(const std::filesystem::path& path, std::size_t limit);

// Copies the file open as `source`, whose stamp is `stamp`, to `destination`
// with the same modification time, through a temporary file in the
// destination's folder, flushed and then renamed. A file that changes while
// it is copied (another program writing into it) is not kept: the copy would
// hold a state the file never had.
void copyVersion(int source, const FileStamp& stamp, const std::filesystem::path& destination);

// Names of unfinished copies, removed when found under an exclusive lock.
inline constexpr std::string_view temporaryPrefix = ".keep-";

// An advisory lock over the whole store, shared between processes; released
// when the process dies, so a killed save never blocks the next.
class FolderLock {
public:
    FolderLock(const std::filesystem::path& lockFile, bool exclusive);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace VersionStoreFiles

} // namespace velmora
