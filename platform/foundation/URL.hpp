#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// A file URL: an absolute path and whether it names a directory (shown by a
// trailing slash in its text form).
class URL {
public:
    // Relative paths are taken from the current directory. Without `isDirectory`
    // the file system is asked, as the platform does; a trailing "/" also says so.
    static URL fileURL(const std::filesystem::path& path, std::optional<bool> isDirectory = {});

    // The path without a trailing slash (except for "/").
    std::string path() const;
    std::filesystem::path filePath() const { return std::filesystem::path(path()); }
    bool hasDirectoryPath() const { return isDirectory_; }

    // "file://" and the percent-encoded path, with a trailing slash for a directory.
    std::string absoluteString() const;

    std::string lastPathComponent() const;
    std::string pathExtension() const;
    URL deletingLastPathComponent() const;

    // One more path component (it may hold slashes of its own). A component
    // ending in "/" names a directory; otherwise the file system is asked.
    URL appendingPathComponent(std::string_view component) const;
    URL appendingPathComponent(std::string_view component, bool isDirectory) const;

    friend bool operator==(const URL&, const URL&) = default;

private:
    URL(std::string path, bool isDirectory) : path_(std::move(path)), isDirectory_(isDirectory) {}

    std::string path_; // absolute, no trailing slash unless it is "/"
    bool isDirectory_ = false;
};

// Path joining as on the platform: `folder / "Brushes" / "Metadata"`.
inline URL operator/(const URL& url, std::string_view component) {
    return url.appendingPathComponent(component);
}

} // namespace velmora
