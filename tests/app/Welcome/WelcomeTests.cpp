#include "Canvas/CanvasArchive.hpp"
#include "Document/DocumentController.hpp"
#include "Extensions/AppKitExtensions.hpp"
#include "Welcome/RecentDocumentThumbnail.hpp"
#include "Welcome/RecentTableCellView.hpp"
#include "Welcome/ThumbnailGenerator.hpp"
#include "Welcome/WelcomeViewController.hpp"
#include "Welcome/WelcomeWindowController.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "coding/KeyedArchiver.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/MainQueue.hpp"
#include "graphics/ColorManagement.hpp"

#include <QKeyEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <latch>

namespace velmora {
namespace {

using namespace std::chrono_literals;

NSBitmapImageRepRef solid(int64_t width, int64_t height, QRgb colour) {
    auto rep = NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            uint8_t* p = rep->row(y) + x * 4;
            p[0] = uint8_t(qRed(colour)), p[1] = uint8_t(qGreen(colour));
            p[2] = uint8_t(qBlue(colour)), p[3] = 255;
        }
    }
    return rep;
}

// Everything the generator was asked before has landed (it works in order).
void waitForThumbnails() {
    bool done = false;
    ThumbnailGenerator::shared().generate("/nonexistent", QSize(1, 1),
                                          [&](const QImage&) { done = true; });
    ASSERT_TRUE(MainQueue::runUntil([&] { return done; }, 10s));
}

class WelcomeTest : public ::testing::Test {
protected:
    std::filesystem::path file(const std::string& name) const {
        return std::filesystem::path(folder.path().toStdString()) / name;
    }
    std::filesystem::path png(const std::string& name, int width, int height,
                              QRgb colour = qRgb(200, 40, 40)) const {
        const auto path = file(name);
        test::writeFile(path, test::pngOf(*solid(width, height, colour)));
        return path;
    }
    QTemporaryDir folder;
};

TEST(RecentTableCellView, NamesAndFoldersAsListed) {
    const std::string home = homeFolderPath();
    const struct {
        std::string path, name, folder;
    } cases[] = {
        {"/art/Sketch.velmora", "Sketch", "/art"},
        {"/art/photo.PNG", "photo.PNG", "/art"},
        {"/art/Study.VELMORA", "Study", "/art"},
        {"/art/notes.velmora.png", "notes.velmora.png", "/art"},
        {home + "/Pictures/Sketch.velmora", "Sketch", "~/Pictures"},
        {home + "x/Sketch.velmora", "Sketch", home + "x"},
    };
    RecentTableCellView cell;
    for (const auto& c : cases) {
        cell.setURL(URL::fileURL(c.path, false));
        EXPECT_EQ(cell.nameLabel()->text().toStdString(), c.name) << c.path;
        EXPECT_EQ(cell.pathLabel()->text().toStdString(), c.folder) << c.path;
        EXPECT_FALSE(cell.showInFinderButton()->isHidden());
    }
    cell.setURL(std::nullopt);
    EXPECT_TRUE(cell.nameLabel()->text().isEmpty());
    EXPECT_TRUE(cell.pathLabel()->text().isEmpty());
    EXPECT_TRUE(cell.showInFinderButton()->isHidden());
    waitForThumbnails();
}

// A native document holding only its previews: a distinct colour per size.
std::vector<uint8_t> documentWithPreviews() {
    CanvasPreviews previews;
    previews.previews[CGSize{48, 32}] = solid(48, 32, qRgb(220, 30, 40));
    previews.previews[CGSize{24, 16}] = solid(24, 16, qRgb(30, 200, 60));
    previews.previews[CGSize{12, 8}] = solid(12, 8, qRgb(30, 50, 210));
    KeyedArchiver archiver;
    archiver.encodeEncodable(previews, CanvasArchive::previewsKey);
    return archiver.encodedData();
}

TEST_F(WelcomeTest, NativeThumbnailIsThePreviewsBestChoice) {
    const auto data = documentWithPreviews();
    const auto path = file("Painting.velmora");
    test::writeFile(path, data);
    const QSize targets[] = {{100, 100}, {48, 32}, {30, 30}, {24, 24}, {12, 8}, {10, 10}};
    for (const QSize target : targets) {
        const CGSize size{CGFloat(target.width()), CGFloat(target.height())};
        auto stored = CanvasArchive::readPreviews(data);
        // When none fits, the smallest is scaled down, never the full-size one.
        if (std::ranges::none_of(stored->previews, [&](const auto& p) {
                return p.first.width <= size.width && p.first.height <= size.height;
            })) {
            std::erase_if(stored->previews, [](const auto& p) { return p.first.width != 12; });
        }
        const auto expected = stored->bestPreview(size);
        const QImage image = RecentDocumentThumbnail::make(path, target);
        ASSERT_FALSE(image.isNull()) << target.width();
        EXPECT_EQ(image.size(), QSize(int(expected->pixelsWide()), int(expected->pixelsHigh())))
            << target.width() << "x" << target.height();
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        const uint8_t* reference =
            test::pixelAt(*expected, expected->pixelsWide() / 2, expected->pixelsHigh() / 2);
        EXPECT_NEAR(centre.red(), reference[0], 12) << target.width();
        EXPECT_NEAR(centre.green(), reference[1], 12) << target.width();
        EXPECT_NEAR(centre.blue(), reference[2], 12) << target.width();
    }
}

// At exit the thumbnails still queued are never made: the codecs' tables and Qt
// may be gone by then.
TEST_F(WelcomeTest, StoppedGeneratorMakesNoMoreThumbnails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto picture = png("queued.png", 300, 200);
    EXPECT_EXIT(
        {
            auto& generator = ThumbnailGenerator::shared();
            // Held until the stop, so that every one asked for is still queued
            // then, however late this thread gets there.
            std::latch held(1);
            generator.queue().async([&] { held.wait(); });
            std::atomic<int> landed = 0;
            for (int i = 0; i < 20; ++i) {
                generator.generate(picture, QSize(64, 64), [&](const QImage&) { ++landed; });
            }
            generator.stop();
            held.count_down();
            const bool refused = !generator.make(picture, QSize(64, 64));
            generator.queue().sync([] {});
            MainQueue::runUntilIdle();
            std::exit(refused && landed == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WelcomeTest, FlatThumbnailsFitWithoutEnlargingAndOthersHaveNone) {
    auto damaged = documentWithPreviews();
    damaged.resize(damaged.size() / 2);
    test::writeFile(file("Damaged.velmora"), damaged);
    test::writeFile(file("notes.txt"), {'h', 'i'});
    test::writeFile(file("deep.png"), test::blankPng(8, 8, 16));
    test::writeFile(file("Fake.png"), {'n', 'o'});
    const struct {
        std::filesystem::path path;
        QSize expected; // 0 x 0: no thumbnail
    } cases[] = {
        {png("wide.png", 60, 30), {40, 20}}, {png("tall.PNG", 10, 50), {8, 40}},
        {png("small.png", 3, 2), {3, 2}},    {file("Damaged.velmora"), {0, 0}},
        {file("notes.txt"), {0, 0}},         {file("deep.png"), {0, 0}},
        {file("Fake.png"), {0, 0}},          {file("missing.png"), {0, 0}},
    };
    for (const auto& c : cases) {
        const QImage image = RecentDocumentThumbnail::make(c.path, QSize(40, 40));
        EXPECT_EQ(image.size(), c.expected) << c.path;
    }
}

TEST_F(WelcomeTest, LateThumbnailLandsOnlyOnTheCellStillShowingItsDocument) {
    const auto wide = URL::fileURL(png("wide.png", 96, 24), false);
    const auto tall = URL::fileURL(png("tall.png", 24, 96), false);
    RecentTableCellView cell;
    cell.setURL(wide);
    cell.setURL(tall);
    waitForThumbnails();
    EXPECT_EQ(cell.iconView()->pixmap().size(), QSize(12, 48) * cell.devicePixelRatioF());

    cell.setURL(wide);
    cell.setURL(std::nullopt);
    waitForThumbnails();
    EXPECT_TRUE(cell.iconView()->pixmap().isNull());

    auto* gone = new RecentTableCellView;
    gone->setURL(wide);
    delete gone;
    waitForThumbnails();
}

class WelcomeViewTest : public WelcomeTest {
protected:
    void SetUp() override {
        controller = std::make_shared<DocumentController>();
        controller->clearRecentDocuments();
        welcome = std::make_shared<WelcomeViewController>();
    }
    void TearDown() override {
        controller->clearRecentDocuments();
        NSAlert::setTestResponder(nullptr);
        MainQueue::runUntilIdle();
    }
    void note(const std::filesystem::path& path) {
        controller->noteNewRecentDocumentURL(URL::fileURL(path, false));
    }
    RecentTableCellView* cell(int row) const {
        return dynamic_cast<RecentTableCellView*>(welcome->tableView()->cellWidget(row, 0));
    }
    std::shared_ptr<DocumentController> controller;
    std::shared_ptr<WelcomeViewController> welcome;
};

TEST_F(WelcomeViewTest, TableFollowsTheListAndKeepsItsRowsWhileItIsUnchanged) {
    welcome->loadViewIfNeeded();
    EXPECT_EQ(welcome->tableView()->rowCount(), 0) << "an empty list";
    const auto first = png("first.png", 96, 24);
    note(first);
    note(file("Second.velmora"));
    MainQueue::runUntilIdle(); // the controller tells the view
    ASSERT_EQ(welcome->tableView()->rowCount(), 2);
    EXPECT_EQ(cell(0)->nameLabel()->text(), "Second") << "newest first";
    EXPECT_EQ(cell(1)->nameLabel()->text(), "first.png");
    waitForThumbnails();
    const RecentTableCellView* kept = cell(1);
    EXPECT_EQ(kept->iconView()->pixmap().size(), QSize(48, 12) * kept->devicePixelRatioF());

    // Saved again with another picture; the window comes to the front.
    png("first.png", 24, 96);
    welcome->documentControllerDidChangeRecentDocuments(*controller);
    waitForThumbnails();
    EXPECT_EQ(cell(1), kept) << "the table was not reloaded";
    EXPECT_EQ(kept->iconView()->pixmap().size(), QSize(12, 48) * kept->devicePixelRatioF());
}

TEST_F(WelcomeViewTest, OpeningUsesTheRowAsShownAndReturnNeedsASelection) {
    note(file("Old.velmora"));
    note(file("Gone.velmora"));
    welcome->loadViewIfNeeded();
    ASSERT_EQ(welcome->numberOfRows(), 2);
    std::vector<std::string> alerts;
    NSAlert::setTestResponder([&](const NSAlert& alert) {
        alerts.push_back(alert.messageText + " " + alert.informativeText);
        return NSAlertFirstButtonReturn;
    });

    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    EXPECT_FALSE(welcome->keyDown(enter)) << "no row selected: handed on";
    welcome->openSelectedRecentItem();
    EXPECT_TRUE(alerts.empty());

    // The list changes behind the table's back; the row still means what it shows.
    controller->clearRecentDocuments();
    welcome->tableView()->selectRow(1);
    ASSERT_EQ(welcome->displayedURLs().size(), 0u) << "cleared lists reload at once";
    note(file("Old.velmora"));
    note(file("Gone.velmora"));
    welcome->documentControllerDidChangeRecentDocuments(*controller);
    note(file("Newer.velmora"));
    welcome->tableView()->selectRow(1);
    EXPECT_TRUE(welcome->keyDown(enter));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_NE(alerts[0].find("Old"), std::string::npos) << alerts[0];
    EXPECT_TRUE(controller->documents().empty());
}

TEST_F(WelcomeViewTest, ThumbnailsAreMadeOncePerFileVersionAndStaleRequestsDropped) {
    auto& generator = ThumbnailGenerator::shared();
    const auto first = png("first.png", 96, 24), second = png("second.png", 24, 96);
    const auto third = png("third.png", 48, 48);
    note(first);
    note(second);
    // Busy with something else while the window comes and goes and the list
    // changes: what is no longer shown is never made.
    std::latch held(1);
    generator.queue().async([&] { held.wait(); });
    const std::uint64_t made = generator.thumbnailsMade();
    WelcomeWindowController::registerStoryboard();
    const auto welcomeController = NSStoryboard::instantiateController<NSWindowController>(
        WelcomeWindowController::storyboard, WelcomeWindowController::identifier);
    const auto shown = welcomeController->window();
    const auto other =
        std::make_shared<NSWindow>(CGRect{{0, 0}, {100, 100}}, NSWindowStyleMask::titled);
    other->orderFront();
    const auto welcomeView = std::dynamic_pointer_cast<WelcomeViewController>(
        welcomeController->contentViewController());
    ASSERT_NE(welcomeView, nullptr);
    const auto activateTimes = [&](int times) {
        for (int i = 0; i < times; ++i) {
            other->makeKeyAndOrderFront();
            shown->makeKeyAndOrderFront();
            MainQueue::runUntilIdle();
        }
    };
    const auto rowCell = [&](int row) {
        return dynamic_cast<RecentTableCellView*>(welcomeView->tableView()->cellWidget(row, 0));
    };

    activateTimes(10);
    ASSERT_EQ(welcomeView->numberOfRows(), 2);
    controller->clearRecentDocuments();
    note(third);
    MainQueue::runUntilIdle();
    ASSERT_EQ(welcomeView->numberOfRows(), 1);
    held.count_down();
    waitForThumbnails();
    EXPECT_EQ(generator.thumbnailsMade(), made + 1) << "only the third's";
    EXPECT_FALSE(rowCell(0)->iconView()->pixmap().isNull());

    // Kept while the file stays as it was; made again once it is replaced.
    activateTimes(10);
    waitForThumbnails();
    EXPECT_EQ(generator.thumbnailsMade(), made + 1);
    const auto replacement = file("replacement.png");
    test::writeFile(replacement, test::pngOf(*solid(24, 96, qRgb(10, 10, 200))));
    std::filesystem::rename(replacement, third);
    activateTimes(1);
    waitForThumbnails();
    EXPECT_EQ(generator.thumbnailsMade(), made + 2);
    EXPECT_EQ(rowCell(0)->iconView()->pixmap().size(),
              QSize(12, 48) * rowCell(0)->devicePixelRatioF());
    welcomeController->close();
    other->close();
}

} // namespace
} // namespace velmora
