#include "Document/Document.hpp"
#include "Document/Viewers/DocumentStoryboard.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/PreviewViewController.hpp"
#include "DrawingTestSupport.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSWindowController.hpp"

#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

CGFloat scaleOf(const CGAffineTransform& t) {
    return std::hypot(t.a, t.b);
}

std::shared_ptr<PreviewCanvas> previewOf(int64_t width, int64_t height) {
    return std::make_shared<PreviewCanvas>(
        *NSBitmapImageRep::makeRGBA8(width, height, ColorManagement::workingNSColorSpace()));
}

class PreviewTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        controller->view()->resize(side, side);
        controller->view()->show();
        controller->viewer().updateViewGeometry();
    }
    void TearDown() override {
        controller = nullptr;
        document->close();
        MainQueue::runUntilIdle();
    }
    MTKView& metalView() { return *controller->viewer().view(); }

    std::shared_ptr<NSDocumentController> documents = std::make_shared<NSDocumentController>();
    std::shared_ptr<Document> document = std::make_shared<Document>();
    std::shared_ptr<PreviewViewController> controller = std::make_shared<PreviewViewController>();
};

} // namespace

TEST_F(PreviewTabTest, ALayeredDocumentBuildsNothingUntilItsContentBecomesAPreview) {
    document->setContent(LayeredCanvas::make({side, side, 1}));
    controller->setRepresentedObject(document);
    controller->setRepresentedObject(document); // joins the delegates once
    EXPECT_EQ(controller->previewController(), nullptr);
    EXPECT_EQ(controller->updateTransform(true), std::nullopt);
    EXPECT_EQ(controller->displayViewModel()->transform(), CGAffineTransform::identity())
        << "no preview: the transform is left as it is";

    const auto preview = previewOf(32, 16);
    document->setContent(preview);
    ASSERT_NE(controller->previewController(), nullptr);
    const auto& shown = *controller->previewController();
    EXPECT_EQ(shown.canvas(), preview);
    EXPECT_EQ(shown.drawable().resolution(), (MTLSize{32, 16, 1}));
    EXPECT_EQ(metalView().delegate(), shown.renderer()) << "its renderer drives the view";
    EXPECT_EQ(controller->displayViewModel()->transform(), CGAffineTransform::identity())
        << "fitted only a main-queue turn later";
    MainQueue::runUntilIdle();
    EXPECT_NEAR(scaleOf(controller->displayViewModel()->transform()), side / 32.0 * 0.95, 1e-9);

    const int64_t before = shown.drawable().drawCounter();
    metalView().draw();
    EXPECT_EQ(shown.drawable().drawCounter(), before + 1) << "the preview is the frame's drawable";

    // Content that stops being a preview takes the preview with it.
    document->setContent(LayeredCanvas::make({side, side, 1}));
    EXPECT_EQ(controller->previewController(), nullptr);
    document->setContent(std::nullopt);
    EXPECT_EQ(controller->previewController(), nullptr);
}

TEST_F(PreviewTabTest, OnlyANewPreviewRefitsALayoutOnlyRedraws) {
    document->setInViewingMode(true);
    document->setContent(previewOf(side, side));
    controller->setRepresentedObject(document);
    MainQueue::runUntilIdle();
    const auto first = controller->previewController();
    controller->displayViewModel()->magnify(2, {0, 0}, true);
    const auto zoomed = controller->displayViewModel()->transform();

    controller->view()->resize(side * 2, side);
    controller->viewer().updateViewGeometry();
    MainQueue::runUntilIdle();
    EXPECT_EQ(controller->displayViewModel()->transform(), zoomed) << "a resize keeps the zoom";

    document->setContent(document->content()); // the same canvas again
    MainQueue::runUntilIdle();
    EXPECT_EQ(controller->previewController(), first);
    EXPECT_EQ(controller->displayViewModel()->transform(), zoomed);

    document->setContent(previewOf(side, side));
    EXPECT_NE(controller->previewController(), first) << "a new renderer for a new preview";
    MainQueue::runUntilIdle();
    EXPECT_NEAR(scaleOf(controller->displayViewModel()->transform()), 0.95, 1e-9);
}

TEST_F(PreviewTabTest, TheFitIsMadeInDrawablePixels) {
    const struct {
        CGSize drawable;
        CGFloat scale;
    } cases[] = {{{side, side}, 0.95}, {{2 * side, 2 * side}, 1.9}, {{2 * side, side}, 0.95}};
    for (const auto& c : cases) {
        metalView().setBoundsSize({side, side});
        metalView().setDrawableSize(c.drawable);
        const auto preview = previewOf(side, side);
        controller->showPreview(preview);
        const auto replaced = controller->updateTransform(true);
        ASSERT_TRUE(replaced.has_value());
        EXPECT_NEAR(scaleOf(controller->displayViewModel()->transform()), c.scale, 1e-9)
            << c.drawable.width << " x " << c.drawable.height;
        const auto fitted = controller->displayViewModel()->transform();
        EXPECT_EQ(controller->updateTransform(false), fitted) << "answers the transform replaced";
    }
}

TEST_F(PreviewTabTest, APreviewWhoseCanvasHasGoneDrawsNothingAndGivesNoTransform) {
    auto preview = previewOf(side, side);
    controller->showPreview(preview);
    MainQueue::runUntilIdle();
    const auto fitted = controller->displayViewModel()->transform();
    preview = nullptr;
    EXPECT_EQ(controller->updateTransform(false), std::nullopt);
    EXPECT_EQ(controller->displayViewModel()->transform(), fitted);
    const auto& shown = *controller->previewController();
    const int64_t before = shown.drawable().drawCounter();
    metalView().draw(); // clears the view instead of stopping the program
    EXPECT_EQ(shown.drawable().drawCounter(), before + 1);
}

TEST_F(PreviewTabTest, TheDocumentWindowShowsTheTabOfItsContent) {
    registerDocumentStoryboard();
    struct Case {
        const char* what;
        Document::Content content;
        int tab;
    };
    const Case cases[] = {{"layered", LayeredCanvas::make({side, side, 1}), 0},
                          {"viewed version", previewOf(side, side), 1}};
    for (const auto& c : cases) {
        const auto shown = std::make_shared<Document>();
        shown->setContent(c.content);
        shown->makeWindowControllers();
        const auto content = std::dynamic_pointer_cast<DocumentViewController>(
            shown->windowControllers().front()->contentViewController());
        ASSERT_NE(content, nullptr);
        ASSERT_NE(content->previewViewController(), nullptr);
        content->tabView()->setCurrentIndex(1 - c.tab);
        content->viewDidAppear();
        EXPECT_EQ(content->tabView()->currentIndex(), c.tab) << c.what;
        EXPECT_EQ(content->previewViewController()->representedObject(), shown) << c.what;
        EXPECT_EQ(content->previewViewController()->previewController() != nullptr, c.tab == 1)
            << c.what;
        MainQueue::runUntilIdle();
        EXPECT_TRUE(content->presentedViewControllers().empty()) << "no new-canvas sheet";
        shown->close();
    }
}
