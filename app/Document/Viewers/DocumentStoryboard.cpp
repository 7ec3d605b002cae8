#include "Document/Viewers/DocumentStoryboard.hpp"

#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DocumentWindowController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/NewDocumentSettingsViewController.hpp"
#include "Document/Viewers/PreviewViewController.hpp"
#include "desktop/NSStoryboard.hpp"
#include "desktop/NSWindow.hpp"

namespace velmora {

void registerDocumentStoryboard() {
    NSStoryboard::registerController("Document", "Document Window Controller", [] {
        auto window = std::make_shared<NSWindow>(
            CGRect{{0, 0}, {1024, 768}}, NSWindowStyleMask::titled | NSWindowStyleMask::closable |
                                             NSWindowStyleMask::miniaturizable |
                                             NSWindowStyleMask::resizable);
        auto content = std::make_shared<DocumentViewController>(
            std::make_shared<DrawingViewController>(), std::make_shared<PreviewViewController>());
        content->addSegue("DocumentSettingsSheet", NSViewController::SegueKind::sheet,
                          [] { return std::make_shared<NewDocumentSettingsViewController>(); });
        window->setContentViewController(std::move(content));
        return std::make_shared<DocumentWindowController>(std::move(window));
    });
}

} // namespace velmora
