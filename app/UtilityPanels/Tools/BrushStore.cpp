#include "UtilityPanels/Tools/BrushStore.hpp"

#include "App/AppLogHandles.hpp"
#include "UtilityPanels/Tools/BrushFiles.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"
#include "foundation/AtomicFile.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/XDGBaseFolder.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <span>

namespace velmora {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> dataHome() {
    return xdgBaseFolder("XDG_DATA_HOME", fs::path(".local") / "share");
}

const char* const noHomeMessage = "There is no home folder to keep the brushes in.";

// Where nothing can be made (not even by root), so that every change fails
// with an error instead of writing somewhere unexpected.
const char* const unusableFolder = "/dev/null/velmora/Brushes";

std::string description(const std::exception& error) {
    return error.what();
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void writeBrush(const Brush& brush, const URL& url) {
    JSONEncoder encoder;
    encoder.outputFormatting.prettyPrinted = true;
    encoder.outputFormatting.sortedKeys = true;
    writeFileAtomically(url.filePath(), bytesOf(encoder.encode(brush)), 0600);
}

// Slashes, and the NUL that would end a file name early, are not in file names.
std::string fileStem(const std::string& name) {
    std::string stem = name;
    std::replace(stem.begin(), stem.end(), '/', ' ');
    std::replace(stem.begin(), stem.end(), '\0', ' ');
    return stem;
}

[[noreturn]] void rethrowAs(const char* messageText) {
    try {
        throw;
    } catch (const BrushStoreError&) {
        throw;
    } catch (const std::exception& error) {
        throw BrushStoreError(messageText, description(error));
    }
}

} // namespace

URL BrushStore::bundleBrushesURL() {
    const fs::path program = QCoreApplication::applicationDirPath().toStdString();
    return URL::fileURL((program / ".." / "share" / "velmora" / "Brushes").lexically_normal(),
                        true);
}

URL BrushStore::applicationSupportURL() {
    const std::optional<fs::path> home = dataHome();
    if (!home) {
        throw BrushStoreError("The brush library is unavailable.", noHomeMessage);
    }
    const fs::path folder = *home / "velmora";
    try {
        brushfiles::makeFolders(folder);
    } catch (const std::exception& error) {
        throw BrushStoreError("The brush library is unavailable.", description(error));
    }
    return URL::fileURL(folder, true);
}

BrushStore::BrushStore()
    : userBrushesDirUrl_(URL::fileURL(
          dataHome() ? *dataHome() / "velmora" / "Brushes" : fs::path(unusableFolder), true)) {
    try {
        applicationSupportURL();
    } catch (const BrushStoreError& error) {
        logFileResources().error("Brush library unavailable: %{public}@", error.what());
        startupError_ = error;
        return;
    }
    startUp(bundleBrushesURL());
}

BrushStore::BrushStore(std::optional<URL> installationSource, URL userBrushesDirUrl)
    : userBrushesDirUrl_(std::move(userBrushesDirUrl)) {
    startUp(installationSource);
}

void BrushStore::systemBeep() {
    QApplication::beep();
}

void BrushStore::startUp(const std::optional<URL>& installationSource) {
    try {
        if (!brushfiles::somethingExists(userBrushesDirUrl_.filePath()) && installationSource) {
            install(*installationSource, userBrushesDirUrl_);
        }
        load();
    } catch (...) {
        try {
            rethrowAs("The brush library could not be read.");
        } catch (const BrushStoreError& error) {
            logFileResources().error("Brush library unavailable: %{public}@", error.what());
            startupError_ = error;
        }
    }
}

std::optional<BrushStoreError> BrushStore::takeStartupError() {
    std::optional<BrushStoreError> error = std::move(startupError_);
    startupError_.reset();
    return error;
}

void BrushStore::add(const Brush& brush, std::size_t position) {
    if (const auto found = brushes_.find(brush.uuid); found != brushes_.end()) {
        if (found->second.brush == brush) {
            return;
        }
        fatalError("Trying to add a new brush to BrushStore but it is different although they "
                   "have the same UUID, this should not happen!");
    }
    precondition(position <= brushesOrder_.size(), "Brush position out of range");
    if (brush.name.empty()) {
        throw BrushStoreError("The brush could not be added.", "A brush needs a name.");
    }
    const URL url = [&] {
        try {
            return save(brush);
        } catch (...) {
            rethrowAs("The brush could not be added.");
        }
    }();
    brushes_.emplace(brush.uuid, StoredBrush{brush, url});
    brushesOrder_.insert(brushesOrder_.begin() + static_cast<std::ptrdiff_t>(position), brush.uuid);
    try {
        saveOrder();
    } catch (...) {
        brushesOrder_.erase(brushesOrder_.begin() + static_cast<std::ptrdiff_t>(position));
        brushes_.erase(brush.uuid);
        std::error_code ignored;
        fs::remove(url.filePath(), ignored);
        rethrowAs("The brush could not be added.");
    }
}

void BrushStore::rename(const Brush& brush, const std::string& newName) {
    StoredBrush& entry = stored(brush.uuid);
    if (entry.brush.name == newName) {
        return;
    }
    if (newName.empty()) {
        if (beep) {
            beep();
        }
        return;
    }
    Brush renamed = entry.brush;
    renamed.name = newName;
    try {
        const URL newURL = save(renamed);
        // The new name may map to the old file name when that file had vanished:
        // then the file just written is the brush's only copy.
        if (newURL != entry.url && brushfiles::somethingExists(entry.url.filePath())) {
            try {
                brushfiles::removeFile(entry.url.filePath());
            } catch (...) {
                std::error_code ignored;
                fs::remove(newURL.filePath(), ignored);
                throw;
            }
        }
        entry = StoredBrush{std::move(renamed), newURL};
    } catch (...) {
        rethrowAs("The brush could not be renamed.");
    }
}

void BrushStore::move(const Brush& brush, std::size_t destination) {
    std::vector<UUID> order = brushesOrder_;
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(indexInOrder(brush.uuid)));
    precondition(destination <= order.size(), "Brush destination out of range");
    order.insert(order.begin() + static_cast<std::ptrdiff_t>(destination), brush.uuid);
    try {
        writeOrder(order);
    } catch (...) {
        rethrowAs("The brush could not be moved.");
    }
    brushesOrder_ = std::move(order);
}

void BrushStore::deleteBrush(std::size_t position) {
    precondition(position < brushesOrder_.size(), "Brush position out of range");
    const UUID uuid = brushesOrder_[position];
    const URL url = stored(uuid).url;
    std::vector<UUID> order = brushesOrder_;
    order.erase(order.begin() + static_cast<std::ptrdiff_t>(position));
    // The order goes first: were the file kept after all, the brush only loses its place.
    try {
        writeOrder(order);
        if (brushfiles::somethingExists(url.filePath())) {
            try {
                brushfiles::removeFile(url.filePath());
            } catch (...) {
                try {
                    writeOrder(brushesOrder_);
                } catch (const std::exception& error) {
                    logFileResources().error("Cannot restore the brush order: %{public}@",
                                             error.what());
                }
                throw;
            }
        }
    } catch (...) {
        rethrowAs("The brush could not be deleted.");
    }
    brushesOrder_ = std::move(order);
    brushes_.erase(uuid);
}

URL BrushStore::uniqueURL(const URL& url) {
    if (!brushfiles::somethingExists(url.filePath())) {
        return url;
    }
    const std::string extension = url.pathExtension();
    const std::string last = url.lastPathComponent();
    const std::size_t cut = extension.empty() ? 0 : extension.size() + 1;
    const std::string stem = last.substr(0, last.size() - std::min(cut, last.size()));
    const URL folder = url.deletingLastPathComponent();
    for (std::size_t n = 2;; ++n) {
        std::string name = stem + " (" + std::to_string(n) + ")";
        if (!extension.empty()) {
            name += "." + extension;
        }
        const URL candidate = folder.appendingPathComponent(name, false);
        if (!brushfiles::somethingExists(candidate.filePath())) {
            return candidate;
        }
    }
}

URL BrushStore::save(const Brush& brush) {
    brushfiles::makeFolders(userBrushesDirUrl_.filePath());
    const std::string fileName = fileStem(brush.name) + "." + fileExtension;
    const URL url = uniqueURL(userBrushesDirUrl_.appendingPathComponent(fileName, false));
    writeBrush(brush, url);
    return url;
}

void BrushStore::saveOrder() {
    writeOrder(brushesOrder_);
}

void BrushStore::writeOrder(const std::vector<UUID>& order) {
    brushfiles::makeFolders(userBrushesDirUrl_.filePath());
    std::vector<std::string> texts;
    texts.reserve(order.size());
    for (const UUID& uuid : order) {
        texts.push_back(uuid.uuidString());
    }
    JSONEncoder encoder;
    encoder.outputFormatting.prettyPrinted = true;
    const URL url = userBrushesDirUrl_.appendingPathComponent(orderFileName, false);
    writeFileAtomically(url.filePath(), bytesOf(encoder.encode(texts)), 0600);
}

void BrushStore::load() {
    struct Loaded {
        StoredBrush entry;
        std::size_t listed; // place of its file in the listing
    };
    const std::string suffix = std::string(".") + fileExtension;
    std::unordered_map<UUID, Loaded> loaded;
    const std::vector<std::string> names = brushfiles::listFolder(userBrushesDirUrl_.filePath());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        if (!name.ends_with(suffix)) {
            continue;
        }
        const URL url = userBrushesDirUrl_.appendingPathComponent(name, false);
        try {
            const Brush brush =
                JSONDecoder().decode<Brush>(brushfiles::readFile(url.filePath(), maximumFileSize));
            logFileResources().log("Loaded brush \"%{public}@\" with uuid %{public}@", brush.name,
                                   brush.uuid.uuidString());
            loaded.insert_or_assign(brush.uuid, Loaded{StoredBrush{brush, url}, i});
        } catch (const std::exception& error) {
            logFileResources().error("Error loading brush @ \"%{public}@\": %{public}@", url.path(),
                                     description(error));
        }
    }

    std::unordered_map<UUID, StoredBrush> brushes;
    std::vector<UUID> order;
    for (const UUID& uuid : readOrder(userBrushesDirUrl_.appendingPathComponent(orderFileName))) {
        if (const auto found = loaded.find(uuid); found != loaded.end()) {
            order.push_back(uuid);
            brushes.insert_or_assign(uuid, std::move(found->second.entry));
            loaded.erase(found);
        }
    }
    // Brushes without a saved place follow, in the listing's order.
    std::vector<Loaded*> rest;
    for (auto& [uuid, item] : loaded) {
        rest.push_back(&item);
    }
    std::sort(rest.begin(), rest.end(),
              [](const Loaded* a, const Loaded* b) { return a->listed < b->listed; });
    for (Loaded* item : rest) {
        order.push_back(item->entry.brush.uuid);
        brushes.insert_or_assign(item->entry.brush.uuid, std::move(item->entry));
    }
    brushes_ = std::move(brushes);
    brushesOrder_ = std::move(order);
    // Always, so the file lists exactly the brushes that loaded.
    saveOrder();
}

void BrushStore::install(const URL& source, const URL& destination) {
    if (!brushfiles::somethingExists(source.filePath())) {
        throw BrushStoreError("The brush library could not be installed.",
                              "Brushes source dir for installation does not exist.");
    }
    brushfiles::makeFolders(destination.deletingLastPathComponent().filePath());
    brushfiles::copyFolder(source.filePath(), destination.filePath());
}

std::vector<UUID> BrushStore::readOrder(const URL& url) {
    if (!brushfiles::somethingExists(url.filePath())) {
        return {};
    }
    try {
        const auto texts = JSONDecoder().decode<std::vector<std::string>>(
            brushfiles::readFile(url.filePath(), maximumFileSize));
        std::vector<UUID> order;
        order.reserve(texts.size());
        for (const std::string& text : texts) {
            const std::optional<UUID> uuid = UUID::fromString(text);
            if (!uuid) {
                throw std::runtime_error("Attempted to decode UUID from invalid UUID string.");
            }
            order.push_back(*uuid);
        }
        return order;
    } catch (const std::exception& error) {
        logFileResources().error("Error loading brush metadata @ \"%{public}@\": %{public}@",
                                 url.absoluteString(), description(error));
        return {};
    }
}

std::size_t BrushStore::indexInOrder(const UUID& uuid) const {
    const auto found = std::find(brushesOrder_.begin(), brushesOrder_.end(), uuid);
    precondition(found != brushesOrder_.end(), "The brush is not in the store");
    return static_cast<std::size_t>(found - brushesOrder_.begin());
}

BrushStore::StoredBrush& BrushStore::stored(const UUID& uuid) {
    const auto found = brushes_.find(uuid);
    precondition(found != brushes_.end(), "The brush is not in the store");
    return found->second;
}

} // namespace velmora
