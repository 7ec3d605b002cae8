#include "Document/Viewers/DocumentViewController.hpp"

#include "Document/Document.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/NewDocumentSettingsViewController.hpp"
#include "Document/Viewers/PreviewViewController.hpp"
#include "foundation/DispatchQueue.hpp"
#include "foundation/FatalError.hpp"

namespace velmora {

DocumentViewController::DocumentViewController(std::shared_ptr<DrawingViewController> drawing,
                                               std::shared_ptr<PreviewViewController> preview)
    : drawing_(std::move(drawing)), preview_(std::move(preview)) {}

// The document holds its delegates weakly.
DocumentViewController::~DocumentViewController() = default;

void DocumentViewController::loadView() {
    auto* tabs = new QStackedWidget;
    tabView_ = tabs;
    setView(tabs);
    if (drawing_ == nullptr) {
        fatalError("A document view controller without its canvas tab");
    }
    addChildViewController(drawing_);
    tabs->addWidget(drawing_->view());
    if (preview_ != nullptr) {
        addChildViewController(preview_);
        tabs->addWidget(preview_->view());
    }
    tabs->setCurrentIndex(0);
}

std::shared_ptr<Document> DocumentViewController::representedDocument() const {
    return std::dynamic_pointer_cast<Document>(representedObject());
}

void DocumentViewController::setRepresentedObject(std::shared_ptr<NSObject> object) {
    NSViewController::setRepresentedObject(std::move(object));
    for (const auto& child : childViewControllers()) {
        child->setRepresentedObject(representedObject());
    }
    if (drawing_ != nullptr && drawing_->parentViewController() == nullptr) {
        drawing_->setRepresentedObject(representedObject());
    }
    if (preview_ != nullptr && preview_->parentViewController() == nullptr) {
        preview_->setRepresentedObject(representedObject());
    }
    const auto document = representedDocument();
    if (const auto old = joined_.lock(); old != nullptr && old != document) {
        old->delegates -=
            std::static_pointer_cast<DocumentDelegate>(sharedAs<DocumentViewController>());
        joined_.reset();
    }
    if (document == nullptr) {
        return;
    }
    if (joined_.expired()) {
        document->delegates +=
            std::static_pointer_cast<DocumentDelegate>(sharedAs<DocumentViewController>());
        joined_ = document;
    }
    setUpCanvasOf(*document);
}

void DocumentViewController::documentContentDidChange(Document& document) {
    setUpCanvasOf(document);
}

void DocumentViewController::setUpCanvasOf(Document& document) {
    const auto canvas = document.layeredCanvas();
    if (canvas == nullptr || drawing_ == nullptr) {
        return;
    }
    const auto shared = document.sharedAs<Document>();
    // The lock holder's own undo manager answers none while an edit is locked.
    drawing_->setUpCanvas(canvas, shared, document.NSDocument::undoManager(), shared);
}

void DocumentViewController::viewDidAppear() {
    NSViewController::viewDidAppear();
    const auto document = representedDocument();
    if (document != nullptr && document->layeredCanvas() != nullptr) {
        if (tabView_ == nullptr) {
            fatalError("A document view controller without its tab view");
        }
        tabView_->setCurrentIndex(0);
        return;
    }
    if (document != nullptr && document->previewCanvas() != nullptr) {
        if (tabView_ == nullptr || tabView_->count() < 2) {
            fatalError("A document view controller without its preview tab");
        }
        tabView_->setCurrentIndex(1);
        return;
    }
    if (document != nullptr && document->content()) {
        return;
    }
    if (didTriggerNewDocumentSettingsSheet_) {
        return;
    }
    didTriggerNewDocumentSettingsSheet_ = true;
    DispatchQueue::main().async([weak = weakAs<DocumentViewController>()] {
        if (const auto self = weak.lock()) {
            self->performSegue("DocumentSettingsSheet", self.get());
        }
    });
}

void DocumentViewController::prepare(NSStoryboardSegue& segue, NSObject* sender) {
    NSViewController::prepare(segue, sender);
    if (const auto sheet = std::dynamic_pointer_cast<NewDocumentSettingsViewController>(
            segue.destinationController)) {
        sheet->delegate = weakAs<NSViewController>();
    }
}

} // namespace velmora
