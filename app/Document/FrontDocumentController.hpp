#pragma once

#include "Document/Viewers/DocumentWindowController.hpp"
#include "desktop/NSDocument.hpp"
#include "desktop/NotificationCenter.hpp"
#include "desktop/ObservableProperty.hpp"

#include <cstdint>
#include <memory>
#include <string_view>

namespace velmora {

// Which open document is frontmost: the one owning the front-most window in
// the window order, recomputed whenever a document window becomes or stops
// being main and whenever a window closes. The panels follow it. The document
// is held weakly, so a closed document is never kept. Main thread only.
class FrontDocumentController {
public:
    // Made on first use, kept until exit.
    static FrontDocumentController& shared();

    FrontDocumentController();
    ~FrontDocumentController();
    FrontDocumentController(const FrontDocumentController&) = delete;
    FrontDocumentController& operator=(const FrontDocumentController&) = delete;

    std::shared_ptr<NSDocument> frontDocument() const { return frontDocument_.get().lock(); }
    // Observers are told only when the front document changes.
    [[nodiscard]] NSKeyValueObservation
    observeFrontDocument(NSKeyValueObservingOptions options,
                         ObservableProperty<std::weak_ptr<NSDocument>>::Handler handler) {
        return frontDocument_.observe(options, std::move(handler));
    }

    // The document of the window with the smallest order index; the first
    // document met on equal indices; none without windows.
    static std::shared_ptr<NSDocument> computeFrontDocument();
    void update();

private:
    ObservableProperty<std::weak_ptr<NSDocument>> frontDocument_;
    // Whether a document was stored (it may have been freed since).
    bool holdsDocument_ = false;
    NotificationCenter::ObserverToken activeDocumentObservation_;
    std::uint64_t windowObserver_ = 0;
};

} // namespace velmora
