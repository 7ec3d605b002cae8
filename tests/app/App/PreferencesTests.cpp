#include "App/Preferences.hpp"
#include "foundation/UserDefaults.hpp"
#include "support/ChildProcess.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using Policy = Preferences::DocumentFormatConversion;
using Values = std::vector<std::optional<DefaultsValue>>;

// Records the stored value of `key` each time the delegate is told.
struct Recorder final : PreferencesDelegate {
    explicit Recorder(std::string_view key) : key(key) {}
    void preferencesDidChange(Preferences& preferences) override {
        seen.push_back(preferences.defaults().objectForKey(key));
    }
    std::string_view key;
    Values seen;
};

TEST(Preferences, DefaultsAndUncheckingStoresFalse) {
    UserDefaults defaults(std::nullopt);
    Preferences preferences(defaults);
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    EXPECT_FALSE(preferences.allowDrawingWithMouse());
    EXPECT_EQ(preferences.documentFormatConversion(), Policy::ask);
    auto recorder = std::make_shared<Recorder>(Preferences::allowDrawingWithMouseKey);
    preferences.delegate = recorder;
    preferences.setAllowDrawingWithMouse(true);
    preferences.setAllowDrawingWithMouse(false);
    EXPECT_FALSE(preferences.allowDrawingWithMouse());
    EXPECT_EQ(recorder->seen, (Values{DefaultsValue(true), DefaultsValue(false)}));
}

TEST(Preferences, PolicyIsStoredByNameAndAnythingElseReadsAsAsk) {
    UserDefaults defaults(std::nullopt);
    Preferences preferences(defaults);
    for (const auto& [policy, text] : {std::pair{Policy::keepAlways, "keepAlways"},
                                       {Policy::convertAlways, "convertAlways"},
                                       {Policy::ask, "ask"}}) {
        preferences.setDocumentFormatConversion(policy);
        EXPECT_EQ(defaults.stringForKey("Document Format Conversion"), text);
        EXPECT_EQ(preferences.documentFormatConversion(), policy) << text;
    }
    for (const DefaultsValue& stored :
         {DefaultsValue("Ask"), DefaultsValue("sometimes"), DefaultsValue(std::int64_t{1})}) {
        defaults.set(stored, "Document Format Conversion");
        EXPECT_EQ(preferences.documentFormatConversion(), Policy::ask);
    }
}

// Named screens come from the offscreen platform's configuration file, read only
// at start-up, so this case runs in a child process of this test program.
constexpr const char* namedScreensVariable = "VELMORA_TEST_NAMED_SCREENS";

TEST(PreferencesOnNamedScreens, DuplicatesGiveTheFirstAndMissingGivesNone) {
    if (!qEnvironmentVariableIsSet(namedScreensVariable)) {
        GTEST_SKIP() << "runs inside PreferencesScreens.ChildOnFourNamedScreens";
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    const auto first = [&](std::string_view name) {
        auto found = std::find_if(screens.begin(), screens.end(),
                                  [&](QScreen* s) { return displayName(*s) == name; });
        return found == screens.end() ? nullptr : *found;
    };
    const QScreen* lastTwin = *std::find_if(screens.rbegin(), screens.rend(),
                                            [](QScreen* s) { return displayName(*s) == "HDMI-1"; });
    ASSERT_NE(lastTwin, first("HDMI-1"));
    UserDefaults defaults(std::nullopt);
    Preferences preferences(defaults);
    auto recorder = std::make_shared<Recorder>(Preferences::preferredScreenKey);
    preferences.delegate = recorder;

    preferences.setPreferredScreen(lastTwin);
    EXPECT_EQ(preferences.preferredScreen(), first("HDMI-1"));
    preferences.setPreferredScreen(first("None")); // a screen, not the pane's "None"
    EXPECT_EQ(preferences.preferredScreen(), first("None"));
    preferences.setPreferredScreen(nullptr);
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    EXPECT_EQ(recorder->seen,
              (Values{DefaultsValue("HDMI-1"), DefaultsValue("None"), std::nullopt}));
    defaults.set("DP-9", "Preferred Screen");
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    EXPECT_EQ(defaults.stringForKey("Preferred Screen"), "DP-9");
}

TEST(PreferencesScreens, ChildOnFourNamedScreens) {
    if (qEnvironmentVariableIsSet(namedScreensVariable)) {
        GTEST_SKIP() << "already the child";
    }
    QTemporaryDir folder;
    QFile config(folder.filePath("screens.json"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(R"({"screens": [
        {"name": "HDMI-1", "x": 0, "y": 0, "width": 800, "height": 600, "logicalDpi": 96},
        {"name": "DP-2", "x": 800, "y": 0, "width": 800, "height": 600, "logicalDpi": 96},
        {"name": "HDMI-1", "x": 1600, "y": 0, "width": 800, "height": 600, "logicalDpi": 96},
        {"name": "None", "x": 2400, "y": 0, "width": 800, "height": 600, "logicalDpi": 96}]})");
    config.close();
    const auto child = test::runChild(
        QCoreApplication::applicationFilePath().toStdString(),
        {"--gtest_filter=PreferencesOnNamedScreens.*"},
        {{"QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toStdString()},
         {namedScreensVariable, "1"}});
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 2 tests."), std::string::npos) << child.output;
}

} // namespace
} // namespace velmora
