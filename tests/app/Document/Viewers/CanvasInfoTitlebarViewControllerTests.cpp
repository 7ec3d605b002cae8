#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/RasterLayer.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/CanvasInfoTitlebarViewController.hpp"
#include "Rendering/DisplayViewModel.hpp"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

struct Source : CanvasInfoDataSource {
    std::shared_ptr<Document> representedDocument() const override { return document; }
    std::shared_ptr<DisplayViewModel> displayViewModel() const override { return model; }
    std::shared_ptr<Document> document = std::make_shared<Document>();
    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
};

TEST(CanvasInfoTitlebarViewController, ReadsSizeZoomAndRotation) {
    auto source = std::make_shared<Source>();
    auto controller = std::make_shared<CanvasInfoTitlebarViewController>();
    controller->setCanvasInfoDataSource(source);
    controller->loadViewIfNeeded();
    // No layered canvas yet: the zoom and rotation still read.
    EXPECT_EQ(controller->canvasSizeLabel()->text(), QString::fromUtf8("0 × 0 px"));
    EXPECT_EQ(controller->canvasZoomLabel()->text(), "100%");

    source->document->setContent(
        Document::Content(LayeredCanvas::make({1000, 800, 1}, RasterLayer::make("Background"))));
    struct Case {
        CGFloat zoom;
        CGFloat rotation;
        const char* zoomText;
        const char* rotationText;
    } cases[] = {
        {1, 0, "100%", "0°"},      {1.0 / 3, 0, "33%", "0°"}, {0.125, 0, "13%", "0°"},
        {1, 22.5, "100%", "-23°"}, {1, 0.4, "100%", "0°"},    {1.5, -45, "150%", "45°"},
    };
    for (const auto& c : cases) {
        const auto t =
            CGAffineTransform::identity().scaledBy(c.zoom, c.zoom).rotated(c.rotation * M_PI / 180);
        source->model->restoreTransform(t);
        controller->update();
        EXPECT_EQ(controller->canvasSizeLabel()->text(), QString::fromUtf8("1000 × 800 px"));
        EXPECT_EQ(controller->canvasZoomLabel()->text(), c.zoomText) << c.zoom;
        EXPECT_EQ(controller->canvasRotationLabel()->text(), QString::fromUtf8(c.rotationText))
            << c.rotation;
    }
}

} // namespace
