#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "MetalExtensions/MTLRegionExtensions.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <gtest/gtest.h>
#include <optional>
#include <string>

using namespace velmora;

namespace {

TEST(MTLGeometryCoding, WritesKeysInOrder) {
    const JSONEncoder encoder;
    EXPECT_EQ(encoder.encode(MTLSize{640, 480, 1}), R"({"width":640,"height":480,"depth":1})");
    EXPECT_EQ(encoder.encode(MTLOrigin{-3, 4, 0}), R"({"x":-3,"y":4,"z":0})");
    EXPECT_EQ(encoder.encode(MTLRegion{{1, 2, 0}, {3, 4, 1}}),
              R"({"origin":{"x":1,"y":2,"z":0},"size":{"width":3,"height":4,"depth":1}})");
}

TEST(MTLGeometryCoding, RoundTrips) {
    const JSONEncoder encoder;
    const JSONDecoder decoder;
    const MTLRegion regions[] = {
        {{0, 0, 0}, {8000, 8000, 1}},
        {{-16777216, 16777216, 5}, {0, -1, 2}},
        {{12, -3, 0}, {256, 256, 1}},
    };
    for (const auto& r : regions) {
        EXPECT_EQ(decoder.decode<MTLRegion>(encoder.encode(r)), r) << description(r);
        EXPECT_EQ(decoder.decode<MTLOrigin>(encoder.encode(r.origin)), r.origin);
        EXPECT_EQ(decoder.decode<MTLSize>(encoder.encode(r.size)), r.size);
    }
    // Keys may come in any order, and unknown ones are ignored.
    EXPECT_EQ(decoder.decode<MTLSize>(R"({"depth":1,"extra":"x","height":2,"width":3})"),
              (MTLSize{3, 2, 1}));
}

struct BadInput {
    const char* name;
    const char* json;
    DecodingError::Kind kind;
    std::string path;
};

template <typename T> void expectFailure(const BadInput& c) {
    SCOPED_TRACE(c.name);
    try {
        JSONDecoder().decode<T>(c.json);
        ADD_FAILURE() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), c.kind) << error.what();
        EXPECT_EQ(describeCodingPath(error.codingPath()), c.path) << error.what();
    }
}

TEST(MTLGeometryCoding, BadInputFailsWithAnError) {
    using Kind = DecodingError::Kind;
    const BadInput sizes[] = {
        {"missing depth", R"({"width":640,"height":480})", Kind::keyNotFound, "<root>"},
        {"text for a number", R"({"width":"640","height":480,"depth":1})", Kind::typeMismatch,
         "width"},
        {"fraction", R"({"width":6.5,"height":480,"depth":1})", Kind::dataCorrupted, "width"},
        {"null", R"({"width":null,"height":480,"depth":1})", Kind::valueNotFound, "width"},
        {"not a dictionary", R"([640,480,1])", Kind::typeMismatch, "<root>"},
        {"just too wide", R"({"width":16777217,"height":1,"depth":1})", Kind::dataCorrupted,
         "width"},
        {"far too wide", R"({"width":2147483648,"height":1,"depth":1})", Kind::dataCorrupted,
         "width"},
        {"far too deep", R"({"width":1,"height":1,"depth":9223372036854775807})",
         Kind::dataCorrupted, "depth"},
    };
    for (const auto& c : sizes) {
        expectFailure<MTLSize>(c);
    }
    const BadInput origins[] = {
        {"missing z", R"({"x":1,"y":2})", Kind::keyNotFound, "<root>"},
        {"boolean", R"({"x":true,"y":2,"z":0})", Kind::typeMismatch, "x"},
        {"near the end of the integers", R"({"x":9223372036854775807,"y":2,"z":0})",
         Kind::dataCorrupted, "x"},
        {"just below the range", R"({"x":0,"y":-16777217,"z":0})", Kind::dataCorrupted, "y"},
    };
    for (const auto& c : origins) {
        expectFailure<MTLOrigin>(c);
    }
    const BadInput regions[] = {
        {"missing size", R"({"origin":{"x":1,"y":2,"z":0}})", Kind::keyNotFound, "<root>"},
        {"size of the wrong type", R"({"origin":{"x":1,"y":2,"z":0},"size":7})", Kind::typeMismatch,
         "size"},
        {"origin out of range",
         R"({"origin":{"x":-9223372036854775808,"y":2,"z":0},"size":{"width":1,"height":1,"depth":1}})",
         Kind::dataCorrupted, "origin.x"},
    };
    for (const auto& c : regions) {
        expectFailure<MTLRegion>(c);
    }
}

} // namespace
