#pragma once

#include "desktop/NSResponder.hpp"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

class NSDocument; // desktop/NSDocument.hpp: a responder
class NSViewController;
class NSWindow;

// Owns a window, loaded on first use: a window given at construction counts as
// loaded; otherwise the loader (a storyboard's builder) makes it, then
// `windowDidLoad` runs. It links itself as the window's controller, so it is
// the window's next responder. Made with std::make_shared.
class NSWindowController : public NSResponder {
public:
    using WindowLoader = std::function<std::shared_ptr<NSWindow>()>;

    explicit NSWindowController(std::shared_ptr<NSWindow> window = nullptr);
    ~NSWindowController() override;

    std::shared_ptr<NSWindow> window();
    void setWindow(std::shared_ptr<NSWindow> window);
    bool isWindowLoaded() const { return window_ != nullptr; }
    void setWindowLoader(WindowLoader loader) { loader_ = std::move(loader); }
    void loadWindowIfNeeded() { window(); }
    virtual void windowWillLoad() {}
    // Runs the loader.
    virtual void loadWindow();
    virtual void windowDidLoad() {}

    // The window's.
    std::shared_ptr<NSViewController> contentViewController();
    void setContentViewController(std::shared_ptr<NSViewController> controller);

    // The document it shows (a responder), held weakly. `document<D>()` gives it
    // as class D, the document class by default; the caller includes that
    // class's header.
    template <class D = NSDocument> std::shared_ptr<D> document() const {
        return std::dynamic_pointer_cast<D>(document_.lock());
    }
    std::shared_ptr<NSResponder> documentResponder() const { return document_.lock(); }
    void setDocument(std::weak_ptr<NSResponder> document);
    // The window's title names the document and says whether it is edited;
    // a no-op until the window is loaded.
    virtual void synchronizeWindowTitleWithDocumentName();

    // Set by the document that adds the controller. Asked before the window
    // closes by the user's request; the reply may come later (after a question).
    std::function<void(NSWindowController&, std::function<void(bool shouldClose)> reply)>
        shouldCloseHandler;
    // Told when the window closes (the document then lets the controller go).
    std::function<void(NSWindowController&)> willCloseHandler;

    // Shows the window in front, making it key (a panel that becomes key only
    // when needed is only ordered front).
    virtual void showWindow(NSObject* sender = nullptr);
    void close();

    // Set on the window when it loads (and at once when it is loaded).
    const std::string& windowFrameAutosaveName() const { return autosaveName_; }
    void setWindowFrameAutosaveName(std::string_view name);
    // This layer never cascades windows; kept for the callers that set it.
    bool shouldCascadeWindows() const { return shouldCascade_; }
    void setShouldCascadeWindows(bool cascade) { shouldCascade_ = cascade; }

private:
    void adopt(const std::shared_ptr<NSWindow>& window);

    std::shared_ptr<NSWindow> window_;
    WindowLoader loader_;
    bool loading_ = false;
    std::weak_ptr<NSResponder> document_;
    std::string autosaveName_;
    bool shouldCascade_ = true;
};

} // namespace velmora
