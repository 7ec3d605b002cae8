#include "MakeDocument.hpp"

#include "Canvas/CanvasArchive.hpp"
#include "Canvas/CanvasPreviews.hpp"
#include "PaintedDocument.hpp"
#include "Rendering/RenderedCanvas.hpp"

#include <filesystem>
#include <iostream>

namespace velmora::acceptance {

// The engine benchmarks' scene with paint-like pixels, so that
// its patches compress as a painting's do.
int makeDocument(const std::string& file) {
    const auto canvas = bench::paintedDocumentCanvas();
    const auto flat = RenderedCanvas(canvas).asBitmap();
    if (!flat) {
        std::cerr << "the canvas could not be flattened" << std::endl;
        return 1;
    }
    const std::filesystem::path path(file);
    const auto temporary = std::filesystem::path(file + ".part");
    CanvasArchive::write(temporary, *canvas, *CanvasPreviews::makeStandardPreviews(flat));
    std::filesystem::rename(temporary, path);
    std::cout << "made " << path << " (" << std::filesystem::file_size(path) / 1000000 << " MB)"
              << std::endl;
    return 0;
}

} // namespace velmora::acceptance
