#include "coding/Coding.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

using namespace velmora;

namespace {

struct Point {
    double x = 0;
    double y = 0;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(x, "x");
        c.encode(y, "y");
    }
    static Point decode(Decoder& decoder) {
        const auto c = decoder.container();
        return {c.decode<double>("x"), c.decode<double>("y")};
    }
    friend bool operator==(const Point&, const Point&) = default;
};

struct Record {
    std::string name;
    float weight = 0;
    std::int32_t count = 0;
    std::uint64_t big = 0;
    bool flag = false;
    std::vector<Point> points;
    std::optional<std::string> note;
    std::vector<std::uint8_t> bytes;
    std::map<std::string, std::int64_t> table;

    void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(name, "name");
        c.encode(weight, "weight");
        c.encode(count, "count");
        c.encode(big, "big");
        c.encode(flag, "flag");
        c.encode(points, "points");
        c.encodeIfPresent(note, "note");
        c.encode(bytes, "bytes");
        c.encode(table, "table");
    }
    static Record decode(Decoder& decoder) {
        const auto c = decoder.container();
        Record r;
        r.name = c.decode<std::string>("name");
        r.weight = c.decode<float>("weight");
        r.count = c.decode<std::int32_t>("count");
        r.big = c.decode<std::uint64_t>("big");
        r.flag = c.decode<bool>("flag");
        r.points = c.decode<std::vector<Point>>("points");
        r.note = c.decodeIfPresent<std::string>("note");
        r.bytes = c.decode<std::vector<std::uint8_t>>("bytes");
        r.table = c.decode<std::map<std::string, std::int64_t>>("table");
        return r;
    }
    friend bool operator==(const Record&, const Record&) = default;
};

// A base class and a subclass that keeps the base's keys under "super".
class Shape {
public:
    explicit Shape(std::string name) : name_(std::move(name)) {}
    virtual ~Shape() = default;
    const std::string& name() const { return name_; }

    virtual void encode(Encoder& encoder) const {
        auto c = encoder.container();
        c.encode(name_, "name");
    }

protected:
    explicit Shape(Decoder& decoder) : name_(decoder.container().decode<std::string>("name")) {}

private:
    std::string name_;
};

class Circle : public Shape {
public:
    Circle(std::string name, double radius) : Shape(std::move(name)), radius_(radius) {}
    double radius() const { return radius_; }

    void encode(Encoder& encoder) const override {
        auto c = encoder.container();
        c.encode(radius_, "radius");
        Encoder base = c.superEncoder();
        Shape::encode(base);
    }
    static std::shared_ptr<Circle> decode(Decoder& decoder) {
        const auto c = decoder.container();
        Decoder base = c.superDecoder();
        return std::shared_ptr<Circle>(new Circle(base, c.decode<double>("radius")));
    }

private:
    Circle(Decoder& base, double radius) : Shape(base), radius_(radius) {}
    double radius_;
};

// A type this code cannot change, coded from outside.
struct Foreign {
    int value = 0;
};

} // namespace

template <> struct velmora::Coding<Foreign> {
    static void encode(const Foreign& f, Encoder& encoder) {
        encoder.singleValueContainer().encode(f.value);
    }
    static Foreign decode(Decoder& decoder) {
        return Foreign{decoder.singleValueContainer().decode<int>()};
    }
};

namespace {

template <class T> T roundTrip(const T& value) {
    return ValueDecoder{}.decode<T>(ValueEncoder{}.encode(value));
}

Record sampleRecord() {
    Record r;
    r.name = "Stroke";
    r.weight = 0.1f;
    r.count = -7;
    r.big = std::numeric_limits<std::uint64_t>::max();
    r.flag = true;
    r.points = {{1, 2}, {-3.5, 4.25}};
    r.note = "hello";
    r.bytes = {0, 1, 2, 255};
    r.table = {{"b", 2}, {"a", 1}};
    return r;
}

DecodingError decodingErrorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "no DecodingError thrown";
    return DecodingError::dataCorrupted({});
}

CodedDictionary dictionaryOf(std::initializer_list<std::pair<const char*, CodedValue>> entries) {
    CodedDictionary d;
    for (const auto& [key, value] : entries) {
        d.set(key, value);
    }
    return d;
}

TEST(KeyedCoding, RecordRoundTripsAndKeepsKeyOrder) {
    const Record r = sampleRecord();
    EXPECT_EQ(roundTrip(r), r);

    Record empty = r;
    empty.note.reset();
    EXPECT_EQ(roundTrip(empty), empty);

    const CodedValue tree = ValueEncoder{}.encode(r);
    std::vector<std::string> keys;
    for (const auto& entry : *tree.dictionary()) {
        keys.push_back(entry.first);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "weight", "count", "big", "flag", "points",
                                              "note", "bytes", "table"}));
    // Kinds that back ends rely on to choose their forms.
    EXPECT_NE(tree.dictionary()->find("weight")->float32(), nullptr);
    EXPECT_NE(tree.dictionary()->find("bytes")->data(), nullptr);
    EXPECT_NE(tree.dictionary()->find("count")->integer(), nullptr);
    EXPECT_NE(tree.dictionary()->find("big")->unsignedInteger(), nullptr);
    EXPECT_FALSE(ValueEncoder{}.encode(empty).dictionary()->contains("note"));
}

TEST(KeyedCoding, TopLevelValuesOfEveryKind) {
    EXPECT_EQ(roundTrip(true), true);
    EXPECT_EQ(roundTrip(std::int8_t(-128)), -128);
    EXPECT_EQ(roundTrip(std::uint16_t(65535)), 65535);
    EXPECT_EQ(roundTrip(std::int64_t(std::numeric_limits<std::int64_t>::min())),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(roundTrip(1.5f), 1.5f);
    EXPECT_EQ(roundTrip(std::string("text")), "text");
    EXPECT_EQ(roundTrip(std::vector<std::string>{"a", "b"}), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(roundTrip(std::optional<int>()), std::nullopt);
    EXPECT_EQ(roundTrip(std::optional<int>(3)), 3);
    EXPECT_EQ(roundTrip(Foreign{42}).value, 42);
    EXPECT_EQ(ValueEncoder{}.encode(std::string_view("view")), CodedValue("view"));
}

TEST(KeyedCoding, SubclassKeepsBaseUnderSuper) {
    const auto circle = std::make_shared<Circle>("round", 2.5);
    const CodedValue tree = ValueEncoder{}.encode(circle);
    const CodedValue* super = tree.dictionary()->find("super");
    ASSERT_NE(super, nullptr);
    EXPECT_EQ(*super, CodedValue(dictionaryOf({{"name", "round"}})));

    const auto back = ValueDecoder{}.decode<std::shared_ptr<Circle>>(tree);
    EXPECT_EQ(back->name(), "round");
    EXPECT_EQ(back->radius(), 2.5);
}

TEST(KeyedCoding, SuperDecoderOverMissingKeyReportsNull) {
    const CodedValue tree = dictionaryOf({{"radius", 1.0}});
    const DecodingError error =
        decodingErrorOf([&] { ValueDecoder{}.decode<std::shared_ptr<Circle>>(tree); });
    EXPECT_EQ(error.kind(), DecodingError::Kind::valueNotFound);
    EXPECT_EQ(error.codingPath(), CodingPath{"super"});
}

TEST(KeyedCoding, TwoKeyedContainersOfOneEncoderShareStorage) {
    struct Tagged {
        void encode(Encoder& encoder) const {
            encoder.container().encode("Tagged", "type");
            encoder.container().encode(1, "own");
        }
    };
    const CodedValue tree = ValueEncoder{}.encode(Tagged{});
    EXPECT_EQ(tree, CodedValue(dictionaryOf({{"type", "Tagged"}, {"own", 1}})));
}

TEST(KeyedCoding, EncodingAKeyAgainReplacesItInPlace) {
    struct Twice {
        void encode(Encoder& encoder) const {
            auto c = encoder.container();
            c.encode(1, "a");
            c.encode(2, "b");
            c.encode(3, "a");
        }
    };
    EXPECT_EQ(ValueEncoder{}.encode(Twice{}), CodedValue(dictionaryOf({{"a", 3}, {"b", 2}})));
}

TEST(KeyedCoding, NestedAndUnkeyedContainersLandWhereWritten) {
    struct Nested {
        void encode(Encoder& encoder) const {
            auto c = encoder.container();
            auto inner = c.nestedContainer("inner");
            auto list = c.nestedUnkeyedContainer("list");
            inner.encode(1, "one");
            list.encode(2);
            list.encodeNil();
            auto deeper = list.nestedContainer();
            c.encode(9, "after");
            deeper.encode(3, "three");
            inner.encode(4, "four");
        }
    };
    CodedValue::Array list{CodedValue(2), CodedValue(), CodedValue(dictionaryOf({{"three", 3}}))};
    const CodedValue expected = dictionaryOf(
        {{"inner", dictionaryOf({{"one", 1}, {"four", 4}})}, {"list", list}, {"after", 9}});
    EXPECT_EQ(ValueEncoder{}.encode(Nested{}), expected);
}

TEST(KeyedCoding, ValueThatEncodesNothing) {
    struct Silent {
        void encode(Encoder&) const {}
    };
    struct Holder {
        void encode(Encoder& encoder) const { encoder.container().encode(Silent{}, "s"); }
    };
    EXPECT_EQ(ValueEncoder{}.encode(Holder{}),
              CodedValue(dictionaryOf({{"s", CodedDictionary()}})));
    EXPECT_THROW(ValueEncoder{}.encode(Silent{}), EncodingError);
}

TEST(KeyedCoding, UserInfoReachesNestedValues) {
    struct Probe {
        static Probe decode(Decoder& decoder) {
            const int* factor = userInfoValue<int>(decoder.userInfo(), "factor");
            Probe p;
            p.value = decoder.singleValueContainer().decode<int>() * (factor ? *factor : 0);
            return p;
        }
        int value = 0;
    };
    struct Outer {
        static Outer decode(Decoder& decoder) {
            return Outer{decoder.container().decode<std::vector<Probe>>("probes")};
        }
        std::vector<Probe> probes;
    };
    ValueDecoder decoder;
    decoder.userInfo["factor"] = 10;
    const CodedValue tree = dictionaryOf({{"probes", CodedValue::Array{CodedValue(4)}}});
    EXPECT_EQ(decoder.decode<Outer>(tree).probes.at(0).value, 40);
    EXPECT_EQ(userInfoValue<std::string>(decoder.userInfo, "factor"), nullptr);
}

TEST(KeyedCoding, ErrorsCarryKindAndPath) {
    const CodedValue good = ValueEncoder{}.encode(sampleRecord());
    auto withEntry = [&](std::vector<std::string> path, std::optional<CodedValue> value) {
        CodedValue tree = good;
        CodedValue* at = &tree;
        for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            at = at->dictionary() ? at->dictionary()->find(path[i])
                                  : &(*at->array())[std::stoul(path[i])];
        }
        if (value) {
            if (at->dictionary()) {
                at->dictionary()->set(path.back(), *value);
            } else {
                (*at->array())[std::stoul(path.back())] = *value;
            }
        } else {
            at->dictionary()->remove(path.back());
        }
        return tree;
    };
    struct Case {
        const char* what;
        CodedValue tree;
        DecodingError::Kind kind;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"missing key", withEntry({"weight"}, std::nullopt), DecodingError::Kind::keyNotFound,
         "<root>"},
        {"nested missing key", withEntry({"points", "1", "y"}, std::nullopt),
         DecodingError::Kind::keyNotFound, "points[1]"},
        {"text for number", withEntry({"count"}, "7"), DecodingError::Kind::typeMismatch, "count"},
        {"number for text", withEntry({"name"}, 3), DecodingError::Kind::typeMismatch, "name"},
        {"number for bool", withEntry({"flag"}, 1), DecodingError::Kind::typeMismatch, "flag"},
        {"null for value", withEntry({"count"}, CodedValue()), DecodingError::Kind::valueNotFound,
         "count"},
        {"fraction for integer", withEntry({"count"}, 1.5), DecodingError::Kind::dataCorrupted,
         "count"},
        {"out of range", withEntry({"count"}, std::int64_t(1) << 40),
         DecodingError::Kind::dataCorrupted, "count"},
        {"negative for unsigned", withEntry({"big"}, -1), DecodingError::Kind::dataCorrupted,
         "big"},
        {"array for dictionary", withEntry({"points", "0"}, CodedValue::Array{}),
         DecodingError::Kind::typeMismatch, "points[0]"},
        {"dictionary for array", withEntry({"points"}, CodedDictionary()),
         DecodingError::Kind::typeMismatch, "points"},
        {"text for data", withEntry({"bytes"}, "AAEC/w=="), DecodingError::Kind::typeMismatch,
         "bytes"},
        {"wrong map value", withEntry({"table", "a"}, "one"), DecodingError::Kind::typeMismatch,
         "table.a"},
        {"double beyond float", withEntry({"weight"}, 1e300), DecodingError::Kind::dataCorrupted,
         "weight"},
    };
    for (const Case& c : cases) {
        const DecodingError error = decodingErrorOf([&] { ValueDecoder{}.decode<Record>(c.tree); });
        EXPECT_EQ(error.kind(), c.kind) << c.what << ": " << error.what();
        EXPECT_EQ(describeCodingPath(error.codingPath()), c.path) << c.what;
    }
    const DecodingError missing =
        decodingErrorOf([&] { ValueDecoder{}.decode<Record>(cases[1].tree); });
    ASSERT_TRUE(missing.key().has_value());
    EXPECT_EQ(missing.key()->stringValue, "y");
}

TEST(KeyedCoding, IntegersDecodeOnlyWhenExactAndInRange) {
    struct Case {
        CodedValue value;
        bool fitsInt8;
        bool fitsUInt32;
    };
    const std::vector<Case> cases = {
        {CodedValue(127), true, true},
        {CodedValue(128), false, true},
        {CodedValue(-128), true, false},
        {CodedValue(-129), false, false},
        {CodedValue(std::uint64_t(4294967295u)), false, true},
        {CodedValue(std::uint64_t(4294967296u)), false, false},
        {CodedValue(std::numeric_limits<std::uint64_t>::max()), false, false},
        {CodedValue(3.0), true, true},
        {CodedValue(3.0f), true, true},
        {CodedValue(-0.0), true, true},
        {CodedValue(2.5), false, false},
        {CodedValue(1e20), false, false},
        {CodedValue(std::nan("")), false, false},
        {CodedValue(std::numeric_limits<double>::infinity()), false, false},
    };
    for (const Case& c : cases) {
        bool int8 = true;
        bool uint32 = true;
        try {
            ValueDecoder{}.decode<std::int8_t>(c.value);
        } catch (const DecodingError&) {
            int8 = false;
        }
        try {
            ValueDecoder{}.decode<std::uint32_t>(c.value);
        } catch (const DecodingError&) {
            uint32 = false;
        }
        EXPECT_EQ(int8, c.fitsInt8) << describeCodingPath({}) << " case " << (&c - cases.data());
        EXPECT_EQ(uint32, c.fitsUInt32) << "case " << (&c - cases.data());
    }
    EXPECT_EQ(ValueDecoder{}.decode<std::int64_t>(CodedValue(-9007199254740992.0)),
              -9007199254740992);
}

TEST(KeyedCoding, FloatsAndDoublesFromAnyNumber) {
    EXPECT_EQ(ValueDecoder{}.decode<float>(CodedValue(0.1)), 0.1f);
    EXPECT_EQ(ValueDecoder{}.decode<float>(CodedValue(7)), 7.0f);
    EXPECT_EQ(ValueDecoder{}.decode<double>(CodedValue(0.1f)), double(0.1f));
    EXPECT_EQ(ValueDecoder{}.decode<double>(CodedValue(std::uint64_t(1) << 60)), 0x1p60);
    EXPECT_TRUE(std::isnan(ValueDecoder{}.decode<float>(CodedValue(std::nan("")))));
    EXPECT_THROW(ValueDecoder{}.decode<double>(CodedValue(true)), DecodingError);
}

TEST(KeyedCoding, UnkeyedContainerMovesOnlyOnSuccess) {
    struct Mixed {
        static Mixed decode(Decoder& decoder) {
            auto list = decoder.unkeyedContainer();
            Mixed m;
            EXPECT_EQ(list.count(), 4u);
            EXPECT_THROW(list.decode<int>(), DecodingError); // a string
            EXPECT_EQ(list.currentIndex(), 0u);
            m.text = list.decode<std::string>();
            EXPECT_FALSE(list.decodeNil());
            m.number = list.decode<int>();
            EXPECT_TRUE(list.decodeNil());
            list.skip();
            EXPECT_TRUE(list.isAtEnd());
            const DecodingError end = decodingErrorOf([&] { list.decode<int>(); });
            EXPECT_EQ(end.kind(), DecodingError::Kind::valueNotFound);
            EXPECT_EQ(describeCodingPath(end.codingPath()), "[4]");
            EXPECT_EQ(list.decodeIfPresent<int>(), std::nullopt);
            return m;
        }
        std::string text;
        int number = 0;
    };
    const CodedValue tree =
        CodedValue::Array{CodedValue("a"), CodedValue(5), CodedValue(), CodedValue(true)};
    const Mixed m = ValueDecoder{}.decode<Mixed>(tree);
    EXPECT_EQ(m.text, "a");
    EXPECT_EQ(m.number, 5);
}

TEST(KeyedCoding, KeyedContainerInspection) {
    const CodedValue tree = dictionaryOf({{"z", 1}, {"a", CodedValue()}, {"m", "x"}});
    struct Inspect {
        static Inspect decode(Decoder& decoder) {
            const auto c = decoder.container();
            EXPECT_EQ(c.allKeys(), (std::vector<std::string>{"z", "a", "m"}));
            EXPECT_TRUE(c.contains("a"));
            EXPECT_FALSE(c.contains("q"));
            EXPECT_TRUE(c.decodeNil("a"));
            EXPECT_FALSE(c.decodeNil("z"));
            EXPECT_EQ(c.decodeIfPresent<int>("a"), std::nullopt);
            EXPECT_EQ(c.decodeIfPresent<int>("q"), std::nullopt);
            EXPECT_THROW(c.decodeIfPresent<int>("m"), DecodingError);
            EXPECT_THROW(c.decodeNil("q"), DecodingError);
            const DecodingError nested = decodingErrorOf([&] { c.nestedContainer("m"); });
            EXPECT_EQ(nested.kind(), DecodingError::Kind::typeMismatch);
            EXPECT_EQ(nested.codingPath(), CodingPath{"m"});
            const DecodingError custom = c.dataCorruptedError("z", "bad z");
            EXPECT_EQ(custom.codingPath(), CodingPath{"z"});
            return {};
        }
    };
    ValueDecoder{}.decode<Inspect>(tree);
}

} // namespace
