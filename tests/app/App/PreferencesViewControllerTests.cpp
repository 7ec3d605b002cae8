#include "App/PreferencesViewController.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using Policy = Preferences::DocumentFormatConversion;

struct Pane {
    explicit Pane(UserDefaults& defaults) : preferences(defaults) { controller->view(); }
    // As the user picks an item.
    void choose(QComboBox* popup, int index) {
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }
    QComboBox* screens() const { return controller->preferredScreenPopupButton(); }
    QComboBox* policies() const { return controller->documentConversionPopupButton(); }
    std::string help() const {
        return controller->preferredScreenHelpLabel()->text().toStdString();
    }

    Preferences preferences;
    std::shared_ptr<PreferencesViewController> controller =
        std::make_shared<PreferencesViewController>(preferences);
};

TEST(PreferencesViewController, ControlsStoreAndFollowThePreferences) {
    UserDefaults defaults(std::nullopt);
    defaults.set("nonsense", "Document Format Conversion");
    defaults.set(true, "Allow Drawing with Mouse");
    Pane pane(defaults);
    ASSERT_EQ(pane.screens()->count(), QGuiApplication::screens().size() + 1);
    EXPECT_EQ(pane.screens()->itemText(0), "None");
    EXPECT_EQ(pane.policies()->currentData(), "ask");
    EXPECT_TRUE(pane.controller->allowDrawingWithMouseButton()->isChecked());
    EXPECT_EQ(pane.help(), "New documents will open in active screen.");

    pane.controller->allowDrawingWithMouseButton()->click();
    EXPECT_EQ(defaults.objectForKey("Allow Drawing with Mouse"), DefaultsValue(false));
    pane.choose(pane.policies(), pane.policies()->findData("convertAlways"));
    EXPECT_EQ(pane.preferences.documentFormatConversion(), Policy::convertAlways);

    pane.preferences.setDocumentFormatConversion(Policy::keepAlways); // from elsewhere
    pane.preferences.setAllowDrawingWithMouse(true);
    EXPECT_EQ(pane.policies()->currentData(), "keepAlways");
    EXPECT_TRUE(pane.controller->allowDrawingWithMouseButton()->isChecked());
}

// Runs on the named screens of PreferencesScreens.ChildOnFourNamedScreens.
TEST(PreferencesOnNamedScreens, PaneTellsNoneByPosition) {
    if (!qEnvironmentVariableIsSet("VELMORA_TEST_NAMED_SCREENS")) {
        GTEST_SKIP() << "runs inside PreferencesScreens.ChildOnFourNamedScreens";
    }
    UserDefaults defaults(std::nullopt);
    Pane pane(defaults);
    int screenNamedNone = -1; // the item after the pane's own "None"
    for (int i = 1; i < pane.screens()->count(); ++i) {
        if (pane.screens()->itemText(i) == "None") {
            screenNamedNone = i;
        }
    }
    ASSERT_GT(screenNamedNone, 0);
    pane.choose(pane.screens(), screenNamedNone);
    EXPECT_EQ(defaults.stringForKey("Preferred Screen"), "None");
    EXPECT_EQ(pane.screens()->currentIndex(), screenNamedNone);
    EXPECT_EQ(pane.help(),
              "New documents will always open on display \"None\" unless it is unavailable.");
    pane.choose(pane.screens(), 0);
    EXPECT_EQ(defaults.objectForKey("Preferred Screen"), std::nullopt);
    EXPECT_EQ(pane.help(), "New documents will open in active screen.");
}

} // namespace
} // namespace velmora
