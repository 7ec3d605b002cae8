#include "coding/BinaryPropertyList.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
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

// Resolves "$top" through "$objects" by UID as any reader of the platform's
// keyed archives must, and prints what it finds.
constexpr const char* archiveWalker = R"(
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    archive = plistlib.load(f)
assert archive['$archiver'] == 'NSKeyedArchiver' and archive['$version'] == 100000
objects = archive['$objects']
assert objects[0] == '$null'
def resolve(ref):
    assert isinstance(ref, plistlib.UID), ref
    o = objects[ref.data]
    if ref.data == 0:
        return None
    if isinstance(o, dict):
        cls = objects[o['$class'].data]
        name = cls['$classname']
        assert name in cls['$classes']
        if name.endswith('Dictionary'):
            return {resolve(k): resolve(v) for k, v in zip(o['NS.keys'], o['NS.objects'])}
        if name.endswith('Array'):
            return [resolve(v) for v in o['NS.objects']]
        raise Exception('unexpected class ' + name)
    return o
for key in sorted(archive['$top']):
    value = archive['$top'][key]
    print(key, repr(resolve(value) if isinstance(value, plistlib.UID) else value))
)";

TEST(PropertyListInteropTest, PythonWalksOurKeyedArchive) {
    testing::TemporaryFolder folder;
    PropertyListDictionary size;
    size.set("width", 640);
    size.set("height", 480);
    PropertyListDictionary layer;
    layer.set("type", "RasterLayer");
    layer.set("name", "Background");
    layer.set("patches",
              PropertyListArray{SharedBytes(std::vector<std::uint8_t>{'I', 'I', 42, 0})});
    PropertyListDictionary canvas;
    canvas.set("size", size);
    canvas.set("layers", PropertyListArray{layer, PropertyListObject()});
    KeyedArchiver archiver;
    archiver.encodeObject(canvas, "Canvas");
    archiver.encodeObject(PropertyListArray{"Background", "Background"}, "Names");
    archiver.encode(true, "Flag");
    archiver.writeToFile(folder.path() / "archive");

    const auto result = testing::runPython(folder.path(), archiveWalker,
                                           "'" + (folder.path() / "archive").string() + "'");
    ASSERT_TRUE(result.ok) << result.output;
    EXPECT_EQ(result.output,
              "Canvas {'size': {'width': 640, 'height': 480}, 'layers': [{'type': 'RasterLayer', "
              "'name': 'Background', 'patches': [b'II*\\x00']}, None]}\n"
              "Flag True\n"
              "Names ['Background', 'Background']\n");
}

TEST(PropertyListInteropTest, WeReadAnArchiveThatPythonBuilds) {
    testing::TemporaryFolder folder;
    const auto path = folder.path() / "archive";
    const auto result = testing::runPython(folder.path(), R"(
import plistlib, sys
U = plistlib.UID
objects = ['$null',
    {'NS.keys': [U(2), U(3)], 'NS.objects': [U(4), U(5)], '$class': U(6)},
    'name', 'tags', 'Layer 1',
    {'NS.objects': [U(4), U(4), U(7)], '$class': U(8)},
    {'$classname': 'NSMutableDictionary', '$classes': ['NSMutableDictionary', 'NSDictionary', 'NSObject']},
    b'\x01\x02',
    {'$classname': 'NSArray', '$classes': ['NSArray', 'NSObject']}]
with open(sys.argv[1], 'wb') as f:
    plistlib.dump({'$version': 100000, '$archiver': 'NSKeyedArchiver',
                   '$top': {'root': U(1)}, '$objects': objects}, f, fmt=plistlib.FMT_BINARY)
)",
                                           "'" + path.string() + "'");
    ASSERT_TRUE(result.ok) << result.output;
    KeyedUnarchiver unarchiver = KeyedUnarchiver::readingFile(path);
    const auto root = unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "root");
    ASSERT_TRUE(root);
    PropertyListDictionary expected;
    expected.set("name", "Layer 1");
    expected.set("tags", PropertyListArray{"Layer 1", "Layer 1",
                                           SharedBytes(std::vector<std::uint8_t>{1, 2})});
    EXPECT_EQ(*root, PropertyListObject(expected));
}

} // namespace
} // namespace velmora
