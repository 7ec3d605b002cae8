#include "desktop/NSCoderAdditions.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWorkspace.hpp"

#include <QLabel>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct Counting : NSViewController {
    int appeared = 0;
    int disappeared = 0;
    void loadView() override { setView(new QLabel("Too large")); }
    void viewDidAppear() override { ++appeared; }
    void viewDidDisappear() override { ++disappeared; }
};

struct Host {
    std::shared_ptr<NSWindow> window = std::make_shared<NSWindow>(CGRect{{100, 100}, {400, 300}});
    std::shared_ptr<NSViewController> content = std::make_shared<NSViewController>();
    Host() {
        window->setContentViewController(content);
        window->makeKeyAndOrderFront();
    }
    ~Host() { window->close(); }
};

} // namespace

TEST(NSPopoverTest, TransientPopoverClosesAtAPressOutsideAndNeverTakesTheKeyboard) {
    Host host;
    auto shown = std::make_shared<Counting>();
    host.content->presentViewController(shown, {{200, 150}, {1, 1}}, host.content->view(),
                                        NSRectEdge::maxY, NSPopoverBehavior::transient);
    ASSERT_TRUE(shown->window());
    QWidget* popoverWidget = shown->window()->widget();
    EXPECT_TRUE(popoverWidget->isVisible());
    EXPECT_EQ(shown->appeared, 1);
    EXPECT_EQ(shown->presentingViewController(), host.content);
    EXPECT_TRUE(host.window->isKeyWindow());
    const Qt::WindowFlags flags = popoverWidget->windowFlags();
    EXPECT_NE(flags & Qt::WindowType_Mask, Qt::Popup);
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    // It stands above the anchor: its bottom at the anchor's top.
    const QPoint anchor = host.content->view()->mapToGlobal(QPoint(200, 300 - 151));
    EXPECT_EQ(popoverWidget->frameGeometry().bottom() + 1, anchor.y());

    QTest::mouseClick(popoverWidget, Qt::LeftButton, {}, QPoint(2, 2));
    QCoreApplication::processEvents();
    EXPECT_TRUE(popoverWidget->isVisible()) << "a press inside keeps it";

    QTest::mouseClick(host.content->view(), Qt::LeftButton, {}, QPoint(5, 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown->disappeared, 1);
    EXPECT_EQ(shown->presentingViewController(), nullptr);
    EXPECT_TRUE(host.content->presentedViewControllers().empty());
}

TEST(NSPopoverTest, DismissingFromThePresenterClosesIt) {
    Host host;
    auto shown = std::make_shared<Counting>();
    host.content->presentViewController(shown, {{10, 10}, {1, 1}}, host.content->view(),
                                        NSRectEdge::minX, NSPopoverBehavior::applicationDefined);
    QTest::mouseClick(host.content->view(), Qt::LeftButton, {}, QPoint(300, 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown->disappeared, 0) << "only transient popovers close by themselves";
    shown->dismissController();
    EXPECT_EQ(shown->disappeared, 1);
    EXPECT_EQ(shown->window(), nullptr);
}

TEST(NSViewControllerTest, SheetSegueAndDismissal) {
    Host host;
    std::shared_ptr<Counting> made;
    std::string prepared;
    struct Source : NSViewController {
        std::string* prepared;
        void prepare(NSStoryboardSegue& segue, NSObject*) override { *prepared = segue.identifier; }
    };
    auto source = std::make_shared<Source>();
    source->prepared = &prepared;
    source->addSegue("DocumentSettingsSheet", NSViewController::SegueKind::sheet, [&] {
        made = std::make_shared<Counting>();
        return made;
    });
    host.window->setContentViewController(source);
    source->performSegue("DocumentSettingsSheet");
    ASSERT_TRUE(made);
    EXPECT_EQ(prepared, "DocumentSettingsSheet");
    EXPECT_EQ(host.window->attachedSheet(), made->window());
    EXPECT_EQ(made->appeared, 1);
    made->dismissController();
    EXPECT_EQ(host.window->attachedSheet(), nullptr);
    EXPECT_EQ(made->disappeared, 1);
    EXPECT_TRUE(host.window->isKeyWindow());
}

TEST(NSWorkspaceTest, RevealFallsBackToTheFolderAndLaunchingNeedsAProgram) {
    std::vector<QString> calls;
    bool fileManagerAnswers = false;
    NSWorkspace& workspace = NSWorkspace::shared();
    workspace.setBackend({
        .showItems =
            [&](const QStringList& uris) {
                calls.push_back("show " + uris.join(','));
                return fileManagerAnswers;
            },
        .openUrl =
            [&](const QUrl& url) {
                calls.push_back("open " + url.toString());
                return true;
            },
        .startDetached =
            [&](const QString& program, const QStringList&) {
                calls.push_back("start " + program);
                return true;
            },
    });
    const URL picture = URL::fileURL("/tmp/My Pictures/a b.png", false);
    EXPECT_TRUE(workspace.activateFileViewerSelectingURLs({picture}));
    fileManagerAnswers = true;
    EXPECT_TRUE(workspace.activateFileViewerSelectingURLs({picture}));
    EXPECT_EQ(calls, (std::vector<QString>{"show file:///tmp/My%20Pictures/a%20b.png",
                                           "open file:///tmp/My Pictures",
                                           "show file:///tmp/My%20Pictures/a%20b.png"}));
    std::string error;
    EXPECT_FALSE(
        workspace.launchApplication(URL::fileURL("/nonexistent/Diagnostics", false), {}, &error));
    EXPECT_EQ(error, "The application \"Diagnostics\" could not be launched.");
    EXPECT_TRUE(workspace.launchApplication(URL::fileURL("/bin/sh", false), {"-c", "true"}));
    EXPECT_EQ(calls.back(), "start /bin/sh");
    workspace.setBackend(NSWorkspace::systemBackend());
    EXPECT_FALSE(workspace.iconForContentType("image/png").isNull());
}

TEST(NSCoderAdditionsTest, RectanglesAndColoursRoundTrip) {
    const NSColorRef colours[] = {
        NSColor::colorWithSRGBRed(0.25, 0.5, 1, 1),
        NSColor::colorWithSRGBRed(0.1, 0.2, 0.3, 0.4),
        NSColor::colorWithCalibratedRed(0.3, 0.6, 0.9, 1),
        NSColor::colorWithCalibratedWhite(0.75, 0.5),
        NSColor::colorWithDisplayP3Red(1, 0, 0.5, 1),
    };
    KeyedArchiver archiver;
    encodeRect(archiver, {{-10.5, 20}, {300, 400.25}}, "color panel frame");
    for (std::size_t i = 0; i < std::size(colours); ++i) {
        encodeColor(archiver, *colours[i], "color " + std::to_string(i));
    }
    const std::vector<std::uint8_t> data = archiver.encodedData();
    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(data)};
    EXPECT_EQ(decodeRect(unarchiver, "color panel frame"), (CGRect{{-10.5, 20}, {300, 400.25}}));
    for (std::size_t i = 0; i < std::size(colours); ++i) {
        NSColorRef back = decodeColor(unarchiver, "color " + std::to_string(i));
        ASSERT_TRUE(back) << i;
        EXPECT_EQ(*back, *colours[i]) << i;
    }
    EXPECT_FALSE(decodeColor(unarchiver, "missing"));
    EXPECT_FALSE(unarchiver.error());
    // A rectangle is no colour: nothing, and the unarchiver keeps why.
    EXPECT_FALSE(decodeColor(unarchiver, "color panel frame"));
    EXPECT_TRUE(unarchiver.error());
}

TEST(NSCoderAdditionsTest, RectangleText) {
    EXPECT_EQ(NSStringFromRect({{1, 2}, {3.5, 4}}), "{{1, 2}, {3.5, 4}}");
    for (const char* bad : {"", "{1, 2, 3, 4}", "{{1, 2}, {3, x}}", "{{1, 2}, {3, nan}}",
                            "{{1, 2}, {3, 4}, {5, 6}}", "{{1 2}, {3, 4}}"}) {
        EXPECT_FALSE(NSRectFromString(bad)) << bad;
    }
    EXPECT_EQ(NSRectFromString(" {{ 1 , 2 }, {3,4}} "), (CGRect{{1, 2}, {3, 4}}));
}
