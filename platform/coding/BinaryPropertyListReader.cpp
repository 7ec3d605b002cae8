#include "coding/BinaryPropertyList.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

using Code = PropertyListError::Code;

constexpr std::uint8_t signature[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
constexpr std::size_t headerSize = sizeof(signature);
constexpr std::size_t trailerSize = 32;

[[noreturn]] void fail(Code code, const std::string& message) {
    throw PropertyListError(code, message);
}

std::uint64_t readBigEndian(const std::uint8_t* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

void appendUTF8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

class Reader {
public:
    // Data objects are views of `whole` when given, else copies.
    Reader(std::span<const std::uint8_t> bytes, const SharedBytes* whole)
        : bytes_(bytes), whole_(whole) {}

    PropertyListObject run() {
        readTrailer();
        // Value semantics expand objects that are referenced more than once; these
        // budgets keep a small hostile file from expanding without bound.
        nodeBudget_ = 2 * static_cast<std::uint64_t>(bytes_.size()) + 1024;
        textBudget_ = 64 * static_cast<std::uint64_t>(bytes_.size()) + (std::uint64_t(1) << 20);
        inProgress_.assign(objectCount_, false);
        return readObject(topObject_, 0);
    }

private:
    void readTrailer() {
        if (bytes_.size() < headerSize + 1 + 1 + trailerSize) {
            if (bytes_.size() >= headerSize &&
                std::memcmp(bytes_.data(), signature, headerSize) == 0) {
                fail(Code::invalidTrailer, "The property list is truncated");
            }
            fail(Code::invalidHeader, "The data is not a binary property list");
        }
        if (std::memcmp(bytes_.data(), signature, headerSize) != 0) {
            fail(Code::invalidHeader, "The data is not a binary property list");
        }
        const std::uint8_t* t = bytes_.data() + bytes_.size() - trailerSize;
        offsetSize_ = t[6];
        refSize_ = t[7];
        objectCount_ = readBigEndian(t + 8, 8);
        topObject_ = readBigEndian(t + 16, 8);
        tableOffset_ = readBigEndian(t + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) {
            fail(Code::invalidTrailer, "The property list's trailer has invalid integer sizes");
        }
        if (objectCount_ < 1 || topObject_ >= objectCount_) {
            fail(Code::invalidTrailer, "The property list's trailer has an invalid object count");
        }
        const std::uint64_t tableEnd = bytes_.size() - trailerSize;
        std::uint64_t tableSize;
        if (tableOffset_ <= headerSize || tableOffset_ > tableEnd ||
            __builtin_mul_overflow(objectCount_, offsetSize_, &tableSize) ||
            tableSize > tableEnd - tableOffset_) {
            fail(Code::invalidTrailer, "The property list's offset table does not fit in the file");
        }
    }

    std::uint64_t offsetOf(std::uint64_t index) const {
        const std::uint64_t offset =
            readBigEndian(bytes_.data() + tableOffset_ + index * offsetSize_, offsetSize_);
        if (offset < headerSize || offset >= tableOffset_) {
            fail(Code::offsetOutOfRange, "Object " + std::to_string(index) +
                                             " lies outside the property list's object area");
        }
        return offset;
    }

    // Bytes [offset, offset + size) must lie in the object area.
    void require(std::uint64_t offset, std::uint64_t size) const {
        if (offset > tableOffset_ || size > tableOffset_ - offset) {
            fail(Code::offsetOutOfRange,
                 "An object of the property list runs past the end of its object area");
        }
    }

    // The count that follows a marker: its low nibble, or an integer object after it.
    std::uint64_t readCount(std::uint8_t marker, std::uint64_t& p) const {
        const std::uint8_t nibble = marker & 0x0F;
        if (nibble != 0x0F) {
            return nibble;
        }
        require(p, 1);
        const std::uint8_t intMarker = bytes_[p];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) {
            fail(Code::invalidObject, "A length field of the property list is not an integer");
        }
        const std::size_t n = std::size_t(1) << (intMarker & 0x0F);
        require(p + 1, n);
        const std::uint64_t count = readBigEndian(bytes_.data() + p + 1, n);
        if (n == 8 && static_cast<std::int64_t>(count) < 0) {
            fail(Code::invalidObject, "A length field of the property list is negative");
        }
        p += 1 + n;
        return count;
    }

    // The byte size of `count` units, which must fit before the offset table.
    std::uint64_t span(std::uint64_t p, std::uint64_t count, std::uint64_t unit) const {
        std::uint64_t size;
        if (__builtin_mul_overflow(count, unit, &size)) {
            fail(Code::offsetOutOfRange, "A length field of the property list is too large");
        }
        require(p, size);
        return size;
    }

    void spend(std::uint64_t nodes, std::uint64_t text) {
        if (nodes > nodeBudget_ || text > textBudget_) {
            fail(Code::tooLarge, "The property list expands to too many objects");
        }
        nodeBudget_ -= nodes;
        textBudget_ -= text;
    }

    std::uint64_t readRef(std::uint64_t p) const {
        const std::uint64_t ref = readBigEndian(bytes_.data() + p, refSize_);
        if (ref >= objectCount_) {
            fail(Code::referenceOutOfRange,
                 "An object reference of the property list names no object");
        }
        return ref;
    }

    PropertyListObject readObject(std::uint64_t index, std::size_t depth) {
        if (depth > BinaryPropertyList::maximumDepth) {
            fail(Code::nestingTooDeep, "The property list is nested too deeply");
        }
        if (inProgress_[index]) {
            fail(Code::cycle, "The property list contains an object that contains itself");
        }
        spend(1, 0);
        std::uint64_t p = offsetOf(index);
        const std::uint8_t marker = bytes_[p++];
        const std::uint8_t nibble = marker & 0x0F;
        switch (marker >> 4) {
        case 0x0:
            if (marker == 0x00) {
                return PropertyListObject();
            }
            if (marker == 0x08 || marker == 0x09) {
                return PropertyListObject(marker == 0x09);
            }
            break;
        case 0x1:
            return readInteger(nibble, p);
        case 0x2:
            if (nibble == 2) {
                require(p, 4);
                const auto bits = static_cast<std::uint32_t>(readBigEndian(bytes_.data() + p, 4));
                return PropertyListReal{std::bit_cast<float>(bits), true};
            }
            if (nibble == 3) {
                require(p, 8);
                return PropertyListReal{std::bit_cast<double>(readBigEndian(bytes_.data() + p, 8)),
                                        false};
            }
            break;
        case 0x3:
            if (nibble == 3) {
                require(p, 8);
                return PropertyListDate{std::bit_cast<double>(readBigEndian(bytes_.data() + p, 8))};
            }
            break;
        case 0x4: {
            const std::uint64_t count = readCount(marker, p);
            span(p, count, 1);
            const std::span<const std::uint8_t> bytes = bytes_.subspan(p, count);
            return whole_ ? whole_->view(bytes) : SharedBytes::copy(bytes);
        }
        case 0x5:
        case 0x6:
            return readString(marker, p);
        case 0x8:
            if (nibble < 8) {
                require(p, nibble + 1u);
                return PropertyListUID{readBigEndian(bytes_.data() + p, nibble + 1u)};
            }
            break;
        case 0xA:
        case 0xC:
        case 0xD:
            return readCollection(index, marker, p, depth);
        default:
            break;
        }
        fail(Code::invalidObject, "The property list holds an object of unknown type");
    }

    PropertyListObject readInteger(std::uint8_t nibble, std::uint64_t p) const {
        if (nibble > 4) {
            fail(Code::invalidObject, "The property list holds an integer of invalid size");
        }
        const std::size_t n = std::size_t(1) << nibble;
        require(p, n);
        if (n < 8) {
            return PropertyListInteger(
                static_cast<std::int64_t>(readBigEndian(bytes_.data() + p, n)));
        }
        if (n == 8) {
            return PropertyListInteger(
                static_cast<std::int64_t>(readBigEndian(bytes_.data() + p, 8)));
        }
        const std::uint64_t high = readBigEndian(bytes_.data() + p, 8);
        const std::uint64_t low = readBigEndian(bytes_.data() + p + 8, 8);
        if (high == 0) {
            return PropertyListInteger::fromUnsigned(low);
        }
        if (high == ~std::uint64_t(0) && static_cast<std::int64_t>(low) < 0) {
            return PropertyListInteger(static_cast<std::int64_t>(low));
        }
        fail(Code::tooLarge, "The property list holds an integer beyond 64 bits");
    }

    PropertyListObject readString(std::uint8_t marker, std::uint64_t p) {
        const bool ascii = (marker >> 4) == 0x5;
        const std::uint64_t count = readCount(marker, p);
        const std::uint64_t size = span(p, count, ascii ? 1 : 2);
        const std::uint8_t* s = bytes_.data() + p;
        if (ascii) {
            spend(0, size);
            if (std::any_of(s, s + size, [](std::uint8_t c) { return c >= 0x80; })) {
                fail(Code::invalidString, "An ASCII string of the property list holds other bytes");
            }
            return std::string(reinterpret_cast<const char*>(s), size);
        }
        // UTF-8 takes at most 3 bytes per UTF-16 unit.
        spend(0, 3 * count);
        std::string out;
        out.reserve(count);
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint32_t unit = static_cast<std::uint32_t>(readBigEndian(s + 2 * i, 2));
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
                const auto low = static_cast<std::uint32_t>(readBigEndian(s + 2 * (i + 1), 2));
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    appendUTF8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                    ++i;
                    continue;
                }
            }
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                fail(Code::invalidString,
                     "A UTF-16 string of the property list holds an unpaired surrogate");
            }
            appendUTF8(out, unit);
        }
        return out;
    }

    PropertyListObject readCollection(std::uint64_t index, std::uint8_t marker, std::uint64_t p,
                                      std::size_t depth) {
        const std::uint8_t type = marker >> 4;
        const std::uint64_t count = readCount(marker, p);
        span(p, count, type == 0xD ? 2 * refSize_ : refSize_);
        // Every element costs at least one node, so the budget caps the allocation.
        if (count > nodeBudget_) {
            fail(Code::tooLarge, "The property list expands to too many objects");
        }
        inProgress_[index] = true;
        PropertyListObject result;
        if (type == 0xD) {
            PropertyListDictionary dictionary;
            dictionary.reserve(count);
            for (std::uint64_t i = 0; i < count; ++i) {
                const std::uint64_t keyRef = readRef(p + i * refSize_);
                const std::uint64_t valueRef = readRef(p + (count + i) * refSize_);
                const std::uint8_t keyMarker = bytes_[offsetOf(keyRef)] >> 4;
                if (keyMarker != 0x5 && keyMarker != 0x6) {
                    fail(Code::invalidKey, "A dictionary key of the property list is not a string");
                }
                PropertyListObject key = readObject(keyRef, depth + 1);
                dictionary.append(std::move(*key.string()), readObject(valueRef, depth + 1));
            }
            rejectRepeatedKeys(dictionary);
            result = std::move(dictionary);
        } else {
            std::vector<PropertyListObject> elements;
            elements.reserve(count);
            for (std::uint64_t i = 0; i < count; ++i) {
                elements.push_back(readObject(readRef(p + i * refSize_), depth + 1));
            }
            if (type == 0xA) {
                result = std::move(elements);
            } else {
                result = PropertyListSet{std::move(elements)};
            }
        }
        inProgress_[index] = false;
        return result;
    }

    static void rejectRepeatedKeys(const PropertyListDictionary& dictionary) {
        const auto& entries = dictionary.entries();
        if (entries.size() < 2) {
            return;
        }
        std::vector<std::string_view> keys;
        keys.reserve(entries.size());
        for (const auto& e : entries) {
            keys.push_back(e.key);
        }
        std::sort(keys.begin(), keys.end());
        if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) {
            fail(Code::invalidKey, "A dictionary of the property list repeats a key");
        }
    }

    std::span<const std::uint8_t> bytes_;
    const SharedBytes* whole_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t topObject_ = 0;
    std::uint64_t tableOffset_ = 0;
    std::uint64_t nodeBudget_ = 0;
    std::uint64_t textBudget_ = 0;
    std::vector<bool> inProgress_;
};

} // namespace

bool BinaryPropertyList::hasSignature(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= headerSize && std::memcmp(bytes.data(), signature, headerSize) == 0;
}

PropertyListObject BinaryPropertyList::decode(std::span<const std::uint8_t> bytes) {
    return Reader(bytes, nullptr).run();
}

PropertyListObject BinaryPropertyList::decode(const SharedBytes& bytes) {
    // An owner-less view (empty bytes) still decodes, copying nothing.
    return Reader(bytes.span(), &bytes).run();
}

PropertyListObject BinaryPropertyList::readFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fail(Code::fileError, "Cannot open \"" + path.string() + "\": " + std::strerror(errno));
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        fail(Code::fileError, "Cannot read \"" + path.string() + "\": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        fail(Code::fileError, "\"" + path.string() + "\" is not a regular file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    auto buffer = std::make_shared_for_overwrite<std::uint8_t[]>(size);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t chunk = std::min(size - done, std::size_t(1) << 30);
        const ssize_t n = ::read(fd, buffer.get() + done, chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail(Code::fileError, "Cannot read \"" + path.string() + "\": " + std::strerror(errno));
        }
        if (n == 0) {
            fail(Code::fileError, "\"" + path.string() + "\" was shortened while being read");
        }
        done += static_cast<std::size_t>(n);
    }
    const std::span<const std::uint8_t> bytes(buffer.get(), size);
    const SharedBytes whole(std::shared_ptr<const void>(buffer, buffer.get()), bytes);
    return Reader(bytes, &whole).run();
}

} // namespace velmora
