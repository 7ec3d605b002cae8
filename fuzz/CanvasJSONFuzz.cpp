#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

using namespace velmora;

namespace {

// What a decoded canvas promises whatever the input: one layer per
// identifier, opacities within 0...1, patches that do not overlap.
void checkInvariants(const LayeredCanvas& canvas) {
    std::set<UUID> seen;
    for (const auto& layer : canvas.layerTree()->flattenedValues()) {
        if (!seen.insert(layer->uuid()).second || !(layer->opacity() >= 0) ||
            !(layer->opacity() <= 1)) {
            std::abort();
        }
        if (const auto raster = std::dynamic_pointer_cast<RasterLayer>(layer)) {
            const auto regions = raster->regions();
            for (size_t i = 0; i < regions.size(); ++i) {
                for (size_t j = i + 1; j < regions.size(); ++j) {
                    if (intersects(regions[i], regions[j])) {
                        std::abort();
                    }
                }
            }
        }
    }
}

} // namespace

// A stored canvas either fails with one of the decoding errors or holds a
// sound canvas that writes and reads back as a canvas of the same shape.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::shared_ptr<LayeredCanvas> canvas;
    try {
        canvas = JSONDecoder().decode<std::shared_ptr<LayeredCanvas>>(text);
    } catch (const DecodingError&) {
        return 0;
    } catch (const LayeredCanvas::DecodingError&) {
        return 0;
    } catch (const RasterLayer::Patch::Error&) {
        return 0;
    }
    checkInvariants(*canvas);
    const auto again =
        JSONDecoder().decode<std::shared_ptr<LayeredCanvas>>(JSONEncoder().encode(canvas));
    checkInvariants(*again);
    if (again->debugDescription() != canvas->debugDescription() ||
        again->layerTree()->value->regions() != canvas->layerTree()->value->regions()) {
        std::abort();
    }
    return 0;
}
