#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace velmora {

// An append-only text file that never grows past its bound: a line that would
// cross it first moves the file to the same name with ".1" appended (replacing
// the one there), so at most twice the bound stays on disk. The folder is made
// private on first write. Thread-safe; a file that cannot be written drops lines.
class LogFile {
public:
    static constexpr std::uintmax_t defaultLimit = 1024 * 1024;

    explicit LogFile(std::filesystem::path path, std::uintmax_t limit = defaultLimit);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void append(std::string_view line);

private:
    bool open();
    void rotate();

    const std::filesystem::path path_;
    const std::uintmax_t limit_;
    std::mutex mutex_;
    int fd_ = -1;
    std::uintmax_t size_ = 0;
    bool failed_ = false;
};

} // namespace velmora
