#include "Document/ImageDropHandler.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "app/Document/Viewers/DrawingTestSupport.hpp"
#include "foundation/ErrorDescription.hpp"
#include "foundation/MainQueue.hpp"

#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Tool = DrawingSettings::Tool;

class ImageDropHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        root = temporary.path().toStdString();
        ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
        DrawingSettings::shared().setPersistentTool(Tool::brush);
    }
    void TearDown() override { ::unsetenv("XDG_CACHE_HOME"); }

    std::shared_ptr<ImageDropHandler> makeHandler() {
        return std::make_shared<ImageDropHandler>(canvas, [this](const std::exception& error) {
            const auto* described = dynamic_cast<const DescribedError*>(&error);
            errors.push_back(described ? described->errorDescription().messageText
                                       : std::string(error.what()));
        });
    }
    URL file(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path path = root / name;
        fs::create_directories(path.parent_path());
        test::writeFile(path, bytes);
        return URL::fileURL(path, false);
    }
    // The drag's data is read while the drop is handled, as in a drop event.
    NSDraggingInfo dragOf(const std::vector<URL>& urls) {
        QMimeData& data = *mimeData.emplace_back(std::make_unique<QMimeData>());
        QList<QUrl> list;
        for (const auto& url : urls) {
            list << QUrl::fromLocalFile(QString::fromStdString(url.path()));
        }
        data.setUrls(list);
        return {NSPasteboard::fromMimeData(data), {}, NSDragOperation::copy};
    }
    NSDraggingInfo dragOfData(const std::vector<uint8_t>& png) {
        QMimeData& data = *mimeData.emplace_back(std::make_unique<QMimeData>());
        data.setData("image/png",
                     QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size())));
        return {NSPasteboard::fromMimeData(data), {}, NSDragOperation::copy};
    }
    std::vector<std::string> layerNames() const {
        std::vector<std::string> names;
        for (const auto& layer : canvas->immediateLayers()) {
            names.push_back(layer->name());
        }
        return names;
    }
    fs::path drops() const { return root / "cache" / "velmora" / "Drops"; }

    std::vector<std::unique_ptr<QMimeData>> mimeData;
    QTemporaryDir temporary;
    fs::path root;
    std::shared_ptr<LayeredCanvas> canvas = LayeredCanvas::make(MTLSize{16, 16, 1});
    std::vector<std::string> errors;
};

TEST_F(ImageDropHandlerTest, FilesBecomeLayersAboveTheActiveOneInALaterTurn) {
    const auto png = test::pngOf(*test::asymmetricPicture(5, 3));
    const std::vector<URL> urls{file("a.png", png), file("notes.txt", {'h', 'i'}),
                                file("b.v2.gif", test::tinyGif()), file("c.bmp", test::tinyBmp())};
    const auto handler = makeHandler();
    EXPECT_TRUE(handler->performDrop(dragOf(urls), std::nullopt, {8, 8}));
    EXPECT_EQ(layerNames(), (std::vector<std::string>{"Background"})) << "answered at once";
    MainQueue::runUntilIdle();
    EXPECT_EQ(layerNames(), (std::vector<std::string>{"Background", "a", "b.v2", "c"}));
    EXPECT_EQ(canvas->activeLayer()->name(), "c");
    EXPECT_EQ(DrawingSettings::shared().persistentTool(), Tool::move);
    EXPECT_TRUE(errors.empty());
    for (const auto& url : urls) {
        EXPECT_TRUE(fs::exists(url.filePath())) << "the user's files stay";
    }
    EXPECT_FALSE(handler->performDrop(dragOf({file("d.txt", {'x'})}), std::nullopt, {0, 0}));
}

TEST_F(ImageDropHandlerTest, ImagesLoadedInOneTurnAreUndoneOneAtATime) {
    testing::DrawingRig rig;
    UndoManager& undo = *rig.document->undoManager;
    const auto handler = std::make_shared<ImageDropHandler>(
        rig.canvas, [](const std::exception&) {},
        [&]() -> std::shared_ptr<RegistrationUndoManager> { return rig.document->undoManager; });
    const auto png = test::pngOf(*test::asymmetricPicture(5, 3));
    ASSERT_TRUE(handler->performDrop(dragOf({file("a.png", png), file("b.png", png)}), std::nullopt,
                                     {8, 8}));
    MainQueue::runUntilIdle();
    testing::endTurn();
    ASSERT_EQ(rig.canvas->immediateLayers().size(), 3u);
    undo.undo();
    ASSERT_EQ(rig.canvas->immediateLayers().size(), 2u);
    EXPECT_EQ(rig.canvas->immediateLayers().back()->name(), "a");
    undo.undo();
    EXPECT_EQ(rig.canvas->immediateLayers().size(), 1u);
    EXPECT_FALSE(undo.canUndo());
}

TEST_F(ImageDropHandlerTest, RejectedImagesAreReportedEachAndAddNothing) {
    const std::vector<URL> urls{file("wide.png", test::blankPng(9000, 100)),
                                file("deep.png", test::blankPng(2, 2, 16)),
                                file("broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3})};
    const auto handler = makeHandler();
    EXPECT_TRUE(handler->performDrop(dragOf(urls), std::nullopt, {0, 0}));
    MainQueue::runUntilIdle();
    EXPECT_EQ(errors,
              (std::vector<std::string>{"Unsupported image size.", "Unsupported pixel format.",
                                        "This document format is not supported."}));
    EXPECT_EQ(layerNames(), (std::vector<std::string>{"Background"}));
    EXPECT_EQ(DrawingSettings::shared().persistentTool(), Tool::brush);
}

TEST_F(ImageDropHandlerTest, ImageDataIsWrittenIntoItsOwnFolderAndRemovedAfterLoading) {
    const auto handler = makeHandler();
    EXPECT_TRUE(handler->performDrop(dragOfData(test::pngOf(*test::asymmetricPicture(4, 4))),
                                     std::nullopt, {2, 2}));
    ASSERT_TRUE(
        MainQueue::runUntil([&] { return layerNames().size() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(layerNames().back(), "Dropped Image");
    struct stat info {};
    ASSERT_EQ(::stat(drops().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    MainQueue::runUntilIdle();
    EXPECT_TRUE(fs::is_empty(drops())) << "the file and its folder are gone";

    // A handler released before the data is written adds nothing and leaves nothing.
    auto released = makeHandler();
    EXPECT_TRUE(released->performDrop(dragOfData(test::pngOf(*test::asymmetricPicture(4, 4))),
                                      std::nullopt, {2, 2}));
    released.reset();
    MainQueue::runUntil([&] { return fs::is_empty(drops()); }, std::chrono::seconds(10));
    EXPECT_TRUE(fs::is_empty(drops()));
    EXPECT_EQ(layerNames().size(), 2u);
}

TEST_F(ImageDropHandlerTest, OnlyFilesInsideTheDropsFolderAreDeleted) {
    fs::create_directories(drops());
    const auto inside = file("cache/velmora/Drops/x/in.png", test::blankPng(2, 2, 16));
    const auto beside = file("cache/velmora/Drops2/x.png", test::pngOf(*test::asymmetricPicture()));
    const auto handler = makeHandler();
    handler->loadImage(inside, std::nullopt, {0, 0});
    handler->loadImage(beside, std::nullopt, {0, 0});
    EXPECT_FALSE(fs::exists(inside.filePath())) << "deleted after a rejection too";
    EXPECT_TRUE(fs::exists(beside.filePath()));
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_TRUE(ImageDropHandler::isInsideDropsDirectory(drops() / "a" / ".." / "b.png"));
    EXPECT_FALSE(ImageDropHandler::isInsideDropsDirectory(drops() / ".." / "b.png"));
    EXPECT_FALSE(ImageDropHandler::isInsideDropsDirectory(drops()));
}

TEST_F(ImageDropHandlerTest, LayersAreCentredWithIntegerHalvesAndPlacedByPath) {
    const auto bitmap = test::asymmetricPicture(5, 3);
    struct Case {
        CGPoint point;
        std::optional<IndexPath> path;
        bool clearActive;
        MTLOrigin origin;
        IndexPath expectedPath;
    };
    const std::vector<Case> cases{
        {{10.7, 5.2}, std::nullopt, false, {8, 4, 0}, {1}},
        {{-0.9, 0.9}, std::nullopt, false, {-2, -1, 0}, {2}},
        {{3, 3}, IndexPath{0}, false, {1, 2, 0}, {0}},
        {{0, 0}, std::nullopt, true, {-2, -1, 0}, {4}},
    };
    const auto handler = makeHandler();
    for (const auto& c : cases) {
        if (c.clearActive) {
            canvas->setActiveLayer(nullptr);
        }
        handler->addLayer(*bitmap, "new", c.path, c.point);
        const auto layer = canvas->activeLayer();
        ASSERT_TRUE(layer);
        EXPECT_EQ(canvas->path(*layer), c.expectedPath);
        EXPECT_EQ(layer->boundingRect(), (MTLRegion{c.origin, {5, 3, 1}}));
    }
}

} // namespace
} // namespace velmora
