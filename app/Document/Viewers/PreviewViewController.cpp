#include "Document/Viewers/PreviewViewController.hpp"

#include "Document/Document.hpp"
#include "MetalExtensions/MTLSizeExtensions.hpp"
#include "Rendering/BenchmarkedRenderer.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/LogHandles.hpp"

#include <QEvent>
#include <QObject>

namespace velmora {

namespace {

// Tells the controller of every layout of its view.
class LayoutWatcher : public QObject {
public:
    LayoutWatcher(QWidget* view, std::weak_ptr<PreviewViewController> controller)
        : QObject(view), controller_(std::move(controller)) {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            if (const auto controller = controller_.lock()) {
                controller->viewDidLayout();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::weak_ptr<PreviewViewController> controller_;
};

} // namespace

PreviewViewController::PreviewViewController() = default;

PreviewViewController::~PreviewViewController() {
    previewController_ = nullptr;
}

void PreviewViewController::loadView() {
    auto* viewer = new Viewer(Viewer::Origin::code);
    metalView_ = viewer->view();
    metalView_->setClearColor(viewer->backgroundClearColor());
    setView(viewer);
    new LayoutWatcher(viewer, weakAs<PreviewViewController>());
}

Viewer& PreviewViewController::viewer() {
    auto* viewer = dynamic_cast<Viewer*>(view());
    if (viewer == nullptr) {
        fatalError("The preview tab's view is not a canvas view");
    }
    return *viewer;
}

void PreviewViewController::setRepresentedObject(std::shared_ptr<NSObject> object) {
    NSViewController::setRepresentedObject(std::move(object));
    for (const auto& child : childViewControllers()) {
        child->setRepresentedObject(representedObject());
    }
    const auto document = std::dynamic_pointer_cast<Document>(representedObject());
    if (document == nullptr) {
        return;
    }
    document->delegates +=
        std::static_pointer_cast<DocumentDelegate>(sharedAs<PreviewViewController>());
    showContentOf(*document);
}

void PreviewViewController::documentContentDidChange(Document& document) {
    showContentOf(document);
}

void PreviewViewController::showContentOf(const Document& document) {
    if (const auto canvas = document.previewCanvas()) {
        showPreview(canvas);
    } else {
        previewController_ = nullptr;
    }
}

void PreviewViewController::viewDidLayout() {
    if (metalView_ != nullptr) {
        metalView_->setNeedsDisplay(true);
    }
}

void PreviewViewController::showPreview(const std::shared_ptr<PreviewCanvas>& canvas) {
    if (previewController_ != nullptr && previewController_->canvas() == canvas) {
        return;
    }
    const auto device = MTLCreateSystemDefaultDevice();
    if (device == nullptr) {
        fatalError("No Metal device");
    }
    userActionsLogs().log("Created preview canvas of size %{public}@", description(canvas->size()));
    viewer();
    auto renderer = BenchmarkedRenderer::make(metalView_, device);
    previewController_ = nullptr; // its renderer gives up the view first
    previewController_ = PreviewController::make(std::move(renderer), displayViewModel_, canvas);
    metalView_->setNeedsDisplay(true);
    // Once the window has laid the view out.
    DispatchQueue::main().async([weak = weakAs<PreviewViewController>()] {
        if (const auto controller = weak.lock()) {
            controller->updateTransform(true);
        }
    });
}

std::optional<CGAffineTransform> PreviewViewController::updateTransform(bool fit) {
    if (previewController_ == nullptr) {
        return std::nullopt;
    }
    const auto canvas = previewController_->canvas();
    if (canvas == nullptr) {
        return std::nullopt;
    }
    const CGSize bounds = metalView_->boundsSize(), drawable = metalView_->drawableSize();
    const CGSize scale{bounds.width > 0 ? drawable.width / bounds.width : 1,
                       bounds.height > 0 ? drawable.height / bounds.height : 1};
    const MTLSize size = canvas->size();
    const CGAffineTransform replaced = displayViewModel_->resetTransform(
        {bounds.width * scale.width, bounds.height * scale.height},
        {CGFloat(size.width), CGFloat(size.height)}, fit);
    metalView_->setNeedsDisplay(true);
    return replaced;
}

} // namespace velmora
