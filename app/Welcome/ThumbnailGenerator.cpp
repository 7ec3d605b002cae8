#include "Welcome/ThumbnailGenerator.hpp"

#include "Welcome/RecentDocumentThumbnail.hpp"

namespace velmora {

ThumbnailGenerator::ThumbnailGenerator()
    : queue_("ThumbnailGeneratorQueue", DispatchQoS::utility) {}

ThumbnailGenerator& ThumbnailGenerator::shared() {
    // Kept until exit: work still queued then must find its queue.
    static auto* instance = new ThumbnailGenerator;
    return *instance;
}

void ThumbnailGenerator::generate(std::filesystem::path path, QSize pixels,
                                  std::function<void(const QImage& image)> completion) {
    queue_.async([path = std::move(path), pixels, completion = std::move(completion)]() mutable {
        QImage image = RecentDocumentThumbnail::make(path, pixels);
        DispatchQueue::main().async(
            [image = std::move(image), completion = std::move(completion)] { completion(image); });
    });
}

} // namespace velmora
