#pragma once

#include "Document/Viewers/CanvasInfoDataSource.hpp"
#include "desktop/NSTitlebarAccessoryViewController.hpp"

#include <QLabel>
#include <QPointer>
#include <memory>

namespace velmora {

// The canvas's size in pixels, the zoom and the rotation, read out at the
// right of the window's status bar. Main thread only.
class CanvasInfoTitlebarViewController : public NSTitlebarAccessoryViewController {
public:
    CanvasInfoTitlebarViewController() { layoutAttribute = NSLayoutAttribute::right; }

    void loadView() override;
    void viewDidLoad() override;
    // Recomputes the three read-outs from the data source.
    void update();

    std::shared_ptr<CanvasInfoDataSource> canvasInfoDataSource() const {
        return canvasInfoDataSource_.lock();
    }
    void setCanvasInfoDataSource(const std::shared_ptr<CanvasInfoDataSource>& source) {
        canvasInfoDataSource_ = source;
    }
    QLabel* canvasSizeLabel() const { return canvasSizeLabel_; }
    QLabel* canvasRotationLabel() const { return canvasRotationLabel_; }
    QLabel* canvasZoomLabel() const { return canvasZoomLabel_; }

private:
    QPointer<QLabel> canvasSizeLabel_;
    QPointer<QLabel> canvasRotationLabel_;
    QPointer<QLabel> canvasZoomLabel_;
    std::weak_ptr<CanvasInfoDataSource> canvasInfoDataSource_;
};

} // namespace velmora
