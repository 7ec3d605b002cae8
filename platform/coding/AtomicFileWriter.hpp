#pragma once

#include "coding/ByteSink.hpp"

#include <filesystem>

namespace velmora {

// Writes a file through a temporary file in the same folder that replaces the
// destination only on `commit()`, so a failed or interrupted write never leaves
// a truncated file behind. Failures throw PropertyListError with `fileError`.
class AtomicFileWriter final : public ByteSink {
public:
    explicit AtomicFileWriter(std::filesystem::path destination);
    ~AtomicFileWriter() override; // removes the temporary file unless committed
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(std::span<const std::uint8_t> bytes) override;
    // Starts the disk write of everything written so far without waiting for
    // it, so that the flush of `commit()` has less left to wait for.
    void startWriteback();
    // Flushes to disk and renames the temporary file over the destination.
    void commit();

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

} // namespace velmora
