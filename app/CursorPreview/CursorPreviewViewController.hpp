#pragma once

#include "desktop/NSCursor.hpp"
#include "desktop/NSViewController.hpp"

#include <QLabel>
#include <QPointer>
#include <functional>
#include <memory>

namespace velmora {

// The cursor preview's content: the cursor's image at its size in points.
// While shown it keeps the system pointer hidden: hidden once when it
// appears, shown again when it disappears or is destroyed, and only if it
// hid it.
class CursorPreviewViewController : public NSViewController {
public:
    CursorPreviewViewController();
    ~CursorPreviewViewController() override;

    QLabel* imageView() const { return imageView_; }

    std::shared_ptr<NSCursor> cursor;
    std::function<void()> cursorHideProxy;
    std::function<void()> cursorUnhideProxy;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewWillDisappear() override;

    // Shows `cursor`'s image (nothing without a cursor) and sizes the view to it.
    void updateImage();
    bool hidesPointer() const { return hidPointer_; }

private:
    void showPointer();

    QPointer<QLabel> imageView_;
    bool hidPointer_ = false;
};

} // namespace velmora
