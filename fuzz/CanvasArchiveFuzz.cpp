#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/PropertyListError.hpp"

#include <cstdint>
#include <cstdlib>
#include <span>

using namespace velmora;

namespace {

// A document either reads or fails with one of the readers' own errors.
template <class Read> void readOrFailCleanly(Read read) {
    try {
        read();
    } catch (const KeyedArchiveError&) {
    } catch (const PropertyListError&) {
    } catch (const DecodingError&) {
    } catch (const LayeredCanvas::DecodingError&) {
    } catch (const RasterLayer::Patch::Error&) {
    } catch (...) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    readOrFailCleanly([&] { CanvasArchive::readCanvas(bytes); });
    readOrFailCleanly([&] {
        const auto previews = CanvasArchive::readPreviews(bytes);
        if (const auto best = previews->bestPreview()) {
            previews->bestPreview({32, 32});
        }
    });
    return 0;
}
