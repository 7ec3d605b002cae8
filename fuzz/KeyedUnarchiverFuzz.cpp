#include "coding/BinaryPropertyList.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"

#include <cstdlib>
#include <map>

// Any input either fails to open with KeyedArchiveError or opens; every decode
// of an opened archive answers a value or nothing with the error kept, and a
// decoded object graph archives and reads back unchanged.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmora;
    std::optional<KeyedUnarchiver> unarchiver;
    try {
        unarchiver.emplace(std::span<const std::uint8_t>(data, size));
    } catch (const KeyedArchiveError&) {
        return 0;
    }
    for (const char* key : {"root", "Canvas", "Previews", "BaseBrushes", "$0"}) {
        unarchiver->decodeBool(key);
        unarchiver->decodeInt64(key);
        unarchiver->decodeDouble(key);
        unarchiver->decodeDecodable<std::map<std::string, std::vector<std::int64_t>>>(key);
        unarchiver->decodeDecodableArray<std::string>(key);
        const auto object = unarchiver->decodeObject(KeyedUnarchiver::propertyListClasses(), key);
        if (object && !unarchiver->error()) {
            KeyedArchiver archiver;
            archiver.encodeObject(*object, "x");
            const auto bytes = archiver.encodedData();
            KeyedUnarchiver again{std::span<const std::uint8_t>(bytes)};
            const auto back = again.decodeObject(KeyedUnarchiver::propertyListClasses(), "x");
            // Compared as encodings, which treat NaN as equal to itself.
            if (!back || BinaryPropertyList::encode(*back) != BinaryPropertyList::encode(*object)) {
                std::abort();
            }
        }
    }
    return 0;
}
