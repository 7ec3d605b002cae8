#include "coding/AtomicFileWriter.hpp"
#include "coding/BinaryPropertyList.hpp"

#include <bit>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace velmora {

namespace {

using Kind = PropertyListObject::Kind;

constexpr std::size_t bufferSize = std::size_t(64) << 10;

unsigned bytesFor(std::uint64_t v) {
    if (v <= 0xFF) {
        return 1;
    }
    if (v <= 0xFFFF) {
        return 2;
    }
    if (v <= 0xFFFFFFFF) {
        return 4;
    }
    return 8;
}

// Identity of a scalar for uniquing: equal scalars are written once.
struct ScalarKey {
    Kind kind;
    std::uint64_t bits;
    bool flag;
    std::string_view text;
    bool operator==(const ScalarKey&) const = default;
};

struct ScalarKeyHash {
    std::size_t operator()(const ScalarKey& k) const {
        std::size_t h = std::hash<std::string_view>()(k.text);
        h ^= std::hash<std::uint64_t>()(k.bits) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        return h ^ (static_cast<std::size_t>(k.kind) << 1) ^ static_cast<std::size_t>(k.flag);
    }
};

// One object to write: a node of the tree or a dictionary key.
struct Item {
    const PropertyListObject* object;
    const std::string* key;
    std::size_t firstRef; // into Writer::refs_, for collections
};

std::size_t utf16Length(std::string_view s) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<std::uint8_t>(s[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            n = 1;
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07;
        } else {
            throw PropertyListError(PropertyListError::Code::invalidString,
                                    "A string to write is not valid UTF-8");
        }
        if (i + n > s.size()) {
            throw PropertyListError(PropertyListError::Code::invalidString,
                                    "A string to write is not valid UTF-8");
        }
        for (std::size_t k = 1; k < n; ++k) {
            const auto cc = static_cast<std::uint8_t>(s[i + k]);
            if ((cc & 0xC0) != 0x80) {
                throw PropertyListError(PropertyListError::Code::invalidString,
                                        "A string to write is not valid UTF-8");
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        const bool overlong =
            (n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            throw PropertyListError(PropertyListError::Code::invalidString,
                                    "A string to write is not valid UTF-8");
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += n;
    }
    return units;
}

bool isASCII(std::string_view s) {
    for (char c : s) {
        if (static_cast<std::uint8_t>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

class Writer {
public:
    Writer(ByteSink& sink, const BinaryPropertyList::DataResolver* resolve)
        : sink_(sink), resolve_(resolve) {
        buffer_.reserve(bufferSize);
    }

    void run(const PropertyListObject& root) {
        flatten(root, 0);
        const std::uint64_t count = items_.size();
        refSize_ = bytesFor(count - 1);

        static constexpr std::uint8_t magic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        put(magic);
        std::vector<std::uint64_t> offsets(items_.size());
        for (std::size_t i = 0; i < items_.size(); ++i) {
            offsets[i] = position_;
            writeItem(items_[i]);
        }
        const std::uint64_t tableOffset = position_;
        const unsigned offsetSize = bytesFor(offsets.empty() ? 0 : offsets.back());
        for (std::uint64_t o : offsets) {
            putBigEndian(o, offsetSize);
        }
        const std::uint8_t pad[6] = {};
        put(pad);
        putByte(static_cast<std::uint8_t>(offsetSize));
        putByte(static_cast<std::uint8_t>(refSize_));
        putBigEndian(count, 8);
        putBigEndian(0, 8); // the root is object 0
        putBigEndian(tableOffset, 8);
        flush();
    }

private:
    std::uint64_t flatten(const PropertyListObject& o, std::size_t depth) {
        if (depth > BinaryPropertyList::maximumDepth) {
            throw PropertyListError(PropertyListError::Code::nestingTooDeep,
                                    "The property list is nested too deeply to be written");
        }
        if (auto key = scalarKey(o)) {
            return unique(*key, Item{&o, nullptr, 0});
        }
        const std::uint64_t index = items_.size();
        items_.push_back(Item{&o, nullptr, refs_.size()});
        if (const auto* a = o.array()) {
            fillRefs(*a, depth);
        } else if (const auto* s = o.set()) {
            fillRefs(s->elements, depth);
        } else if (const auto* d = o.dictionary()) {
            const std::size_t first = refs_.size();
            const std::size_t n = d->size();
            refs_.resize(first + 2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                const std::string& key = d->entries()[i].key;
                refs_[first + i] =
                    unique(ScalarKey{Kind::string, 0, false, key}, Item{nullptr, &key, 0});
            }
            for (std::size_t i = 0; i < n; ++i) {
                refs_[first + n + i] = flatten(d->entries()[i].value, depth + 1);
            }
        }
        return index;
    }

    void fillRefs(const std::vector<PropertyListObject>& elements, std::size_t depth) {
        const std::size_t first = refs_.size();
        refs_.resize(first + elements.size());
        for (std::size_t i = 0; i < elements.size(); ++i) {
            refs_[first + i] = flatten(elements[i], depth + 1);
        }
    }

    static std::optional<ScalarKey> scalarKey(const PropertyListObject& o) {
        switch (o.kind()) {
        case Kind::null:
            return ScalarKey{Kind::null, 0, false, {}};
        case Kind::boolean:
            return ScalarKey{Kind::boolean, *o.boolean() ? 1u : 0u, false, {}};
        case Kind::integer:
            return ScalarKey{
                Kind::integer, o.integer()->bits(), o.integer()->isLargeUnsigned(), {}};
        case Kind::real:
            return ScalarKey{Kind::real,
                             std::bit_cast<std::uint64_t>(o.real()->value),
                             o.real()->isSinglePrecision,
                             {}};
        case Kind::date:
            return ScalarKey{Kind::date,
                             std::bit_cast<std::uint64_t>(o.date()->secondsSinceReferenceDate),
                             false,
                             {}};
        case Kind::string:
            return ScalarKey{Kind::string, 0, false, *o.string()};
        case Kind::uid:
            return ScalarKey{Kind::uid, o.uid()->value, false, {}};
        case Kind::data: // large; hashing it would cost a pass over the bytes
        case Kind::array:
        case Kind::set:
        case Kind::dictionary:
            return std::nullopt;
        }
        return std::nullopt;
    }

    std::uint64_t unique(const ScalarKey& key, const Item& item) {
        auto [it, inserted] = uniqued_.try_emplace(key, items_.size());
        if (inserted) {
            items_.push_back(item);
        }
        return it->second;
    }

    void writeItem(const Item& item) {
        if (item.key != nullptr) {
            writeString(*item.key);
            return;
        }
        const PropertyListObject& o = *item.object;
        switch (o.kind()) {
        case Kind::null:
            putByte(0x00);
            break;
        case Kind::boolean:
            putByte(*o.boolean() ? 0x09 : 0x08);
            break;
        case Kind::integer:
            writeInteger(*o.integer());
            break;
        case Kind::real:
            if (o.real()->isSinglePrecision) {
                putByte(0x22);
                putBigEndian(std::bit_cast<std::uint32_t>(static_cast<float>(o.real()->value)), 4);
            } else {
                putByte(0x23);
                putBigEndian(std::bit_cast<std::uint64_t>(o.real()->value), 8);
            }
            break;
        case Kind::date:
            putByte(0x33);
            putBigEndian(std::bit_cast<std::uint64_t>(o.date()->secondsSinceReferenceDate), 8);
            break;
        case Kind::data: {
            const SharedBytes& d = resolve_ != nullptr ? (*resolve_)(*o.data()) : *o.data();
            putHeader(0x40, d.size());
            putShared(d);
            break;
        }
        case Kind::string:
            writeString(*o.string());
            break;
        case Kind::uid: {
            const unsigned n = bytesFor(o.uid()->value);
            putByte(static_cast<std::uint8_t>(0x80 | (n - 1)));
            putBigEndian(o.uid()->value, n);
            break;
        }
        case Kind::array:
            writeRefs(0xA0, item.firstRef, o.array()->size(), o.array()->size());
            break;
        case Kind::set:
            writeRefs(0xC0, item.firstRef, o.set()->elements.size(), o.set()->elements.size());
            break;
        case Kind::dictionary:
            writeRefs(0xD0, item.firstRef, o.dictionary()->size(), 2 * o.dictionary()->size());
            break;
        }
    }

    void writeRefs(std::uint8_t marker, std::size_t first, std::size_t count, std::size_t refs) {
        putHeader(marker, count);
        for (std::size_t i = 0; i < refs; ++i) {
            putBigEndian(refs_[first + i], refSize_);
        }
    }

    void writeInteger(const PropertyListInteger& v) {
        if (v.isLargeUnsigned()) {
            // Unsigned values beyond int64 take the 16-byte form.
            putByte(0x14);
            putBigEndian(0, 8);
            putBigEndian(v.bits(), 8);
        } else if (v.isNegative()) {
            putByte(0x13);
            putBigEndian(v.bits(), 8);
        } else {
            const unsigned n = bytesFor(v.bits());
            putByte(static_cast<std::uint8_t>(0x10 | std::countr_zero(n)));
            putBigEndian(v.bits(), n);
        }
    }

    void writeString(const std::string& s) {
        if (isASCII(s)) {
            putHeader(0x50, s.size());
            put({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
            return;
        }
        putHeader(0x60, utf16Length(s)); // validates
        std::size_t i = 0;
        while (i < s.size()) {
            const auto c = static_cast<std::uint8_t>(s[i]);
            const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
            for (std::size_t k = 1; k < n; ++k) {
                cp = (cp << 6) | (static_cast<std::uint8_t>(s[i + k]) & 0x3F);
            }
            if (cp >= 0x10000) {
                cp -= 0x10000;
                putBigEndian(0xD800 + (cp >> 10), 2);
                putBigEndian(0xDC00 + (cp & 0x3FF), 2);
            } else {
                putBigEndian(cp, 2);
            }
            i += n;
        }
    }

    void putHeader(std::uint8_t marker, std::uint64_t count) {
        if (count < 15) {
            putByte(static_cast<std::uint8_t>(marker | count));
        } else {
            putByte(static_cast<std::uint8_t>(marker | 0x0F));
            writeInteger(PropertyListInteger::fromUnsigned(count));
        }
    }

    void putByte(std::uint8_t b) {
        if (buffer_.size() == bufferSize) {
            flush();
        }
        buffer_.push_back(b);
        ++position_;
    }

    void putBigEndian(std::uint64_t v, unsigned n) {
        std::uint8_t bytes[8];
        for (unsigned i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - i)));
        }
        put({bytes, n});
    }

    void put(std::span<const std::uint8_t> bytes) {
        if (bytes.size() >= bufferSize) {
            // Large blocks go straight to the sink instead of through the buffer.
            flush();
            sink_.write(bytes);
        } else {
            if (buffer_.size() + bytes.size() > bufferSize) {
                flush();
            }
            buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        }
        position_ += bytes.size();
    }

    void putShared(const SharedBytes& bytes) {
        if (bytes.size() < bufferSize) {
            put(bytes.span());
            return;
        }
        flush();
        sink_.writeShared(bytes);
        position_ += bytes.size();
    }

    void flush() {
        if (!buffer_.empty()) {
            sink_.write(buffer_);
            buffer_.clear();
        }
    }

    ByteSink& sink_;
    const BinaryPropertyList::DataResolver* resolve_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t position_ = 0;
    std::vector<Item> items_;
    std::vector<std::uint64_t> refs_;
    std::unordered_map<ScalarKey, std::uint64_t, ScalarKeyHash> uniqued_;
    unsigned refSize_ = 1;
};

} // namespace

void BinaryPropertyList::write(const PropertyListObject& root, ByteSink& sink) {
    Writer(sink, nullptr).run(root);
}

void BinaryPropertyList::write(const PropertyListObject& root, ByteSink& sink,
                               const DataResolver& resolve) {
    Writer(sink, &resolve).run(root);
}

std::vector<std::uint8_t> BinaryPropertyList::encode(const PropertyListObject& root) {
    MemoryByteSink sink;
    write(root, sink);
    return std::move(sink.bytes());
}

void BinaryPropertyList::writeFile(const PropertyListObject& root,
                                   const std::filesystem::path& path) {
    AtomicFileWriter file(path);
    write(root, file);
    file.commit();
}

} // namespace velmora
