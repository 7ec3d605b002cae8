#include "Canvas/CanvasArchive.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/NativeDocument.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "core/Canvas/PixelTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/UndoManager.hpp"
#include "desktop/VersionStore.hpp"
#include "foundation/MainQueue.hpp"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
const std::string native = "com.tovik.velmora-image";

enum class Change { cutShort, overwrittenInPlace, replacedByRename };

std::vector<std::vector<uint8_t>> layerPixels(const LayeredCanvas& canvas) {
    std::vector<std::vector<uint8_t>> pixels;
    for (const auto& layer : canvas.immediateLayers()) {
        for (const auto& patch : std::static_pointer_cast<RasterLayer>(layer)->patches()) {
            pixels.push_back(testing::texturePixels(patch->texture()));
        }
    }
    return pixels;
}

// The file the user opened, and another program that holds it open too and
// changes it behind the document's back.
struct OtherProgram {
    fs::path path;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    mutable uint8_t written = 0x50;
    ~OtherProgram() { ::close(fd); }

    void change(Change kind, const std::vector<uint8_t>& otherDocument) const {
        struct stat before {};
        ASSERT_EQ(::fstat(fd, &before), 0);
        switch (kind) {
        case Change::cutShort:
            ASSERT_EQ(::ftruncate(fd, before.st_size / 3), 0);
            break;
        case Change::overwrittenInPlace: {
            // Its size and time kept, as a copy that keeps the source's time may.
            const std::vector<uint8_t> noise(std::size_t(before.st_size) - 64, ++written);
            ASSERT_EQ(::pwrite(fd, noise.data(), noise.size(), 64), ssize_t(noise.size()));
            const timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(::futimens(fd, times), 0);
            break;
        }
        case Change::replacedByRename: {
            const fs::path written = path.parent_path() / "written-elsewhere";
            test::writeFile(written, otherDocument);
            fs::rename(written, path);
            break;
        }
        }
    }
};

// A save asks for the flattened picture first: a change made then comes while
// the save is under way.
struct ChangingProvider : BitmapProvider {
    std::shared_ptr<BitmapProvider> provider;
    std::function<void()> change;
    std::shared_ptr<NSBitmapImageRep> bitmap() override {
        if (change) {
            std::exchange(change, nullptr)();
        }
        return provider->bitmap();
    }
};

class DocumentFileChangedTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        folder = temporary.path().toStdString();
        NSAlert::setTestResponder([this](const NSAlert& alert) {
            alerts.push_back(alert.messageText + " " + alert.informativeText);
            return NSAlertFirstButtonReturn;
        });
        registerDocumentStoryboard();
    }
    void TearDown() override { NSAlert::setTestResponder(nullptr); }

    // The document's file: a background and two layers painted differently.
    void writeOriginal(const fs::path& path) {
        auto canvas = LayeredCanvas::make(*test::asymmetricPicture(24, 16), "Background");
        canvas->insertLayer(RasterLayer::make("A", *testing::lopsidedBitmap(24, 16)), {1});
        canvas->insertLayer(RasterLayer::make("B", *test::asymmetricPicture(24, 16, true)), {2});
        CanvasArchive::write(
            path, *canvas, *CanvasPreviews::makeStandardPreviews(test::asymmetricPicture(24, 16)));
    }
    std::shared_ptr<LayeredCanvas> reopened(const fs::path& path) {
        return NativeDocument::readCanvas(test::readFile(path));
    }

    QTemporaryDir temporary;
    fs::path folder;
    std::vector<std::string> alerts;
};

// Another program cuts the open document's file short, writes over it in place
// or replaces it by renaming, before or during a save, and goes on writing into
// the file it opened: nothing that reads the stored patches (the removal of a
// layer and its undo and redo, saves, autosaves, the versions kept, their
// previews, an export) reads the changed file or dies of it.
TEST_F(DocumentFileChangedTest, EveryReaderOfStoredPatchesKeepsTheDocumentWhole) {
    struct Case {
        const char* name;
        Change change;
        bool duringSave;
    };
    const Case cases[] = {
        {"cut short before a save", Change::cutShort, false},
        {"overwritten in place before a save", Change::overwrittenInPlace, false},
        {"replaced by rename before a save", Change::replacedByRename, false},
        {"cut short during a save", Change::cutShort, true},
        {"overwritten in place during a save", Change::overwrittenInPlace, true},
        {"replaced by rename during a save", Change::replacedByRename, true},
    };
    const auto otherDocument =
        NativeDocument::data(*LayeredCanvas::make(*test::asymmetricPicture(8, 8), "Other"),
                             test::asymmetricPicture(8, 8));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = folder / (std::string(c.name) + ".velmora");
        writeOriginal(path);
        const auto original = reopened(path); // as stored: colour 0 where alpha is
        const auto store = std::make_shared<VersionStore>(folder / "Versions");
        const auto document = std::make_shared<Document>();
        document->versionStore = store;
        document->read(URL::fileURL(path, false), native);
        document->setFileURL(URL::fileURL(path, false));
        document->setFileType(native);
        document->makeWindowControllers();
        document->showWindows();
        MainQueue::runUntilIdle();
        const auto canvas = document->layeredCanvas();
        const auto undo = document->undoManager();
        const OtherProgram other{path};
        if (!c.duringSave) {
            other.change(c.change, otherDocument);
        }

        // Removed as the Layers panel removes it, and brought back by undo.
        canvas->removeLayer({1});
        QCoreApplication::processEvents();
        ASSERT_EQ(undo->undoActionName(), "Remove Layer");
        undo->undo();
        EXPECT_EQ(layerPixels(*canvas), layerPixels(*original));
        undo->redo();
        ASSERT_EQ(canvas->immediateLayers().size(), 2u);

        std::vector<uint8_t> keptFile = test::readFile(path);
        const auto changing = std::make_shared<ChangingProvider>();
        changing->provider = document->bitmapProvider();
        if (c.duringSave) {
            changing->change = [&] {
                other.change(c.change, otherDocument);
                keptFile = test::readFile(path);
            };
        }
        document->setBitmapProvider(changing);
        ASSERT_TRUE(document->saveDocument());
        EXPECT_FALSE(document->isDocumentEdited());
        // The other program goes on with the file it opened.
        other.change(c.change == Change::replacedByRename ? Change::overwrittenInPlace : c.change,
                     otherDocument);
        const auto saved = reopened(path);
        EXPECT_EQ(saved->debugDescription(), canvas->debugDescription());
        EXPECT_EQ(layerPixels(*saved), layerPixels(*canvas));

        // Undo still holds the removed layer, and an autosave writes it back.
        undo->undo();
        EXPECT_EQ(layerPixels(*canvas), layerPixels(*original));
        const auto firstSave = test::readFile(path);
        ASSERT_TRUE(document->autosaveInPlaceIfNeeded());
        EXPECT_EQ(layerPixels(*reopened(path)), layerPixels(*original));
        const fs::path exported = folder / (std::string(c.name) + ".png");
        ASSERT_TRUE(document->save(URL::fileURL(exported, false), "public.png",
                                   NSSaveOperationType::saveToOperation));
        EXPECT_EQ(ImageCodecs::decode(test::readFile(exported))->pixelsWide(), 24);

        // Each version is the file as it was when kept, untouched since.
        const auto versions = store->versions(URL::fileURL(path, false));
        ASSERT_EQ(versions.size(), 2u);
        EXPECT_FALSE(versions[0].isDamaged) << versions[0].error;
        EXPECT_FALSE(versions[1].isDamaged) << versions[1].error;
        EXPECT_EQ(test::readFile(versions[0].url.filePath()), firstSave);
        EXPECT_EQ(test::readFile(versions[1].url.filePath()), keptFile);
        const auto viewed = std::make_shared<Document>();
        viewed->setInViewingMode(true);
        viewed->read(versions[0].url, native);
        EXPECT_NE(viewed->previewCanvas(), nullptr);
        EXPECT_EQ(alerts, std::vector<std::string>());
        document->close();
        MainQueue::runUntilIdle();
    }
}

} // namespace
} // namespace velmora
