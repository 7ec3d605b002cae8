#pragma once

#include "coding/PropertyListDecoder.hpp"
#include "coding/PropertyListObject.hpp"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace velmora {

// Reads a keyed archive. Opening fails with KeyedArchiveError when the data is
// not a keyed archive; after that, failures never throw: a decode that fails
// answers nothing and keeps the first error in `error()`, and every later
// decode answers nothing too.
class KeyedUnarchiver {
public:
    explicit KeyedUnarchiver(std::span<const std::uint8_t> data);
    // Data objects decoded from the archive share `data`'s storage.
    explicit KeyedUnarchiver(const SharedBytes& data);
    explicit KeyedUnarchiver(PropertyListObject archive);
    static KeyedUnarchiver readingFile(const std::filesystem::path& path);

    // With secure coding (the default) objects are read only through the
    // decoders that name the classes they accept.
    bool requiresSecureCoding() const { return requiresSecureCoding_; }
    void setRequiresSecureCoding(bool value) { requiresSecureCoding_ = value; }

    // Handed to every value that `decodeDecodable` decodes.
    CodingUserInfo userInfo;

    bool containsValue(std::string_view key) const;
    // Missing keys give false and 0.
    bool decodeBool(std::string_view key);
    std::int64_t decodeInt64(std::string_view key);
    double decodeDouble(std::string_view key);

    // The object graph under the key, as property-list objects, accepting only
    // the named classes ("NSDictionary", "NSArray", "NSSet", "NSString",
    // "NSNumber", "NSData", "NSDate", "NSNull"; "NSObject" accepts any).
    // Nothing for a missing key or the null object.
    std::optional<PropertyListObject> decodeObject(std::span<const std::string_view> classes,
                                                   std::string_view key);
    std::optional<PropertyListObject> decodeObject(std::initializer_list<std::string_view> classes,
                                                   std::string_view key) {
        return decodeObject(std::span<const std::string_view>(classes.begin(), classes.size()),
                            key);
    }
    // Only without secure coding.
    std::optional<PropertyListObject> decodeObject(std::string_view key);

    // A value placed by `encodeEncodable`. Nothing for a missing key; a failure
    // of the archive or of the value's own decoding answers nothing and is kept
    // as `error()`, whatever its type.
    template <class T> std::optional<T> decodeDecodable(std::string_view key) {
        std::optional<PropertyListObject> object = decodeObject(propertyListClasses(), key);
        if (!object) {
            return std::nullopt;
        }
        try {
            PropertyListDecoder decoder;
            decoder.userInfo = userInfo;
            return decoder.decode<T>(*object);
        } catch (...) {
            failWithError(std::current_exception());
            return std::nullopt;
        }
    }
    template <class T> std::optional<std::vector<T>> decodeDecodableArray(std::string_view key) {
        return decodeDecodable<std::vector<T>>(key);
    }

    // The fields (without "$class") of the object record under the key whose
    // class is `className` or derives from it. Nothing for a missing key or
    // the null object; a value of another form or class answers nothing and
    // is kept as `error()`.
    std::optional<PropertyListDictionary> decodeRecord(std::string_view className,
                                                       std::string_view key);

    // The first failure, or null.
    std::exception_ptr error() const { return error_; }
    void failWithError(std::exception_ptr error);

    // The classes of property-list objects.
    static std::span<const std::string_view> propertyListClasses();

private:
    class Resolver;
    const PropertyListObject* topValue(std::string_view key) const;
    const PropertyListArray& objects() const;

    PropertyListObject archive_;
    std::uint64_t nodeCount_ = 0;
    std::uint64_t textBytes_ = 0;
    bool requiresSecureCoding_ = true;
    std::exception_ptr error_;
};

} // namespace velmora
