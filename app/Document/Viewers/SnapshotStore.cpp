#include "Document/Viewers/SnapshotStore.hpp"

#include "App/AppLogHandles.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

const std::shared_ptr<SnapshotStore>& SnapshotStore::shared() {
    // Lives until exit, as the undo histories that hold its items may; the file
    // goes at exit all the same.
    static const auto* store = [] {
        auto* made = new std::shared_ptr<SnapshotStore>(
            std::make_shared<SnapshotStore>(historyLimit() / 8, standardFolder));
        std::atexit([] {
            if (const auto path = shared()->filePath()) {
                ::unlink(path->c_str());
            }
        });
        return made;
    }();
    return *store;
}

size_t SnapshotStore::historyLimit() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    constexpr size_t most = 2'000'000'000;
    if (pages <= 0 || pageSize <= 0) {
        return most;
    }
    return std::min(most, size_t(pages) / 4 * size_t(pageSize));
}

std::optional<fs::path> SnapshotStore::standardFolder() {
    const auto cache = xdgBaseFolder("XDG_CACHE_HOME", ".cache");
    if (!cache) {
        return std::nullopt;
    }
    return *cache / "velmora" / "Undo";
}

size_t SnapshotStore::removeStaleFiles() {
    const auto folder = standardFolder();
    return folder ? SnapshotSpillFile::removeStale(*folder) : 0;
}

SnapshotStore::SnapshotStore(size_t budget, std::function<std::optional<fs::path>()> folder)
    : budget_(budget), folder_(std::move(folder)),
      queue_("SnapshotStoreQueue", DispatchQoS::utility) {}

SnapshotStore::~SnapshotStore() = default;

std::shared_ptr<SnapshotStore::Item> SnapshotStore::keep(std::vector<uint8_t> bytes) {
    // Encoders leave room to spare, which would be kept as long as the history.
    bytes.shrink_to_fit();
    const size_t size = bytes.size();
    uint64_t id = 0;
    {
        const std::lock_guard lock(mutex_);
        id = nextID_++;
        Record& record = records_[id];
        record.memory = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
        record.size = size;
        inMemory_.insert(id);
        memoryBytes_ += size;
    }
    scheduleMoves();
    return std::make_shared<Item>(shared_from_this(), id, size);
}

size_t SnapshotStore::budget() const {
    const std::lock_guard lock(mutex_);
    return budget_;
}

void SnapshotStore::setBudget(size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        budget_ = bytes;
    }
    scheduleMoves();
}

size_t SnapshotStore::count() const {
    const std::lock_guard lock(mutex_);
    return records_.size();
}

size_t SnapshotStore::bytesInMemory() const {
    const std::lock_guard lock(mutex_);
    return memoryBytes_;
}

size_t SnapshotStore::bytesInFile() const {
    const std::lock_guard lock(mutex_);
    return fileBytes_;
}

std::optional<fs::path> SnapshotStore::filePath() const {
    const std::lock_guard lock(mutex_);
    return file_ ? std::optional(file_->path()) : std::nullopt;
}

void SnapshotStore::waitForMoves() const {
    queue_.sync([] {});
}

SnapshotStore::Bytes SnapshotStore::read(uint64_t id) const {
    std::shared_ptr<SnapshotSpillFile> file;
    uint64_t offset = 0;
    size_t size = 0;
    {
        const std::lock_guard lock(mutex_);
        const auto found = records_.find(id);
        precondition(found != records_.end(), "An undo payload read after it was let go");
        if (found->second.memory != nullptr) {
            return found->second.memory;
        }
        file = file_;
        offset = found->second.offset;
        size = found->second.size;
    }
    // The item being alive, its space in the file is not given away meanwhile.
    return std::make_shared<const std::vector<uint8_t>>(file->read(offset, size));
}

void SnapshotStore::release(uint64_t id) {
    const std::lock_guard lock(mutex_);
    const auto found = records_.find(id);
    if (found == records_.end()) {
        return;
    }
    Record& record = found->second;
    if (record.moving) {
        record.released = true; // the move lets it go once written
        return;
    }
    if (record.memory != nullptr) {
        inMemory_.erase(id);
        memoryBytes_ -= record.size;
    } else {
        file_->release(record.offset, record.size);
        fileBytes_ -= record.size;
    }
    records_.erase(found);
    dropFileIfEmpty();
}

void SnapshotStore::scheduleMoves() {
    {
        const std::lock_guard lock(mutex_);
        if (moveScheduled_ || memoryBytes_ <= budget_) {
            return;
        }
        moveScheduled_ = true;
    }
    queue_.async([self = shared_from_this()] { self->moveOldest(); });
}

void SnapshotStore::moveOldest() {
    std::unique_lock lock(mutex_);
    moveScheduled_ = false;
    while (memoryBytes_ > budget_ && !inMemory_.empty()) {
        const uint64_t id = *inMemory_.begin();
        Record& record = records_.at(id);
        if (file_ == nullptr) {
            const auto folder = folder_ ? folder_() : std::nullopt;
            try {
                if (!folder) {
                    throw std::runtime_error("no folder for temporary files");
                }
                file_ = SnapshotSpillFile::create(*folder);
            } catch (const std::exception& error) {
                // Kept in memory: nothing is lost, and the next payload tries again.
                if (!std::exchange(failing_, true)) {
                    logFileResources().error("The undo history stays in memory: %{public}@",
                                             error.what());
                }
                return;
            }
        }
        const auto file = file_;
        const Bytes bytes = record.memory;
        record.moving = true;
        moving_ = true;
        lock.unlock();
        std::optional<uint64_t> offset;
        std::string failure;
        try {
            offset = file->write(*bytes);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        lock.lock();
        moving_ = false;
        Record& moved = records_.at(id);
        moved.moving = false;
        if (!offset) {
            if (!std::exchange(failing_, true)) {
                logFileResources().error("The undo history stays in memory: %{public}@", failure);
            }
            if (moved.released) {
                inMemory_.erase(id);
                memoryBytes_ -= moved.size;
                records_.erase(id);
            }
            dropFileIfEmpty();
            return;
        }
        failing_ = false;
        inMemory_.erase(id);
        memoryBytes_ -= moved.size;
        if (moved.released) {
            file->release(*offset, moved.size);
            records_.erase(id);
        } else {
            moved.memory = nullptr;
            moved.offset = *offset;
            fileBytes_ += moved.size;
        }
    }
    dropFileIfEmpty();
}

void SnapshotStore::dropFileIfEmpty() {
    if (file_ != nullptr && fileBytes_ == 0 && !moving_) {
        file_ = nullptr;
    }
}

} // namespace velmora
