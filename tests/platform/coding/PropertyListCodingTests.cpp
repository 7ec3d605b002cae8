#include "coding/BinaryPropertyList.hpp"
#include "coding/JSONSerialization.hpp"
#include "coding/KeyedArchiveError.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "coding/PropertyListDecoder.hpp"
#include "coding/PropertyListEncoder.hpp"

#include <gtest/gtest.h>
#include <optional>

namespace velmora {
namespace {

struct Extent {
    std::int64_t width = 0;
    std::int64_t height = 0;
    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(width, "width");
        c.encode(height, "height");
    }
    static Extent decode(Decoder& decoder) {
        const auto c = decoder.container();
        return {c.decode<std::int64_t>("width"), c.decode<std::int64_t>("height")};
    }
    friend bool operator==(const Extent&, const Extent&) = default;
};

struct Sheet {
    std::string name;
    std::vector<std::uint8_t> pixels;
    float opacity = 1;
    double scale = 1;
    std::uint64_t serial = 0;
    bool visible = true;
    std::optional<std::string> note;
    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(name, "name");
        c.encode(pixels, "pixels");
        c.encode(opacity, "opacity");
        c.encode(scale, "scale");
        c.encode(serial, "serial");
        c.encode(visible, "visible");
        c.encode(note, "note");
    }
    static Sheet decode(Decoder& decoder) {
        const auto c = decoder.container();
        return {c.decode<std::string>("name"),
                c.decode<std::vector<std::uint8_t>>("pixels"),
                c.decode<float>("opacity"),
                c.decode<double>("scale"),
                c.decode<std::uint64_t>("serial"),
                c.decode<bool>("visible"),
                c.decode<std::optional<std::string>>("note")};
    }
    friend bool operator==(const Sheet&, const Sheet&) = default;
};

// Refuses extents above a limit with an error of its own, as a canvas does.
struct TooLarge {
    Extent extent;
};

struct Book {
    Extent extent;
    std::vector<Sheet> sheets;
    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(extent, "extent");
        c.encode(sheets, "sheets");
    }
    static Book decode(Decoder& decoder) {
        const auto c = decoder.container();
        const auto extent = c.decode<Extent>("extent");
        if (extent.width > 8000) {
            throw TooLarge{extent};
        }
        return {extent, c.decode<std::vector<Sheet>>("sheets")};
    }
    friend bool operator==(const Book&, const Book&) = default;
};

Book sampleBook() {
    return {{640, 480},
            {{"Background", {1, 2, 3, 255}, 0.5f, 0.1, ~std::uint64_t(0), true, std::nullopt},
             {"$null", {}, 1.0f, 2.0, 7, false, "a note"}}};
}

TEST(PropertyListCodingTest, ValuesRoundTripThroughBinaryPropertyLists) {
    const Book book = sampleBook();
    const auto bytes = PropertyListEncoder().encode(book);
    EXPECT_EQ(PropertyListDecoder().decode<Book>(std::span<const std::uint8_t>(bytes)), book);
}

TEST(PropertyListCodingTest, TreeMapsOntoPropertyListObjects) {
    const PropertyListObject tree = PropertyListEncoder().encodeToTopLevelObject(sampleBook());
    const auto& sheets = *tree.dictionary()->find("sheets")->array();
    const auto& first = *sheets[0].dictionary();
    EXPECT_EQ(*first.find("pixels"), PropertyListObject(SharedBytes({1, 2, 3, 255})));
    EXPECT_EQ(*first.find("opacity"), PropertyListObject(PropertyListReal{0.5, true}));
    EXPECT_EQ(*first.find("scale"), PropertyListObject(0.1));
    EXPECT_EQ(*first.find("serial"),
              PropertyListObject(PropertyListInteger::fromUnsigned(~std::uint64_t(0))));
    // An absent optional is the null object, and a text "$null" stays a text.
    EXPECT_TRUE(first.find("note")->isNull());
    EXPECT_EQ(*sheets[1].dictionary()->find("name"), PropertyListObject("$null"));
}

// Large data (a document's images) reaches the property list without a copy,
// and is the same value as data held in a vector wherever it is compared,
// written or read back.
TEST(PropertyListCodingTest, SharedDataTravelsUncopiedAndEqualsItsBytes) {
    const SharedBytes shared({9, 8, 7, 6});
    const CodedValue held(shared), copied(CodedValue::Bytes{9, 8, 7, 6});
    EXPECT_EQ(held.kind(), CodedValue::Kind::data);
    EXPECT_EQ(held, copied);
    EXPECT_NE(held, CodedValue(CodedValue::Bytes{9, 8, 7}));
    EXPECT_NE(held, CodedValue("data"));
    EXPECT_EQ(JSONSerialization::write(held), JSONSerialization::write(copied));

    const PropertyListObject tree =
        PropertyListEncoder().encodeToTopLevelObject(std::vector<SharedBytes>{shared, shared});
    for (const auto& element : *tree.array()) {
        EXPECT_EQ(element.data()->data(), shared.data());
    }
    const auto bytes = PropertyListEncoder().encode(std::vector<SharedBytes>{shared});
    const auto asVectors = PropertyListDecoder().decode<std::vector<std::vector<std::uint8_t>>>(
        std::span<const std::uint8_t>(bytes));
    EXPECT_EQ(asVectors, (std::vector<std::vector<std::uint8_t>>{shared.toVector()}));
    const auto asShared = PropertyListDecoder().decode<std::vector<SharedBytes>>(
        std::span<const std::uint8_t>(bytes));
    ASSERT_EQ(asShared.size(), 1u);
    EXPECT_EQ(asShared[0], shared);
}

TEST(PropertyListCodingTest, DecoderReportsBadInputAsDecodingErrors) {
    PropertyListDictionary extentWithUID;
    extentWithUID.set("width", PropertyListUID{1});
    extentWithUID.set("height", 2);
    PropertyListDictionary extentWithText;
    extentWithText.set("width", "wide");
    extentWithText.set("height", 2);
    PropertyListDictionary missingHeight;
    missingHeight.set("width", 1);
    struct Case {
        const char* name;
        PropertyListObject tree;
        DecodingError::Kind kind;
        std::string path;
    };
    const Case cases[] = {
        {"UID", extentWithUID, DecodingError::Kind::dataCorrupted, "width"},
        {"text for a number", extentWithText, DecodingError::Kind::typeMismatch, "width"},
        {"missing key", missingHeight, DecodingError::Kind::keyNotFound, "<root>"},
        {"array for a dictionary", PropertyListArray{}, DecodingError::Kind::typeMismatch,
         "<root>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            PropertyListDecoder().decode<Extent>(c.tree);
            ADD_FAILURE() << "decoded";
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
            EXPECT_EQ(describeCodingPath(e.codingPath()), c.path);
        }
    }
    const std::vector<std::uint8_t> notAList = {'{', '}'};
    try {
        PropertyListDecoder().decode<Extent>(std::span<const std::uint8_t>(notAList));
        ADD_FAILURE() << "decoded";
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.kind(), DecodingError::Kind::dataCorrupted);
    }
}

TEST(PropertyListCodingTest, ArchiverPlacesCodedValuesUnderKeys) {
    KeyedArchiver archiver;
    archiver.encodeEncodable(sampleBook(), "Canvas");
    archiver.encodeEncodable(std::vector<Extent>{{1, 2}, {3, 4}}, "Previews");
    const auto data = archiver.encodedData();

    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
    EXPECT_EQ(unarchiver.decodeDecodable<Book>("Canvas"), sampleBook());
    EXPECT_EQ(unarchiver.decodeDecodableArray<Extent>("Previews"),
              (std::vector<Extent>{{1, 2}, {3, 4}}));
    EXPECT_EQ(unarchiver.decodeDecodable<Book>("Missing"), std::nullopt);
    EXPECT_FALSE(unarchiver.error());
}

TEST(PropertyListCodingTest, DecodableFailuresAreKeptNotThrown) {
    Book huge = sampleBook();
    huge.extent.width = 9000;
    KeyedArchiver archiver;
    archiver.encodeEncodable(huge, "Huge");
    archiver.encodeEncodable(Extent{1, 2}, "Extent");
    archiver.encodeEncodable(sampleBook(), "Book");
    const auto data = archiver.encodedData();

    {
        KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
        EXPECT_EQ(unarchiver.decodeDecodable<Book>("Huge"), std::nullopt);
        ASSERT_TRUE(unarchiver.error());
        try {
            std::rethrow_exception(unarchiver.error());
        } catch (const TooLarge& e) {
            EXPECT_EQ(e.extent, (Extent{9000, 480}));
        } catch (...) {
            ADD_FAILURE() << "another error";
        }
        // Later decodes answer nothing and keep the first error.
        EXPECT_EQ(unarchiver.decodeDecodable<Book>("Book"), std::nullopt);
        EXPECT_THROW(std::rethrow_exception(unarchiver.error()), TooLarge);
    }
    {
        KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
        EXPECT_EQ(unarchiver.decodeDecodable<Book>("Extent"), std::nullopt);
        try {
            std::rethrow_exception(unarchiver.error());
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), DecodingError::Kind::keyNotFound);
        } catch (...) {
            ADD_FAILURE() << "another error";
        }
    }
}

TEST(PropertyListCodingTest, EncodingErrorsReachTheCaller) {
    struct Empty {
        void encode(Encoder&) const {}
    };
    KeyedArchiver archiver;
    EXPECT_THROW(archiver.encodeEncodable(Empty{}, "x"), EncodingError);
    EXPECT_FALSE(archiver.archive().dictionary()->find("$top")->dictionary()->contains("x"));

    CodedValue nested = CodedValue::Array{};
    for (std::size_t i = 0; i < BinaryPropertyList::maximumDepth + 1; ++i) {
        nested = CodedValue::Array{std::move(nested)};
    }
    EXPECT_THROW(PropertyListEncoder::propertyList(std::move(nested)), EncodingError);
}

} // namespace
} // namespace velmora
