#pragma once

#include "Document/DocumentDelegate.hpp"
#include "Document/Viewers/PreviewController.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "desktop/NSViewController.hpp"

#include <memory>
#include <optional>

namespace velmora {

class Document;

// The preview tab of a document window: shows a document that is only viewed
// (an earlier version) fitted in a canvas view of its own, with its own
// renderer and display transform. Nothing there can be edited: no drawing
// controller, no tool. Main thread only.
class PreviewViewController : public NSViewController, public DocumentDelegate {
public:
    PreviewViewController();
    ~PreviewViewController() override;

    void loadView() override;
    Viewer& viewer();

    const std::shared_ptr<DisplayViewModel>& displayViewModel() const { return displayViewModel_; }
    const std::shared_ptr<PreviewController>& previewController() const {
        return previewController_;
    }

    // Joins the document's delegates and shows its preview, if it has one.
    void setRepresentedObject(std::shared_ptr<NSObject> object) override;
    void documentContentDidChange(Document& document) override;
    // Redraws; the fit stays as it is.
    void viewDidLayout();

    // A new renderer and preview controller for the canvas, fitted a main-queue
    // turn later; the canvas shown already is left as it is.
    virtual void showPreview(const std::shared_ptr<PreviewCanvas>& canvas);
    // Centres (and fits) the preview; answers the transform it replaced. None,
    // and nothing changed, without a preview or once its canvas has gone.
    virtual std::optional<CGAffineTransform> updateTransform(bool fit);

private:
    // Other content drops the preview, so a released canvas is never drawn.
    void showContentOf(const Document& document);

    std::shared_ptr<DisplayViewModel> displayViewModel_ = std::make_shared<DisplayViewModel>();
    std::shared_ptr<PreviewController> previewController_;
    // Kept past the widget, so a frame still on its way finds its view.
    std::shared_ptr<MTKView> metalView_;
};

} // namespace velmora
