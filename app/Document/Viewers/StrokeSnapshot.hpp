#pragma once

#include "foundation/DispatchQueue.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// The LZW TIFF of one stroke's before or after pixels, encoded once on a
// worker queue while the user paints on. Whoever needs it first encodes it:
// an undo that finds the job not yet started encodes it on its own thread
// instead of waiting behind whatever keeps the workers busy, so an undo never
// waits on a queue that may itself wait on the main thread.
class StrokeSnapshot {
public:
    // Starts the encoding on `queue`; the bitmap is released once encoded.
    static std::shared_ptr<StrokeSnapshot> encode(std::shared_ptr<NSBitmapImageRep> bitmap,
                                                  const DispatchQueue& queue);

    // The encoded data, encoding it here if no worker has started it; throws
    // when it could not be encoded.
    const std::vector<uint8_t>& data();
    bool isEncoded() const;

    explicit StrokeSnapshot(std::shared_ptr<NSBitmapImageRep> bitmap);

private:
    void run();

    mutable std::mutex mutex_;
    std::once_flag once_;
    std::shared_ptr<NSBitmapImageRep> bitmap_;
    std::vector<uint8_t> data_;
    std::exception_ptr error_;
    bool done_ = false;
};

} // namespace velmora
