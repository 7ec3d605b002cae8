#pragma once

#include "coding/ByteSink.hpp"
#include "coding/FileStreamer.hpp"

#include <filesystem>
#include <functional>
#include <memory>

namespace velmora {

// Writes a file through a temporary file in the same folder that replaces the
// destination only on `commit()`, so a failed or interrupted write never leaves
// a truncated file behind. The bytes reach the file from a thread of their own
// while the caller goes on (see FileStreamer). The temporary is named by
// temporaryPathOf and stays locked until the rename, as removeStaleTemporaries
// expects. Failures throw PropertyListError with `fileError`, naming the
// destination.
class AtomicFileWriter final : public ByteSink {
public:
    struct Options {
        std::size_t pieceBytes = FileStreamer::defaultPieceBytes;
        // Called with the complete, flushed temporary right before it replaces
        // the destination (to give it the destination's identity, say).
        std::function<void(const std::filesystem::path& temporary)> beforeReplace;
    };

    explicit AtomicFileWriter(std::filesystem::path destination);
    AtomicFileWriter(std::filesystem::path destination, Options options);
    ~AtomicFileWriter() override; // removes the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::span<const std::uint8_t> bytes) override;
    void writeShared(const SharedBytes& bytes) override;
    // Waits for the writes, flushes them to disk, renames the temporary file
    // over the destination and flushes the folder. The file replaced is let go
    // of (its blocks freed) on a background queue.
    void commit();
    const std::filesystem::path& temporaryPath() const { return temporary_; }

private:
    void abandon();

    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    Options options_;
    int fd_ = -1;
    std::unique_ptr<FileStreamer> streamer_;
};

} // namespace velmora
