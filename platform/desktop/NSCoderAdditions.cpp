#include "desktop/NSCoderAdditions.hpp"

#include "coding/KeyedArchiveError.hpp"
#include "foundation/NSGeometry.hpp"

#include <charconv>
#include <cmath>
#include <sstream>
#include <vector>

namespace velmora {

namespace {

enum ColorSpaceCode : std::int64_t { genericRGB = 1, sRGB = 2, genericGray = 3, custom = 10 };

// At most this many components: no colour space has more.
constexpr std::size_t maximumComponents = 16;

std::string componentsText(const std::vector<CGFloat>& components) {
    std::string text;
    for (CGFloat value : components) {
        char buffer[32];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, error == std::errc() ? end : buffer);
        text += ' ';
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

std::optional<std::vector<CGFloat>> componentsFrom(const PropertyListObject* field) {
    if (field == nullptr || field->data() == nullptr) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> bytes = field->data()->span();
    std::string text(bytes.begin(), bytes.end());
    // The platform ends the text with a NUL.
    if (auto nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    std::vector<CGFloat> values;
    const char* position = text.data();
    const char* end = position + text.size();
    while (position < end) {
        while (position < end && *position == ' ') {
            ++position;
        }
        if (position == end) {
            break;
        }
        double value = 0;
        const auto [stop, error] = std::from_chars(position, end, value);
        if (error != std::errc() || !std::isfinite(value) || values.size() == maximumComponents) {
            return std::nullopt;
        }
        values.push_back(value);
        position = stop;
    }
    return values;
}

PropertyListObject textData(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return SharedBytes(std::move(bytes));
}

NSColorRef fail(KeyedUnarchiver& unarchiver, std::string_view key, const std::string& why) {
    unarchiver.failWithError(std::make_exception_ptr(
        KeyedArchiveError(KeyedArchiveError::Code::corrupt,
                          "The colour for key \"" + std::string(key) + "\" " + why)));
    return nullptr;
}

} // namespace

std::string NSStringFromRect(const CGRect& rect) {
    return "{" + NSStringFromSize({rect.origin.x, rect.origin.y}) + ", " +
           NSStringFromSize({rect.size.width, rect.size.height}) + "}";
}

std::optional<CGRect> NSRectFromString(std::string_view text) {
    std::vector<double> numbers;
    std::string cleaned;
    for (char c : text) {
        cleaned += (c == '{' || c == '}' || c == ',') ? ' ' : c;
    }
    // The braces must pair up as "{{x, y}, {w, h}}".
    std::string shape;
    for (char c : text) {
        if (c == '{' || c == '}' || c == ',') {
            shape += c;
        }
    }
    if (shape != "{{,},{,}}") {
        return std::nullopt;
    }
    std::istringstream stream(cleaned);
    std::string word;
    while (stream >> word) {
        double value = 0;
        const auto [stop, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || stop != word.data() + word.size() || !std::isfinite(value)) {
            return std::nullopt;
        }
        numbers.push_back(value);
    }
    if (numbers.size() != 4) {
        return std::nullopt;
    }
    return CGRect{{numbers[0], numbers[1]}, {numbers[2], numbers[3]}};
}

void encodeRect(KeyedArchiver& archiver, const CGRect& rect, std::string_view key) {
    archiver.encodeObject(NSStringFromRect(rect), key);
}

std::optional<CGRect> decodeRect(KeyedUnarchiver& unarchiver, std::string_view key) {
    std::optional<PropertyListObject> text = unarchiver.decodeObject({"NSString"}, key);
    if (!text) {
        return std::nullopt;
    }
    std::optional<CGRect> rect = text->string() ? NSRectFromString(*text->string()) : std::nullopt;
    if (!rect) {
        unarchiver.failWithError(std::make_exception_ptr(KeyedArchiveError(
            KeyedArchiveError::Code::corrupt,
            "The value for key \"" + std::string(key) + "\" is not a rectangle")));
    }
    return rect;
}

void encodeColor(KeyedArchiver& archiver, const NSColor& color, std::string_view key) {
    const NSColorSpaceRef& space = color.colorSpace();
    PropertyListDictionary fields;
    const std::string components = componentsText(color.components());
    if (*space == *NSColorSpace::sRGBColorSpace()) {
        fields.append("NSColorSpace", std::int64_t(sRGB));
        fields.append("NSRGB", textData(components));
    } else if (*space == *NSColorSpace::genericRGBColorSpace()) {
        fields.append("NSColorSpace", std::int64_t(genericRGB));
        fields.append("NSRGB", textData(components));
    } else if (*space == *NSColorSpace::genericGrayColorSpace()) {
        fields.append("NSColorSpace", std::int64_t(genericGray));
        fields.append("NSWhite", textData(components));
    } else {
        fields.append("NSColorSpace", std::int64_t(custom));
        fields.append("NSComponents", textData(components));
        fields.append("NSICC", SharedBytes(space->iccProfileData()));
    }
    static constexpr std::string_view classes[] = {"NSColor"};
    archiver.encodeRecord(classes, std::move(fields), key);
}

NSColorRef decodeColor(KeyedUnarchiver& unarchiver, std::string_view key) {
    std::optional<PropertyListDictionary> fields = unarchiver.decodeRecord("NSColor", key);
    if (!fields) {
        return nullptr;
    }
    const PropertyListObject* code = fields->find("NSColorSpace");
    if (code == nullptr || code->integer() == nullptr || !code->integer()->int64Value()) {
        return fail(unarchiver, key, "names no colour space");
    }
    NSColorSpaceRef space;
    const PropertyListObject* components = nullptr;
    switch (*code->integer()->int64Value()) {
    case genericRGB:
        space = NSColorSpace::genericRGBColorSpace();
        components = fields->find("NSRGB");
        break;
    case sRGB:
        space = NSColorSpace::sRGBColorSpace();
        components = fields->find("NSRGB");
        break;
    case genericGray:
    case genericGray + 1: // device grey
        space = NSColorSpace::genericGrayColorSpace();
        components = fields->find("NSWhite");
        break;
    case custom: {
        const PropertyListObject* icc = fields->find("NSICC");
        if (icc != nullptr && icc->data() != nullptr) {
            space = NSColorSpace::withICCProfileData(icc->data()->span());
        }
        components = fields->find("NSComponents");
        break;
    }
    default:
        return fail(unarchiver, key, "is in a colour space this reader does not know");
    }
    std::optional<std::vector<CGFloat>> values = componentsFrom(components);
    if (!space || !values) {
        return fail(unarchiver, key, "is damaged");
    }
    // The platform leaves out an opaque alpha.
    if (values->size() == space->numberOfColorComponents()) {
        values->push_back(1);
    }
    NSColorRef color = NSColor::colorWithColorSpace(space, std::move(*values));
    return color ? color : fail(unarchiver, key, "has the wrong number of components");
}

} // namespace velmora
