#include "desktop/NSAlert.hpp"
#include "desktop/NSOpenPanel.hpp"
#include "desktop/NSSavePanel.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSViewController.hpp"
#include "desktop/NSWindowController.hpp"
#include "foundation/MainQueue.hpp"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace velmora;

namespace {

struct PanelController : NSViewController {};

QPushButton* buttonTitled(QMessageBox& box, const char* title) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == title) {
            return qobject_cast<QPushButton*>(button);
        }
    }
    return nullptr;
}

} // namespace

TEST(NSStoryboardTest, ControllersComeFromTheRegisteredBuilders) {
    NSStoryboard::registerController("Layers", "Layers",
                                     [] { return std::make_shared<NSWindowController>(); });
    NSStoryboard::registerController("Layers", "Content",
                                     [] { return std::make_shared<PanelController>(); });
    auto first = NSStoryboard::instantiateController<NSWindowController>("Layers", "Layers");
    auto second = NSStoryboard::instantiateController<NSWindowController>("Layers", "Layers");
    EXPECT_NE(first, second) << "a new controller each time";
    EXPECT_TRUE(NSStoryboard::instantiateController<NSViewController>("Layers", "Content"));
}

TEST(NSStoryboardDeathTest, UnknownControllerOrWrongClassEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    NSStoryboard::registerController("Main", "Welcome",
                                     [] { return std::make_shared<NSWindowController>(); });
    EXPECT_DEATH(NSStoryboard::instantiate("Main", "Missing"),
                 "Fatal error: The storyboard \"Main\" has no controller \"Missing\"");
    EXPECT_DEATH(NSStoryboard::instantiate("Other", "Welcome"), "has no controller");
    EXPECT_DEATH(NSStoryboard::instantiateController<NSViewController>("Main", "Welcome"),
                 "is not of the requested class");
}

TEST(NSAlertTest, ButtonsAnswerInTheOrderAddedWithCancelOnEscape) {
    NSAlert alert;
    alert.messageText = "Save changes?";
    EXPECT_EQ(alert.addButtonWithTitle("Save"), NSAlertFirstButtonReturn);
    EXPECT_EQ(alert.addButtonWithTitle("Cancel"), NSAlertSecondButtonReturn);
    EXPECT_EQ(alert.addButtonWithTitle("Don't Save"), NSAlertThirdButtonReturn);
    auto box = alert.makeMessageBox();
    EXPECT_EQ(box->text(), "Save changes?");
    EXPECT_EQ(box->defaultButton(), buttonTitled(*box, "Save"));
    EXPECT_EQ(box->escapeButton(), buttonTitled(*box, "Cancel"));

    struct Case {
        std::function<void(QMessageBox&)> act;
        NSModalResponse expected;
    };
    const Case cases[] = {
        {[](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, NSAlertSecondButtonReturn},
        {[](QMessageBox& b) { buttonTitled(b, "Don't Save")->click(); }, NSAlertThirdButtonReturn},
        {[](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, NSAlertFirstButtonReturn},
    };
    for (const Case& c : cases) {
        auto running = alert.makeMessageBox();
        QTimer::singleShot(0, running.get(), [&] { c.act(*running); });
        running->exec();
        EXPECT_EQ(NSAlert::responseFor(*running), c.expected);
    }
}

TEST(NSAlertTest, WithoutButtonsItHasOneOKAndAnErrorShowsItsText) {
    auto alert = NSAlert::alertWithError(std::runtime_error("The disk is full."));
    EXPECT_EQ(alert->messageText, "The disk is full.");
    auto box = alert->makeMessageBox();
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().front()->text(), "OK");

    NSAlert::setTestResponder([](const NSAlert& shown) {
        EXPECT_EQ(shown.messageText, "The disk is full.");
        return NSAlertFirstButtonReturn;
    });
    EXPECT_EQ(alert->runModal(), NSAlertFirstButtonReturn);
    std::optional<NSModalResponse> later;
    alert->beginSheetModalForWindow(nullptr, [&](NSModalResponse r) { later = r; });
    EXPECT_FALSE(later) << "answered in a later turn";
    MainQueue::runUntilIdle();
    EXPECT_EQ(later, NSAlertFirstButtonReturn);
    NSAlert::setTestResponder(nullptr);
}

TEST(NSSavePanelTest, AllowedTypesBecomeFiltersAndTheDefaultSuffix) {
    NSSavePanel::setFileTypeResolver([](std::string_view identifier) {
        if (identifier == "public.png") {
            return std::optional<NSSavePanel::FileType>({"public.png", {"png"}, "PNG image"});
        }
        if (identifier == "public.jpeg") {
            return std::optional<NSSavePanel::FileType>({"public.jpeg", {"jpg", "jpeg"}, "JPEG"});
        }
        return std::optional<NSSavePanel::FileType>();
    });
    // A folder of this run's own: another run beside it removes its own.
    const QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const std::filesystem::path folder = temporary.path().toStdString();
    auto panel = NSSavePanel::savePanel();
    panel->directoryURL = URL::fileURL(folder, true);
    panel->nameFieldStringValue = "Picture";
    panel->setAllowedFileTypes({"public.png", "tiff"});
    auto dialog = panel->makeDialog();
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->nameFilters(), (QStringList{"PNG image (*.png)", "tiff (*.tiff)"}));
    EXPECT_EQ(dialog->defaultSuffix(), "png");
    // An accessory's format chooser narrows the types while the panel runs.
    panel->setAllowedFileTypes({"public.jpeg"});
    EXPECT_EQ(dialog->nameFilters(), QStringList{"JPEG (*.jpg *.jpeg)"});
    EXPECT_EQ(dialog->defaultSuffix(), "jpg");
    QTimer::singleShot(0, dialog.get(), [&] { static_cast<QDialog*>(dialog.get())->accept(); });
    const bool accepted = dialog->exec() == QDialog::Accepted;
    EXPECT_EQ(panel->finish(*dialog, accepted), NSModalResponseOK);
    ASSERT_TRUE(panel->url());
    EXPECT_EQ(panel->url()->path(), (folder / "Picture.jpg").string());
    // A typed extension of another format gets the chosen format's after it.
    for (const auto& [typed, saved] :
         {std::pair{"Cat.velmora", "Cat.velmora.jpg"}, std::pair{"Cat.JPEG", "Cat.JPEG"}}) {
        dialog->selectFile(typed);
        EXPECT_EQ(panel->finish(*dialog, true), NSModalResponseOK);
        EXPECT_EQ(panel->url()->path(), (folder / saved).string()) << typed;
    }

    NSSavePanel::setTestResponder([&](NSSavePanel& shown) -> std::optional<std::vector<URL>> {
        EXPECT_EQ(shown.allowedFileTypes(), std::vector<std::string>{"public.jpeg"});
        return std::nullopt;
    });
    EXPECT_EQ(panel->runModal(), NSModalResponseCancel);
    EXPECT_FALSE(panel->url());
    auto open = NSOpenPanel::openPanel();
    NSSavePanel::setTestResponder([&](NSSavePanel&) -> std::optional<std::vector<URL>> {
        return std::vector<URL>{URL::fileURL(folder / "a.png", false)};
    });
    EXPECT_EQ(open->runModal(), NSModalResponseOK);
    EXPECT_EQ(open->urls().size(), 1u);
    NSSavePanel::setTestResponder(nullptr);
    NSSavePanel::setFileTypeResolver(nullptr);
}

TEST(NSSavePanelTest, AccessoryViewIsShownAndGivenBack) {
    auto panel = NSSavePanel::savePanel();
    auto* accessory = new QLineEdit;
    panel->accessoryView = accessory;
    {
        auto dialog = panel->makeDialog();
        EXPECT_EQ(accessory->window(), dialog.get());
        panel->finish(*dialog, false);
    }
    ASSERT_TRUE(panel->accessoryView) << "the dialog did not take the accessory with it";
    EXPECT_EQ(accessory->parentWidget(), nullptr);
    delete accessory;
}
