#pragma once

#include "coding/BinaryPropertyList.hpp"
#include "coding/ByteSink.hpp"
#include "coding/PropertyListEncoder.hpp"
#include "coding/PropertyListObject.hpp"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

// Writes a keyed archive: a binary property list holding "$archiver",
// "$version", "$top" and "$objects", objects referenced by UID, collections as
// records with "NS.keys"/"NS.objects" and a "$class" record.
class KeyedArchiver {
public:
    explicit KeyedArchiver(bool requiringSecureCoding = true);

    bool requiresSecureCoding() const { return requiresSecureCoding_; }

    // Handed to every value that `encodeEncodable` encodes.
    CodingUserInfo userInfo;

    // Values stored in place under the key.
    void encode(bool value, std::string_view key);
    void encode(std::int64_t value, std::string_view key);
    void encode(double value, std::string_view key);

    // Archives a property-list object graph under the key. Data objects are
    // shared, not copied. Throws KeyedArchiveError for a UID or for nesting
    // deeper than the property-list limit.
    void encodeObject(PropertyListObject object, std::string_view key);

    // Places the value's coded tree under the key as property-list objects.
    // Throws the value's own encoding errors or EncodingError.
    template <class T> void encodeEncodable(const T& value, std::string_view key) {
        PropertyListEncoder encoder;
        encoder.userInfo = userInfo;
        encodeObject(encoder.encodeToTopLevelObject(value), key);
    }

    // An object of another class, written as the platform writes an object that
    // encodes itself: a record of `fields` (Booleans, numbers and data, stored
    // in place) whose class record names `classes`, most derived first.
    // Throws KeyedArchiveError for a field of another kind or no class.
    void encodeRecord(std::span<const std::string_view> classes, PropertyListDictionary fields,
                      std::string_view key);

    void finishEncoding();
    // The archive as a property list (finishes encoding).
    const PropertyListObject& archive();
    std::vector<std::uint8_t> encodedData();
    // Streams the archive into a file, replaced atomically.
    void writeToFile(const std::filesystem::path& path);
    void write(ByteSink& sink);
    // The same with data objects' bytes given as the writing reaches them.
    void write(ByteSink& sink, const BinaryPropertyList::DataResolver& resolve);

private:
    PropertyListObject archiveObject(PropertyListObject&& object, std::size_t depth);
    PropertyListUID classRecord(std::string_view name);
    PropertyListUID classRecord(std::span<const std::string_view> classes);
    void requireOpen() const;

    bool requiresSecureCoding_;
    bool finished_ = false;
    PropertyListDictionary top_;
    PropertyListArray objects_;
    std::unordered_map<std::string, std::uint64_t> strings_;
    std::unordered_map<std::string, std::uint64_t> classes_;
    PropertyListObject archive_;
};

} // namespace velmora
