#pragma once

#include "Document/DocumentConversionViewController.hpp"
#include "desktop/NSWindowController.hpp"
#include "desktop/NSWindowDelegate.hpp"

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

// The application-modal panel that asks whether an opened flat image becomes
// an unsaved layered document. Made once per document; main thread only.
class DocumentConversionController : public NSWindowController,
                                     public DocumentConversionViewControllerDelegate,
                                     public NSWindowDelegate {
public:
    static constexpr const char* panelTitle = "Document Format Conversion";

    static std::shared_ptr<DocumentConversionController> make();

    std::optional<URL> docURL() const override { return docURL_; }
    std::optional<ConversionControllerResponse> userResponse() const { return userResponse_; }
    void setUserResponse(ConversionControllerResponse response) override;

    // Runs the panel for the file until one of its buttons answers, or until
    // it is closed, which answers as a dismissal: keep the format, once.
    ConversionControllerResponse runModal(const URL& url);

    void windowWillClose(NSWindow& window) override;

    // Tests answer the panel through this hook, called once the modal run has
    // begun; it stands for the person and must press a button.
    static std::function<void(DocumentConversionViewController&)>& testResponder();

private:
    std::optional<URL> docURL_;
    std::optional<ConversionControllerResponse> userResponse_;
    bool running_ = false;
};

} // namespace velmora
