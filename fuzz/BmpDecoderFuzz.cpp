#include "DecoderFuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzDecoder(
        data, size, [](auto bytes) { return velmora::codec::bmpInfo(bytes); },
        [](auto bytes, const auto& limits) { return velmora::codec::bmpDecode(bytes, limits); });
}
