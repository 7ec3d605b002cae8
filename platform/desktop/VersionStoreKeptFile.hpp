#pragma once

#include "desktop/VersionStore.hpp"
#include "desktop/VersionStoreFiles.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// A version's file in the store. Its name says what was kept,
// "<mtime ns>_<size>_<inode>" and the document's extension, so that a later
// change of the file shows and needs no record of its own.
struct VersionStoreKeptFile {
    std::filesystem::path path;
    std::int64_t savedNs = 0; // the kept file's modification time
    std::uint64_t size = 0;

    // The file that keeps the state `stamp` of `document`, in `folder`.
    static VersionStoreKeptFile make(const std::filesystem::path& folder,
                                     const VersionStoreFiles::FileStamp& stamp,
                                     const std::filesystem::path& document);
    // The versions in `folder`; other names are passed over.
    static std::vector<VersionStoreKeptFile> inFolder(const std::filesystem::path& folder);

    std::chrono::system_clock::time_point savedAt() const;
    // Empty while the file is what was kept; otherwise why it is damaged.
    std::string damage() const;
    DocumentVersion version() const;
};

} // namespace velmora
