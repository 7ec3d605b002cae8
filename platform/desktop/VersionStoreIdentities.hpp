#pragma once

#include "desktop/VersionStoreFiles.hpp"
#include "foundation/UUID.hpp"

#include <filesystem>
#include <optional>
#include <vector>

namespace velmora {

// Who a document is, although every save replaces its file by another: a UUID
// in the file's extended attribute "user.velmora.id", handed from file to file,
// and a record per document in the store ("<UUID>/document": the file's
// device, inode, size and time, then its path) that finds documents on file
// systems without attributes and tells a copy from its original.
class VersionStoreIdentities {
public:
    VersionStoreIdentities(std::filesystem::path store, bool extendedAttributes);

    // The identity of the regular file at `document`, none for anything else.
    // With `mayAssign`, a file the store does not know (or a copy made with
    // its attributes) gets a new identity; without, it has none.
    std::optional<UUID> identityOf(const std::filesystem::path& document, bool mayAssign) const;
    // Puts the identity on `file`, where the file system allows.
    void give(const UUID& identity, const std::filesystem::path& file) const;
    // Records that the document is now `file` (its own path or a temporary
    // file about to be renamed to it). Throws std::system_error.
    void record(const UUID& identity, const std::filesystem::path& document,
                const std::filesystem::path& file) const;
    // Whether the file last recorded for the document is still there.
    bool isPresent(const UUID& identity) const;

    // The documents' folders of a store, named by their identities.
    static std::vector<std::filesystem::path> folders(const std::filesystem::path& store);

private:
    struct Record {
        VersionStoreFiles::FileStamp stamp;
        std::filesystem::path path;
        std::filesystem::file_time_type written;
    };

    std::optional<Record> read(const UUID& identity) const;
    std::optional<UUID> fromRecords(const std::filesystem::path& document,
                                    const VersionStoreFiles::FileStamp& stamp) const;
    bool isCopyOfAnother(const std::filesystem::path& document,
                         const VersionStoreFiles::FileStamp& stamp, const UUID& identity) const;

    std::filesystem::path store_;
    bool extendedAttributes_;
};

} // namespace velmora
