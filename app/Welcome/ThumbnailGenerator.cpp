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
    // Taken before the read: a file replaced meanwhile has another version.
    const auto version = ThumbnailCache::FileVersion::of(path);
    if (!version) {
        return QImage(); // no file, no picture
    }
    if (auto kept = cache_.find(path, pixels, *version)) {
        return kept;
    }
    QImage image = RecentDocumentThumbnail::make(path, pixels);
    ++made_;
    cache_.insert(path, pixels, *version, image);
    return image;
}

void ThumbnailGenerator::stop() {
    const std::unique_lock lock(gate_);
    stopped_ = true;
}

void ThumbnailGenerator::generate(std::filesystem::path path, QSize pixels,
                                  std::function<void(const QImage& image)> completion) {
    enqueue(std::move(path), pixels, std::nullopt, std::move(completion));
}

void ThumbnailGenerator::generate(std::filesystem::path path, QSize pixels,
                                  std::weak_ptr<const void> wanted,
                                  std::function<void(const QImage& image)> completion) {
    enqueue(std::move(path), pixels, std::move(wanted), std::move(completion));
}

void ThumbnailGenerator::enqueue(std::filesystem::path path, QSize pixels,
                                 std::optional<std::weak_ptr<const void>> wanted,
                                 std::function<void(const QImage& image)> completion) {
    queue_.async([this, path = std::move(path), pixels, wanted = std::move(wanted),
                  completion = std::move(completion)]() mutable {
        if (wanted && wanted->expired()) {
            return;
        }
        std::optional<QImage> image = make(path, pixels);
        if (!image) {
            return;
        }
        DispatchQueue::main().async(
            [image = std::move(*image), completion = std::move(completion)] { completion(image); });
    });
}

} // namespace velmora
