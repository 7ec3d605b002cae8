#include "desktop/NSWindow.hpp"
#include "desktop/VersionsBrowser.hpp"
#include "foundation/MainQueue.hpp"

#include <QListWidget>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// Records what the document window hears from the browser, as delegate and as observer.
struct Recorder : NSWindowDelegate {
    std::vector<std::string> heard;
    void windowWillEnterVersionBrowser(NSWindow&) override { heard.push_back("willEnter"); }
    void windowDidEnterVersionBrowser(NSWindow&) override { heard.push_back("didEnter"); }
    void windowWillExitVersionBrowser(NSWindow&) override { heard.push_back("willExit"); }
    void windowDidExitVersionBrowser(NSWindow&) override { heard.push_back("didExit"); }
};

// Holds every thumbnail until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    void release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    void wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return open; });
    }
};

DocumentVersion version(int minutes, bool damaged = false) {
    return {URL::fileURL("/versions/" + std::to_string(minutes), false),
            std::chrono::system_clock::time_point(std::chrono::minutes(minutes)), 10, damaged,
            damaged ? "The file is missing." : ""};
}

class VersionsBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        document->setDelegate(recorder);
        document->makeKeyAndOrderFront();
        observer = NSWindow::addObserver([this](NSWindow& window, std::string_view name) {
            if (&window == document.get() && name.find("VersionBrowser") != name.npos) {
                posted.emplace_back(name);
            }
        });
    }
    void TearDown() override {
        NSWindow::removeObserver(observer);
        gate->release();
        browser = nullptr;
        document->close();
        MainQueue::runUntilIdle();
    }
    void open(std::vector<DocumentVersion> versions) {
        browser = VersionsBrowser::open(
            document, std::move(versions),
            // The queue may still be leaving the wait after the test ends.
            [gate = gate](const DocumentVersion& v) {
                gate->wait();
                if (v.url.path().ends_with("/3")) {
                    throw std::runtime_error("not an image");
                }
                QImage image(200, 100, QImage::Format_RGBA8888);
                image.fill(Qt::red);
                return image;
            },
            handlers);
    }

    std::shared_ptr<NSWindow> document = std::make_shared<NSWindow>();
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::vector<std::string> posted;
    std::uint64_t observer = 0;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    VersionsBrowser::Handlers handlers;
    std::shared_ptr<VersionsBrowser> browser;
};

} // namespace

TEST_F(VersionsBrowserTest, ListsNewestFirstShowsBeforeThumbnailsAndTellsTheWindowInOrder) {
    open({version(9), version(5, true), version(3), version(1)});
    EXPECT_TRUE(browser->window()->isVisible()) << "the window does not wait for thumbnails";
    EXPECT_EQ(browser->thumbnailsDone(), 0u);
    EXPECT_TRUE(document->isInVersionBrowser());
    EXPECT_EQ(recorder->heard, (std::vector<std::string>{"willEnter", "didEnter"}));
    EXPECT_EQ(posted, (std::vector<std::string>{"NSWindowWillEnterVersionBrowserNotification",
                                                "NSWindowDidEnterVersionBrowserNotification"}));
    ASSERT_EQ(browser->list()->count(), 4);
    EXPECT_FALSE(browser->list()->item(1)->flags() & Qt::ItemIsEnabled) << "damaged: marked";
    EXPECT_EQ(browser->list()->item(1)->toolTip(), "The file is missing.");
    EXPECT_FALSE(browser->choose(1));

    gate->release();
    ASSERT_TRUE(MainQueue::runUntil([&] { return browser->thumbnailsDone() == 3; }, 10s));
    const struct {
        int row;
        bool enabled;
    } rows[] = {{0, true}, {1, false}, {2, false}, {3, true}};
    for (const auto& r : rows) {
        EXPECT_EQ(bool(browser->list()->item(r.row)->flags() & Qt::ItemIsEnabled), r.enabled)
            << "row " << r.row;
    }
    EXPECT_FALSE(browser->list()->item(0)->icon().isNull());
    EXPECT_TRUE(browser->versions()[2].isDamaged) << "a version that cannot be read is marked";
    EXPECT_EQ(browser->versions()[2].error, "not an image");

    browser->doneButton()->click();
    EXPECT_FALSE(browser->isOpen());
    EXPECT_FALSE(browser->window()->isVisible());
    EXPECT_FALSE(document->isInVersionBrowser());
    EXPECT_EQ(recorder->heard,
              (std::vector<std::string>{"willEnter", "didEnter", "willExit", "didExit"}));
    EXPECT_EQ(posted.size(), 4u);
}

TEST_F(VersionsBrowserTest, ChoosingShowsTheVersionAndRestoreClosesOnlyWhenItRestored) {
    std::vector<std::string> opened;
    bool restores = false;
    int closed = 0;
    handlers.open = [&](const DocumentVersion& v) -> std::shared_ptr<NSWindow> {
        if (v.url.path().ends_with("/1")) {
            throw std::runtime_error("The version cannot be opened.");
        }
        opened.push_back(v.url.path());
        return std::make_shared<NSWindow>();
    };
    handlers.restore = [&](const DocumentVersion&) { return restores; };
    handlers.closed = [&] { closed += 1; };
    const CGRect before = document->frame();
    open({version(9), version(5), version(1)});
    gate->release();

    EXPECT_FALSE(browser->restore()) << "nothing chosen";
    browser->list()->setCurrentRow(0);
    ASSERT_EQ(browser->chosen(), 0u);
    const auto first = browser->versionWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(browser->restoreButton()->isEnabled());
    EXPECT_TRUE(browser->choose(1));
    EXPECT_FALSE(first->isVisible()) << "one version on screen at a time";
    EXPECT_FALSE(browser->choose(2)) << "a version that cannot be opened";
    EXPECT_TRUE(browser->versions()[2].isDamaged);
    EXPECT_EQ(opened, (std::vector<std::string>{"/versions/9", "/versions/5"}));

    browser->choose(0);
    browser->restoreButton()->click();
    EXPECT_TRUE(browser->isOpen()) << "a restore that failed keeps the browser";
    restores = true;
    browser->restoreButton()->click();
    EXPECT_FALSE(browser->isOpen());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(browser->versionWindow(), nullptr);
    EXPECT_EQ(document->frame(), before) << "the document window goes back where it was";
}

TEST_F(VersionsBrowserTest, ClosingEitherWindowEndsTheBrowsing) {
    for (const bool closeDocument : {false, true}) {
        recorder->heard.clear();
        open({version(1)});
        (closeDocument ? document : browser->window())->close();
        MainQueue::runUntilIdle();
        EXPECT_FALSE(browser->isOpen()) << closeDocument;
        EXPECT_EQ(recorder->heard.back(), "didExit") << closeDocument;
    }
}

TEST(VersionsBrowserLayout, ListAtTheRightTheTwoWindowsShareTheRest) {
    const struct {
        CGRect visible;
        CGFloat listWidth;
    } cases[] = {{{{0, 40}, {1920, 1000}}, 320}, {{{100, 0}, {800, 600}}, 200}};
    for (const auto& c : cases) {
        const auto places = VersionsBrowser::layout(c.visible);
        EXPECT_EQ(places.browser.size.width, c.listWidth);
        EXPECT_EQ(places.browser.origin.x + c.listWidth, c.visible.origin.x + c.visible.size.width);
        EXPECT_EQ(places.document.origin, c.visible.origin);
        EXPECT_EQ(places.document.size.width, places.version.size.width);
        EXPECT_EQ(places.version.origin.x + places.version.size.width, places.browser.origin.x);
        EXPECT_EQ(places.version.size.height, c.visible.size.height);
    }
}
