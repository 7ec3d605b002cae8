#pragma once

#include "Document/Viewers/SnapshotSpillFile.hpp"
#include "foundation/DispatchQueue.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace velmora {

// The undo history's large payloads (a stroke's encoded snapshots, a removed
// layer's archive), kept within a memory budget however long the history
// grows: once those in memory exceed it, the oldest move, on a queue of the
// store's own, to a temporary file from which they are read back when needed.
// The file goes once it holds nothing, and at exit; one left by a program that
// was killed goes at the next launch. Any thread.
class SnapshotStore : public std::enable_shared_from_this<SnapshotStore> {
public:
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

    // A payload in the store, there until its last owner lets it go.
    class Item {
    public:
        Item(std::shared_ptr<SnapshotStore> store, uint64_t id, size_t size)
            : store_(std::move(store)), id_(id), size_(size) {}
        ~Item() { store_->release(id_); }
        Item(const Item&) = delete;
        Item& operator=(const Item&) = delete;

        // Read back from the file when it was moved there; throws
        // std::system_error when it cannot be.
        Bytes bytes() const { return store_->read(id_); }
        size_t size() const { return size_; }

    private:
        std::shared_ptr<SnapshotStore> store_;
        uint64_t id_;
        size_t size_;
    };

    // The program's store: its file in standardFolder(), its budget an eighth of
    // historyLimit(), which leaves room for the work in progress and for what
    // painting itself keeps (the stroke layer, the composites).
    static const std::shared_ptr<SnapshotStore>& shared();
    // Where the whole history beyond the document may go: 2 GB, or a quarter of
    // the machine's memory when that is less.
    static size_t historyLimit();
    // $XDG_CACHE_HOME/velmora/Undo (else ~/.cache/velmora/Undo); none without a home.
    static std::optional<std::filesystem::path> standardFolder();
    // At launch: the files of programs no longer running go from standardFolder().
    static size_t removeStaleFiles();

    // `folder` is asked where to make the file once one is needed; without one
    // everything stays in memory.
    SnapshotStore(size_t budget, std::function<std::optional<std::filesystem::path>()> folder);
    ~SnapshotStore();
    SnapshotStore(const SnapshotStore&) = delete;
    SnapshotStore& operator=(const SnapshotStore&) = delete;

    std::shared_ptr<Item> keep(std::vector<uint8_t> bytes);

    size_t budget() const;
    void setBudget(size_t bytes);
    // How many payloads it holds, wherever they are.
    size_t count() const;
    size_t bytesInMemory() const;
    size_t bytesInFile() const;
    // The file, while there is one.
    std::optional<std::filesystem::path> filePath() const;
    // Returns once the moves asked for so far are done.
    void waitForMoves() const;

private:
    struct Record {
        Bytes memory; // none once in the file
        uint64_t offset = 0;
        size_t size = 0;
        bool moving = false;
        bool released = false;
    };

    Bytes read(uint64_t id) const;
    void release(uint64_t id);
    void scheduleMoves();
    void moveOldest();
    // With the lock held: the file goes once it holds nothing.
    void dropFileIfEmpty();

    mutable std::mutex mutex_;
    size_t budget_;
    std::function<std::optional<std::filesystem::path>()> folder_;
    DispatchQueue queue_;
    uint64_t nextID_ = 0;
    std::map<uint64_t, Record> records_;
    // Oldest first.
    std::set<uint64_t> inMemory_;
    size_t memoryBytes_ = 0;
    size_t fileBytes_ = 0;
    std::shared_ptr<SnapshotSpillFile> file_;
    bool moveScheduled_ = false;
    bool moving_ = false;
    bool failing_ = false;
};

} // namespace velmora
