#include "Document/Document.hpp"
#include "Document/DocumentController.hpp"
#include "Document/SaveAccessoryViewController.hpp"
#include "desktop/NSSavePanel.hpp"

#include <QComboBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace velmora {
namespace {

std::vector<std::string> titles(QComboBox& popup) {
    std::vector<std::string> result;
    for (int i = 0; i < popup.count(); ++i) {
        result.push_back(popup.itemText(i).toStdString());
    }
    return result;
}

TEST(SaveAccessoryViewController, ChoosingAFormatLimitsThePanelAndWarnsOfFlattening) {
    const auto panel = NSSavePanel::savePanel();
    const auto accessory = SaveAccessoryViewController::make();
    accessory->writableTypes = {"public.tiff", "public.jpeg", "public.png",
                                "com.tovik.velmora-image"};
    accessory->savePanel = panel;
    QComboBox& popup = *(accessory->view(), accessory->formatPopupButton());
    EXPECT_EQ(titles(popup),
              (std::vector<std::string>{"TIFF", "JPEG", "PNG", "Velmora (experimental)"}));
    struct Step {
        int item;
        const char* identifier;
        bool warning;
    };
    for (const auto& step :
         {Step{0, "public.tiff", true}, Step{3, "com.tovik.velmora-image", false},
          Step{2, "public.png", true}}) {
        if (step.item != 0) {
            popup.setCurrentIndex(step.item);
            accessory->selectFormat();
        }
        EXPECT_EQ(accessory->selectedIdentifier(), step.identifier);
        EXPECT_EQ(panel->allowedFileTypes(), std::vector<std::string>{step.identifier});
        EXPECT_EQ(!accessory->warningView()->isHidden(), step.warning) << step.identifier;
    }
}

TEST(SaveAccessoryViewController, TheDocumentSavesAsTheChosenFormatAndKeepsTheChoice) {
    QTemporaryDir temporary;
    const auto controller = std::make_shared<DocumentController>();
    const auto document = std::make_shared<Document>();
    document->setDisplayName("Sketch");
    std::vector<std::string> offered;
    NSSavePanel::setTestResponder([&](NSSavePanel& panel) -> std::optional<std::vector<URL>> {
        EXPECT_FALSE(panel.isExtensionHidden());
        EXPECT_EQ(panel.accessoryView, document->accessoryViewController().view());
        auto& popup = *document->accessoryViewController().formatPopupButton();
        offered.push_back(popup.currentText().toStdString());
        popup.setCurrentIndex(popup.findText("JPEG"));
        document->accessoryViewController().selectFormat();
        EXPECT_EQ(panel.resolvedFileTypes().at(0).extensions.at(0), "jpg");
        return std::vector<URL>{
            URL::fileURL(temporary.filePath("Sketch.jpg").toStdString(), false)};
    });
    const auto first = document->runSavePanel();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->typeName, "public.jpeg");
    EXPECT_EQ(first->url.lastPathComponent(), "Sketch.jpg");
    EXPECT_TRUE(document->runSavePanel());
    EXPECT_EQ(offered, (std::vector<std::string>{"TIFF", "JPEG"})) << "the last choice stays";
    NSSavePanel::setTestResponder([](NSSavePanel&) { return std::nullopt; });
    EXPECT_FALSE(document->runSavePanel());
    NSSavePanel::setTestResponder(nullptr);
}

} // namespace
} // namespace velmora
