#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

PropertyListDictionary colourFields() {
    PropertyListDictionary fields;
    fields.append("NSColorSpace", std::int64_t(2));
    fields.append("NSRGB", SharedBytes(std::vector<std::uint8_t>{'1', ' ', '0', ' ', '0', 0}));
    return fields;
}

} // namespace

TEST(KeyedArchiveRecordTest, RecordsOfOtherClassesRoundTripInThePlatformsForm) {
    KeyedArchiver archiver;
    static constexpr std::string_view colour[] = {"NSColor"};
    static constexpr std::string_view derived[] = {"NSCalibratedRGBColor", "NSColor"};
    archiver.encodeRecord(colour, colourFields(), "color");
    archiver.encodeRecord(derived, colourFields(), "other");
    archiver.encode(std::int64_t(1), "tool");

    const PropertyListObject& archive = archiver.archive();
    const PropertyListArray& objects = *archive.dictionary()->find("$objects")->array();
    const auto& top = *archive.dictionary()->find("$top")->dictionary();
    const PropertyListDictionary& record = *objects[top.find("color")->uid()->value].dictionary();
    EXPECT_EQ(*record.find("NSColorSpace")->integer()->int64Value(), 2);
    const auto& classRecord = *objects[record.find("$class")->uid()->value].dictionary();
    EXPECT_EQ(*classRecord.find("$classname")->string(), "NSColor");
    EXPECT_EQ(classRecord.find("$classes")->array()->size(), 2u) << "NSColor, NSObject";

    const std::vector<std::uint8_t> data = archiver.encodedData();
    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
    std::optional<PropertyListDictionary> back = unarchiver.decodeRecord("NSColor", "color");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, colourFields());
    // A derived class's record answers for its base class.
    EXPECT_TRUE(unarchiver.decodeRecord("NSColor", "other"));
    EXPECT_FALSE(unarchiver.decodeRecord("NSColor", "missing"));
    EXPECT_FALSE(unarchiver.error());
    EXPECT_EQ(unarchiver.decodeInt64("tool"), 1);
}

TEST(KeyedArchiveRecordTest, WrongClassesAndFieldsAreRefused) {
    KeyedArchiver archiver;
    static constexpr std::string_view colour[] = {"NSColor"};
    PropertyListDictionary nested;
    nested.append("list", PropertyListArray{std::int64_t(1)});
    EXPECT_THROW(archiver.encodeRecord(colour, nested, "bad"), KeyedArchiveError);
    EXPECT_THROW(archiver.encodeRecord({}, colourFields(), "bad"), KeyedArchiveError);
    archiver.encodeRecord(colour, colourFields(), "color");
    archiver.encodeObject("text", "text");
    const std::vector<std::uint8_t> data = archiver.encodedData();

    for (const char* key : {"color", "text"}) {
        KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
        EXPECT_FALSE(unarchiver.decodeRecord("NSFont", key)) << key;
        ASSERT_TRUE(unarchiver.error()) << key;
        EXPECT_FALSE(unarchiver.decodeRecord("NSColor", "color")) << "later decodes answer nothing";
    }
}
