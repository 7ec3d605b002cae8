#include "App/Preferences.hpp"
#include "Document/Document.hpp"
#include "Document/DocumentConversionController.hpp"
#include "app/Document/DocumentTestSupport.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSApplication.hpp"
#include "foundation/UserDefaults.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using Answer = ConversionControllerResponse;
const std::string native = "com.tovik.velmora-image";

class DocumentConversionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temporary.isValid());
        folder = temporary.path().toStdString();
        NSAlert::setTestResponder([](const NSAlert& alert) {
            ADD_FAILURE() << alert.messageText;
            return NSAlertFirstButtonReturn;
        });
    }
    void TearDown() override {
        DocumentConversionController::testResponder() = nullptr;
        NSAlert::setTestResponder(nullptr);
        UserDefaults::standard().removeObjectForKey(Preferences::documentFormatConversionKey);
    }
    // Answers the panel as a person would: the check box, then a button.
    void answerWith(std::optional<Answer> answer) {
        panelTitles.clear();
        DocumentConversionController::testResponder() =
            [this, answer](DocumentConversionViewController& panel) {
                panelTitles.push_back(panel.titleField()->text().toStdString());
                const Answer chosen = answer.value_or(Answer::convert);
                panel.alwaysApplyButton()->setChecked(chosen == Answer::keepAlways ||
                                                      chosen == Answer::convertAlways);
                if (chosen == Answer::keep || chosen == Answer::keepAlways) {
                    panel.keepButton()->click();
                } else {
                    panel.convertButton()->click();
                }
            };
    }
    std::shared_ptr<Document> open(const std::string& name, const std::string& type,
                                   const std::vector<uint8_t>& bytes, bool viewing = false) {
        test::writeFile(folder / name, bytes);
        const URL url = URL::fileURL(folder / name, false);
        auto document = std::make_shared<Document>();
        document->setFileType(type);
        document->setFileURL(url);
        document->setInViewingMode(viewing);
        document->read(url, type);
        return document;
    }

    QTemporaryDir temporary;
    std::filesystem::path folder;
    std::vector<std::string> panelTitles;
};

TEST_F(DocumentConversionTest, TypePolicyAndAnswerDecideTheOpenedDocument) {
    const auto png = test::pngOf(*test::asymmetricPicture());
    struct Case {
        const char* file;
        std::string type;
        std::vector<uint8_t> bytes;
        std::optional<const char*> policy;
        std::optional<Answer> answer; // the panel is shown when set
        bool converted;
        const char* policyAfter;
    };
    const std::vector<Case> cases{
        {"Cat.gif", "com.compuserve.gif", test::tinyGif(), "keepAlways", {}, true, "keepAlways"},
        {"Cat.png", "public.png", png, {}, Answer::keepAlways, false, "keepAlways"},
        {"Cat.png", "public.png", png, "keepAlways", {}, false, "keepAlways"},
        {"Cat.png", "public.png", png, "ask", Answer::convert, true, "ask"},
        {"Cat.png", "public.png", png, "maybe", Answer::convertAlways, true, "convertAlways"},
        {"Cat.jpg",
         "public.jpeg",
         ImageCodecs::encode(*test::quadrantPicture(), NSBitmapImageFileType::jpeg),
         "convertAlways",
         {},
         true,
         "convertAlways"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.policy.value_or("none"));
        if (c.policy) {
            UserDefaults::standard().set(std::string(*c.policy),
                                         Preferences::documentFormatConversionKey);
        } else {
            UserDefaults::standard().removeObjectForKey(Preferences::documentFormatConversionKey);
        }
        answerWith(c.answer);
        const auto document = open(c.file, c.type, c.bytes);
        EXPECT_EQ(panelTitles.size(), c.answer ? 1u : 0u);
        if (c.answer) {
            EXPECT_EQ(panelTitles.front(),
                      "The document \"" + std::string(c.file) + "\" does not support layers.");
        }
        EXPECT_EQ(document->fileType(), c.converted ? native : c.type);
        EXPECT_EQ(document->fileURL().has_value(), !c.converted);
        EXPECT_EQ(document->displayName(), "Cat");
        EXPECT_EQ(document->autosavesInPlace(), c.converted) << "flat files are never autosaved";
        EXPECT_EQ(UserDefaults::standard()
                      .stringForKey(Preferences::documentFormatConversionKey)
                      .value_or(""),
                  c.policyAfter);
        EXPECT_TRUE(std::filesystem::exists(folder / c.file)) << "the image is left as it was";
    }
}

TEST_F(DocumentConversionTest, RevertViewingAndNativeNeverConvert) {
    UserDefaults::standard().set(std::string("keepAlways"),
                                 Preferences::documentFormatConversionKey);
    answerWith(std::nullopt);
    const auto document = open("Kept.png", "public.png", test::pngOf(*test::asymmetricPicture()));
    UserDefaults::standard().set(std::string("convertAlways"),
                                 Preferences::documentFormatConversionKey);
    EXPECT_TRUE(document->revertToSaved());
    EXPECT_EQ(document->fileType(), "public.png");
    const auto viewed =
        open("Viewed.png", "public.png", test::pngOf(*test::asymmetricPicture()), true);
    EXPECT_EQ(viewed->fileType(), "public.png");
    EXPECT_TRUE(viewed->previewCanvas());
    EXPECT_TRUE(panelTitles.empty());
}

TEST_F(DocumentConversionTest, TheTitleBarCloseEndsThePanelAsKeepingTheFormat) {
    const auto png = test::pngOf(*test::asymmetricPicture());
    for (const bool alwaysChecked : {false, true}) {
        SCOPED_TRACE(alwaysChecked ? "check box on" : "check box off");
        UserDefaults::standard().removeObjectForKey(Preferences::documentFormatConversionKey);
        int closes = 0;
        DocumentConversionController::testResponder() =
            [&closes, alwaysChecked](DocumentConversionViewController& panel) {
                panel.alwaysApplyButton()->setChecked(alwaysChecked);
                QWindow* handle = panel.view()->window()->windowHandle();
                ASSERT_NE(handle, nullptr);
                // The title bar's close button reaches the top-level window this way.
                handle->close();
                ++closes;
                // A modal run the close left going would never return: answer
                // for the person so that the test fails instead of hanging.
                QTimer::singleShot(2000, panel.view(), [&panel] {
                    if (panel.view()->isVisible() || NSApplication::shared().modalWindow()) {
                        ADD_FAILURE() << "the close left the modal run going";
                        panel.keepButton()->click();
                    }
                });
            };
        const auto document = open("Closed.png", "public.png", png);
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(document->fileType(), "public.png") << "closing keeps the format";
        EXPECT_TRUE(document->fileURL().has_value());
        EXPECT_NE(document->layeredCanvas(), nullptr) << "the picture opens";
        EXPECT_FALSE(UserDefaults::standard()
                         .stringForKey(Preferences::documentFormatConversionKey)
                         .has_value())
            << "a dismissal is never made permanent";
        EXPECT_EQ(NSApplication::shared().modalWindow(), nullptr);
    }
}

} // namespace
} // namespace velmora
