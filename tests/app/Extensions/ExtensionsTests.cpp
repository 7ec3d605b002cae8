#include "Extensions/AppKitExtensions.hpp"
#include "Extensions/UIRestorable.hpp"
#include "desktop/NSCoderAdditions.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/ErrorDescription.hpp"
#include "foundation/UserDefaults.hpp"

#include <gtest/gtest.h>
#include <stdexcept>

using namespace velmora;

namespace {

// Keeps a tool number and a colour, as the panels do.
struct RestorablePanel : NSViewController, UIRestorable {
    std::int64_t tool = 0;
    NSColorRef color = NSColor::blackColor();
    int decodes = 0;
    void encodeUIState(KeyedArchiver& archiver) override {
        archiver.encode(tool, "tool");
        encodeColor(archiver, *color, "color");
    }
    void decodeUIState(KeyedUnarchiver& unarchiver) override {
        ++decodes;
        tool = unarchiver.decodeInt64("tool");
        if (NSColorRef decoded = decodeColor(unarchiver, "color")) {
            color = decoded;
        }
    }
};

struct DescribedFailure : std::runtime_error, DescribedError {
    DescribedFailure() : std::runtime_error("internal") {}
    ErrorDescription errorDescription() const override {
        return {"The document could not be opened.", "The file is damaged."};
    }
};

} // namespace

TEST(UIRestorableTest, StateRoundTripsThroughTheUserDefaults) {
    auto saved = std::make_shared<RestorablePanel>();
    saved->setIdentifier("ToolsTestPanel");
    UserDefaults::standard().removeObjectForKey("ToolsTestPanel");
    saved->restoreUIState();
    EXPECT_EQ(saved->decodes, 0) << "never saved: stays at its defaults";

    saved->tool = 2;
    saved->color = NSColor::colorWithSRGBRed(0.2, 0.4, 0.6, 1);
    saved->saveUIState();
    auto restored = std::make_shared<RestorablePanel>();
    restored->setIdentifier("ToolsTestPanel");
    restored->restoreUIState();
    EXPECT_EQ(restored->tool, 2);
    EXPECT_EQ(*restored->color, *saved->color);

    // Damaged defaults are ignored: the panel keeps its defaults.
    for (const DefaultsValue& damaged :
         {DefaultsValue(DefaultsValue::Data{1, 2, 3}), DefaultsValue("not data")}) {
        UserDefaults::standard().set(damaged, "ToolsTestPanel");
        auto fresh = std::make_shared<RestorablePanel>();
        fresh->setIdentifier("ToolsTestPanel");
        fresh->restoreUIState();
        EXPECT_EQ(fresh->decodes, 0);
        EXPECT_EQ(fresh->tool, 0);
    }
    UserDefaults::standard().removeObjectForKey("ToolsTestPanel");
}

TEST(UIRestorableDeathTest, AControllerWithoutIdentifierEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    RestorablePanel anonymous;
    EXPECT_DEATH(anonymous.saveUIState(), "UIRestorable item is missing a restoration identifier");
    EXPECT_DEATH(anonymous.restoreUIState(),
                 "UIRestorable item is missing a restoration identifier");
}

TEST(AppKitExtensionsTest, HomeFolderBecomesTildeOnlyAtAPathBoundary) {
    struct Case {
        const char* path;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/Users/someone/Pictures/a.png", "/Users/someone", "~/Pictures/a.png"},
        {"/Users/someone", "/Users/someone", "~"},
        {"/Users/someone/", "/Users/someone", "~/"},
        {"/Users/someone/a.png", "/Users/someone/", "~/a.png"},
        {"/Users/someoneelse/a.png", "/Users/someone", "/Users/someoneelse/a.png"},
        {"/tmp/a.png", "/Users/someone", "/tmp/a.png"},
        {"/data/Users/someone/a.png", "/Users/someone", "/data/Users/someone/a.png"},
        {"/etc/passwd", "/", "/etc/passwd"},
        {"/etc/passwd", "", "/etc/passwd"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(abbreviatingWithTildeInPath(c.path, c.home), c.expected)
            << c.path << " " << c.home;
    }
    const std::string home = homeFolderPath();
    ASSERT_FALSE(home.empty());
    EXPECT_EQ(abbreviatingWithTildeInPath(URL::fileURL(home + "/Pictures/x.png", false)),
              "~/Pictures/x.png");
}

TEST(AppKitExtensionsTest, AlertsFromErrors) {
    auto described = makeAlert(DescribedFailure());
    EXPECT_EQ(described->messageText, "The document could not be opened.");
    EXPECT_EQ(described->informativeText, "The file is damaged.");
    auto plain = makeAlert(std::runtime_error("No such file or directory"));
    EXPECT_EQ(plain->messageText, "No such file or directory");
    EXPECT_EQ(plain->informativeText, "");
    auto thrown = makeAlert(std::make_exception_ptr(DescribedFailure()));
    EXPECT_EQ(thrown->informativeText, "The file is damaged.");
    auto odd = makeAlert(std::make_exception_ptr(42));
    EXPECT_FALSE(odd->messageText.empty());
}

TEST(AppKitExtensionsTest, TypedStoryboardInstantiation) {
    NSStoryboard::registerController("Main", "ExtensionsTestWelcome",
                                     [] { return std::make_shared<NSWindowController>(); });
    EXPECT_TRUE(instantiateController<NSWindowController>("Main", "ExtensionsTestWelcome"));
}
