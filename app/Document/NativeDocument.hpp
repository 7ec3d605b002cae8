#pragma once

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/PreviewCanvas.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace velmora {

// The application's own document: the canvas and the previews of its
// flattened picture in one keyed archive.
namespace NativeDocument {

// Throws DocumentError: unsupportedImageSize for a canvas larger than
// 8000 x 8000, unsupportedFormat for anything else amiss, also for data that
// is no keyed archive at all.
std::shared_ptr<LayeredCanvas> readCanvas(std::span<const std::uint8_t> data);
// The same from shared bytes (the file read whole), whose stored patches are
// kept as views into them; `steps`, when given, gets where the time went.
std::shared_ptr<LayeredCanvas> readCanvas(const SharedBytes& data,
                                          CanvasArchive::ReadSteps* steps = nullptr);
// Reads only the previews, for a document that is viewed. Throws as
// `readCanvas`; a document without previews is unsupportedFormat.
std::shared_ptr<PreviewCanvas> readPreviewCanvas(std::span<const std::uint8_t> data);

// The canvas with the standard previews of `flattened`.
std::vector<std::uint8_t> data(const LayeredCanvas& canvas,
                               const std::shared_ptr<NSBitmapImageRep>& flattened);
// The same streamed to `path` through a temporary file beside it; the
// previews are made while the patches are encoded. `steps`, when given, gets
// where the time went; `beforeReplace`, when given, is called with the
// complete temporary file right before it replaces `path`.
void write(const std::filesystem::path& path, const LayeredCanvas& canvas,
           const std::shared_ptr<NSBitmapImageRep>& flattened,
           CanvasArchive::WriteSteps* steps = nullptr,
           const CanvasArchive::BeforeReplace& beforeReplace = {});
// The same with the canvas's part taken before, so that this may run on
// another thread.
void write(const std::filesystem::path& path, CanvasArchive::PreparedWrite& canvas,
           const std::shared_ptr<NSBitmapImageRep>& flattened,
           CanvasArchive::WriteSteps* steps = nullptr,
           const CanvasArchive::BeforeReplace& beforeReplace = {});

} // namespace NativeDocument

} // namespace velmora
