#include "Document/Viewers/DocumentStoryboard.hpp"

#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DocumentWindowController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/NewDocumentSettingsViewController.hpp"
#include "Document/Viewers/PreviewViewController.hpp"
#include "Popover/AutoDismissViewController.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

#include <QLabel>

namespace velmora {

namespace {

std::shared_ptr<NSWindow> makeDocumentWindow() {
    auto window = std::make_shared<NSWindow>(
        CGRect{{0, 0}, {1024, 768}}, NSWindowStyleMask::titled | NSWindowStyleMask::closable |
                                         NSWindowStyleMask::miniaturizable |
                                         NSWindowStyleMask::resizable);
    auto content = std::make_shared<DocumentViewController>(
        std::make_shared<DrawingViewController>(), std::make_shared<PreviewViewController>());
    content->addSegue("DocumentSettingsSheet", NSViewController::SegueKind::sheet,
                      [] { return std::make_shared<NewDocumentSettingsViewController>(); });
    window->setContentViewController(std::move(content));
    return window;
}

} // namespace

void registerDocumentStoryboard() {
    NSStoryboard::registerController("Document", "Document Window Controller", [] {
        // Loaded by the controller, so that its windowDidLoad runs.
        auto controller = std::make_shared<DocumentWindowController>();
        controller->setWindowLoader(makeDocumentWindow);
        return controller;
    });
    NSStoryboard::registerController("Document", "maximumLayerSizeReachedPopover", [] {
        auto controller = std::make_shared<AutoDismissViewController>();
        auto* label = new QLabel(QString::fromUtf8(
            "The layer cannot be moved further: the layer and the canvas together may span at "
            "most 8000 × 8000 pixels."));
        label->setWordWrap(true);
        constexpr int width = 260;
        label->setFixedWidth(width);
        label->setMinimumHeight(label->heightForWidth(width));
        controller->setView(label);
        return controller;
    });
}

} // namespace velmora
