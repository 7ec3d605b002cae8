#pragma once

#include "Welcome/ThumbnailCache.hpp"
#include "desktop/NotificationCenter.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QImage>
#include <QSize>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>

namespace velmora {

// Makes the recent documents' thumbnails one after another on a background
// queue of its own and hands each to its completion on the main queue. A
// thumbnail is made once per version of its file; a request whose asker has
// let its token go by the time its turn comes is dropped.
class ThumbnailGenerator {
public:
    // Take it first on the main thread: that is where it learns of the exit.
    static ThumbnailGenerator& shared();

    // `completion` gets a null image when the file gives no picture.
    void generate(std::filesystem::path path, QSize pixels,
                  std::function<void(const QImage& image)> completion);
    // Carried out only if `wanted` still lives when its turn comes.
    void generate(std::filesystem::path path, QSize pixels, std::weak_ptr<const void> wanted,
                  std::function<void(const QImage& image)> completion);

    // One thumbnail on the calling thread, kept from before when its file has
    // not changed since; none once the application is going away, when the
    // codecs' and Qt's state may already be gone.
    std::optional<QImage> make(const std::filesystem::path& path, QSize pixels);
    // How many were made from their files rather than taken from those kept.
    std::uint64_t thumbnailsMade() const { return made_; }

    // Waits for the thumbnails being made and refuses any later one: at quit,
    // and when Qt goes away without one (tests).
    void stop();

    // The serial queue the thumbnails are made on, in order.
    const DispatchQueue& queue() const { return queue_; }

private:
    ThumbnailGenerator();
    void enqueue(std::filesystem::path path, QSize pixels,
                 std::optional<std::weak_ptr<const void>> wanted,
                 std::function<void(const QImage& image)> completion);

    DispatchQueue queue_;
    ThumbnailCache cache_{64};
    std::atomic<std::uint64_t> made_ = 0;
    std::shared_mutex gate_;
    bool stopped_ = false;
    NotificationCenter::ObserverToken terminationObserver_;
};

} // namespace velmora
