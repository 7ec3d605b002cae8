#pragma once

#include "foundation/URL.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora {

// One earlier state of a document's file, as the store keeps it.
struct DocumentVersion {
    URL url;                                       // the kept file, to be opened read-only
    std::chrono::system_clock::time_point savedAt; // when that state was saved (its mtime)
    std::uint64_t size = 0;                        // bytes, as kept
    // The file is missing, unreadable or no longer what was kept: it is listed
    // so that the browser can mark it, but must not be opened.
    bool isDamaged = false;
    std::string error; // why it is damaged, for the mark's tooltip

    friend bool operator==(const DocumentVersion&, const DocumentVersion&) = default;
};

// The earlier versions of documents, kept in a folder of their own, one
// subfolder per document. A document is known by an identity that follows it
// through saves, renames and moves: a UUID in its extended attribute
// "user.velmora.id", and where the file system has none, a record of the
// file's device, inode, size and time and of its path.
//
// A save calls, in this order:
//   1. keepVersion(url)                 before anything is written;
//   2. writes the new contents to a temporary file beside `url`;
//   3. adoptIdentity(url, temporary)    once the contents are written;
//   4. flushes the temporary file and renames it over `url`.
// replaceFile() does all four. A writer that keeps its temporary file to
// itself calls keepVersion(url), writes, then adoptIdentity(url). Several
// processes may share one store.
class VersionStore {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::uint64_t defaultSizeLimit = std::uint64_t(2) << 30;

    struct Options {
        std::uint64_t sizeLimit = defaultSizeLimit; // all documents' versions together
        Clock clock;                                // the system clock when empty
        bool extendedAttributes = true;             // false: only the recorded stamps and paths
    };

    // The store in `folder` (made with mode 0700 when first needed).
    explicit VersionStore(std::filesystem::path folder);
    VersionStore(std::filesystem::path folder, Options options);

    // $XDG_DATA_HOME/velmora/Versions, else ~/.local/share/velmora/Versions;
    // none while tests run (VELMORA_TEST) or without a home.
    static std::optional<std::filesystem::path> standardFolder();
    // The process's store in the standard folder; null where there is none.
    static std::shared_ptr<VersionStore> standard();

    const std::filesystem::path& folder() const { return folder_; }

    // Keeps the file at `document` as it is now, before a save replaces it:
    // a copy of its own (its blocks shared where the file system clones them),
    // never a link, since another program may still write into the file
    // replaced; then thins the document's versions and holds the store to its
    // size limit. The version just kept stays even when it alone is
    // over the limit. Keeping the same state twice keeps it once. None when
    // there is no regular file at `document`. Throws std::system_error when
    // the version cannot be kept (also when the file changes while it is
    // copied); the file is left as it was. May run on any thread.
    std::optional<DocumentVersion> keepVersion(const URL& document);

    // Gives the written-but-not-renamed `temporary` the identity of the
    // document at `document` (a new one when there is no file there yet), so
    // the history follows the new file. Never throws: a store that cannot
    // record the identity only loses the history's link, and says so in the log.
    void adoptIdentity(const URL& document, const std::filesystem::path& temporary) noexcept;
    // The same for a writer that hides its temporary file: called once the
    // new file is in place, it finds the document by its path.
    void adoptIdentity(const URL& document) noexcept;

    // A whole save by the sequence above, the version copied while the new
    // contents are written. The file keeps the permissions of the one it
    // replaces (0666 less the umask for a new one). Throws std::system_error
    // when the file cannot be written, leaving `document` as it was; a version
    // that cannot be kept is logged and the save goes on.
    void replaceFile(const URL& document, std::span<const std::uint8_t> bytes);

    // The document's versions, newest first; empty for a document the store
    // does not know. Damaged versions are listed with their error.
    std::vector<DocumentVersion> versions(const URL& document) const;

    // Thins every document's versions, holds the store to its size limit and
    // removes copies left unfinished by a killed process. Versions thinned out
    // leave the store at once; their files are deleted on a background queue.
    // Failures are logged, never thrown: thinning is tried again at each keep.
    void thin() noexcept;

    // Bytes taken by every kept version.
    std::uint64_t totalSize() const;

private:
    class Lock;

    void discard(const std::filesystem::path& version) const;
    void thinLocked(const std::filesystem::path& keep) noexcept;
    void thinOrThrow(const std::filesystem::path& keep);
    std::chrono::system_clock::time_point now() const;

    std::filesystem::path folder_;
    Options options_;
};

} // namespace velmora
