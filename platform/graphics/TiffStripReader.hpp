#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace velmora::codec {

// A TIFF of 8-bit RGBA with straight alpha in strips, top row first, whose
// strips are decoded apart: by several threads at once, each into rows the
// caller owns, with no picture of the whole image in between.
class TiffStripReader {
public:
    // None when the image is in another form, or tagged with a profile other
    // than `expectedProfile` (an untagged image counts as in it). Throws
    // ImageCodecError for a header that cannot be read. `data` must outlive
    // the reader.
    static std::optional<TiffStripReader> open(std::span<const uint8_t> data,
                                               std::span<const uint8_t> expectedProfile);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t rowsPerStrip() const { return rowsPerStrip_; }
    uint32_t strips() const { return strips_; }
    // How the strips are coded: the TIFF's compression, predictor and fill order.
    uint16_t compression() const { return compression_; }
    uint16_t predictor() const { return predictor_; }
    uint16_t fillOrder() const { return fillOrder_; }

    // Where each strip's coded bytes lie in the data: offset and size. Throws
    // ImageCodecError when one lies outside it.
    std::vector<std::pair<uint64_t, uint64_t>> stripPlaces() const;

    // Decodes strips [first, end) into `row(y)`, width · 4 bytes for each
    // image row y they hold (row 0 is the top). Safe to call from several
    // threads at once. Throws ImageCodecError for damaged strips.
    void decode(uint32_t first, uint32_t end, const std::function<uint8_t*(uint32_t)>& row) const;

private:
    TiffStripReader(std::span<const uint8_t> data) : data_(data) {}

    std::span<const uint8_t> data_;
    uint32_t width_ = 0, height_ = 0, rowsPerStrip_ = 0, strips_ = 0;
    uint16_t compression_ = 1, predictor_ = 1, fillOrder_ = 1;
};

} // namespace velmora::codec
