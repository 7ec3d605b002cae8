#pragma once

#include "coding/SharedBytes.hpp"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace velmora {

// Writes bytes to a file from a thread of its own while the caller goes on
// producing them, and has the kernel start each piece's disk write as soon as
// the piece is written, so that a final flush has little left to wait for and
// the caller never waits on the page cache. Failures throw PropertyListError
// with `fileError` from finish() (or from the next write once known).
class FileStreamer {
public:
    static constexpr std::size_t defaultPieceBytes = std::size_t(32) << 20;

    // `fd` stays the caller's; `path` only names it in errors.
    FileStreamer(int fd, std::filesystem::path path, std::size_t pieceBytes = defaultPieceBytes);
    ~FileStreamer(); // drops what is still queued
    FileStreamer(const FileStreamer&) = delete;
    FileStreamer& operator=(const FileStreamer&) = delete;

    // Copied; waits while too much copied data is still to be written.
    void write(std::span<const std::uint8_t> bytes);
    // Kept (with its owner) until written, not copied.
    void write(const SharedBytes& bytes);
    // Waits until everything is written; throws the first failure.
    void finish();

private:
    void queue(SharedBytes bytes, std::size_t copied);
    void queueStaging();
    void run();
    void writeOut(std::span<const std::uint8_t> bytes);
    void throwIfFailed();

    const int fd_;
    const std::filesystem::path path_;
    const std::size_t pieceBytes_;
    std::vector<std::uint8_t> staging_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<SharedBytes, std::size_t>> queue_; // bytes, of which copies
    std::size_t copiedInQueue_ = 0;
    bool finishing_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;

    // The writer thread's own.
    std::uint64_t written_ = 0;
    std::uint64_t kicked_ = 0;

    std::thread thread_;
};

} // namespace velmora
