#include "App/Preferences.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using Policy = Preferences::DocumentFormatConversion;

struct Recorder final : PreferencesDelegate {
    std::vector<std::optional<DefaultsValue>> seen;
    std::string_view key;
    void preferencesDidChange(Preferences& preferences) override {
        seen.push_back(preferences.defaults().objectForKey(key));
    }
};

TEST(Preferences, AbsentValuesGiveTheDefaults) {
    UserDefaults defaults(std::nullopt);
    Preferences preferences(defaults);
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    EXPECT_FALSE(preferences.allowDrawingWithMouse());
    EXPECT_EQ(preferences.documentFormatConversion(), Policy::ask);
    EXPECT_FALSE(preferences.drawingWithMouseWarningDisabled());
}

TEST(Preferences, UncheckingStoresFalseAndTellsTheDelegateAfterStoring) {
    UserDefaults defaults(std::nullopt);
    Preferences preferences(defaults);
    auto recorder = std::make_shared<Recorder>();
    recorder->key = Preferences::allowDrawingWithMouseKey;
    preferences.delegate = recorder;
    preferences.setAllowDrawingWithMouse(true);
    EXPECT_TRUE(preferences.allowDrawingWithMouse());
    preferences.setAllowDrawingWithMouse(false);
    EXPECT_FALSE(preferences.allowDrawingWithMouse());
    EXPECT_EQ(defaults.objectForKey("Allow Drawing with Mouse"), DefaultsValue(false));
    const std::vector<std::optional<DefaultsValue>> expected{DefaultsValue(true),
                                                             DefaultsValue(false)};
    EXPECT_EQ(recorder->seen, expected);
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
         {DefaultsValue("Ask"), DefaultsValue("sometimes"), DefaultsValue(""),
          DefaultsValue(std::int64_t{1}), DefaultsValue(true)}) {
        defaults.set(stored, "Document Format Conversion");
        EXPECT_EQ(preferences.documentFormatConversion(), Policy::ask);
    }
}

// Named screens come from the offscreen platform's configuration file, read only
// at start-up, so these cases run in a child process of this test program.
constexpr const char* namedScreensVariable = "VELMORA_TEST_NAMED_SCREENS";
const char* const screenNames[] = {"HDMI-1", "DP-2", "HDMI-1", "None"};

class PreferencesOnNamedScreens : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet(namedScreensVariable)) {
            GTEST_SKIP() << "runs inside PreferencesScreens.CasesOnFourNamedScreens";
        }
        ASSERT_EQ(screens.size(), 4);
        recorder->key = Preferences::preferredScreenKey;
        preferences.delegate = recorder;
    }
    // Indices, in the application's screen order, of the screens with that name.
    std::vector<int> named(std::string_view name) const {
        std::vector<int> found;
        for (int i = 0; i < screens.size(); ++i) {
            if (displayName(*screens[i]) == name) {
                found.push_back(i);
            }
        }
        return found;
    }

    QList<QScreen*> screens = QGuiApplication::screens();
    UserDefaults defaults{std::nullopt};
    Preferences preferences{defaults};
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
};

TEST_F(PreferencesOnNamedScreens, DisplayNamesAreTheConnectorNames) {
    EXPECT_EQ(named("HDMI-1").size(), 2u);
    EXPECT_EQ(named("DP-2").size(), 1u);
    EXPECT_EQ(named("None").size(), 1u);
}

TEST_F(PreferencesOnNamedScreens, DuplicateNamesGiveTheFirstScreen) {
    const std::vector<int> twins = named("HDMI-1");
    ASSERT_EQ(twins.size(), 2u);
    preferences.setPreferredScreen(screens[twins[1]]);
    EXPECT_EQ(defaults.stringForKey("Preferred Screen"), "HDMI-1");
    EXPECT_EQ(preferences.preferredScreen(), screens[twins[0]]);
    preferences.setPreferredScreen(screens[named("DP-2").at(0)]);
    EXPECT_EQ(preferences.preferredScreen(), screens[named("DP-2").at(0)]);
}

TEST_F(PreferencesOnNamedScreens, AScreenNamedNoneCanBeChosenAndNoScreenRemovesTheKey) {
    QScreen* none = screens[named("None").at(0)];
    preferences.setPreferredScreen(none);
    EXPECT_EQ(preferences.preferredScreen(), none);
    preferences.setPreferredScreen(nullptr);
    EXPECT_EQ(defaults.objectForKey("Preferred Screen"), std::nullopt);
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    const std::vector<std::optional<DefaultsValue>> expected{DefaultsValue("None"), std::nullopt};
    EXPECT_EQ(recorder->seen, expected);
}

TEST_F(PreferencesOnNamedScreens, AMissingScreenGivesNoneAndKeepsTheName) {
    defaults.set("DP-9", "Preferred Screen");
    EXPECT_EQ(preferences.preferredScreen(), nullptr);
    EXPECT_EQ(defaults.stringForKey("Preferred Screen"), "DP-9");
}

TEST(PreferencesScreens, CasesOnFourNamedScreens) {
    if (qEnvironmentVariableIsSet(namedScreensVariable)) {
        GTEST_SKIP() << "already the child";
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString config = folder.filePath("screens.json");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray json = R"({"synchronousWindowSystemEvents": false, "screens": [)";
    for (int i = 0; i < 4; ++i) {
        json += QByteArray(i ? "," : "") + R"({"name": ")" + screenNames[i] + R"(", "x": )" +
                QByteArray::number(i * 800) +
                R"(, "y": 0, "width": 800, "height": 600, "logicalDpi": 96, "dpr": 1})";
    }
    json += "]}";
    file.write(json);
    file.close();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
    environment.insert(namedScreensVariable, "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=PreferencesOnNamedScreens.*"});
    ASSERT_TRUE(child.waitForFinished(120'000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 4 tests")) << output.toStdString();
}

} // namespace
} // namespace velmora
