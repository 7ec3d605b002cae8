#pragma once

#include "Canvas/LayeredCanvas.hpp"
#include "Document/ImageDropDelegate.hpp"
#include "desktop/RegistrationUndoManager.hpp"
#include "foundation/URL.hpp"
#include "graphics/NSBitmapImageRep.hpp"

#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

// Adds dropped image files, and image data dragged out of other programs, to
// a canvas as raster layers centred on the drop point; each becomes the
// active layer. A drop is answered at once; the images are loaded, and
// rejected ones reported, in later turns of the main queue, so no alert runs
// inside the window system's drop. Main thread only; made with make_shared.
class ImageDropHandler : public ImageDropDelegate,
                         public std::enable_shared_from_this<ImageDropHandler> {
public:
    using ErrorHandler = std::function<void(const std::exception& error)>;
    using UndoManagerSource = std::function<std::shared_ptr<RegistrationUndoManager>()>;

    // With `undoManager`, each loaded image is one undo step of its own.
    ImageDropHandler(std::shared_ptr<LayeredCanvas> canvas, ErrorHandler handleDropError,
                     UndoManagerSource undoManager = {});

    const std::shared_ptr<LayeredCanvas>& canvas() const { return canvas_; }

    // Image files (by their content type) and image data without a file are
    // taken; anything else is skipped.
    bool performDrop(const NSDraggingInfo& info, const std::optional<IndexPath>& insertionPath,
                     CGPoint point) override;

    // $XDG_CACHE_HOME/velmora/Drops (else ~/.cache/velmora/Drops), made with
    // mode 0700 each time it is asked for; none when it cannot be made.
    static std::optional<std::filesystem::path> dropsDirectory();
    // Whether `file` lies inside the drops folder, by whole path components.
    static bool isInsideDropsDirectory(const std::filesystem::path& file);

    // Reads, checks and adds the image named after the file; a file inside
    // the drops folder is deleted afterwards, whatever the outcome.
    void loadImage(const URL& file, const std::optional<IndexPath>& insertionPath, CGPoint point);
    // Above the active layer (else at the top) unless a path is given.
    void addLayer(const NSBitmapImageRep& bitmap, const std::string& name,
                  const std::optional<IndexPath>& insertionPath, CGPoint point);

private:
    void report(const std::exception& error) const;

    std::shared_ptr<LayeredCanvas> canvas_;
    ErrorHandler handleDropError_;
    UndoManagerSource undoManager_;
};

} // namespace velmora
