#include "CommaLocale.hpp"
#include "foundation/NSGeometry.hpp"

#include <gtest/gtest.h>

using namespace velmora;

TEST(NSGeometry, SizeTextsReadBackAndBadTextReadsAsZero) {
    const struct {
        const char* text;
        NSSize size;
    } reads[] = {
        {"{1920, 1080}", {1920, 1080}},
        {"  { 0.5 ,\t-2 }  ", {0.5, -2}},
        {"{+3, 1e3}", {3, 1000}},
        {"", {}},
        {"1920, 1080", {}},
        {"{1920}", {}},
        {"{1920, 1080", {}},
        {"{1920, 1080} x", {}},
        {"{1920, 1,080}", {}},
        {"{+-1, 2}", {}},
        {"{nan, 1}", {}},
        {"{1, 1e999}", {}},
    };
    const CommaLocale comma; // a decimal comma must not change the stored form
    for (const auto& r : reads) {
        EXPECT_EQ(NSSizeFromString(r.text), r.size) << r.text;
    }
    const struct {
        NSSize size;
        const char* text;
    } writes[] = {
        {{1920, 1080}, "{1920, 1080}"},
        {{0.1, 2.5}, "{0.1, 2.5}"},
        {{-0.0, 1e21}, "{-0, 1e+21}"},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(NSStringFromSize(w.size), w.text);
        EXPECT_EQ(NSSizeFromString(w.text), w.size);
    }
}
