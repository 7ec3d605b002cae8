#include "coding/BinaryPropertyList.hpp"
#include "coding/BinaryPropertyListDefaultsFormat.hpp"
#include "foundation/TaggedDefaultsFormat.hpp"
#include "foundation/UserDefaults.hpp"
#include "platform/coding/PropertyListTestSupport.hpp"

#include <fstream>
#include <gtest/gtest.h>
#include <limits>

namespace velmora {
namespace {

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

DefaultsValue::Dictionary sampleValues() {
    return {
        {"Allow Drawing with Mouse", true},
        {"tool", 2},
        {"negative", std::numeric_limits<std::int64_t>::min()},
        {"zoom", 0.1},
        {"Größe", "Ünïcode"},
        {"DrawingSettings", DefaultsValue::Data{0x62, 0x70, 0x00, 0xFF}},
        {"frames", DefaultsValue::Array{1, "two", DefaultsValue::Array{}, 3.5}},
        {"panel", DefaultsValue::Dictionary{{"color", DefaultsValue::Data{}},
                                            {"nested", DefaultsValue::Dictionary{{"x", false}}}}},
    };
}

TEST(BinaryPropertyListDefaultsFormatTest, StoreWritesBinaryPropertyListsThatReadBack) {
    testing::TemporaryFolder folder;
    const auto format = std::make_shared<BinaryPropertyListDefaultsFormat>();
    {
        UserDefaults defaults(folder.path(), format);
        for (const auto& [key, value] : sampleValues()) {
            defaults.set(value, key);
        }
        ASSERT_TRUE(defaults.synchronize());
    }
    const auto path = folder.path() / UserDefaults::fileName;
    const auto bytes = readAll(path);
    EXPECT_TRUE(BinaryPropertyList::hasSignature(bytes));
    const UserDefaults reopened(folder.path(), format);
    for (const auto& [key, value] : sampleValues()) {
        EXPECT_EQ(reopened.objectForKey(key), value) << key;
    }
    // An independent reader sees the same values.
    const auto result = testing::runPython(folder.path(), R"(
import plistlib, sys
with open(sys.argv[1], 'rb') as f:
    p = plistlib.load(f)
print(p['tool'], p['zoom'], p['Größe'], p['DrawingSettings'], p['frames'], p['panel'])
)",
                                           "'" + path.string() + "'");
    ASSERT_TRUE(result.ok) << result.output;
    EXPECT_EQ(result.output, "2 0.1 Ünïcode b'bp\\x00\\xff' [1, 'two', [], 3.5] "
                             "{'color': b'', 'nested': {'x': False}}\n");
}

TEST(BinaryPropertyListDefaultsFormatTest, OlderFilesStayReadableAndAreRewritten) {
    testing::TemporaryFolder folder;
    UserDefaults(folder.path(), std::make_shared<TaggedDefaultsFormat>()).set("ask", "mode");
    const auto format = std::make_shared<BinaryPropertyListDefaultsFormat>();
    UserDefaults defaults(folder.path(), format);
    EXPECT_EQ(defaults.stringForKey("mode"), "ask");
    defaults.set(true, "flag");
    EXPECT_TRUE(format->recognises(readAll(folder.path() / UserDefaults::fileName)));
    EXPECT_EQ(UserDefaults(folder.path(), format).stringForKey("mode"), "ask");
}

TEST(BinaryPropertyListDefaultsFormatTest, ForeignFilesReadOrFailAsDamaged) {
    const BinaryPropertyListDefaultsFormat format;
    PropertyListDictionary withDate;
    withDate.set("when", PropertyListDate{60.0});
    EXPECT_EQ(format.decode(BinaryPropertyList::encode(withDate)),
              (DefaultsValue::Dictionary{{"when", 60.0}}));

    struct Case {
        const char* name;
        PropertyListObject root;
    };
    PropertyListDictionary withNull;
    withNull.set("x", PropertyListArray{PropertyListObject()});
    PropertyListDictionary withHuge;
    withHuge.set("x", PropertyListInteger::fromUnsigned(~std::uint64_t(0)));
    PropertyListDictionary withUID;
    withUID.set("x", PropertyListUID{1});
    const Case cases[] = {
        {"array at the top", PropertyListArray{}},
        {"null", withNull},
        {"integer beyond int64", withHuge},
        {"UID", withUID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(format.decode(BinaryPropertyList::encode(c.root)), UserDefaultsError);
    }
    const std::vector<std::uint8_t> truncated = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 0xD0};
    EXPECT_TRUE(format.recognises(truncated));
    EXPECT_THROW(format.decode(truncated), UserDefaultsError);
    EXPECT_THROW(format.encode({{"bad", std::string("\xFF")}}), UserDefaultsError);
}

TEST(BinaryPropertyListDefaultsFormatTest, InstallMakesItTheProcessWideFormat) {
    const auto previous = UserDefaults::fileFormat();
    BinaryPropertyListDefaultsFormat::install();
    testing::TemporaryFolder folder;
    UserDefaults(folder.path()).set(1, "tool");
    UserDefaults::setFileFormat(previous);
    EXPECT_TRUE(BinaryPropertyList::hasSignature(readAll(folder.path() / UserDefaults::fileName)));
}

} // namespace
} // namespace velmora
