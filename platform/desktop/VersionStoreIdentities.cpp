#include "desktop/VersionStoreIdentities.hpp"

#include <charconv>
#include <string>
#include <system_error>

namespace velmora {

namespace fs = std::filesystem;
using VersionStoreFiles::FileStamp;

namespace {

constexpr std::string_view recordName = "document";
constexpr std::size_t recordLimit = 64 * 1024;

bool isSameFile(const FileStamp& a, const FileStamp& b) {
    return a.device == b.device && a.inode == b.inode;
}

} // namespace

VersionStoreIdentities::VersionStoreIdentities(fs::path store, bool extendedAttributes)
    : store_(std::move(store)), extendedAttributes_(extendedAttributes) {}

std::vector<fs::path> VersionStoreIdentities::folders(const fs::path& store) {
    std::vector<fs::path> folders;
    std::error_code error;
    for (fs::directory_iterator it(store, error), end; !error && it != end; it.increment(error)) {
        if (UUID::fromString(it->path().filename().string()) && it->is_directory(error)) {
            folders.push_back(it->path());
        }
    }
    return folders;
}

std::optional<VersionStoreIdentities::Record>
VersionStoreIdentities::read(const UUID& identity) const {
    const fs::path path = store_ / identity.uuidString() / recordName;
    const auto text = VersionStoreFiles::readRecord(path, recordLimit);
    const auto newline = text ? text->find('\n') : std::string::npos;
    if (newline == std::string::npos || newline + 1 == text->size()) {
        return std::nullopt;
    }
    Record record;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    const char* p = text->data();
    const char* end = text->data() + newline;
    for (auto* field : {&device, &inode, &record.stamp.size}) {
        const auto [next, error] = std::from_chars(p, end, *field);
        if (error != std::errc() || next == end || *next != ' ') {
            return std::nullopt;
        }
        p = next + 1;
    }
    const auto [next, error] = std::from_chars(p, end, record.stamp.modifiedNs);
    if (error != std::errc() || next != end) {
        return std::nullopt;
    }
    record.stamp.device = static_cast<dev_t>(device);
    record.stamp.inode = static_cast<ino_t>(inode);
    record.path = text->substr(newline + 1);
    std::error_code ignored;
    record.written = fs::last_write_time(path, ignored);
    return record;
}

void VersionStoreIdentities::record(const UUID& identity, const fs::path& document,
                                    const fs::path& file) const {
    const auto stamp = VersionStoreFiles::stampOf(file);
    if (!stamp) {
        return;
    }
    if (const auto known = read(identity);
        known && known->stamp == *stamp && known->path == document) {
        return;
    }
    const fs::path folder = store_ / identity.uuidString();
    VersionStoreFiles::makeFolders(folder);
    VersionStoreFiles::writeRecord(
        folder / recordName, std::to_string(stamp->device) + " " + std::to_string(stamp->inode) +
                                 " " + std::to_string(stamp->size) + " " +
                                 std::to_string(stamp->modifiedNs) + "\n" + document.string());
}

bool VersionStoreIdentities::isPresent(const UUID& identity) const {
    const auto known = read(identity);
    return known && VersionStoreFiles::stampOf(known->path);
}

void VersionStoreIdentities::give(const UUID& identity, const fs::path& file) const {
    if (extendedAttributes_) {
        VersionStoreFiles::writeIdentity(file, identity);
    }
}

// Without an attribute: the record of this very file (same device, inode and
// size, wherever it was moved; not the time, as touching a file does not make
// it another), else the latest record of its path.
std::optional<UUID> VersionStoreIdentities::fromRecords(const fs::path& document,
                                                        const FileStamp& stamp) const {
    std::optional<UUID> byPath;
    fs::file_time_type byPathWritten;
    for (const fs::path& folder : folders(store_)) {
        const UUID identity = *UUID::fromString(folder.filename().string());
        const auto known = read(identity);
        if (!known) {
            continue;
        }
        if (isSameFile(known->stamp, stamp) && known->stamp.size == stamp.size) {
            return identity;
        }
        if (known->path == document && (!byPath || known->written > byPathWritten)) {
            byPath = identity;
            byPathWritten = known->written;
        }
    }
    return byPath;
}

// A copy made with its attributes carries the original's identity; the
// original is the file the record names, still there with that identity and
// the inode the record gave it.
bool VersionStoreIdentities::isCopyOfAnother(const fs::path& document, const FileStamp& stamp,
                                             const UUID& identity) const {
    const auto known = read(identity);
    if (!known || known->path == document) {
        return false;
    }
    const auto theirs = VersionStoreFiles::stampOf(known->path);
    return theirs && !isSameFile(*theirs, stamp) && isSameFile(*theirs, known->stamp) &&
           VersionStoreFiles::readIdentity(known->path) == identity;
}

std::optional<UUID> VersionStoreIdentities::identityOf(const fs::path& document,
                                                       bool mayAssign) const {
    const auto stamp = VersionStoreFiles::stampOf(document);
    if (!stamp) {
        return std::nullopt;
    }
    std::optional<UUID> identity;
    bool isCopy = false;
    if (extendedAttributes_) {
        identity = VersionStoreFiles::readIdentity(document);
        if (identity && isCopyOfAnother(document, *stamp, *identity)) {
            identity.reset();
            isCopy = true;
        }
    }
    const bool hadAttribute = identity.has_value();
    if (!identity && !isCopy) {
        identity = fromRecords(document, *stamp);
    }
    if (!mayAssign) {
        return identity;
    }
    if (!identity) {
        identity = UUID();
    }
    if (!hadAttribute) {
        give(*identity, document); // so that the next lookup needs no records
    }
    return identity;
}

} // namespace velmora
