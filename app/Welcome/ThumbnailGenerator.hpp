#pragma once

#include "foundation/DispatchQueue.hpp"

#include <QImage>
#include <QSize>
#include <filesystem>
#include <functional>

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
    DispatchQueue queue_;
};

} // namespace velmora
