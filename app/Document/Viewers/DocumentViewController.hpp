#pragma once

#include "Document/DocumentDelegate.hpp"
#include "desktop/NSStoryboardSegue.hpp"
#include "desktop/NSViewController.hpp"

#include <QPointer>
#include <QStackedWidget>
#include <memory>

namespace velmora {

class Document;
class DrawingViewController;
class PreviewViewController;

// The content of a document window: a tab view whose tab 0 is the canvas and
// tab 1 the preview of a document that is only viewed.
// Hands the represented document down to its children and sets the canvas up
// whenever the document holds a layered one. Main thread only.
class DocumentViewController : public NSViewController, public DocumentDelegate {
public:
    explicit DocumentViewController(std::shared_ptr<DrawingViewController> drawing,
                                    std::shared_ptr<PreviewViewController> preview = nullptr);
    ~DocumentViewController() override;

    void loadView() override;
    void setRepresentedObject(std::shared_ptr<NSObject> object) override;
    // A document without content shows the new-canvas sheet, once, a
    // main-queue turn later.
    void viewDidAppear() override;
    void prepare(NSStoryboardSegue& segue, NSObject* sender) override;

    QStackedWidget* tabView() const { return tabView_; }
    const std::shared_ptr<DrawingViewController>& drawingViewController() const { return drawing_; }
    const std::shared_ptr<PreviewViewController>& previewViewController() const { return preview_; }
    std::shared_ptr<Document> representedDocument() const;

    void documentContentDidChange(Document& document) override;

private:
    void setUpCanvasOf(Document& document);

    std::shared_ptr<DrawingViewController> drawing_;
    std::shared_ptr<PreviewViewController> preview_;
    QPointer<QStackedWidget> tabView_;
    std::weak_ptr<Document> joined_;
    bool didTriggerNewDocumentSettingsSheet_ = false;
};

} // namespace velmora
