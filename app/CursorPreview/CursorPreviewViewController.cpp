#include "CursorPreview/CursorPreviewViewController.hpp"

#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"

#include <QBitmap>
#include <QPixmap>
#include <cmath>

namespace velmora {

CursorPreviewViewController::CursorPreviewViewController()
    : cursorHideProxy([] { NSCursor::hide(); }), cursorUnhideProxy([] { NSCursor::unhide(); }) {}

CursorPreviewViewController::~CursorPreviewViewController() {
    showPointer();
}

void CursorPreviewViewController::loadView() {
    auto* view = new QWidget;
    view->setAttribute(Qt::WA_TranslucentBackground);
    imageView_ = new QLabel(view);
    imageView_->setAttribute(Qt::WA_TranslucentBackground);
    imageView_->move(0, 0);
    setView(view);
}

void CursorPreviewViewController::viewDidLoad() {
    if (!imageView_) {
        fatalError("The cursor preview has no image view");
    }
    imageView_->setFixedSize(0, 0);
}

void CursorPreviewViewController::viewWillAppear() {
    if (!hidPointer_) {
        hidPointer_ = true;
        cursorHideProxy();
    }
}

void CursorPreviewViewController::viewWillDisappear() {
    showPointer();
}

void CursorPreviewViewController::showPointer() {
    if (hidPointer_) {
        hidPointer_ = false;
        cursorUnhideProxy();
    }
}

void CursorPreviewViewController::updateImage() {
    loadViewIfNeeded();
    const qreal scale = view()->devicePixelRatioF();
    const QImage image = cursor ? cursor->image(scale) : QImage();
    QSize points(0, 0);
    QPixmap pixmap;
    if (!image.isNull()) {
        const CGSize size = cursor->imageSize();
        points = QSize(int(std::lround(size.width)), int(std::lround(size.height)));
        pixmap = QPixmap::fromImage(image);
        pixmap.setDevicePixelRatio(points.width() > 0 ? qreal(image.width()) / points.width()
                                                      : 1.0);
    }
    imageView_->setPixmap(pixmap);
    imageView_->setFixedSize(points);
    view()->setFixedSize(points);
    const auto shown = window();
    if (!shown || !shown->widget()) {
        return;
    }
    QWidget* top = shown->widget();
    top->setFixedSize(points.expandedTo(QSize(1, 1)));
    // Without a compositing manager only the mask makes the window's clear parts clear.
    if (pixmap.isNull()) {
        top->clearMask();
    } else {
        top->setMask(pixmap.scaled(points).mask());
    }
}

} // namespace velmora
