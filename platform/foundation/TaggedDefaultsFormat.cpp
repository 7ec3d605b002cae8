#include "foundation/TaggedDefaultsFormat.hpp"

#include <bit>
#include <cstring>

namespace velmora {

namespace {

constexpr std::uint8_t magic[8] = {'V', 'L', 'M', 'D', 'E', 'F', 'S', '1'};
constexpr int maximumDepth = 64;

enum Tag : std::uint8_t {
    tagFalse = 'f',
    tagTrue = 't',
    tagInteger = 'i',
    tagReal = 'r',
    tagString = 's',
    tagData = 'd',
    tagArray = 'a',
    tagDictionary = 'D',
};

std::uint64_t fnv1a(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 0x100000001B3ULL;
    }
    return hash;
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void putBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
    put64(out, size);
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

void encodeValue(std::vector<std::uint8_t>& out, const DefaultsValue& value) {
    using Kind = DefaultsValue::Kind;
    switch (value.kind()) {
    case Kind::boolean:
        out.push_back(*value.boolValue() ? tagTrue : tagFalse);
        return;
    case Kind::integer:
        out.push_back(tagInteger);
        put64(out, static_cast<std::uint64_t>(*value.integerValue()));
        return;
    case Kind::real:
        out.push_back(tagReal);
        put64(out, std::bit_cast<std::uint64_t>(*value.realValue()));
        return;
    case Kind::string:
        out.push_back(tagString);
        putBytes(out, value.stringValue()->data(), value.stringValue()->size());
        return;
    case Kind::data:
        out.push_back(tagData);
        putBytes(out, value.dataValue()->data(), value.dataValue()->size());
        return;
    case Kind::array:
        out.push_back(tagArray);
        put64(out, value.arrayValue()->size());
        for (const DefaultsValue& element : *value.arrayValue()) {
            encodeValue(out, element);
        }
        return;
    case Kind::dictionary:
        out.push_back(tagDictionary);
        put64(out, value.dictionaryValue()->size());
        for (const auto& [key, element] : *value.dictionaryValue()) {
            putBytes(out, key.data(), key.size());
            encodeValue(out, element);
        }
        return;
    }
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool atEnd() const { return offset_ == bytes_.size(); }

    std::uint8_t byte() {
        need(1);
        return bytes_[offset_++];
    }

    std::uint64_t u64() {
        need(8);
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) {
            v |= static_cast<std::uint64_t>(bytes_[offset_ + static_cast<std::size_t>(i)])
                 << (8 * i);
        }
        offset_ += 8;
        return v;
    }

    // A count of items that each take at least `itemSize` bytes: checked against
    // what is left, so damaged counts cannot make us allocate.
    std::size_t count(std::size_t itemSize) {
        const std::uint64_t n = u64();
        if (n > (bytes_.size() - offset_) / itemSize) {
            throw UserDefaultsError("The user defaults file is damaged: a count exceeds the file");
        }
        return static_cast<std::size_t>(n);
    }

    std::span<const std::uint8_t> take(std::size_t n) {
        need(n);
        const auto part = bytes_.subspan(offset_, n);
        offset_ += n;
        return part;
    }

    DefaultsValue value(int depth) {
        if (depth > maximumDepth) {
            throw UserDefaultsError("The user defaults file is damaged: values nest too deeply");
        }
        switch (byte()) {
        case tagFalse:
            return DefaultsValue(false);
        case tagTrue:
            return DefaultsValue(true);
        case tagInteger:
            return DefaultsValue(static_cast<std::int64_t>(u64()));
        case tagReal:
            return DefaultsValue(std::bit_cast<double>(u64()));
        case tagString: {
            const auto text = take(count(1));
            return DefaultsValue(std::string(text.begin(), text.end()));
        }
        case tagData: {
            const auto data = take(count(1));
            return DefaultsValue(DefaultsValue::Data(data.begin(), data.end()));
        }
        case tagArray: {
            const std::size_t n = count(1);
            DefaultsValue::Array array;
            array.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                array.push_back(value(depth + 1));
            }
            return DefaultsValue(std::move(array));
        }
        case tagDictionary:
            return DefaultsValue(dictionary(depth));
        default:
            throw UserDefaultsError("The user defaults file is damaged: unknown value tag");
        }
    }

    DefaultsValue::Dictionary dictionary(int depth) {
        const std::size_t n = count(9);
        DefaultsValue::Dictionary dictionary;
        for (std::size_t i = 0; i < n; ++i) {
            const auto key = take(count(1));
            std::string name(key.begin(), key.end());
            DefaultsValue element = value(depth + 1);
            if (!dictionary.emplace(std::move(name), std::move(element)).second) {
                throw UserDefaultsError("The user defaults file is damaged: a key appears twice");
            }
        }
        return dictionary;
    }

private:
    void need(std::size_t n) const {
        if (n > bytes_.size() - offset_) {
            throw UserDefaultsError("The user defaults file is damaged: it ends too early");
        }
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

} // namespace

bool TaggedDefaultsFormat::recognises(std::span<const std::uint8_t> bytes) const {
    return bytes.size() >= sizeof magic && std::memcmp(bytes.data(), magic, sizeof magic) == 0;
}

DefaultsValue::Dictionary TaggedDefaultsFormat::decode(std::span<const std::uint8_t> bytes) const {
    if (!recognises(bytes) || bytes.size() < sizeof magic + 1 + 8 + 8) {
        throw UserDefaultsError("The user defaults file is damaged: it is too short");
    }
    const auto body = bytes.first(bytes.size() - 8);
    Reader trailer(bytes.last(8));
    if (trailer.u64() != fnv1a(body)) {
        throw UserDefaultsError("The user defaults file is damaged: its checksum does not match");
    }
    Reader reader(body.subspan(sizeof magic));
    if (reader.byte() != tagDictionary) {
        throw UserDefaultsError("The user defaults file is damaged: no dictionary at its root");
    }
    DefaultsValue::Dictionary values = reader.dictionary(0);
    if (!reader.atEnd()) {
        throw UserDefaultsError("The user defaults file is damaged: bytes after its end");
    }
    return values;
}

std::vector<std::uint8_t>
TaggedDefaultsFormat::encode(const DefaultsValue::Dictionary& values) const {
    std::vector<std::uint8_t> out(std::begin(magic), std::end(magic));
    encodeValue(out, DefaultsValue(values));
    put64(out, fnv1a(out));
    return out;
}

} // namespace velmora
