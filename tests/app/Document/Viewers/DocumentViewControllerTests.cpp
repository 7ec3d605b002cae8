#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "DrawingTestSupport.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using velmora::testing::side;

namespace {

// Closing a document tells the shared controller, which then is this one.
struct DocumentWindowContent : ::testing::Test {
    std::shared_ptr<NSDocumentController> documents = std::make_shared<NSDocumentController>();
    // Other tests register stand-in windows under the same name.
    void SetUp() override { registerDocumentStoryboard(); }
};

std::shared_ptr<DocumentViewController> contentOf(Document& document) {
    EXPECT_EQ(document.windowControllers().size(), 1u);
    return std::dynamic_pointer_cast<DocumentViewController>(
        document.windowControllers().front()->contentViewController());
}

} // namespace

TEST_F(DocumentWindowContent, ALayeredDocumentOpensWithItsCanvasSetUp) {
    auto document = std::make_shared<Document>();
    const auto canvas = LayeredCanvas::make({side, side, 1});
    document->setContent(canvas);
    document->makeWindowControllers();
    const auto content = contentOf(*document);
    ASSERT_NE(content, nullptr);
    const auto& drawing = content->drawingViewController();
    EXPECT_EQ(drawing->representedObject(), document) << "handed down to the canvas tab";
    ASSERT_NE(drawing->drawingController(), nullptr);
    EXPECT_EQ(drawing->drawingController()->canvas(), canvas);
    EXPECT_EQ(document->bitmapProvider(), drawing->drawingController());
    ASSERT_NE(content->tabView(), nullptr);
    EXPECT_EQ(content->tabView()->currentWidget(), drawing->view());
    document->close();
}

TEST_F(DocumentWindowContent, ContentSetLaterIsSetUpAndAnEmptyDocumentHasNoController) {
    auto document = std::make_shared<Document>();
    document->makeWindowControllers();
    const auto content = contentOf(*document);
    ASSERT_NE(content, nullptr);
    const auto& drawing = content->drawingViewController();
    EXPECT_EQ(drawing->drawingController(), nullptr);
    const auto canvas = LayeredCanvas::make({side, side, 1});
    document->setContent(canvas);
    ASSERT_NE(drawing->drawingController(), nullptr);
    EXPECT_EQ(drawing->drawingController()->canvas(), canvas);
    document->close();
}
