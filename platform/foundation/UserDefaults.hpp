#pragma once

#include "foundation/DefaultsValue.hpp"
#include "foundation/UserDefaultsFormat.hpp"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The user's preferences: typed values by key, kept in one file that is
// rewritten atomically after every change. A file that cannot be read as any
// known format is moved aside (never overwritten) and the store starts empty.
// Safe to use from any thread.
class UserDefaults {
public:
    static constexpr std::string_view fileName = "defaults.plist";

    // Keeps its file in `folder`, or only in memory without one. Without a
    // format of its own it writes in the process-wide `fileFormat()`.
    explicit UserDefaults(std::optional<std::filesystem::path> folder,
                          std::shared_ptr<const UserDefaultsFormat> format = nullptr);

    // The application's store in `standardFolder()`.
    static UserDefaults& standard();
    // $XDG_CONFIG_HOME/velmora, else ~/.config/velmora; none when VELMORA_TEST is
    // set, so that tests never touch the user's settings.
    static std::optional<std::filesystem::path> standardFolder();

    // The format files are written in from now on; files of the built-in format
    // stay readable, and are rewritten in the new one at the next change.
    static void setFileFormat(std::shared_ptr<const UserDefaultsFormat> format);
    static std::shared_ptr<const UserDefaultsFormat> fileFormat();

    // Drops the values in memory and reads those of `folder` (none: memory only).
    void setFolder(std::optional<std::filesystem::path> folder);
    std::optional<std::filesystem::path> filePath() const;

    std::optional<DefaultsValue> objectForKey(std::string_view key) const;
    // As the platform converts: numbers and "true"/"YES"/"1" texts count as
    // Booleans, Booleans and numeric texts as numbers; absent gives false or 0.
    bool boolForKey(std::string_view key) const;
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    // Texts, and numbers as texts.
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<DefaultsValue::Data> dataForKey(std::string_view key) const;
    std::optional<DefaultsValue::Array> arrayForKey(std::string_view key) const;
    std::optional<DefaultsValue::Dictionary> dictionaryForKey(std::string_view key) const;

    void set(DefaultsValue value, std::string_view key);
    void removeObjectForKey(std::string_view key);

    // Writes pending changes; true when everything is on disk (or memory only).
    bool synchronize();

private:
    std::shared_ptr<const UserDefaultsFormat> activeFormat() const;
    void loadLocked();
    void persistLocked();

    mutable std::mutex mutex_;
    std::optional<std::filesystem::path> folder_;
    std::shared_ptr<const UserDefaultsFormat> format_;
    DefaultsValue::Dictionary values_;
    bool dirty_ = false;
    // Set when the file on disk could not be read nor moved aside: writing would destroy it.
    bool writesRefused_ = false;
};

} // namespace velmora
