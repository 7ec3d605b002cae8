#include "Document/Viewers/CanvasInfoTitlebarViewController.hpp"

#include "Canvas/LayeredCanvas.hpp"
#include "Canvas/PreviewCanvas.hpp"
#include "Document/Document.hpp"
#include "Extensions/CGAffineTransformExtensions.hpp"
#include "Rendering/DisplayViewModel.hpp"
#include "desktop/NSFont.hpp"
#include "foundation/FatalError.hpp"

#include <QHBoxLayout>
#include <cmath>
#include <string>

namespace velmora {

namespace {

// Nearest whole number, halves away from zero; a tiny negative reads 0, not -0.
std::string wholeText(double v) {
    if (!std::isfinite(v)) {
        return "0";
    }
    return std::to_string(static_cast<long long>(std::round(v)));
}

} // namespace

void CanvasInfoTitlebarViewController::loadView() {
    auto* view = new QWidget();
    auto* layout = new QHBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    canvasSizeLabel_ = new QLabel(view);
    canvasZoomLabel_ = new QLabel(view);
    canvasRotationLabel_ = new QLabel(view);
    for (QLabel* label :
         {canvasSizeLabel_.data(), canvasZoomLabel_.data(), canvasRotationLabel_.data()}) {
        layout->addWidget(label);
    }
    setView(view);
}

void CanvasInfoTitlebarViewController::viewDidLoad() {
    NSTitlebarAccessoryViewController::viewDidLoad();
    const QFont font =
        NSFont::monospacedDigitSystemFont(NSFont::systemFontSize(), NSFontWeight::regular);
    for (QLabel* label :
         {canvasSizeLabel_.data(), canvasZoomLabel_.data(), canvasRotationLabel_.data()}) {
        precondition(label != nullptr, "A canvas information label is missing");
        label->setFont(font);
    }
    update();
}

void CanvasInfoTitlebarViewController::update() {
    const auto source = canvasInfoDataSource();
    if (source == nullptr) {
        return;
    }
    precondition(canvasSizeLabel_ && canvasZoomLabel_ && canvasRotationLabel_,
                 "A canvas information label is missing");
    MTLSize size{0, 0, 0};
    // A viewed version holds a flat preview of the canvas, of the same size.
    if (const auto document = source->representedDocument()) {
        if (const auto layered = document->layeredCanvas()) {
            size = layered->size();
        } else if (const auto preview = document->previewCanvas()) {
            size = preview->size();
        }
    }
    canvasSizeLabel_->setText(QString::fromStdString(std::to_string(size.width) + " \u00d7 " +
                                                     std::to_string(size.height) + " px"));
    const auto model = source->displayViewModel();
    const CGAffineTransform transform =
        model != nullptr ? model->transform() : CGAffineTransform::identity();
    canvasZoomLabel_->setText(QString::fromStdString(wholeText(scaling(transform).dx * 100) + "%"));
    canvasRotationLabel_->setText(
        QString::fromStdString(wholeText(-rotationInDegrees(transform)) + "\u00b0"));
}

} // namespace velmora
