#pragma once

#include "coding/ByteSink.hpp"
#include "coding/PropertyListError.hpp"
#include "coding/PropertyListObject.hpp"

#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace velmora {

// The "bplist00" binary property-list format. Every failure throws
// PropertyListError; reading treats its input as hostile.
class BinaryPropertyList {
public:
    // Collections nested deeper than this are refused on reading and on writing,
    // so whatever is written can be read back.
    static constexpr std::size_t maximumDepth = 512;

    static std::vector<std::uint8_t> encode(const PropertyListObject& root);
    // Streams the encoding; large data objects go to the sink without being copied.
    static void write(const PropertyListObject& root, ByteSink& sink);
    // The bytes to write for a data object of the tree, asked as the writing
    // reaches it: the tree may hold stand-ins for bytes still being made.
    using DataResolver = std::function<const SharedBytes&(const SharedBytes&)>;
    static void write(const PropertyListObject& root, ByteSink& sink, const DataResolver& resolve);
    // Writes the file atomically (temporary file, then rename).
    static void writeFile(const PropertyListObject& root, const std::filesystem::path& path);

    // Data objects of the result are copies.
    static PropertyListObject decode(std::span<const std::uint8_t> bytes);
    // Data objects of the result share `bytes`' storage.
    static PropertyListObject decode(const SharedBytes& bytes);
    // Reads the file once into memory; data objects share that buffer.
    static PropertyListObject readFile(const std::filesystem::path& path);

    // True when `bytes` start with the format's signature.
    static bool hasSignature(std::span<const std::uint8_t> bytes);
};

} // namespace velmora
