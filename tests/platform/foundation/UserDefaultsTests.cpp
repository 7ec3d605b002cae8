#include "foundation/LogCapture.hpp"
#include "foundation/TaggedDefaultsFormat.hpp"
#include "foundation/UserDefaults.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

struct TemporaryFolder {
    fs::path path;
    TemporaryFolder() {
        std::string pattern = (fs::temp_directory_path() / "velmora-defaults-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code error;
        fs::permissions(path, fs::perms::owner_all, error);
        fs::remove_all(path, error);
    }
};

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

DefaultsValue::Dictionary sampleValues() {
    return {
        {"Allow Drawing with Mouse", true},
        {"Document Format Conversion", "keepAlways"},
        {"DefaultNewCanvasSize", "{1920, 1080}"},
        {"tool", 2},
        {"negative", std::numeric_limits<std::int64_t>::min()},
        {"zoom", 0.1},
        {"DrawingSettings", DefaultsValue::Data{0x62, 0x70, 0x00, 0xFF}},
        {"frames", DefaultsValue::Array{1, "two", DefaultsValue::Array{}, 3.5}},
        {"panel", DefaultsValue::Dictionary{{"color", DefaultsValue::Data{}},
                                            {"nested", DefaultsValue::Dictionary{{"x", false}}}}},
        {"", "empty key"},
    };
}

} // namespace

TEST(UserDefaults, ValuesOfEveryKindSurviveAReopen) {
    const TemporaryFolder folder;
    {
        UserDefaults defaults(folder.path / "velmora");
        for (const auto& [key, value] : sampleValues()) {
            defaults.set(value, key);
        }
        EXPECT_TRUE(defaults.synchronize());
    }
    const UserDefaults reopened(folder.path / "velmora");
    for (const auto& [key, value] : sampleValues()) {
        EXPECT_EQ(reopened.objectForKey(key), value) << key;
    }
    EXPECT_EQ(reopened.stringForKey("Document Format Conversion"), "keepAlways");
    EXPECT_EQ(reopened.dataForKey("DrawingSettings"),
              (DefaultsValue::Data{0x62, 0x70, 0x00, 0xFF}));
    EXPECT_EQ(reopened.arrayForKey("frames")->size(), 4u);
    EXPECT_EQ(reopened.dictionaryForKey("panel")->count("nested"), 1u);
    EXPECT_FALSE(reopened.objectForKey("Preferred Screen").has_value());
    struct stat info {};
    ASSERT_EQ(::stat((folder.path / "velmora" / "defaults.plist").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(UserDefaults, RemovingAndReplacingArePersistedAndLeaveNoTemporaryFiles) {
    const TemporaryFolder folder;
    UserDefaults defaults(folder.path);
    defaults.set("ask", "Document Format Conversion");
    defaults.set("convertAlways", "Document Format Conversion");
    defaults.set(true, "Disable Drawing With Mouse Warning");
    defaults.removeObjectForKey("Disable Drawing With Mouse Warning");
    defaults.removeObjectForKey("never set");
    const UserDefaults reopened(folder.path);
    EXPECT_EQ(reopened.stringForKey("Document Format Conversion"), "convertAlways");
    EXPECT_FALSE(reopened.objectForKey("Disable Drawing With Mouse Warning"));
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(folder.path)) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(files, std::vector<std::string>{"defaults.plist"});
}

TEST(UserDefaults, TypedReadsConvertAsThePlatformDoes) {
    UserDefaults defaults(std::nullopt);
    defaults.set(true, "bool");
    defaults.set(7, "int");
    defaults.set(2.75, "real");
    defaults.set("YES", "yes");
    defaults.set("42", "numeric");
    defaults.set("abc", "text");
    defaults.set(1e300, "huge");
    defaults.set(DefaultsValue::Data{1}, "data");
    struct Row {
        const char* key;
        bool asBool;
        std::int64_t asInteger;
        double asDouble;
        std::optional<std::string> asString;
    };
    const Row rows[] = {
        {"bool", true, 1, 1.0, std::nullopt},     {"int", true, 7, 7.0, "7"},
        {"real", true, 2, 2.75, "2.75"},          {"yes", true, 0, 0.0, "YES"},
        {"numeric", true, 42, 42.0, "42"},        {"text", false, 0, 0.0, "abc"},
        {"huge", true, 0, 1e300, "1e+300"},       {"data", false, 0, 0.0, std::nullopt},
        {"missing", false, 0, 0.0, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(defaults.boolForKey(row.key), row.asBool) << row.key;
        EXPECT_EQ(defaults.integerForKey(row.key), row.asInteger) << row.key;
        EXPECT_EQ(defaults.doubleForKey(row.key), row.asDouble) << row.key;
        EXPECT_EQ(defaults.stringForKey(row.key), row.asString) << row.key;
    }
    EXPECT_FALSE(defaults.dataForKey("text"));
    EXPECT_FALSE(defaults.arrayForKey("data"));
}

TEST(UserDefaults, ADamagedFileIsKeptAsideAndNeverOverwritten) {
    const TemporaryFolder folder;
    {
        UserDefaults defaults(folder.path);
        defaults.set("keepAlways", "Document Format Conversion");
    }
    auto bytes = readAll(folder.path / "defaults.plist");
    bytes[bytes.size() / 2] ^= 0x20;
    writeAll(folder.path / "defaults.plist", bytes);

    LogCapture capture;
    UserDefaults defaults(folder.path);
    EXPECT_FALSE(defaults.objectForKey("Document Format Conversion"));
    EXPECT_EQ(readAll(folder.path / "defaults.plist.damaged"), bytes);
    EXPECT_FALSE(capture.messages("User Defaults").empty());

    defaults.set(true, "Allow Drawing with Mouse");
    EXPECT_EQ(readAll(folder.path / "defaults.plist.damaged"), bytes);
    EXPECT_TRUE(UserDefaults(folder.path).boolForKey("Allow Drawing with Mouse"));

    // A second damaged file does not replace the first one kept aside.
    writeAll(folder.path / "defaults.plist", {'j', 'u', 'n', 'k'});
    const UserDefaults again(folder.path);
    EXPECT_EQ(readAll(folder.path / "defaults.plist.damaged"), bytes);
    EXPECT_EQ(readAll(folder.path / "defaults.plist.damaged-1"),
              (std::vector<std::uint8_t>{'j', 'u', 'n', 'k'}));
}

TEST(UserDefaults, AFileThatCannotBeMovedAsideIsLeftAloneAndChangesStayInMemory) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    const TemporaryFolder folder;
    writeAll(folder.path / "defaults.plist", {'j', 'u', 'n', 'k'});
    fs::permissions(folder.path, fs::perms::owner_read | fs::perms::owner_exec);
    LogCapture capture;
    UserDefaults defaults(folder.path);
    defaults.set(1, "tool");
    EXPECT_EQ(defaults.integerForKey("tool"), 1);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(readAll(folder.path / "defaults.plist"),
              (std::vector<std::uint8_t>{'j', 'u', 'n', 'k'}));
}

TEST(UserDefaults, AnUnwritableFolderKeepsChangesPendingUntilItCanWrite) {
    const TemporaryFolder folder;
    const fs::path blocked = folder.path / "velmora";
    writeAll(blocked, {'x'}); // a file where the folder should be
    LogCapture capture;
    UserDefaults defaults(blocked);
    defaults.set(2, "tool");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_FALSE(capture.messages("User Defaults").empty());
    fs::remove(blocked);
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(UserDefaults(blocked).integerForKey("tool"), 2);
}

TEST(UserDefaults, StandardFolderFollowsXDGAndStaysOutOfTheUsersSettingsUnderTest) {
    const char* savedTest = std::getenv("VELMORA_TEST");
    const std::string test = savedTest != nullptr ? savedTest : "";
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string config = savedConfig != nullptr ? savedConfig : "";

    ::setenv("VELMORA_TEST", "1", 1);
    EXPECT_FALSE(UserDefaults::standardFolder().has_value());
    EXPECT_FALSE(UserDefaults::standard().filePath().has_value());

    ::unsetenv("VELMORA_TEST");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(UserDefaults::standardFolder(), fs::path("/cfg/velmora"));
    ::setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    ::setenv("HOME", "/home/artist", 1);
    EXPECT_EQ(UserDefaults::standardFolder(), fs::path("/home/artist/.config/velmora"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::standardFolder(), fs::path("/home/artist/.config/velmora"));

    if (savedTest != nullptr) {
        ::setenv("VELMORA_TEST", test.c_str(), 1);
    }
    if (savedConfig != nullptr) {
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
}

namespace {

// Stands in for another file format: stores the built-in encoding behind its own magic.
class WrappedFormat : public UserDefaultsFormat {
public:
    bool recognises(std::span<const std::uint8_t> bytes) const override {
        return bytes.size() >= 4 && std::equal(bytes.begin(), bytes.begin() + 4, "WRAP");
    }
    DefaultsValue::Dictionary decode(std::span<const std::uint8_t> bytes) const override {
        return inner_.decode(bytes.subspan(4));
    }
    std::vector<std::uint8_t> encode(const DefaultsValue::Dictionary& values) const override {
        std::vector<std::uint8_t> out{'W', 'R', 'A', 'P'};
        const auto body = inner_.encode(values);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }

private:
    TaggedDefaultsFormat inner_;
};

} // namespace

TEST(UserDefaults, AnotherFileFormatTakesOverAndOldFilesStayReadable) {
    const TemporaryFolder folder;
    UserDefaults(folder.path).set("ask", "Document Format Conversion");
    const auto format = std::make_shared<WrappedFormat>();
    UserDefaults defaults(folder.path, format);
    EXPECT_EQ(defaults.stringForKey("Document Format Conversion"), "ask");
    defaults.set("keepAlways", "Document Format Conversion");
    const auto bytes = readAll(folder.path / "defaults.plist");
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_TRUE(format->recognises(bytes));
    EXPECT_EQ(UserDefaults(folder.path, format).stringForKey("Document Format Conversion"),
              "keepAlways");
}

TEST(UserDefaults, AStoreWithoutItsOwnFormatFollowsTheProcessWideOne) {
    const TemporaryFolder folder;
    UserDefaults defaults(folder.path);
    defaults.set(1, "tool");
    const auto format = std::make_shared<WrappedFormat>();
    UserDefaults::setFileFormat(format);
    defaults.set(2, "tool");
    UserDefaults::setFileFormat(std::make_shared<TaggedDefaultsFormat>());
    EXPECT_TRUE(format->recognises(readAll(folder.path / "defaults.plist")));
    EXPECT_EQ(UserDefaults(folder.path, format).integerForKey("tool"), 2);
}

TEST(TaggedDefaultsFormat, RealsRoundTripBitForBitIncludingNaN) {
    const TaggedDefaultsFormat format;
    const DefaultsValue::Dictionary values = {
        {"nan", std::numeric_limits<double>::quiet_NaN()},
        {"inf", -std::numeric_limits<double>::infinity()},
        {"tiny", std::numeric_limits<double>::denorm_min()},
        {"zero", -0.0},
    };
    const auto decoded = format.decode(format.encode(values));
    EXPECT_EQ(decoded, values);
    EXPECT_TRUE(std::signbit(*decoded.at("zero").realValue()));
    EXPECT_NE(DefaultsValue(std::numeric_limits<double>::quiet_NaN()), DefaultsValue(0.0));
}

TEST(TaggedDefaultsFormat, FuzzerFoundNaNInANestedDictionaryReadsBackEqual) {
    const std::vector<std::uint8_t> body = {
        0x44, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4d, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x72, 0x72, 0x72, 0x96, 0x8d, 0x72, 0x72, 0x72, 0x72, 0x72, 0x72, 0x72,
        0x72, 0x01, 0x00, 0x00, 0x00, 0x9d, 0x44, 0x01, 0x94, 0x00, 0x00, 0x00, 0x42, 0x60, 0x61,
        0x00, 0x00, 0x00, 0xff, 0xff, 0x60, 0x40, 0x00, 0x32, 0x7a, 0xeb, 0x00, 0x00, 0x00, 0x4d,
        0x00, 0x00, 0x00, 0x00, 0x9d, 0x44, 0x01, 0x00, 0x72, 0x72, 0x72, 0x72, 0x72, 0x72, 0x72,
        0x72, 0x72, 0x72, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x72, 0x00, 0x44, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4d, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x72, 0x72, 0x72, 0x72, 0x72, 0x72, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x44, 0x01, 0x00, 0x00, 0x00, 0xbe, 0x41, 0x85, 0x00, 0x60, 0x61, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03,
        0xb0, 0xff, 0xff, 0xfc, 0x00, 0x69, 0x69, 0x69, 0x69, 0x69, 0x69, 0x00, 0x00, 0x00, 0x72,
        0x72, 0x72, 0x72, 0x72, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x72, 0x72, 0x72,
        0x72, 0x72, 0x03, 0x00, 0x72, 0x72, 0x72, 0x00, 0x72, 0x72, 0x72, 0xa8, 0x72, 0x72, 0x03,
        0xff, 0xff};
    std::vector<std::uint8_t> bytes = {'V', 'L', 'M', 'D', 'E', 'F', 'S', '1'};
    bytes.insert(bytes.end(), body.begin(), body.end());
    std::uint64_t hash = 0xCBF29CE484222325ULL;
    for (const std::uint8_t b : bytes) {
        hash = (hash ^ b) * 0x100000001B3ULL;
    }
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(hash >> (8 * i)));
    }
    const TaggedDefaultsFormat format;
    const auto values = format.decode(bytes);
    EXPECT_EQ(format.decode(format.encode(values)), values);
}

TEST(TaggedDefaultsFormat, EveryTruncationAndBitFlipIsRefusedCleanly) {
    const TaggedDefaultsFormat format;
    const auto bytes = format.encode(sampleValues());
    EXPECT_EQ(format.decode(bytes), sampleValues());
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_THROW(format.decode(std::span(bytes).first(length)), UserDefaultsError) << length;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        auto damaged = bytes;
        damaged[i] ^= 0x01;
        EXPECT_THROW(format.decode(damaged), UserDefaultsError) << i;
    }
}
