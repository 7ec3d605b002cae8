#include "coding/BinaryPropertyList.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "platform/coding/PropertyListTestSupport.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using Code = KeyedArchiveError::Code;

SharedBytes bytesOf(std::string_view s) {
    return SharedBytes(std::vector<std::uint8_t>(s.begin(), s.end()));
}

PropertyListDictionary
dictionaryOf(std::initializer_list<std::pair<std::string, PropertyListObject>> entries) {
    PropertyListDictionary d;
    for (const auto& [k, v] : entries) {
        d.set(k, v);
    }
    return d;
}

const PropertyListObject& member(const PropertyListObject& o, std::string_view key) {
    const PropertyListObject* m = o.dictionary()->find(key);
    EXPECT_NE(m, nullptr) << key;
    static const PropertyListObject none;
    return m != nullptr ? *m : none;
}

std::optional<Code> errorCode(const KeyedUnarchiver& u) {
    if (!u.error()) {
        return std::nullopt;
    }
    try {
        std::rethrow_exception(u.error());
    } catch (const KeyedArchiveError& e) {
        return e.code();
    } catch (...) {
        return std::nullopt;
    }
}

TEST(KeyedArchiverTest, ObjectGraphsAndValuesRoundTrip) {
    const PropertyListObject graph = dictionaryOf({
        {"name", "Layer"},
        {"list", PropertyListArray{1, 2.5, true, "Layer", bytesOf("tiff"), PropertyListArray{}}},
        {"holes", PropertyListArray{PropertyListObject(), 3}},
        {"set", PropertyListSet{{"a", "b"}}},
        {"when", PropertyListDate{42.5}},
        {"empty", PropertyListDictionary()},
    });
    KeyedArchiver archiver;
    archiver.encode(true, "flag");
    archiver.encode(std::int64_t(-7), "count");
    archiver.encode(0.25, "ratio");
    archiver.encodeObject(graph, "graph");
    archiver.encodeObject(PropertyListObject(), "nothing");
    const auto data = archiver.encodedData();

    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
    EXPECT_TRUE(unarchiver.decodeBool("flag"));
    EXPECT_EQ(unarchiver.decodeInt64("count"), -7);
    EXPECT_EQ(unarchiver.decodeDouble("ratio"), 0.25);
    EXPECT_EQ(unarchiver.decodeInt64("missing"), 0);
    EXPECT_EQ(unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "graph"), graph);
    EXPECT_TRUE(unarchiver.containsValue("nothing"));
    EXPECT_EQ(unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "nothing"),
              std::nullopt);
    EXPECT_EQ(unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "missing"),
              std::nullopt);
    EXPECT_FALSE(unarchiver.error());
}

TEST(KeyedArchiverTest, WritesThePlatformsForm) {
    KeyedArchiver archiver;
    archiver.encodeObject(dictionaryOf({{"k", "v"}, {"k2", "v"}}), "root");
    archiver.encodeObject(PropertyListArray{"k"}, "list");
    const PropertyListObject& archive = archiver.archive();

    EXPECT_EQ(member(archive, "$archiver"), PropertyListObject("NSKeyedArchiver"));
    EXPECT_EQ(member(archive, "$version"), PropertyListObject(100000));
    const PropertyListArray& objects = *member(archive, "$objects").array();
    EXPECT_EQ(objects[0], PropertyListObject("$null"));
    const auto* rootUID = member(member(archive, "$top"), "root").uid();
    ASSERT_NE(rootUID, nullptr);
    const PropertyListObject& record = objects.at(rootUID->value);
    const PropertyListArray& keys = *member(record, "NS.keys").array();
    const PropertyListArray& values = *member(record, "NS.objects").array();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(objects.at(keys[0].uid()->value), PropertyListObject("k"));
    EXPECT_EQ(objects.at(keys[1].uid()->value), PropertyListObject("k2"));
    // Equal strings are one object.
    EXPECT_EQ(values[0], values[1]);
    const auto* listUID = member(member(archive, "$top"), "list").uid();
    EXPECT_EQ(member(objects.at(listUID->value), "NS.objects").array()->at(0), keys[0]);

    const PropertyListObject& classRecord = objects.at(member(record, "$class").uid()->value);
    EXPECT_EQ(member(classRecord, "$classname"), PropertyListObject("NSDictionary"));
    EXPECT_EQ(member(classRecord, "$classes"),
              PropertyListObject(PropertyListArray{"NSDictionary", "NSObject"}));
}

// Built from the format's rules: mutable and immutable collection classes,
// a string shared by several references, a date record and a string record.
PropertyListObject handBuiltArchive() {
    auto uid = [](std::uint64_t v) { return PropertyListObject(PropertyListUID{v}); };
    auto classRecord = [](std::vector<std::string> chain) {
        PropertyListArray classes;
        for (const auto& c : chain) {
            classes.push_back(c);
        }
        return dictionaryOf({{"$classes", classes}, {"$classname", chain.front()}});
    };
    PropertyListArray objects = {
        "$null",
        // 1: the root, a mutable dictionary
        dictionaryOf({{"NS.keys", PropertyListArray{uid(2), uid(3), uid(4), uid(11)}},
                      {"NS.objects", PropertyListArray{uid(5), uid(7), uid(8), uid(12)}},
                      {"$class", uid(6)}}),
        "shared",
        "list",
        "when",
        "shared",
        classRecord({"NSMutableDictionary", "NSDictionary", "NSObject"}),
        // 7: an immutable array of the shared string twice, a number and an inner array
        dictionaryOf({{"NS.objects", PropertyListArray{uid(2), uid(2), uid(9), uid(13)}},
                      {"$class", uid(10)}}),
        dictionaryOf({{"NS.time", 100.0}, {"$class", uid(14)}}),
        PropertyListInteger(17),
        classRecord({"NSArray", "NSObject"}),
        "text",
        dictionaryOf({{"NS.string", "mutable"}, {"$class", uid(15)}}),
        // 13: a mutable array holding an immutable dictionary
        dictionaryOf({{"NS.objects", PropertyListArray{uid(17)}}, {"$class", uid(16)}}),
        classRecord({"NSDate", "NSObject"}),
        classRecord({"NSMutableString", "NSString", "NSObject"}),
        classRecord({"NSMutableArray", "NSArray", "NSObject"}),
        dictionaryOf({{"NS.keys", PropertyListArray{uid(3)}},
                      {"NS.objects", PropertyListArray{uid(0)}},
                      {"$class", uid(18)}}),
        classRecord({"NSDictionary", "NSObject"}),
    };
    return dictionaryOf({{"$version", 100000},
                         {"$archiver", "NSKeyedArchiver"},
                         {"$top", dictionaryOf({{"root", uid(1)}})},
                         {"$objects", objects}});
}

TEST(KeyedArchiverTest, ReadsAHandBuiltArchive) {
    const auto bytes = BinaryPropertyList::encode(handBuiltArchive());
    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(bytes)};
    const auto root = unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "root");
    ASSERT_TRUE(root) << (unarchiver.error() ? "error" : "nothing");
    const PropertyListObject expected = dictionaryOf({
        {"shared", "shared"},
        {"list", PropertyListArray{"shared", "shared", 17,
                                   PropertyListArray{dictionaryOf({{"list", nullptr}})}}},
        {"when", PropertyListDate{100.0}},
        {"text", "mutable"},
    });
    EXPECT_EQ(*root, expected);
}

TEST(KeyedArchiverTest, SecureCodingAcceptsOnlyTheNamedClasses) {
    const auto bytes = BinaryPropertyList::encode(handBuiltArchive());
    struct Case {
        const char* name;
        std::vector<std::string_view> classes;
        bool decodes;
    };
    const Case cases[] = {
        {"all plist classes",
         {"NSDictionary", "NSArray", "NSString", "NSNumber", "NSDate", "NSNull"},
         true},
        {"NSObject", {"NSObject"}, true},
        {"mutable names accepted through their base",
         {"NSDictionary", "NSArray", "NSString", "NSNumber", "NSDate"},
         true},
        {"without dates", {"NSDictionary", "NSArray", "NSString", "NSNumber"}, false},
        {"without strings", {"NSDictionary", "NSArray", "NSNumber", "NSDate"}, false},
        {"a subclass does not admit its base",
         {"NSMutableDictionary", "NSArray", "NSString", "NSNumber", "NSDate"},
         false},
        {"nothing", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(bytes)};
        const auto root = unarchiver.decodeObject(c.classes, "root");
        EXPECT_EQ(root.has_value(), c.decodes);
        EXPECT_EQ(errorCode(unarchiver),
                  c.decodes ? std::nullopt : std::optional(Code::classNotAllowed));
    }
    KeyedUnarchiver insecure{std::span<const std::uint8_t>(bytes)};
    EXPECT_FALSE(insecure.decodeObject("root"));
    EXPECT_EQ(errorCode(insecure), Code::classNotAllowed);
    KeyedUnarchiver open{std::span<const std::uint8_t>(bytes)};
    open.setRequiresSecureCoding(false);
    EXPECT_TRUE(open.decodeObject("root"));
}

TEST(KeyedArchiverTest, AFailureIsKeptAndLaterDecodesAnswerNothing) {
    KeyedArchiver archiver;
    archiver.encodeObject(PropertyListArray{1}, "list");
    archiver.encodeObject("text", "text");
    archiver.encode(true, "flag");
    const auto data = archiver.encodedData();
    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
    EXPECT_FALSE(unarchiver.decodeObject({"NSString"}, "list"));
    EXPECT_EQ(errorCode(unarchiver), Code::classNotAllowed);
    EXPECT_FALSE(unarchiver.decodeObject({"NSString"}, "text"));
    EXPECT_FALSE(unarchiver.decodeBool("flag"));
    EXPECT_EQ(errorCode(unarchiver), Code::classNotAllowed);
}

TEST(KeyedArchiverTest, RefusedGraphLeavesTheArchiveUnchanged) {
    KeyedArchiver archiver;
    archiver.encodeObject(dictionaryOf({{"a", "x"}}), "good");
    const auto before = KeyedArchiver(archiver).encodedData();
    EXPECT_THROW(archiver.encodeObject(PropertyListArray{"new", PropertyListUID{1}}, "bad"),
                 KeyedArchiveError);
    EXPECT_EQ(archiver.encodedData(), before);
}

PropertyListObject archiveWith(PropertyListArray objects, PropertyListDictionary top) {
    return dictionaryOf({{"$version", 100000},
                         {"$archiver", "NSKeyedArchiver"},
                         {"$top", std::move(top)},
                         {"$objects", std::move(objects)}});
}

TEST(KeyedArchiverTest, RejectsArchivesThatBreakTheForm) {
    auto uid = [](std::uint64_t v) { return PropertyListObject(PropertyListUID{v}); };
    const PropertyListObject arrayClass =
        dictionaryOf({{"$classname", "NSArray"}, {"$classes", PropertyListArray{"NSArray"}}});
    const PropertyListObject dictClass = dictionaryOf({{"$classname", "NSDictionary"}});
    auto array = [&](PropertyListArray refs, std::uint64_t cls) {
        return PropertyListObject(dictionaryOf({{"NS.objects", refs}, {"$class", uid(cls)}}));
    };
    const auto rootTop = dictionaryOf({{"root", uid(1)}});

    // Open fails.
    struct OpenCase {
        const char* name;
        PropertyListObject archive;
    };
    const OpenCase openCases[] = {
        {"not a dictionary", PropertyListArray{}},
        {"\"$top\" missing", dictionaryOf({{"$version", 100000},
                                           {"$archiver", "NSKeyedArchiver"},
                                           {"$objects", PropertyListArray{"$null"}}})},
        {"\"$objects\" missing",
         dictionaryOf({{"$version", 100000}, {"$archiver", "NSKeyedArchiver"}, {"$top", rootTop}})},
        {"other archiver", dictionaryOf({{"$version", 100000},
                                         {"$archiver", "Other"},
                                         {"$top", rootTop},
                                         {"$objects", PropertyListArray{"$null"}}})},
        {"other version", dictionaryOf({{"$version", 5},
                                        {"$archiver", "NSKeyedArchiver"},
                                        {"$top", rootTop},
                                        {"$objects", PropertyListArray{"$null"}}})},
    };
    for (const auto& c : openCases) {
        SCOPED_TRACE(c.name);
        const auto bytes = BinaryPropertyList::encode(c.archive);
        try {
            KeyedUnarchiver{std::span<const std::uint8_t>(bytes)};
            ADD_FAILURE() << "opened";
        } catch (const KeyedArchiveError& e) {
            EXPECT_EQ(e.code(), Code::notAnArchive);
        }
    }
    const std::vector<std::uint8_t> garbage = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2};
    EXPECT_THROW(KeyedUnarchiver{std::span<const std::uint8_t>(garbage)}, KeyedArchiveError);

    // Open succeeds; decoding fails.
    PropertyListArray deep = {"$null"};
    for (std::uint64_t i = 1; i < 100000; ++i) {
        deep.push_back(array({uid(i + 1)}, 0));
    }
    deep.push_back(arrayClass);
    for (std::uint64_t i = 1; i < 100000; ++i) {
        (*deep[i].dictionary()).set("$class", uid(100000));
    }
    deep[99999] = array({}, 100000);
    PropertyListArray doubling = {"$null"};
    for (std::uint64_t i = 1; i <= 60; ++i) {
        doubling.push_back(array({uid(i + 1), uid(i + 1)}, 62));
    }
    doubling.push_back(1);
    doubling.push_back(arrayClass);

    struct DecodeCase {
        const char* name;
        PropertyListArray objects;
        PropertyListDictionary top;
        Code code;
    };
    const DecodeCase cases[] = {
        {"UID pointing at itself", {"$null", array({uid(1)}, 2), arrayClass}, rootTop, Code::cycle},
        {"UID out of range", {"$null", array({uid(9)}, 2), arrayClass}, rootTop, Code::corrupt},
        {"top UID out of range", {"$null"}, rootTop, Code::corrupt},
        {"top value not a UID", {"$null"}, dictionaryOf({{"root", 3}}), Code::corrupt},
        {"member not a UID", {"$null", array({"inline"}, 2), arrayClass}, rootTop, Code::corrupt},
        {"record without class",
         {"$null", dictionaryOf({{"NS.objects", PropertyListArray{}}})},
         rootTop,
         Code::corrupt},
        {"class record without name",
         {"$null", array({}, 2), dictionaryOf({{"$classes", PropertyListArray{"NSArray"}}})},
         rootTop,
         Code::corrupt},
        {"array without members",
         {"$null", dictionaryOf({{"$class", uid(2)}}), arrayClass},
         rootTop,
         Code::corrupt},
        {"keys and values differ in number",
         {"$null",
          dictionaryOf({{"NS.keys", PropertyListArray{uid(3)}},
                        {"NS.objects", PropertyListArray{}},
                        {"$class", uid(2)}}),
          dictClass, "k"},
         rootTop,
         Code::corrupt},
        {"key that is not a string",
         {"$null",
          dictionaryOf({{"NS.keys", PropertyListArray{uid(3)}},
                        {"NS.objects", PropertyListArray{uid(3)}},
                        {"$class", uid(2)}}),
          dictClass, 5},
         rootTop,
         Code::unsupportedClass},
        {"unknown class",
         {"$null", dictionaryOf({{"$class", uid(2)}}), dictionaryOf({{"$classname", "VLMThing"}})},
         rootTop,
         Code::classNotAllowed},
        {"array among the objects", {"$null", PropertyListArray{}}, rootTop, Code::corrupt},
        {"depth 100000", deep, rootTop, Code::nestingTooDeep},
        {"shared records doubling 60 times", doubling, rootTop, Code::tooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = BinaryPropertyList::encode(archiveWith(c.objects, c.top));
        KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(bytes)};
        EXPECT_FALSE(unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "root"));
        EXPECT_EQ(errorCode(unarchiver), c.code);
    }
}

TEST(KeyedArchiverTest, FileRoundTripSharesDataWithTheReadBuffer) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "archive.velmora";
    KeyedArchiver archiver;
    archiver.encodeObject(PropertyListArray{bytesOf(std::string(70000, 'p')), bytesOf("q")},
                          "patches");
    archiver.writeToFile(path);
    KeyedUnarchiver unarchiver = KeyedUnarchiver::readingFile(path);
    const auto patches = unarchiver.decodeObject({"NSArray", "NSData"}, "patches");
    ASSERT_TRUE(patches);
    const SharedBytes& first = *(*patches->array())[0].data();
    EXPECT_EQ(first.size(), 70000u);
    EXPECT_EQ(first.data()[69999], 'p');
}

} // namespace
} // namespace velmora
