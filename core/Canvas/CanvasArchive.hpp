#pragma once

#include "Canvas/CanvasPreviews.hpp"
#include "Canvas/LayeredCanvas.hpp"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace velmora {

// The native document: a keyed archive whose top level holds the canvas under
// "Canvas" and then its previews under "Previews", each as its coded tree.
namespace CanvasArchive {

inline constexpr std::string_view canvasKey = "Canvas";
inline constexpr std::string_view previewsKey = "Previews";

// Patches whose pixels changed since they were last read or written are
// rendered again, in parallel; the others keep their bytes. Throws the
// encoding errors of the canvas.
std::vector<uint8_t> encodedData(const LayeredCanvas& canvas, const CanvasPreviews& previews);
// The same, written through a temporary file that replaces `path` only once
// it is complete.
void write(const std::filesystem::path& path, const LayeredCanvas& canvas,
           const CanvasPreviews& previews);

// The canvas, with no active layer; its patches' pixels are read in parallel.
// Throws KeyedArchiveError for data that is no keyed archive,
// LayeredCanvas::DecodingError for an unsupported size, RasterLayer::Patch::Error
// for unreadable pixels and DecodingError for anything else amiss.
std::shared_ptr<LayeredCanvas> readCanvas(std::span<const uint8_t> data);
// Only the previews; the canvas is not read. Throws as `readCanvas`.
std::shared_ptr<CanvasPreviews> readPreviews(std::span<const uint8_t> data);

} // namespace CanvasArchive

} // namespace velmora
