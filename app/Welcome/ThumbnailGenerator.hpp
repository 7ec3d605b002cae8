#pragma once

#include "desktop/NotificationCenter.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QImage>
#include <QSize>
#include <filesystem>
#include <functional>
#include <optional>
#include <shared_mutex>

namespace velmora {

// Makes the recent documents' thumbnails one after another on a background
// queue of its own and hands each to its completion on the main queue.
class ThumbnailGenerator {
public:
    // Take it first on the main thread: that is where it learns of the exit.
    static ThumbnailGenerator& shared();

    // `completion` gets a null image when the file gives no picture.
    void generate(std::filesystem::path path, QSize pixels,
                  std::function<void(const QImage& image)> completion);

    // One thumbnail made on the calling thread; none once the application is
    // going away, when the codecs' and Qt's state may already be gone.
    std::optional<QImage> make(const std::filesystem::path& path, QSize pixels);

    // Waits for the thumbnails being made and refuses any later one: at quit,
    // and when Qt goes away without one (tests).
    void stop();

    // The serial queue the thumbnails are made on, in order.
    const DispatchQueue& queue() const { return queue_; }

private:
    ThumbnailGenerator();
    DispatchQueue queue_;
    std::shared_mutex gate_;
    bool stopped_ = false;
    NotificationCenter::ObserverToken terminationObserver_;
};

} // namespace velmora
