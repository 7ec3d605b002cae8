#include "TypedCodable/FamilyDecoding.hpp"
#include "TypedCodable/TypedCodable.hpp"
#include "coding/JSONEncoder.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"

#include <exception>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

// A small hierarchy shaped like the layer tree: base keys under "super",
// a group that holds a list of tagged children.
class Shape : public TypedCodable {
public:
    explicit Shape(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    void typedEncode(Encoder& encoder) const override { encoder.container().encode(name_, "name"); }

protected:
    explicit Shape(Decoder& decoder) : name_(decoder.container().decode<std::string>("name")) {}

private:
    std::string name_;
};

class Circle : public Shape {
public:
    Circle(std::string name, double radius) : Shape(std::move(name)), radius(radius) {}
    double radius;

    void typedEncode(Encoder& encoder) const override {
        auto c = encoder.container();
        Encoder base = c.superEncoder();
        Shape::typedEncode(base);
        c.encode(radius, "radius");
    }
    static std::shared_ptr<Circle> decode(Decoder& decoder) {
        const auto c = decoder.container();
        Decoder base = c.superDecoder();
        auto circle = std::make_shared<Circle>(base.container().decode<std::string>("name"), 0);
        circle->radius = c.decode<double>("radius");
        return circle;
    }
};

class Square : public Shape {
public:
    Square(std::string name, std::int64_t side) : Shape(std::move(name)), side(side) {}
    std::int64_t side;

    void typedEncode(Encoder& encoder) const override {
        auto c = encoder.container();
        Encoder base = c.superEncoder();
        Shape::typedEncode(base);
        c.encode(side, "side");
    }
    static std::shared_ptr<Square> decode(Decoder& decoder) {
        const auto c = decoder.container();
        Decoder base = c.superDecoder();
        auto square = std::make_shared<Square>(base.container().decode<std::string>("name"), 0);
        square->side = c.decode<std::int64_t>("side");
        return square;
    }
};

class Group;

// Not a Shape: families may name classes outside the element type.
class Label : public TypedCodable {
public:
    explicit Label(std::string text) : text(std::move(text)) {}
    std::string text;

    void typedEncode(Encoder& encoder) const override { encoder.container().encode(text, "text"); }
    static std::shared_ptr<Label> decode(Decoder& decoder) {
        return std::make_shared<Label>(decoder.container().decode<std::string>("text"));
    }
};

struct ShapeFamily {
    enum class Case { circle, square, group, label };
    Case value;

    static Discriminator discriminator() { return Discriminator::type; }
    static std::optional<ShapeFamily> fromRawValue(std::string_view text) {
        if (text == "Circle") {
            return ShapeFamily{Case::circle};
        }
        if (text == "Square") {
            return ShapeFamily{Case::square};
        }
        if (text == "Group") {
            return ShapeFamily{Case::group};
        }
        if (text == "Label") {
            return ShapeFamily{Case::label};
        }
        return std::nullopt;
    }
    static ShapeFamily decode(Decoder& decoder) {
        return decodeFamilyFromRawValue<ShapeFamily>(decoder);
    }
    template <class V> void withType(V&& visitor) const;
};

class Group : public Shape {
public:
    explicit Group(std::string name) : Shape(std::move(name)) {}
    std::vector<std::shared_ptr<Shape>> children;

    void typedEncode(Encoder& encoder) const override {
        auto c = encoder.container();
        Encoder base = c.superEncoder();
        Shape::typedEncode(base);
        c.encode(children, "shapes");
    }
    static std::shared_ptr<Group> decode(Decoder& decoder) {
        const auto c = decoder.container();
        Decoder base = c.superDecoder();
        auto group = std::make_shared<Group>(base.container().decode<std::string>("name"));
        group->children = decodeFamily<ShapeFamily, Shape>(c, "shapes");
        return group;
    }
};

template <class V> void ShapeFamily::withType(V&& visitor) const {
    switch (value) {
    case Case::circle:
        return visitor(ClassTag<Circle>{});
    case Case::square:
        return visitor(ClassTag<Square>{});
    case Case::group:
        return visitor(ClassTag<Group>{});
    case Case::label:
        return visitor(ClassTag<Label>{});
    }
}

static_assert(ClassFamily<ShapeFamily>);

// Holds a list of shapes under "shapes", decoded through the family.
struct Drawing {
    std::vector<std::shared_ptr<Shape>> shapes;
    static Drawing decode(Decoder& decoder) {
        return Drawing{decodeFamily<ShapeFamily, Shape>(decoder.container(), "shapes")};
    }
};

CodedValue tagged(const char* type, std::initializer_list<std::pair<const char*, CodedValue>> own,
                  const char* name = nullptr) {
    CodedDictionary d;
    d.set("type", type);
    if (name != nullptr) {
        CodedDictionary base;
        base.set("name", name);
        d.set("super", base);
    }
    for (const auto& [key, value] : own) {
        d.set(key, value);
    }
    return d;
}

CodedValue drawingOf(CodedValue::Array shapes) {
    CodedDictionary d;
    d.set("shapes", std::move(shapes));
    return d;
}

std::vector<std::shared_ptr<Shape>> sampleShapes() {
    auto group = std::make_shared<Group>("g");
    group->children = {std::make_shared<Circle>("inner", 1.5)};
    return {std::make_shared<Square>("s", 4), group, std::make_shared<Circle>("c", 2)};
}

TEST(Discriminator, OnlyTheExactTextNamesTheKey) {
    EXPECT_EQ(rawValue(Discriminator::type), "type");
    EXPECT_EQ(stringValue(Discriminator::type), "type");
    EXPECT_EQ(intValue(Discriminator::type), std::nullopt);
    EXPECT_EQ(discriminatorFromRawValue("type"), Discriminator::type);
    EXPECT_EQ(discriminatorFromStringValue("type"), Discriminator::type);
    for (const char* text : {"Type", "TYPE", "type ", "", "super"}) {
        EXPECT_EQ(discriminatorFromStringValue(text), std::nullopt) << text;
    }
    for (const std::int64_t i : {0, 1, -1}) {
        EXPECT_EQ(discriminatorFromIntValue(i), std::nullopt);
    }
    EXPECT_EQ(description(Discriminator::type),
              "Discriminator(stringValue: \"type\", intValue: nil)");
}

TEST(TypedCodable, WritesTheDynamicClassNameFirst) {
    const std::shared_ptr<Shape> shape = std::make_shared<Circle>("c", 2);
    EXPECT_EQ(JSONEncoder{}.encode(shape), R"({"type":"Circle","super":{"name":"c"},"radius":2})");
    const std::vector<std::shared_ptr<Shape>> shapes = sampleShapes();
    EXPECT_EQ(JSONEncoder{}.encode(shapes),
              R"([{"type":"Square","super":{"name":"s"},"side":4},)"
              R"({"type":"Group","super":{"name":"g"},"shapes":[)"
              R"({"type":"Circle","super":{"name":"inner"},"radius":1.5}]},)"
              R"({"type":"Circle","super":{"name":"c"},"radius":2}])");
}

TEST(TypedCodable, UnqualifiedClassNames) {
    struct Inner {};
    EXPECT_EQ(unqualifiedClassName(typeid(Circle)), "Circle");
    EXPECT_EQ(unqualifiedClassName(typeid(velmora::CodedDictionary)), "CodedDictionary");
    EXPECT_EQ(unqualifiedClassName(typeid(std::vector<velmora::CodingKey>)),
              "vector<velmora::CodingKey, std::allocator<velmora::CodingKey> >");
    EXPECT_EQ(unqualifiedClassName(typeid(Inner)), "Inner");
}

TEST(TypedCodable, ListComesBackAsTheSameClassesInOrder) {
    CodedDictionary holder;
    holder.set("shapes", ValueEncoder{}.encode(sampleShapes()));
    const Drawing back = ValueDecoder{}.decode<Drawing>(holder);
    ASSERT_EQ(back.shapes.size(), 3u);
    const auto square = std::dynamic_pointer_cast<Square>(back.shapes[0]);
    const auto group = std::dynamic_pointer_cast<Group>(back.shapes[1]);
    const auto circle = std::dynamic_pointer_cast<Circle>(back.shapes[2]);
    ASSERT_TRUE(square && group && circle);
    EXPECT_EQ(square->side, 4);
    EXPECT_EQ(square->name(), "s");
    EXPECT_EQ(circle->radius, 2);
    ASSERT_EQ(group->children.size(), 1u);
    const auto inner = std::dynamic_pointer_cast<Circle>(group->children[0]);
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->name(), "inner");
    EXPECT_EQ(inner->radius, 1.5);
}

TEST(TypedCodable, ClassOutsideTheElementTypeIsLeftOut) {
    // Label's keys differ from Square's: a cursor that fell out of step would
    // read the label as the square and fail.
    const CodedValue tree =
        drawingOf({tagged("Circle", {{"radius", 1.0}}, "a"), tagged("Label", {{"text", "hello"}}),
                   tagged("Square", {{"side", 3}}, "b")});
    const Drawing drawing = ValueDecoder{}.decode<Drawing>(tree);
    ASSERT_EQ(drawing.shapes.size(), 2u);
    EXPECT_TRUE(std::dynamic_pointer_cast<Circle>(drawing.shapes[0]));
    const auto square = std::dynamic_pointer_cast<Square>(drawing.shapes[1]);
    ASSERT_TRUE(square);
    EXPECT_EQ(square->side, 3);
    EXPECT_EQ(square->name(), "b");

    // Read as the narrower element type, the other classes drop out too.
    struct Squares {
        static Squares decode(Decoder& decoder) {
            return {decodeFamily<ShapeFamily, Square>(decoder.container(), "shapes")};
        }
        std::vector<std::shared_ptr<Square>> squares;
    };
    EXPECT_EQ(ValueDecoder{}.decode<Squares>(tree).squares.size(), 1u);
}

TEST(TypedCodable, EmptyListAndFailures) {
    EXPECT_TRUE(ValueDecoder{}.decode<Drawing>(drawingOf({})).shapes.empty());

    struct Case {
        const char* what;
        CodedValue tree;
        DecodingError::Kind kind;
        std::string path;
    };
    CodedDictionary noShapes;
    noShapes.set("other", 1);
    CodedDictionary notArray;
    notArray.set("shapes", CodedDictionary());
    const CodedValue circle = tagged("Circle", {{"radius", 1.0}}, "c");
    const std::vector<Case> cases = {
        {"missing key", noShapes, DecodingError::Kind::keyNotFound, "<root>"},
        {"not an array", notArray, DecodingError::Kind::typeMismatch, "shapes"},
        {"element not a dictionary", drawingOf({circle, CodedValue("Circle")}),
         DecodingError::Kind::typeMismatch, "shapes[1]"},
        {"element without type", drawingOf({circle, tagged("Circle", {}, "x")}),
         DecodingError::Kind::keyNotFound, "shapes[1]"},
        {"unknown type", drawingOf({circle, tagged("Triangle", {{"radius", 1.0}}, "t")}),
         DecodingError::Kind::dataCorrupted, "shapes[1].type"},
        {"type of wrong case", drawingOf({tagged("circle", {{"radius", 1.0}}, "t")}),
         DecodingError::Kind::dataCorrupted, "shapes[0].type"},
        {"class key missing", drawingOf({tagged("Circle", {}, "t")}),
         DecodingError::Kind::keyNotFound, "shapes[0]"},
        {"class decoding fails", drawingOf({circle, tagged("Square", {{"side", "four"}}, "s")}),
         DecodingError::Kind::typeMismatch, "shapes[1].side"},
        {"nested unknown type",
         drawingOf({tagged("Group", {{"shapes", CodedValue::Array{tagged("Blob", {})}}}, "g")}),
         DecodingError::Kind::dataCorrupted, "shapes[0].shapes[0].type"},
    };
    // A type that is not text.
    CodedValue numericType = tagged("Circle", {{"radius", 1.0}}, "t");
    numericType.dictionary()->set("type", 7);
    const Case numeric{"type is a number", drawingOf({numericType}),
                       DecodingError::Kind::typeMismatch, "shapes[0].type"};

    auto check = [](const Case& c) {
        try {
            ValueDecoder{}.decode<Drawing>(c.tree);
            ADD_FAILURE() << c.what << ": decoded";
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.what << ": " << error.what();
            EXPECT_EQ(describeCodingPath(error.codingPath()), c.path) << c.what;
        }
    };
    for (const Case& c : cases) {
        check(c);
    }
    check(numeric);
}

TEST(TypedCodable, JSONDocumentOfTaggedObjects) {
    const std::string json = JSONEncoder{}.encode(sampleShapes());
    const auto shapes = decodeFamily<ShapeFamily, Shape>(JSONDecoder{}, json);
    ASSERT_EQ(shapes.size(), 3u);
    EXPECT_TRUE(std::dynamic_pointer_cast<Group>(shapes[1]));

    const auto fewer = decodeFamily<ShapeFamily, Shape>(
        JSONDecoder{}, R"([{"type":"Label","text":"x"},{"type":"Circle","super":{"name":"c"},)"
                       R"("radius":3}])");
    ASSERT_EQ(fewer.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<Circle>(fewer[0])->radius, 3);

    EXPECT_THROW((decodeFamily<ShapeFamily, Shape>(JSONDecoder{}, R"([{"type":"Oval"}])")),
                 DecodingError);
    EXPECT_THROW((decodeFamily<ShapeFamily, Shape>(JSONDecoder{}, R"({"type":"Circle"})")),
                 DecodingError);
    EXPECT_THROW((decodeFamily<ShapeFamily, Shape>(JSONDecoder{}, "[")), DecodingError);
}

// Reads entries of a dictionary the way a keyed unarchiver does: nothing for
// a missing key or a failure, with the first failure kept.
struct EntryReader {
    CodedDictionary entries;
    std::exception_ptr error;

    template <class W> std::optional<W> decodeDecodable(std::string_view key) {
        return read<W>(key);
    }
    template <class W> std::optional<std::vector<W>> decodeDecodableArray(std::string_view key) {
        return read<std::vector<W>>(key);
    }

private:
    template <class W> std::optional<W> read(std::string_view key) {
        const CodedValue* value = entries.find(key);
        if (value == nullptr) {
            return std::nullopt;
        }
        try {
            return ValueDecoder{}.decode<W>(*value);
        } catch (...) {
            if (!error) {
                error = std::current_exception();
            }
            return std::nullopt;
        }
    }
};

TEST(TypedCodable, ArchiveReadersNeverThrow) {
    EntryReader reader;
    reader.entries.set("circle", tagged("Circle", {{"radius", 5.0}}, "c"));
    reader.entries.set("label", tagged("Label", {{"text", "t"}}));
    reader.entries.set("unknown", tagged("Star", {}));
    reader.entries.set("list", CodedValue::Array{tagged("Label", {{"text", "t"}}),
                                                 tagged("Square", {{"side", 2}}, "s")});
    reader.entries.set("badList", CodedValue::Array{tagged("Square", {}, "s")});

    const auto circle = decodeDecodable<ShapeFamily, Shape>(reader, "circle");
    ASSERT_TRUE(std::dynamic_pointer_cast<Circle>(circle));
    EXPECT_EQ(std::dynamic_pointer_cast<Circle>(circle)->radius, 5);
    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(reader, "label")), nullptr);
    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(reader, "missing")), nullptr);
    EXPECT_FALSE(reader.error);
    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(reader, "unknown")), nullptr);
    ASSERT_TRUE(reader.error);
    try {
        std::rethrow_exception(reader.error);
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }

    const auto list = decodeDecodableArray<ShapeFamily, Shape>(reader, "list");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 1u);
    EXPECT_TRUE(std::dynamic_pointer_cast<Square>(list->front()));
    EXPECT_EQ((decodeDecodableArray<ShapeFamily, Shape>(reader, "badList")), std::nullopt);
    EXPECT_EQ((decodeDecodableArray<ShapeFamily, Shape>(reader, "missing")), std::nullopt);
}

TEST(TypedCodable, KeyedArchiveReadersOverARealArchive) {
    struct Unknown {
        void encode(Encoder& encoder) const { encoder.container().encode("Triangle", "type"); }
    };
    KeyedArchiver archiver;
    archiver.encodeEncodable(sampleShapes()[1], "Layer");
    archiver.encodeEncodable(sampleShapes(), "Layers");
    archiver.encodeEncodable(std::make_shared<Label>("note"), "Label");
    archiver.encodeEncodable(Unknown{}, "Bad");
    const std::vector<std::uint8_t> data = archiver.encodedData();

    KeyedUnarchiver unarchiver(data);
    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(unarchiver, "Missing")), nullptr);
    const auto group =
        std::dynamic_pointer_cast<Group>(decodeDecodable<ShapeFamily, Shape>(unarchiver, "Layer"));
    ASSERT_TRUE(group);
    ASSERT_EQ(group->children.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<Circle>(group->children[0])->radius, 1.5);
    const auto list = decodeDecodableArray<ShapeFamily, Shape>(unarchiver, "Layers");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 3u);
    EXPECT_TRUE(std::dynamic_pointer_cast<Square>(list->at(0)));
    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(unarchiver, "Label")), nullptr);
    EXPECT_FALSE(unarchiver.error());

    EXPECT_EQ((decodeDecodable<ShapeFamily, Shape>(unarchiver, "Bad")), nullptr);
    ASSERT_TRUE(unarchiver.error());
    try {
        std::rethrow_exception(unarchiver.error());
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(describeCodingPath(error.codingPath()), "type");
    }
}

} // namespace
