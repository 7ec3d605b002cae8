#include "UtilityPanels/Tools/BrushStore.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"
#include "foundation/LogCapture.hpp"

#include <QTemporaryDir>
#include <fstream>
#include <gmock/gmock.h>
#include <map>
#include <sstream>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

Brush brushNamed(std::string name) {
    Brush brush;
    brush.name = std::move(name);
    return brush;
}

std::string readText(const fs::path& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Every file of the folder with its contents: what a refused change leaves alone.
std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename()] = entry.is_regular_file() ? readText(entry) : "<folder>";
    }
    return files;
}

unsigned mode(const fs::path& path) {
    return static_cast<unsigned>(fs::status(path).permissions());
}

class BrushStoreTest : public ::testing::Test {
protected:
    // The order file's brushes must be the store's, in the same order.
    std::vector<std::string> names(const BrushStore& store) const {
        std::vector<std::string> result;
        for (const std::string& text :
             JSONDecoder().decode<std::vector<std::string>>(readText(folder / "Metadata"))) {
            result.push_back(store.brushes().at(UUID::fromString(text).value()).brush.name);
        }
        EXPECT_EQ(result.size(), store.brushesOrder().size());
        return result;
    }

    QTemporaryDir temporary;
    fs::path root = temporary.path().toStdString();
    fs::path folder = root / "data" / "velmora" / "Brushes";
    URL folderURL = URL::fileURL(folder, true);
};

TEST_F(BrushStoreTest, FirstRunCopiesAReadOnlyFactoryFolderIntoAPrivateLibrary) {
    for (const bool withOrderFile : {true, false}) {
        const fs::path factory = root / "factory";
        fs::remove_all(factory);
        fs::remove_all(folder);
        fs::copy(VELMORA_FACTORY_BRUSHES, factory);
        if (!withOrderFile) {
            fs::remove(factory / "Metadata");
        }
        for (const auto& entry : fs::directory_iterator(factory)) {
            fs::permissions(entry, fs::perms(0444));
        }
        fs::permissions(factory, fs::perms(0555));
        BrushStore store(URL::fileURL(factory, true), folderURL);
        EXPECT_FALSE(store.takeStartupError());
        const auto factoryFiles = contents(factory);
        EXPECT_EQ(store.brushes().size(), factoryFiles.size() - (withOrderFile ? 1 : 0));
        EXPECT_THAT(store.brushes().size(), ::testing::AllOf(::testing::Ge(6), ::testing::Le(8)));
        EXPECT_EQ(names(store).size(), store.brushes().size());
        if (withOrderFile) {
            EXPECT_EQ(readText(folder / "Metadata"), factoryFiles.at("Metadata"));
        }
        EXPECT_EQ(mode(folder), 0700u);
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(mode(entry), 0600u) << entry.path();
        }
        fs::permissions(factory, fs::perms(0755));
    }
}

TEST_F(BrushStoreTest, MissingFactoryFolderLeavesAnEmptyLibraryReportedOnce) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((root / "data").string()));
    BrushStore store; // no factory brushes beside the test program
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_EQ(store.userBrushesDirUrl(), folderURL);
    EXPECT_EQ(mode(root / "data" / "velmora"), 0700u);
    const std::optional<BrushStoreError> error = store.takeStartupError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorDescription().informativeText,
              "Brushes source dir for installation does not exist.");
    EXPECT_FALSE(store.takeStartupError());
    EXPECT_TRUE(store.brushesOrder().empty());
    EXPECT_FALSE(fs::exists(folder)); // so the next start installs
}

TEST_F(BrushStoreTest, EmptyFolderWritesAnEmptyOrder) {
    fs::create_directories(folder);
    BrushStore store(std::nullopt, folderURL);
    std::string text = readText(folder / "Metadata");
    std::erase_if(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    EXPECT_EQ(text, "[]");
}

TEST_F(BrushStoreTest, FileNamesReplaceSlashesAndCountUp) {
    BrushStore store(std::nullopt, folderURL);
    for (const auto& [name, fileName] : {std::pair{"Dry/Wet", "Dry Wet.vmbrush"},
                                         {"Dry Wet", "Dry Wet (2).vmbrush"},
                                         {"Dry/Wet", "Dry Wet (3).vmbrush"},
                                         {"a/b/c", "a b c.vmbrush"}}) {
        const Brush brush = brushNamed(name);
        store.add(brush, store.brushesOrder().size());
        EXPECT_EQ(store.brushes().at(brush.uuid).url.lastPathComponent(), fileName);
        EXPECT_EQ(JSONDecoder().decode<Brush>(readText(folder / fileName)), brush);
    }
}

TEST_F(BrushStoreTest, LoadingKeepsSavedPlacesAndSkipsWhatItCannotRead) {
    fs::create_directories(folder);
    const Brush a = brushNamed("A"), b = brushNamed("B"), c = brushNamed("C");
    Brush twin = brushNamed("Twin 1");
    const std::pair<const char*, Brush> files[] = {
        {"Alpha", a}, {"Beta", b}, {"Gamma", c}, {"Twin 1", twin}, {"x", brushNamed("Backup")}};
    for (const auto& [stem, brush] : files) {
        writeText(folder / (stem + std::string(".vmbrush")), JSONEncoder().encode(brush));
    }
    twin.name = "Twin 2";
    writeText(folder / "Twin 2.vmbrush", JSONEncoder().encode(twin));
    fs::rename(folder / "x.vmbrush", folder / "x.vmbrush.bak");
    fs::copy(folder / "x.vmbrush.bak", folder / "x.VMBRUSH");
    writeText(folder / "damaged.vmbrush", "{\"name\": ");
    std::string partial = JSONEncoder().encode(brushNamed("Partial"));
    writeText(folder / "missing key.vmbrush",
              partial.replace(partial.find("\"size\""), 6, "\"sise\""));
    writeText(folder / "huge.vmbrush", JSONEncoder().encode(brushNamed("Huge")) +
                                           std::string(BrushStore::maximumFileSize, ' '));
    writeText(folder / "Metadata",
              JSONEncoder().encode(std::vector{UUID().uuidString(), c.uuid.uuidString(),
                                               a.uuid.uuidString(), c.uuid.uuidString()}));
    auto before = contents(folder);
    LogCapture logs;
    BrushStore store(std::nullopt, folderURL);
    EXPECT_THAT(names(store), ElementsAre("C", "A", "B", "Twin 2"));
    EXPECT_EQ(store.brushes().at(twin.uuid).url.lastPathComponent(), "Twin 2.vmbrush");
    std::vector<std::string> errors;
    for (const LogRecord& record : logs.records()) {
        EXPECT_EQ(record.category, "File Resources");
        if (record.level == LogLevel::error) {
            errors.push_back(record.message.substr(0, record.message.find("\": ")));
        }
    }
    const std::string prefix = "Error loading brush @ \"" + folder.string() + "/";
    EXPECT_THAT(errors, ElementsAre(prefix + "damaged.vmbrush", prefix + "huge.vmbrush",
                                    prefix + "missing key.vmbrush"));
    auto after = contents(folder);
    before.erase("Metadata");
    after.erase("Metadata");
    EXPECT_EQ(after, before); // damaged files stay on disk
}

TEST_F(BrushStoreTest, RenamesReplaceTheFileAndKeepTheOnlyCopy) {
    BrushStore store(std::nullopt, folderURL);
    int beeps = 0;
    store.beep = [&] { ++beeps; };
    const Brush ink = brushNamed("Ink"), slash = brushNamed("a/b"), other = brushNamed("Other");
    for (const Brush& brush : {ink, slash, other}) {
        store.add(brush, store.brushesOrder().size());
    }
    const std::string order = readText(folder / "Metadata");
    fs::remove(folder / "a b.vmbrush"); // "a b" now maps to the vanished file's path
    const std::tuple<Brush, const char*, const char*, const char*> cases[] = {
        {ink, "Ink", "Ink.vmbrush", ""},
        {ink, "Ink 2", "Ink 2.vmbrush", "Ink.vmbrush"},
        {slash, "a b", "a b.vmbrush", ""},
        {other, "Ink 2", "Ink 2 (2).vmbrush", "Other.vmbrush"},
        {other, "", "Ink 2 (2).vmbrush", ""}};
    for (const auto& [brush, newName, file, removed] : cases) {
        store.rename(brush, newName);
        const BrushStore::StoredBrush& stored = store.brushes().at(brush.uuid);
        EXPECT_EQ(stored.url.lastPathComponent(), file) << newName;
        EXPECT_EQ(JSONDecoder().decode<Brush>(readText(folder / file)), stored.brush);
        EXPECT_TRUE(*removed == '\0' || !fs::exists(folder / removed)) << removed;
    }
    EXPECT_EQ(beeps, 1);
    EXPECT_THAT(names(store), ElementsAre("Ink 2", "a b", "Ink 2"));
    EXPECT_EQ(readText(folder / "Metadata"), order);
}

TEST_F(BrushStoreTest, MoveAddTwiceAndDelete) {
    BrushStore store(std::nullopt, folderURL);
    std::vector<Brush> brushes;
    for (const char* name : {"0", "1", "2", "3"}) {
        brushes.push_back(brushNamed(name));
        store.add(brushes.back(), brushes.size() - 1);
    }
    store.add(brushes[1], 0);
    store.add(brushes[1], 4);
    EXPECT_EQ(contents(folder).size(), 5u);
    store.move(brushes[0], 2);
    EXPECT_THAT(names(store), ElementsAre("1", "2", "0", "3"));
    store.deleteBrush(1);
    EXPECT_THAT(names(store), ElementsAre("1", "0", "3"));
    EXPECT_FALSE(fs::exists(folder / "2.vmbrush"));
}

TEST_F(BrushStoreTest, RefusedWritesChangeNothing) {
    BrushStore store(std::nullopt, folderURL);
    const Brush kept = brushNamed("Kept");
    store.add(kept, 0);
    store.add(brushNamed("Second"), 1);
    const std::string longName(300, 'x');
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"add, long name", [&] { store.add(brushNamed(longName), 0); }},
        {"rename, long name", [&] { store.rename(kept, longName); }},
        {"add, order folder", [&] { store.add(brushNamed("New"), 1); }},
        {"move, order folder", [&] { store.move(kept, 1); }},
        {"delete, order folder", [&] { store.deleteBrush(0); }},
    };
    for (const auto& [label, step] : cases) {
        if (std::string_view(label).ends_with("folder") && !fs::is_directory(folder / "Metadata")) {
            fs::remove(folder / "Metadata");
            fs::create_directory(folder / "Metadata");
        }
        const auto files = contents(folder);
        const auto order = store.brushesOrder();
        const auto brushes = store.brushes().size();
        EXPECT_THROW(step(), BrushStoreError) << label;
        EXPECT_EQ(contents(folder), files) << label;
        EXPECT_EQ(store.brushesOrder(), order) << label;
        EXPECT_EQ(store.brushes().size(), brushes) << label;
        EXPECT_EQ(store.brushes().at(kept.uuid).brush, kept) << label;
    }
}

} // namespace
} // namespace velmora
