#include "Welcome/ThumbnailGenerator.hpp"

#include "Welcome/RecentDocumentThumbnail.hpp"
#include "desktop/NSApplication.hpp"

#include <QCoreApplication>
#include <QThread>
#include <mutex>

namespace velmora {

ThumbnailGenerator::ThumbnailGenerator()
    : queue_("ThumbnailGeneratorQueue", DispatchQoS::utility),
      terminationObserver_(NotificationCenter::defaultCenter().addObserver(
          std::string(NSApplication::willTerminateNotification), nullptr, std::nullopt,
          [this](const Notification&) { stop(); })) {}

ThumbnailGenerator& ThumbnailGenerator::shared() {
    // Kept until exit: work still queued then must find its queue.
    static auto* instance = [] {
        auto* made = new ThumbnailGenerator;
        const QCoreApplication* application = QCoreApplication::instance();
        if (application && QThread::currentThread() == application->thread()) {
            qAddPostRoutine([] { shared().stop(); });
        }
        return made;
    }();
    return *instance;
}

std::optional<QImage> ThumbnailGenerator::make(const std::filesystem::path& path, QSize pixels) {
    const std::shared_lock lock(gate_);
    if (stopped_) {
        return std::nullopt;
    }
    return RecentDocumentThumbnail::make(path, pixels);
}

void ThumbnailGenerator::stop() {
    const std::unique_lock lock(gate_);
    stopped_ = true;
}

void ThumbnailGenerator::generate(std::filesystem::path path, QSize pixels,
                                  std::function<void(const QImage& image)> completion) {
    queue_.async([this, path = std::move(path), pixels,
                  completion = std::move(completion)]() mutable {
        std::optional<QImage> image = make(path, pixels);
        if (!image) {
            return;
        }
        DispatchQueue::main().async(
            [image = std::move(*image), completion = std::move(completion)] { completion(image); });
    });
}

} // namespace velmora
