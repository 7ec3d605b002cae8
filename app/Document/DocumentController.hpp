#pragma once

#include "desktop/NSDocumentController.hpp"

#include <memory>

namespace velmora {

class DocumentController;

// Told when the recent documents change (the welcome window).
class DocumentControllerDelegate {
public:
    virtual ~DocumentControllerDelegate() = default;
    virtual void documentControllerDidChangeRecentDocuments(DocumentController& controller) = 0;
};

// The application's document controller: `Document` for all six types, the
// native type first so that new documents are native, and a delegate that
// follows the recent documents. The application makes it before any other.
class DocumentController : public NSDocumentController {
public:
    DocumentController();

    // The shared controller, which must be one of this class.
    static DocumentController& shared();

    std::weak_ptr<DocumentControllerDelegate> delegate;

    // By the file's extension in any case; DocumentError unsupportedFormat for
    // any other file.
    std::string typeForContents(const URL& url) const override;

    // Tells the delegate in a later turn of the main queue.
    void noteNewRecentDocumentURL(const URL& url) override;
    // Tells the delegate at once.
    void clearRecentDocuments() override;
};

} // namespace velmora
