#pragma once

#include "Document/Viewers/SnapshotStore.hpp"
#include "foundation/DispatchQueue.hpp"
#include "gpu/MTLGeometry.hpp"
#include "gpu/MTLTexture.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

// One stroke's before or after pixels, kept only where the stroke drew: the
// parts are packed one above the other into a narrow picture whose LZW TIFF
// is encoded once on a worker queue while the user paints on, and then kept by
// the undo history's store (the pixels go once encoded). Whoever needs it
// first encodes it: an undo that finds the job not yet started encodes it on
// its own thread instead of waiting behind whatever keeps the workers busy, so
// an undo never waits on a queue that may itself wait on the main thread.
class StrokeSnapshot {
public:
    // `parts` lie inside the bitmap, in its pixels (rows as the bitmap holds
    // them); the bitmap is released once encoded.
    static std::shared_ptr<StrokeSnapshot>
    encode(std::shared_ptr<NSBitmapImageRep> bitmap, std::vector<MTLRegion> parts,
           const DispatchQueue& queue,
           std::shared_ptr<SnapshotStore> store = SnapshotStore::shared());
    // `packed` already holds the parts as pack() lays them out.
    static std::shared_ptr<StrokeSnapshot>
    encodePacked(std::shared_ptr<NSBitmapImageRep> packed, std::vector<MTLRegion> parts,
                 const DispatchQueue& queue,
                 std::shared_ptr<SnapshotStore> store = SnapshotStore::shared());
    StrokeSnapshot(std::shared_ptr<NSBitmapImageRep> bitmap, std::vector<MTLRegion> parts,
                   std::shared_ptr<SnapshotStore> store, bool packed = false);

    // The encoded data, encoding it here if no worker has started it; throws
    // when it could not be encoded or read back.
    SnapshotStore::Bytes data();
    bool isEncoded() const;
    const std::vector<MTLRegion>& parts() const { return parts_; }
    // The bounds of the parts; empty when there are none.
    MTLRegion partsBounds() const;

    // The parts packed: each at column 0, the first at the bottom, rows as given.
    static std::shared_ptr<NSBitmapImageRep> pack(const NSBitmapImageRep& bitmap,
                                                  const std::vector<MTLRegion>& parts);
    // Writes each packed part at its place plus `offset` into `to`, which must hold it.
    static void unpack(const NSBitmapImageRep& packed, const std::vector<MTLRegion>& parts,
                       const MTLTextureContents& to, const MTLOrigin& offset);

    // Starts decoding the packed parts on `queue`; the function returns them,
    // decoding them itself when no worker has begun, waiting when one has.
    // Throws when the data cannot be read back.
    static std::function<std::shared_ptr<NSBitmapImageRep>()>
    decodeSoon(std::shared_ptr<StrokeSnapshot> snapshot, const DispatchQueue& queue);

private:
    void run();

    mutable std::mutex mutex_;
    std::once_flag once_;
    std::shared_ptr<NSBitmapImageRep> bitmap_;
    std::vector<MTLRegion> parts_;
    std::shared_ptr<SnapshotStore> store_;
    bool packed_ = false;
    std::shared_ptr<SnapshotStore::Item> item_;
    std::exception_ptr error_;
    bool done_ = false;
};

} // namespace velmora
