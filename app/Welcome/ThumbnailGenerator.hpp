#pragma once

#include "desktop/NotificationCenter.hpp"
#include "foundation/DispatchQueue.hpp"

#include <QImage>
#include <QSize>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

namespace velmora {

// Makes the recent documents' thumbnails one after another on a background
// queue of its own and hands each to its completion on the main queue.
class ThumbnailGenerator {
public:
    static ThumbnailGenerator& shared();

    // `completion` gets a null image when the file gives no picture.
    void generate(std::filesystem::path path, QSize pixels,
                  std::function<void(const QImage& image)> completion);

private:
    ThumbnailGenerator();
    // At quit: thumbnails not begun are dropped and the one under way is
    // waited for, so none runs on while the program's statics are destroyed.
    void stop();

    DispatchQueue queue_;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
    NotificationCenter::ObserverToken terminationObserver_;
};

} // namespace velmora
