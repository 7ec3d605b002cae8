#include "foundation/URL.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using velmora::URL;

namespace {

struct TemporaryFolder {
    std::filesystem::path path;
    TemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-url-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(URL, JoiningAddsExactlyOneSeparator) {
    struct Case {
        const char* base;
        bool baseIsDirectory;
        const char* component;
        const char* path;
        const char* absolute;
    };
    const Case cases[] = {
        {"/data", true, "Brushes", "/data/Brushes", "file:///data/Brushes"},
        {"/data/", true, "Brushes", "/data/Brushes", "file:///data/Brushes"},
        {"/data", true, "/Brushes", "/data/Brushes", "file:///data/Brushes"},
        {"/data", true, "Brushes/", "/data/Brushes", "file:///data/Brushes/"},
        {"/data", true, "a/b.vmbrush", "/data/a/b.vmbrush", "file:///data/a/b.vmbrush"},
        {"/", true, "tmp", "/tmp", "file:///tmp/"},
        {"/data", true, "My Brush #1.vmbrush", "/data/My Brush #1.vmbrush",
         "file:///data/My%20Brush%20%231.vmbrush"},
        {"/data", true, "", "/data", "file:///data/"},
    };
    for (const Case& c : cases) {
        const URL joined = URL::fileURL(c.base, c.baseIsDirectory) / c.component;
        EXPECT_EQ(joined.path(), c.path) << c.base << " + " << c.component;
        EXPECT_EQ(joined.absoluteString(), c.absolute) << c.base << " + " << c.component;
    }
}

TEST(URL, DirectoriesAreFoundOnDiskWhenNotSaid) {
    const TemporaryFolder folder;
    std::filesystem::create_directory(folder.path / "Brushes");
    std::ofstream(folder.path / "Metadata") << "x";
    const URL base = URL::fileURL(folder.path);
    EXPECT_TRUE(base.hasDirectoryPath());
    EXPECT_TRUE((base / "Brushes").hasDirectoryPath());
    EXPECT_FALSE((base / "Metadata").hasDirectoryPath());
    EXPECT_FALSE((base / "Missing").hasDirectoryPath());
    EXPECT_EQ((base / "Brushes" / "Metadata").path(),
              (folder.path / "Brushes" / "Metadata").string());
}

TEST(URL, ComponentsAndExtensions) {
    const URL file = URL::fileURL("/a/b/Brush.v2.vmbrush", false);
    EXPECT_EQ(file.lastPathComponent(), "Brush.v2.vmbrush");
    EXPECT_EQ(file.pathExtension(), "vmbrush");
    EXPECT_EQ(file.deletingLastPathComponent().path(), "/a/b");
    EXPECT_EQ(URL::fileURL("/a/.hidden", false).pathExtension(), "");
    EXPECT_EQ(URL::fileURL("/a/Metadata", false).pathExtension(), "");
    EXPECT_EQ(URL::fileURL("/a", true).deletingLastPathComponent().path(), "/");
    EXPECT_EQ(URL::fileURL("/", true).lastPathComponent(), "/");
}

TEST(URL, RelativePathsStartAtTheCurrentDirectory) {
    const URL url = URL::fileURL("some/file.tiff", false);
    EXPECT_EQ(url.path(), (std::filesystem::current_path() / "some/file.tiff").string());
}
