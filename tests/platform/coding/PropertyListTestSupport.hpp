#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora::testing {

// Assembles a binary property list object by object, so tests can build files
// that our writer would never produce.
class RawPropertyList {
public:
    // Appends an object's bytes; returns its index.
    std::size_t add(std::vector<std::uint8_t> bytes) {
        objects_.push_back(std::move(bytes));
        return objects_.size() - 1;
    }

    std::vector<std::uint8_t> build(unsigned offsetSize = 1, unsigned refSize = 1,
                                    std::uint64_t top = 0) const {
        std::vector<std::uint8_t> out = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets;
        for (const auto& o : objects_) {
            offsets.push_back(out.size());
            out.insert(out.end(), o.begin(), o.end());
        }
        const std::uint64_t table = out.size();
        for (std::uint64_t o : offsets) {
            appendBigEndian(out, o, offsetSize);
        }
        out.insert(out.end(), 6, 0);
        out.push_back(static_cast<std::uint8_t>(offsetSize));
        out.push_back(static_cast<std::uint8_t>(refSize));
        appendBigEndian(out, objects_.size(), 8);
        appendBigEndian(out, top, 8);
        appendBigEndian(out, table, 8);
        return out;
    }

    static void appendBigEndian(std::vector<std::uint8_t>& out, std::uint64_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            out.push_back(static_cast<std::uint8_t>(v >> (8 * (n - 1 - i))));
        }
    }

    // Marker with a small count and the given one-byte references (keys, then
    // values, for a dictionary).
    static std::vector<std::uint8_t> collection(std::uint8_t marker,
                                                std::vector<std::uint8_t> refs) {
        const std::size_t count = marker == 0xD0 ? refs.size() / 2 : refs.size();
        std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(marker | count)};
        out.insert(out.end(), refs.begin(), refs.end());
        return out;
    }

    static std::vector<std::uint8_t> ascii(const std::string& s) {
        std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(0x50 | s.size())};
        out.insert(out.end(), s.begin(), s.end());
        return out;
    }

private:
    std::vector<std::vector<std::uint8_t>> objects_;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs python3 with a script and arguments; returns its standard output, or
// nullopt-like empty string with `ok` false when it failed.
struct PythonResult {
    bool ok = false;
    std::string output;
};

inline PythonResult runPython(const std::filesystem::path& folder, const std::string& script,
                              const std::string& arguments) {
    const auto scriptPath = folder / "script.py";
    if (FILE* f = std::fopen(scriptPath.c_str(), "w")) {
        std::fputs(script.c_str(), f);
        std::fclose(f);
    }
    const std::string command = "python3 '" + scriptPath.string() + "' " + arguments + " 2>&1";
    PythonResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, n);
    }
    result.ok = ::pclose(pipe) == 0;
    return result;
}

} // namespace velmora::testing
