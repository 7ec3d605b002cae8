#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// File-system steps of the brush library. Each throws std::system_error and,
// when it fails, leaves behind nothing it made.
namespace velmora::brushfiles {

// Whether anything, a dangling link included, is at `path`.
bool somethingExists(const std::filesystem::path& path);

// Makes `folder` and its missing parents, each with mode 0700.
void makeFolders(const std::filesystem::path& folder);

// The names in `folder` in byte order, so every machine lists alike; none when
// the folder does not exist.
std::vector<std::string> listFolder(const std::filesystem::path& folder);

// A whole regular file; a larger one than `limit` bytes fails with EFBIG.
std::vector<std::uint8_t> readFile(const std::filesystem::path& path, std::size_t limit);

// Copies the contents of the regular files of `source` into the new folder
// `destination`, which appears whole or not at all. Whatever the source's
// permissions, the copy is the user's own: folder 0700, files 0600.
void copyFolder(const std::filesystem::path& source, const std::filesystem::path& destination);

void removeFile(const std::filesystem::path& path);

} // namespace velmora::brushfiles
