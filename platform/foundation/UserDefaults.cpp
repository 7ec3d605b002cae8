#include "foundation/UserDefaults.hpp"

#include "foundation/AtomicFile.hpp"
#include "foundation/Logger.hpp"
#include "foundation/TaggedDefaultsFormat.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace {

constexpr std::uintmax_t maximumFileSize = 64u << 20;

const Logger& defaultsLog() {
    static const Logger* log = new Logger("com.tovik.Velmora", "User Defaults");
    return *log;
}

std::mutex formatMutex;
std::shared_ptr<const UserDefaultsFormat>& currentFormat() {
    static std::shared_ptr<const UserDefaultsFormat> format =
        std::make_shared<TaggedDefaultsFormat>();
    return format;
}

const UserDefaultsFormat& builtInFormat() {
    static const TaggedDefaultsFormat format;
    return format;
}

enum class ReadResult { read, missing, failed };

ReadResult readFile(const std::filesystem::path& path, std::vector<std::uint8_t>& out,
                    std::string& problem) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
        if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory) {
            return ReadResult::missing;
        }
        problem = error.message();
        return ReadResult::failed;
    }
    if (size > maximumFileSize) {
        problem = "the file is larger than any preferences can be";
        return ReadResult::failed;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = std::strerror(errno);
        return ReadResult::failed;
    }
    out.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (in.gcount() != static_cast<std::streamsize>(out.size())) {
        problem = "the file could not be read whole";
        return ReadResult::failed;
    }
    return ReadResult::read;
}

// Moves a file we cannot read out of the way so a new one never replaces it.
bool keepAside(const std::filesystem::path& path) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::filesystem::path aside = path;
        aside += attempt == 0 ? ".damaged" : ".damaged-" + std::to_string(attempt);
        std::error_code error;
        if (std::filesystem::exists(aside, error) || error) {
            continue;
        }
        std::filesystem::rename(path, aside, error);
        if (!error) {
            defaultsLog().error("Kept the unreadable user defaults as %{public}@", aside.string());
            return true;
        }
        return false;
    }
    return false;
}

std::optional<double> parseNumber(const std::string& text) {
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return v;
}

} // namespace

UserDefaults::UserDefaults(std::optional<std::filesystem::path> folder,
                           std::shared_ptr<const UserDefaultsFormat> format)
    : folder_(std::move(folder)), format_(std::move(format)) {
    const std::lock_guard lock(mutex_);
    loadLocked();
}

UserDefaults& UserDefaults::standard() {
    // Leaked: may be used until the very end of the process.
    static UserDefaults* defaults = new UserDefaults(standardFolder());
    return *defaults;
}

std::optional<std::filesystem::path> UserDefaults::standardFolder() {
    if (std::getenv("VELMORA_TEST") != nullptr) {
        return std::nullopt;
    }
    const auto config = xdgBaseFolder("XDG_CONFIG_HOME", ".config");
    if (!config) {
        return std::nullopt;
    }
    return *config / "velmora";
}

void UserDefaults::setFileFormat(std::shared_ptr<const UserDefaultsFormat> format) {
    const std::lock_guard lock(formatMutex);
    currentFormat() = std::move(format);
}

std::shared_ptr<const UserDefaultsFormat> UserDefaults::fileFormat() {
    const std::lock_guard lock(formatMutex);
    return currentFormat();
}

void UserDefaults::setFolder(std::optional<std::filesystem::path> folder) {
    const std::lock_guard lock(mutex_);
    folder_ = std::move(folder);
    values_.clear();
    dirty_ = false;
    writesRefused_ = false;
    loadLocked();
}

std::optional<std::filesystem::path> UserDefaults::filePath() const {
    const std::lock_guard lock(mutex_);
    if (!folder_) {
        return std::nullopt;
    }
    return *folder_ / fileName;
}

std::shared_ptr<const UserDefaultsFormat> UserDefaults::activeFormat() const {
    return format_ ? format_ : fileFormat();
}

void UserDefaults::loadLocked() {
    if (!folder_) {
        return;
    }
    const std::filesystem::path path = *folder_ / fileName;
    std::vector<std::uint8_t> bytes;
    std::string problem;
    switch (readFile(path, bytes, problem)) {
    case ReadResult::missing:
        return;
    case ReadResult::read:
        try {
            const auto active = activeFormat();
            for (const UserDefaultsFormat* format : {active.get(), &builtInFormat()}) {
                if (format->recognises(bytes)) {
                    values_ = format->decode(bytes);
                    return;
                }
            }
            problem = "the file is in no known format";
        } catch (const UserDefaultsError& e) {
            problem = e.what();
        }
        break;
    case ReadResult::failed:
        break;
    }
    defaultsLog().error("Cannot read the user defaults at %{public}@: %{public}@", path.string(),
                        problem);
    values_.clear();
    if (!keepAside(path)) {
        writesRefused_ = true;
        defaultsLog().error("Changes to the user defaults stay in memory: %{public}@ is left as "
                            "it is",
                            path.string());
    }
}

void UserDefaults::persistLocked() {
    dirty_ = true;
    if (!folder_ || writesRefused_) {
        return;
    }
    const std::filesystem::path path = *folder_ / fileName;
    try {
        std::error_code error;
        if (!std::filesystem::exists(*folder_, error)) {
            std::filesystem::create_directories(*folder_);
            std::filesystem::permissions(*folder_, std::filesystem::perms::owner_all);
        }
        writeFileAtomically(path, activeFormat()->encode(values_));
        dirty_ = false;
    } catch (const std::exception& e) {
        defaultsLog().error("Cannot write the user defaults at %{public}@: %{public}@",
                            path.string(), e.what());
    }
}

std::optional<DefaultsValue> UserDefaults::objectForKey(std::string_view key) const {
    const std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool UserDefaults::boolForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value) {
        return false;
    }
    if (const auto b = value->boolValue()) {
        return *b;
    }
    if (const auto i = value->integerValue()) {
        return *i != 0;
    }
    if (const auto r = value->realValue()) {
        return *r != 0;
    }
    if (const std::string* text = value->stringValue()) {
        if (*text == "YES" || *text == "yes" || *text == "true" || *text == "TRUE") {
            return true;
        }
        const auto number = parseNumber(*text);
        return number && *number != 0;
    }
    return false;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value) {
        return 0;
    }
    if (const auto r = value->realValue()) {
        return *r;
    }
    if (const auto i = value->integerValue()) {
        return static_cast<double>(*i);
    }
    if (const auto b = value->boolValue()) {
        return *b ? 1 : 0;
    }
    if (const std::string* text = value->stringValue()) {
        return parseNumber(*text).value_or(0);
    }
    return 0;
}

std::int64_t UserDefaults::integerForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (value) {
        if (const auto i = value->integerValue()) {
            return *i;
        }
    }
    const double d = doubleForKey(key);
    // Out of range or not a number reads as 0 rather than undefined behaviour.
    if (!std::isfinite(d) || d >= 9223372036854775808.0 || d < -9223372036854775808.0) {
        return 0;
    }
    return static_cast<std::int64_t>(d);
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value) {
        return std::nullopt;
    }
    if (const std::string* text = value->stringValue()) {
        return *text;
    }
    if (const auto i = value->integerValue()) {
        return std::to_string(*i);
    }
    if (const auto r = value->realValue()) {
        char buffer[32];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, *r);
        return error == std::errc() ? std::optional<std::string>(std::string(buffer, end))
                                    : std::nullopt;
    }
    return std::nullopt;
}

std::optional<DefaultsValue::Data> UserDefaults::dataForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value || value->dataValue() == nullptr) {
        return std::nullopt;
    }
    return *value->dataValue();
}

std::optional<DefaultsValue::Array> UserDefaults::arrayForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value || value->arrayValue() == nullptr) {
        return std::nullopt;
    }
    return *value->arrayValue();
}

std::optional<DefaultsValue::Dictionary>
UserDefaults::dictionaryForKey(std::string_view key) const {
    const auto value = objectForKey(key);
    if (!value || value->dictionaryValue() == nullptr) {
        return std::nullopt;
    }
    return *value->dictionaryValue();
}

void UserDefaults::set(DefaultsValue value, std::string_view key) {
    const std::lock_guard lock(mutex_);
    values_.insert_or_assign(std::string(key), std::move(value));
    persistLocked();
}

void UserDefaults::removeObjectForKey(std::string_view key) {
    const std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return;
    }
    values_.erase(found);
    persistLocked();
}

bool UserDefaults::synchronize() {
    const std::lock_guard lock(mutex_);
    if (!folder_) {
        return true;
    }
    if (dirty_) {
        persistLocked();
    }
    return !dirty_;
}

} // namespace velmora
