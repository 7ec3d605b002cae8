#pragma once

#include "Rendering/Brush.hpp"
#include "UtilityPanels/Tools/BrushStoreError.hpp"
#include "foundation/URL.hpp"
#include "foundation/UUID.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

// The user's brush library on disk: one JSON file per brush and the order file
// "Metadata" in one folder, first filled with the factory brushes. Every change
// is written at once; a change the file system refuses throws BrushStoreError
// and leaves the store and its folder as they were. Main thread only.
class BrushStore {
public:
    struct StoredBrush {
        Brush brush;
        URL url; // the file last written or read for the brush
    };

    static constexpr const char* fileExtension = "vmbrush";
    static constexpr const char* orderFileName = "Metadata";
    // A larger brush or order file counts as damaged.
    static constexpr std::size_t maximumFileSize = 1024 * 1024;

    // The factory brushes: share/velmora/Brushes beside the program's folder.
    static URL bundleBrushesURL();
    // $XDG_DATA_HOME/velmora, else ~/.local/share/velmora, made with mode 0700.
    static URL applicationSupportURL();

    // The application's library: the factory brushes into the user's folder
    // "Brushes" of `applicationSupportURL()`.
    BrushStore();
    // Installs from `installationSource` when nothing is at `userBrushesDirUrl`,
    // then loads. A failure leaves the library empty (or as far as it loaded)
    // and is logged and kept for `takeStartupError()`.
    BrushStore(std::optional<URL> installationSource, URL userBrushesDirUrl);
    BrushStore(const BrushStore&) = delete;
    BrushStore& operator=(const BrushStore&) = delete;

    const URL& userBrushesDirUrl() const { return userBrushesDirUrl_; }
    const std::unordered_map<UUID, StoredBrush>& brushes() const { return brushes_; }
    const std::vector<UUID>& brushesOrder() const { return brushesOrder_; }

    // Why the library could not be read at start-up; given once, then none.
    std::optional<BrushStoreError> takeStartupError();

    // Called when a change is refused without an error to show (an empty name).
    std::function<void()> beep = systemBeep;

    // Nothing when the same brush is already stored; `position` is 0...count.
    void add(const Brush& brush, std::size_t position);
    // The stored brush with `brush`'s identifier gets `newName` and a file named
    // after it. An empty name is refused with a beep: it makes no brush file name.
    void rename(const Brush& brush, const std::string& newName);
    // `destination` is counted in the order without the brush.
    void move(const Brush& brush, std::size_t destination);
    void deleteBrush(std::size_t position);

    // `url` when nothing is at its path, else its first free numbered variant.
    static URL uniqueURL(const URL& url);
    // Writes `brush` to a new file in the user folder; returns that file.
    URL save(const Brush& brush);
    void saveOrder();
    // Reads the folder and its order file in place of what the store held, then
    // rewrites the order file to list exactly the brushes that loaded.
    void load();
    static void install(const URL& source, const URL& destination);
    // Empty when the file is missing or damaged (logged).
    static std::vector<UUID> readOrder(const URL& url);

private:
    static void systemBeep();
    void startUp(const std::optional<URL>& installationSource);
    void writeOrder(const std::vector<UUID>& order);
    std::size_t indexInOrder(const UUID& uuid) const;
    StoredBrush& stored(const UUID& uuid);

    URL userBrushesDirUrl_;
    std::unordered_map<UUID, StoredBrush> brushes_;
    std::vector<UUID> brushesOrder_;
    std::optional<BrushStoreError> startupError_;
};

} // namespace velmora
