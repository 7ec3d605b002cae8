#pragma once

#include "desktop/NSWindow.hpp"
#include "desktop/VersionStore.hpp"
#include "foundation/DispatchQueue.hpp"
#include "graphics/CGGeometry.hpp"

#include <QImage>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The window beside a document window that lists the earlier versions of its
// document, newest first, each with its date and a thumbnail made off the main
// thread. Choosing a version asks for it to be shown in a window of its own;
// "Restore" asks for it to replace the document's content, and closes the
// browser when it did; "Done" (or closing the window) closes it. Opening tells
// the document window will-enter and did-enter, closing will-exit and
// did-exit. A damaged version is marked and cannot be chosen; a failure to
// read one only marks it. Main thread only.
class VersionsBrowser : public std::enable_shared_from_this<VersionsBrowser> {
public:
    static constexpr int thumbnailSide = 96;

    // Runs on a queue of its own, one version at a time, newest first; throws
    // when the version cannot be read. A null image leaves the row without one.
    using ThumbnailMaker = std::function<QImage(const DocumentVersion&)>;
    struct Handlers {
        // Shows the version; answers its window, which the browser places and
        // closes with itself. Throws when the version cannot be opened.
        std::function<std::shared_ptr<NSWindow>(const DocumentVersion&)> open;
        // True when the document now holds the version: the browser closes.
        std::function<bool(const DocumentVersion&)> restore;
        // After did-exit.
        std::function<void()> closed;
    };

    // Where the three windows go while the browser is open: the list at the
    // right end of the screen's visible frame, the document and the version
    // shown sharing the rest, side by side.
    struct Layout {
        CGRect document;
        CGRect version;
        CGRect browser;
    };
    static Layout layout(CGRect visibleFrame);

    // The window shows before any thumbnail is made.
    static std::shared_ptr<VersionsBrowser> open(std::shared_ptr<NSWindow> documentWindow,
                                                 std::vector<DocumentVersion> versions,
                                                 ThumbnailMaker thumbnails, Handlers handlers);
    ~VersionsBrowser();
    VersionsBrowser(const VersionsBrowser&) = delete;
    VersionsBrowser& operator=(const VersionsBrowser&) = delete;

    const std::shared_ptr<NSWindow>& window() const { return window_; }
    std::shared_ptr<NSWindow> documentWindow() const { return documentWindow_.lock(); }
    QListWidget* list() const { return list_; }
    QPushButton* restoreButton() const { return restoreButton_; }
    QPushButton* doneButton() const { return doneButton_; }
    const std::vector<DocumentVersion>& versions() const { return versions_; }
    bool isOpen() const { return open_; }

    // The version shown, if any, and its window.
    std::optional<std::size_t> chosen() const { return chosen_; }
    const std::shared_ptr<NSWindow>& versionWindow() const { return versionWindow_; }
    // False for a damaged version or one that cannot be opened (then marked).
    bool choose(std::size_t index);
    // Restores the version chosen; false when none is or it was not restored.
    bool restore();
    // Done: leaves the browser, the document window as it was.
    void close();

    // Thumbnails shown so far (a version that failed counts too).
    std::size_t thumbnailsDone() const { return thumbnailsDone_; }

private:
    struct Shared {
        std::atomic<bool> cancelled{false};
    };

    VersionsBrowser(std::shared_ptr<NSWindow> documentWindow, std::vector<DocumentVersion> versions,
                    ThumbnailMaker thumbnails, Handlers handlers);
    void build();
    void enter();
    void startThumbnails();
    void showThumbnail(std::size_t index, const QImage& image, const std::string& error);
    void markDamaged(std::size_t index, const std::string& error);
    void closeVersionWindow();

    std::weak_ptr<NSWindow> documentWindow_;
    std::vector<DocumentVersion> versions_;
    ThumbnailMaker thumbnails_;
    Handlers handlers_;
    std::shared_ptr<NSWindow> window_;
    QPointer<QListWidget> list_;
    QPointer<QPushButton> restoreButton_;
    QPointer<QPushButton> doneButton_;
    std::shared_ptr<NSWindow> versionWindow_;
    std::optional<std::size_t> chosen_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    DispatchQueue thumbnailQueue_{"VersionsThumbnailQueue", DispatchQoS::utility};
    std::uint64_t windowObserver_ = 0;
    // The document window's place before the browser moved it.
    CGRect documentFrame_{};
    bool documentWasMaximized_ = false;
    std::size_t thumbnailsDone_ = 0;
    bool open_ = false;
    bool closing_ = false;
};

} // namespace velmora
