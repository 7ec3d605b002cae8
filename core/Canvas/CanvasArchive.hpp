#pragma once

#include "Canvas/CanvasPreviews.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayerPatch.hpp"
#include "coding/SharedBytes.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace velmora {

class KeyedArchiver;

// The native document: a keyed archive whose top level holds the canvas under
// "Canvas" and then its previews under "Previews", each as its coded tree.
namespace CanvasArchive {

inline constexpr std::string_view canvasKey = "Canvas";
inline constexpr std::string_view previewsKey = "Previews";

// Patches whose pixels changed since they were last read or written are
// rendered again, in parallel; the others keep their bytes (the program's own,
// never the file's, which another program may have changed since). Throws the
// encoding errors of the canvas.
std::vector<uint8_t> encodedData(const LayeredCanvas& canvas, const CanvasPreviews& previews);
// Where the time of a write went, in seconds of the calling thread's clock.
struct WriteSteps {
    double patches = 0;  // the changed patches encoded (or their rows copied), in parallel
    double archive = 0;  // the canvas's archive made of the patches' bytes
    double previews = 0; // waiting for the previews (scaled, JPEG) once the patches are done
    double file = 0;     // the bytes written, flushed to the disk and renamed into place
    // On the previews' own thread, from the start: made (scaled) and encoded.
    double previewsMade = 0;
    double previewsEncoded = 0;
    // On the patches' own thread, from the start: the TIFFs whose rows were copied, made.
    double patchesEncoded = 0;
};
// Called with the complete, flushed temporary file right before it replaces
// the destination.
using BeforeReplace = std::function<void(const std::filesystem::path& temporary)>;

// The same, written through a temporary file that replaces `path` only once
// it is complete. `steps`, when given, gets the times.
void write(const std::filesystem::path& path, const LayeredCanvas& canvas,
           const CanvasPreviews& previews, WriteSteps* steps = nullptr);
// The same with previews that `makePreviews` makes while the patches are
// encoded, on another thread.
void write(const std::filesystem::path& path, const LayeredCanvas& canvas,
           const std::function<std::shared_ptr<const CanvasPreviews>()>& makePreviews,
           WriteSteps* steps = nullptr, const BeforeReplace& beforeReplace = {});

// A write in two parts: `PreparedWrite` takes what the file needs of the
// canvas where the canvas is edited (only the changed patches encoded, or
// with `Patches::encodedByWrite` only their changed strips' rows copied, the
// others' bytes shared, never copied, since they never change); `write` then
// makes the previews, those patches' TIFFs and the file on any thread, the
// canvas no longer read. The patches' caches take the TIFFs made when next
// encoded or prepared.
class PreparedWrite {
public:
    enum class Patches { encodedHere, encodedByWrite };
    explicit PreparedWrite(const LayeredCanvas& canvas, WriteSteps* steps = nullptr,
                           Patches patches = Patches::encodedHere);
    PreparedWrite(PreparedWrite&&) noexcept;
    PreparedWrite& operator=(PreparedWrite&&) noexcept;
    ~PreparedWrite();

    // As `CanvasArchive::write` with previews; once only.
    void write(const std::filesystem::path& path,
               const std::function<std::shared_ptr<const CanvasPreviews>()>& makePreviews,
               WriteSteps* steps = nullptr, const BeforeReplace& beforeReplace = {});

private:
    std::unique_ptr<KeyedArchiver> archiver_;
    // Given up unless written.
    std::vector<std::shared_ptr<RasterLayerPatch::DeferredTiff>> deferred_;
};

// Where the time of a read went, in seconds of the calling thread's clock.
struct ReadSteps {
    double archive = 0; // the property list and the keyed archive's objects
    double layers = 0;  // the layer tree and the patches' headers
    double pixels = 0;  // every patch decoded into its texture, in parallel
};

// The canvas, with no active layer; its patches' pixels are read in parallel.
// Throws KeyedArchiveError for data that is no keyed archive,
// LayeredCanvas::DecodingError for an unsupported size, RasterLayer::Patch::Error
// for unreadable pixels and DecodingError for anything else amiss.
std::shared_ptr<LayeredCanvas> readCanvas(std::span<const uint8_t> data);
// The same; the patches keep their stored bytes as views into `data` (a file
// read whole, say) instead of copies. `steps`, when given, gets the times.
std::shared_ptr<LayeredCanvas> readCanvas(const SharedBytes& data, ReadSteps* steps = nullptr);
// Only the previews; the canvas is not read. Throws as `readCanvas`.
std::shared_ptr<CanvasPreviews> readPreviews(std::span<const uint8_t> data);

} // namespace CanvasArchive

} // namespace velmora
