#include "Welcome/ThumbnailGenerator.hpp"

#include "Welcome/RecentDocumentThumbnail.hpp"
#include "desktop/NSApplication.hpp"

namespace velmora {

ThumbnailGenerator::ThumbnailGenerator()
    : queue_("ThumbnailGeneratorQueue", DispatchQoS::utility),
      terminationObserver_(NotificationCenter::defaultCenter().addObserver(
          std::string(NSApplication::willTerminateNotification), nullptr, std::nullopt,
          [this](const Notification&) { stop(); })) {}

void ThumbnailGenerator::stop() {
    stopped_->store(true);
    queue_.sync([] {});
}

ThumbnailGenerator& ThumbnailGenerator::shared() {
    // Kept until exit: work still queued then must find its queue.
    static auto* instance = new ThumbnailGenerator;
    return *instance;
}

void ThumbnailGenerator::generate(std::filesystem::path path, QSize pixels,
                                  std::function<void(const QImage& image)> completion) {
    queue_.async([stopped = stopped_, path = std::move(path), pixels,
                  completion = std::move(completion)]() mutable {
        if (stopped->load()) {
            return;
        }
        QImage image = RecentDocumentThumbnail::make(path, pixels);
        DispatchQueue::main().async(
            [image = std::move(image), completion = std::move(completion)] { completion(image); });
    });
}

} // namespace velmora
