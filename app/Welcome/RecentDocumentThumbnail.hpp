#pragma once

#include <QImage>
#include <QSize>
#include <filesystem>

namespace velmora {

// The picture of a recent document for its row, made on any thread: a native
// document's stored preview (the file read whole, its layers never decoded), a flat
// image decoded within the limits for opening it; scaled to fit `pixels`,
// never enlarged. A null image for any other file or any failure: the row
// shows the type's icon instead.
namespace RecentDocumentThumbnail {

QImage make(const std::filesystem::path& path, QSize pixels);

} // namespace RecentDocumentThumbnail

} // namespace velmora
