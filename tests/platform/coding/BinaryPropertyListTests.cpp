#include "coding/AtomicFileWriter.hpp"
#include "coding/BinaryPropertyList.hpp"
#include "platform/coding/PropertyListTestSupport.hpp"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <sys/mman.h>

namespace velmora {
namespace {

using testing::RawPropertyList;
using Code = PropertyListError::Code;

SharedBytes bytesOf(std::string_view s) {
    return SharedBytes(std::vector<std::uint8_t>(s.begin(), s.end()));
}

PropertyListObject roundTrip(const PropertyListObject& o) {
    return BinaryPropertyList::decode(std::span<const std::uint8_t>(BinaryPropertyList::encode(o)));
}

PropertyListDictionary
dictionaryOf(std::initializer_list<std::pair<std::string, PropertyListObject>> entries) {
    PropertyListDictionary d;
    for (const auto& [k, v] : entries) {
        d.set(k, v);
    }
    return d;
}

TEST(BinaryPropertyListTest, ScalarsRoundTrip) {
    const PropertyListObject cases[] = {
        PropertyListObject(),
        true,
        false,
        0,
        255,
        256,
        65535,
        65536,
        std::int64_t(0xFFFFFFFF),
        std::int64_t(0x100000000),
        std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::int64_t>::min(),
        -1,
        PropertyListInteger::fromUnsigned(std::uint64_t(1) << 63),
        PropertyListInteger::fromUnsigned(std::numeric_limits<std::uint64_t>::max()),
        0.1,
        -0.0,
        std::numeric_limits<double>::infinity(),
        PropertyListReal{1.5f, true},
        PropertyListDate{-978307200.0},
        PropertyListDate{1e9 + 0.25},
        SharedBytes(),
        bytesOf("\x00\x01\x02"),
        bytesOf(std::string(1000, 'x')),
        "",
        "fourteen chars",
        "fifteen chars!!",
        "Grüße",
        "emoji \xF0\x9F\x8E\xA8 and more",
        PropertyListUID{0},
        PropertyListUID{255},
        PropertyListUID{256},
        PropertyListUID{std::uint64_t(1) << 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.kind()));
        const PropertyListObject back = roundTrip(c);
        EXPECT_EQ(back, c);
        EXPECT_EQ(back.kind(), c.kind());
    }
}

TEST(BinaryPropertyListTest, NaNRoundTripsAsNaN) {
    const PropertyListObject back = roundTrip(std::numeric_limits<double>::quiet_NaN());
    ASSERT_NE(back.real(), nullptr);
    EXPECT_TRUE(std::isnan(back.real()->value));
}

TEST(BinaryPropertyListTest, IntegerAccessorsKeepSignAndRange) {
    const PropertyListInteger big = PropertyListInteger::fromUnsigned(std::uint64_t(1) << 63);
    EXPECT_FALSE(big.int64Value());
    EXPECT_EQ(big.uint64Value(), std::uint64_t(1) << 63);
    const PropertyListInteger minusOne(-1);
    EXPECT_EQ(minusOne.int64Value(), -1);
    EXPECT_FALSE(minusOne.uint64Value());
    EXPECT_NE(PropertyListObject(big),
              PropertyListObject(std::numeric_limits<std::int64_t>::min()));
}

TEST(BinaryPropertyListTest, CollectionsRoundTrip) {
    PropertyListArray inner = {1, "two", PropertyListArray{}, PropertyListDictionary()};
    PropertyListDictionary d = dictionaryOf({
        {"array", inner},
        {"set", PropertyListSet{{1, 2, 3}}},
        {"nested", dictionaryOf({{"key", "value"}, {"n", PropertyListObject()}})},
        {"long", PropertyListArray(40, PropertyListObject("repeated"))},
        {"ünïcode key", bytesOf("data")},
    });
    const PropertyListObject back = roundTrip(d);
    EXPECT_EQ(back, PropertyListObject(d));
    // Insertion order is kept.
    std::vector<std::string> keys;
    for (const auto& e : back.dictionary()->entries()) {
        keys.push_back(e.key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"array", "set", "nested", "long", "ünïcode key"}));
}

// The layout of a small file, worked out by hand from the format's rules.
TEST(BinaryPropertyListTest, WritesTheFormatsLayout) {
    const auto bytes = BinaryPropertyList::encode(dictionaryOf({{"a", 1}, {"b", "a"}}));
    const std::vector<std::uint8_t> expected = {
        'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD2, 1, 2, 3, 1, // dict: keys "a", "b"; values
                                                                  // 1, "a" (uniqued)
        0x51, 'a',                                                // object 1 at 13
        0x51, 'b',                                                // object 2 at 15
        0x10, 0x01,                                               // object 3 at 17
        8, 13, 15, 17,                                            // offset table at 19
        0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 4,           // objects
        0, 0, 0, 0, 0, 0, 0, 0,                                   // top
        0, 0, 0, 0, 0, 0, 0, 19,                                  // offset table offset
    };
    EXPECT_EQ(bytes, expected);
}

TEST(BinaryPropertyListTest, EqualScalarsAreWrittenOnce) {
    PropertyListArray many(5000, PropertyListObject("the same text"));
    many.push_back(PropertyListUID{7});
    many.push_back(PropertyListUID{7});
    const auto bytes = BinaryPropertyList::encode(many);
    // Objects: the array, the string, the UID.
    EXPECT_EQ(bytes[bytes.size() - 32 + 15], 3);
    // 5002 references need two bytes each only past 256 objects; here one.
    EXPECT_EQ(bytes[bytes.size() - 32 + 7], 1);
}

TEST(BinaryPropertyListTest, ReferencesGrowPast256Objects) {
    PropertyListArray many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(i);
    }
    const auto bytes = BinaryPropertyList::encode(many);
    EXPECT_EQ(bytes[bytes.size() - 32 + 7], 2);
    EXPECT_EQ(BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes)),
              PropertyListObject(many));
}

// A sink that keeps only the bytes after a large data object, so a file past
// 4 GiB can be written without storing it.
class TailSink final : public ByteSink {
public:
    void write(std::span<const std::uint8_t> bytes) override {
        total += bytes.size();
        if (bytes.size() > (std::size_t(1) << 20)) {
            tail.clear();
            return;
        }
        tail.insert(tail.end(), bytes.begin(), bytes.end());
    }
    std::uint64_t total = 0;
    std::vector<std::uint8_t> tail;
};

TEST(BinaryPropertyListTest, FilesPast4GiBUseEightByteOffsets) {
    const std::size_t size = (std::size_t(1) << 32) + 16;
    // Untouched anonymous pages cost no memory; the writer hands them on unread.
    void* memory =
        ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    std::shared_ptr<const void> owner(
        memory, [size](const void* p) { ::munmap(const_cast<void*>(p), size); });
    const SharedBytes big(owner, {static_cast<const std::uint8_t*>(memory), size});
    TailSink sink;
    BinaryPropertyList::write(PropertyListArray{big, "after"}, sink);
    ASSERT_GE(sink.tail.size(), 32u);
    const std::uint8_t* trailer = sink.tail.data() + sink.tail.size() - 32;
    EXPECT_EQ(trailer[6], 8); // offset size
    EXPECT_GT(sink.total, size);
    // The last offset (of "after") lies past 4 GiB.
    std::uint64_t last = 0;
    for (int i = 0; i < 8; ++i) {
        last = (last << 8) | trailer[-8 + i];
    }
    EXPECT_GT(last, std::uint64_t(1) << 32);
}

TEST(BinaryPropertyListTest, ReadsEightByteOffsetsAndReferences) {
    RawPropertyList raw;
    raw.add({0xA2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2});
    raw.add(RawPropertyList::ascii("x"));
    raw.add({0x11, 0x01, 0x00});
    const auto bytes = raw.build(8, 8);
    EXPECT_EQ(BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes)),
              PropertyListObject(PropertyListArray{"x", 256}));
}

TEST(BinaryPropertyListTest, ReadsWhatOtherWritersMayProduce) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> object;
        PropertyListObject expected;
    };
    const Case cases[] = {
        {"16-byte negative integer",
         {0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
          0xFF, 0xFE},
         -2},
        {"16-byte small integer", {0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, 5},
        {"UTF-16 ASCII text", {0x62, 0, 'h', 0, 'i'}, "hi"},
        {"UTF-16 surrogate pair", {0x62, 0xD8, 0x3D, 0xDE, 0x00}, "\xF0\x9F\x98\x80"},
        {"length as a two-byte integer", {0x4F, 0x11, 0x00, 0x02, 7, 8}, bytesOf("\x07\x08")},
        {"three-byte UID", {0x82, 1, 2, 3}, PropertyListUID{0x010203}},
        {"float", {0x22, 0x3F, 0xC0, 0, 0}, PropertyListReal{1.5, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawPropertyList raw;
        raw.add(c.object);
        const auto bytes = raw.build();
        EXPECT_EQ(BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes)), c.expected);
    }
}

// A chain of `depth` arrays, each holding the next.
std::vector<std::uint8_t> nestedArrays(std::size_t depth) {
    RawPropertyList raw;
    for (std::size_t i = 0; i + 1 < depth; ++i) {
        std::vector<std::uint8_t> o = {0xA1};
        RawPropertyList::appendBigEndian(o, i + 1, 4);
        raw.add(o);
    }
    raw.add({0xA0});
    return raw.build(4, 4);
}

std::vector<std::uint8_t> withTrailerField(std::vector<std::uint8_t> bytes, std::size_t at,
                                           std::uint64_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) {
        bytes[bytes.size() - 32 + at + i] =
            static_cast<std::uint8_t>(value >> (8 * (size - 1 - i)));
    }
    return bytes;
}

TEST(BinaryPropertyListTest, RejectsDamagedInput) {
    RawPropertyList simple;
    simple.add(RawPropertyList::collection(0xA0, {1}));
    simple.add(RawPropertyList::ascii("x"));
    const auto good = simple.build();
    ASSERT_NO_THROW(BinaryPropertyList::decode(std::span<const std::uint8_t>(good)));

    auto build = [](std::initializer_list<std::vector<std::uint8_t>> objects) {
        RawPropertyList raw;
        for (const auto& o : objects) {
            raw.add(o);
        }
        return raw.build();
    };
    std::vector<std::uint8_t> hugeLength = {0x4F, 0x13};
    RawPropertyList::appendBigEndian(hugeLength, std::uint64_t(1) << 62, 8);
    std::vector<std::uint8_t> hugeArray = {0xAF, 0x13};
    RawPropertyList::appendBigEndian(hugeArray, std::uint64_t(1) << 62, 8);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Code code;
    };
    const Case cases[] = {
        {"empty", {}, Code::invalidHeader},
        {"other signature",
         {'b', 'p', 'l', 'i', 's', 't', '1', '5', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
          0,   0,   0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         Code::invalidHeader},
        {"truncated trailer", std::vector<std::uint8_t>(good.begin(), good.end() - 1),
         Code::invalidTrailer},
        {"only a header", {'b', 'p', 'l', 'i', 's', 't', '0', '0'}, Code::invalidTrailer},
        {"offset size 0", withTrailerField(good, 6, 0, 1), Code::invalidTrailer},
        {"reference size 9", withTrailerField(good, 7, 9, 1), Code::invalidTrailer},
        {"no objects", withTrailerField(good, 8, 0, 8), Code::invalidTrailer},
        {"object count past the table", withTrailerField(good, 8, 1000, 8), Code::invalidTrailer},
        {"object count overflowing", withTrailerField(good, 8, std::uint64_t(1) << 62, 8),
         Code::invalidTrailer},
        {"top object out of range", withTrailerField(good, 16, 2, 8), Code::invalidTrailer},
        {"offset table past the end", withTrailerField(good, 24, 1000, 8), Code::invalidTrailer},
        {"offset table in the header", withTrailerField(good, 24, 3, 8), Code::invalidTrailer},
        {"offset past the object area",
         [&] {
             auto b = good;
             b[b.size() - 32 - 1] = 200;
             return b;
         }(),
         Code::offsetOutOfRange},
        {"offset into the header",
         [&] {
             auto b = good;
             b[b.size() - 32 - 2] = 2;
             return b;
         }(),
         Code::offsetOutOfRange},
        {"reference out of range", build({RawPropertyList::collection(0xA0, {5})}),
         Code::referenceOutOfRange},
        {"array holding itself", build({RawPropertyList::collection(0xA0, {0})}), Code::cycle},
        {"indirect cycle",
         build({RawPropertyList::collection(0xA0, {1}), RawPropertyList::collection(0xD0, {2, 0}),
                RawPropertyList::ascii("k")}),
         Code::cycle},
        {"integer key", build({RawPropertyList::collection(0xD0, {1, 1}), {0x10, 0x01}}),
         Code::invalidKey},
        {"repeated key",
         build({RawPropertyList::collection(0xD0, {1, 1, 2, 2}),
                RawPropertyList::ascii("k"),
                {0x09}}),
         Code::invalidKey},
        {"data length 2^62", build({hugeLength}), Code::offsetOutOfRange},
        {"array count 2^62", build({hugeArray}), Code::offsetOutOfRange},
        {"data past the object area", build({{0x45, 1, 2}}), Code::offsetOutOfRange},
        {"negative length", build({{0x4F, 0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}),
         Code::invalidObject},
        {"length that is not an integer", build({{0x4F, 0x22, 0, 0, 0, 0}}), Code::invalidObject},
        {"unknown marker", build({{0x70}}), Code::invalidObject},
        {"fill byte", build({{0x0F}}), Code::invalidObject},
        {"32-byte integer", build({{0x15, 0}}), Code::invalidObject},
        {"integer beyond 64 bits", build({{0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}}),
         Code::tooLarge},
        {"16-byte UID", build({{0x8F, 0}}), Code::invalidObject},
        {"non-ASCII byte in an ASCII string", build({{0x51, 0xE9}}), Code::invalidString},
        {"unpaired high surrogate", build({{0x61, 0xD8, 0x00}}), Code::invalidString},
        {"unpaired low surrogate", build({{0x62, 0xDC, 0x00, 0, 'a'}}), Code::invalidString},
        {"depth 100000", nestedArrays(100000), Code::nestingTooDeep},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            BinaryPropertyList::decode(std::span<const std::uint8_t>(c.bytes));
            ADD_FAILURE() << "decoded";
        } catch (const PropertyListError& e) {
            EXPECT_EQ(e.code(), c.code) << e.what();
        }
    }
}

TEST(BinaryPropertyListTest, NestingUpToTheLimitReads) {
    const auto bytes = nestedArrays(BinaryPropertyList::maximumDepth + 1);
    EXPECT_NO_THROW(BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes)));
}

TEST(BinaryPropertyListTest, SharedCollectionsCannotExpandWithoutBound) {
    // Ten levels of arrays, each holding the level below 200 times: 200^10 nodes.
    RawPropertyList raw;
    for (std::uint8_t level = 0; level < 10; ++level) {
        std::vector<std::uint8_t> o = {0xAF, 0x10, 200};
        o.insert(o.end(), 200, static_cast<std::uint8_t>(level + 1));
        raw.add(o);
    }
    raw.add({0x09});
    const auto bytes = raw.build(2);
    try {
        BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes));
        ADD_FAILURE() << "decoded";
    } catch (const PropertyListError& e) {
        EXPECT_EQ(e.code(), Code::tooLarge);
    }
}

TEST(BinaryPropertyListTest, EveryTruncationAndByteFlipFailsCleanly) {
    const PropertyListObject sample = dictionaryOf({
        {"list", PropertyListArray{1, -5, 2.5, "text", "tëxt", PropertyListUID{3}}},
        {"data", bytesOf("0123456789abcdefghij")},
        {"date", PropertyListDate{12.0}},
        {"set", PropertyListSet{{true, false}}},
    });
    const auto bytes = BinaryPropertyList::encode(sample);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        EXPECT_THROW(BinaryPropertyList::decode(std::span<const std::uint8_t>(bytes.data(), n)),
                     PropertyListError);
    }
    // A flipped byte either still decodes or fails with an error value.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
            auto damaged = bytes;
            damaged[i] ^= flip;
            try {
                BinaryPropertyList::decode(std::span<const std::uint8_t>(damaged));
            } catch (const PropertyListError&) {
            }
        }
    }
}

TEST(BinaryPropertyListTest, WriterRefusesWhatItCannotWrite) {
    PropertyListObject deep = PropertyListArray{};
    for (std::size_t i = 0; i < BinaryPropertyList::maximumDepth + 1; ++i) {
        deep = PropertyListArray{std::move(deep)};
    }
    try {
        BinaryPropertyList::encode(deep);
        ADD_FAILURE() << "encoded";
    } catch (const PropertyListError& e) {
        EXPECT_EQ(e.code(), Code::nestingTooDeep);
    }
    for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
        SCOPED_TRACE(bad);
        try {
            BinaryPropertyList::encode(PropertyListArray{std::string(bad)});
            ADD_FAILURE() << "encoded";
        } catch (const PropertyListError& e) {
            EXPECT_EQ(e.code(), Code::invalidString);
        }
    }
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(BinaryPropertyListTest, FilesRoundTripAndDataSharesTheReadBuffer) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "list.plist";
    const PropertyListObject value =
        PropertyListArray{bytesOf(std::string(100000, 'a')), bytesOf("bc"), "text"};
    BinaryPropertyList::writeFile(value, path);
    EXPECT_EQ(fileBytes(path), BinaryPropertyList::encode(value));
    const PropertyListObject back = BinaryPropertyList::readFile(path);
    EXPECT_EQ(back, value);
    // Both data objects point into one buffer, not into copies.
    const auto& a = *(*back.array())[0].data();
    const auto& b = *(*back.array())[1].data();
    EXPECT_EQ(a.data() + a.size() + 1, b.data());
}

TEST(BinaryPropertyListTest, FailedWriteKeepsTheOldFile) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "list.plist";
    BinaryPropertyList::writeFile(PropertyListArray{"old"}, path);
    const auto before = fileBytes(path);
    // The invalid string is met after the data has been streamed.
    EXPECT_THROW(BinaryPropertyList::writeFile(
                     PropertyListArray{bytesOf(std::string(200000, 'z')), "\xFF"}, path),
                 PropertyListError);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
}

TEST(BinaryPropertyListTest, FileErrorsAreErrorValues) {
    testing::TemporaryFolder folder;
    struct Case {
        const char* name;
        std::function<void()> action;
    };
    const Case cases[] = {
        {"missing file", [&] { BinaryPropertyList::readFile(folder.path() / "none"); }},
        {"folder", [&] { BinaryPropertyList::readFile(folder.path()); }},
        {"missing folder",
         [&] { BinaryPropertyList::writeFile(1, folder.path() / "none" / "x.plist"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.action();
            ADD_FAILURE() << "succeeded";
        } catch (const PropertyListError& e) {
            EXPECT_EQ(e.code(), Code::fileError);
        }
    }
}


// Stand-ins replaced as the writing reaches them give the bytes of a tree
// that held the real data, whatever their sizes (header forms, offsets).
TEST(BinaryPropertyListTest, DataGivenAsTheWritingReachesItWritesTheSameBytes) {
    const std::vector<std::vector<std::uint8_t>> real = {
        {}, {1, 2, 3}, std::vector<std::uint8_t>(300, 7), std::vector<std::uint8_t>(70000, 9)};
    PropertyListArray held, standing;
    std::vector<SharedBytes> standIns;
    for (std::size_t i = 0; i < real.size(); ++i) {
        held.push_back(SharedBytes(real[i]));
        const std::uint8_t mark = std::uint8_t(i);
        standIns.push_back(SharedBytes::copy({&mark, 1}));
        standing.push_back(standIns.back());
    }
    PropertyListDictionary withReal, withStandIns;
    withReal.append("before", "text");
    withReal.append("data", std::move(held));
    withStandIns.append("before", "text");
    withStandIns.append("data", std::move(standing));
    std::vector<SharedBytes> given;
    for (const auto& bytes : real) {
        given.push_back(SharedBytes(bytes));
    }
    int asked = 0;
    MemoryByteSink sink;
    BinaryPropertyList::write(PropertyListObject(std::move(withStandIns)), sink,
                              [&](const SharedBytes& bytes) -> const SharedBytes& {
                                  ++asked;
                                  for (std::size_t i = 0; i < standIns.size(); ++i) {
                                      if (bytes.data() == standIns[i].data()) {
                                          return given[i];
                                      }
                                  }
                                  return bytes;
                              });
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(sink.bytes(), BinaryPropertyList::encode(PropertyListObject(std::move(withReal))));
}

} // namespace
} // namespace velmora
