#include "coding/BinaryPropertyList.hpp"
#include "platform/coding/PropertyListTestSupport.hpp"

#include <gtest/gtest.h>

namespace velmora {
namespace {

// Python's standard plistlib is an independent reader and writer of the format.
TEST(PropertyListInteropTest, PythonReadsWhatWeWrite) {
    testing::TemporaryFolder folder;
    PropertyListDictionary d;
    d.set("int", 300);
    d.set("negative", -70000);
    d.set("big", PropertyListInteger::fromUnsigned(18446744073709551615ull));
    d.set("real", 0.5);
    d.set("flag", true);
    d.set("text", "plain");
    d.set("unicode", "Größe \xF0\x9F\x8E\xA8");
    d.set("data", SharedBytes(std::vector<std::uint8_t>{0, 1, 254, 255}));
    d.set("date", PropertyListDate{86400.0});
    d.set("uid", PropertyListUID{70000});
    PropertyListArray many;
    for (int i = 0; i < 300; ++i) {
        many.push_back(i % 7 == 0 ? PropertyListObject("seven") : PropertyListObject(i));
    }
    d.set("many", many);
    BinaryPropertyList::writeFile(d, folder.path() / "ours.plist");

    const auto result = testing::runPython(folder.path(), R"(
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    p = plistlib.load(f)
many = p.pop('many')
assert len(many) == 300 and many[7] == 'seven' and many[8] == 8, many[:10]
for k in sorted(p):
    print(k, repr(p[k]))
)",
                                           "'" + (folder.path() / "ours.plist").string() + "'");
    ASSERT_TRUE(result.ok) << result.output;
    EXPECT_EQ(result.output, "big 18446744073709551615\n"
                             "data b'\\x00\\x01\\xfe\\xff'\n"
                             "date datetime.datetime(2001, 1, 2, 0, 0)\n"
                             "flag True\n"
                             "int 300\n"
                             "negative -70000\n"
                             "real 0.5\n"
                             "text 'plain'\n"
                             "uid UID(70000)\n"
                             "unicode 'Größe 🎨'\n");
}

TEST(PropertyListInteropTest, WeReadWhatPythonWrites) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "theirs.plist";
    const auto result = testing::runPython(folder.path(), R"(
import plistlib, sys, datetime
value = {
    'ints': [0, 255, 256, -1, 2**63 - 1, -2**63, 2**64 - 1],
    'real': 2.25,
    'text': 'naïve',
    'data': bytes(range(20)),
    'date': datetime.datetime(2001, 1, 1, 0, 1, 0),
    'uid': plistlib.UID(5),
    'nested': {'empty': [], 'flag': False},
}
with open(sys.argv[1], 'wb') as f:
    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY, sort_keys=False)
)",
                                           "'" + path.string() + "'");
    ASSERT_TRUE(result.ok) << result.output;
    const PropertyListObject back = BinaryPropertyList::readFile(path);

    std::vector<std::uint8_t> twenty;
    for (std::uint8_t i = 0; i < 20; ++i) {
        twenty.push_back(i);
    }
    PropertyListDictionary nested;
    nested.set("empty", PropertyListArray{});
    nested.set("flag", false);
    PropertyListDictionary expected;
    expected.set("ints",
                 PropertyListArray{0, 255, 256, -1, std::numeric_limits<std::int64_t>::max(),
                                   std::numeric_limits<std::int64_t>::min(),
                                   PropertyListInteger::fromUnsigned(~std::uint64_t(0))});
    expected.set("real", 2.25);
    expected.set("text", "naïve");
    expected.set("data", SharedBytes(twenty));
    expected.set("date", PropertyListDate{60.0});
    expected.set("uid", PropertyListUID{5});
    expected.set("nested", nested);
    EXPECT_EQ(back, PropertyListObject(expected));
}

} // namespace
} // namespace velmora
