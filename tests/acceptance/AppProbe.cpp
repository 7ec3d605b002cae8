#include "acceptance/AppProbe.hpp"

#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/FrontDocumentController.hpp"
#include "Document/Viewers/CanvasInfoTitlebarViewController.hpp"
#include "Document/Viewers/DocumentViewController.hpp"
#include "Document/Viewers/DrawingController.hpp"
#include "Document/Viewers/DrawingViewController.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Rendering/LiveRenderedCanvas.hpp"
#include "desktop/NSDocumentController.hpp"
#include "desktop/NSWindow.hpp"
#include "desktop/NSWindowController.hpp"
#include "graphics/NSBitmapImageRep.hpp"
#include "imaging/CIContext.hpp"

#include <QLabel>
#include <QMainWindow>

namespace velmora::acceptance {

namespace probe {

std::vector<std::shared_ptr<Document>> documents() {
    std::vector<std::shared_ptr<Document>> result;
    for (const auto& document : NSDocumentController::shared().documents()) {
        if (auto ours = std::dynamic_pointer_cast<Document>(document)) {
            result.push_back(ours);
        }
    }
    return result;
}

std::shared_ptr<Document> frontDocument() {
    return std::dynamic_pointer_cast<Document>(FrontDocumentController::shared().frontDocument());
}

std::shared_ptr<DrawingViewController> drawing(const Document& document) {
    for (const auto& controller : document.windowControllers()) {
        auto content =
            std::dynamic_pointer_cast<DocumentViewController>(controller->contentViewController());
        if (content) {
            return content->drawingViewController();
        }
    }
    return nullptr;
}

Viewer* viewer(const Document& document) {
    const auto controller = drawing(document);
    return controller ? &controller->viewer() : nullptr;
}

QWidget* window(const Document& document) {
    for (const auto& controller : document.windowControllers()) {
        if (const auto shown = controller->window()) {
            return shown->widget();
        }
    }
    return nullptr;
}

QWidget* panel(const QString& title) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle().contains(title)) {
            return widget;
        }
    }
    return nullptr;
}

Picture picture(NSBitmapImageRep& bitmap) {
    Picture result;
    if (bitmap.bitsPerSample() != 8 || bitmap.isPlanar() || bitmap.samplesPerPixel() < 3) {
        return result;
    }
    result.width = int(bitmap.pixelsWide());
    result.height = int(bitmap.pixelsHigh());
    result.rgba.resize(std::size_t(result.width) * result.height * 4);
    const int samples = bitmap.samplesPerPixel();
    const std::uint8_t* data = bitmap.bitmapData();
    for (int y = 0; y < result.height; ++y) {
        const std::uint8_t* row = data + y * bitmap.bytesPerRow();
        for (int x = 0; x < result.width; ++x) {
            std::uint8_t* out = &result.rgba[(std::size_t(y) * result.width + x) * 4];
            const std::uint8_t* in = row + x * samples;
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = samples == 4 ? in[3] : 255;
        }
    }
    return result;
}

Picture flattened(const Document& document) {
    const auto controller = drawing(document);
    if (!controller || !controller->drawingController()) {
        return {};
    }
    const auto bitmap = controller->drawingController()->renderedCanvas()->asBitmap();
    return bitmap ? picture(*bitmap) : Picture{};
}

Picture layerPixels(const Layer& layer, const LayeredCanvas& canvas) {
    const MTLSize size = canvas.size();
    const CIContext context;
    const auto bitmap =
        context.createBitmap(layer.image(MTLRegionMake2D(0, 0, size.width, size.height)),
                             CGRect{{0, 0}, {CGFloat(size.width), CGFloat(size.height)}});
    return bitmap ? picture(*bitmap) : Picture{};
}

QPointF canvasPoint(const Document& document, QPointF widgetPoint) {
    const auto controller = drawing(document);
    const QWidget& view = controller->viewer();
    const CGPoint point =
        controller->canvasPoint({widgetPoint.x(), view.height() - widgetPoint.y()});
    return {point.x, point.y};
}

std::string canvasInfo(const Document& document) {
    const auto controller = drawing(document);
    if (!controller) {
        return {};
    }
    const auto& bar = controller->titlebarViewController();
    QString text;
    for (QLabel* label :
         {bar->canvasSizeLabel(), bar->canvasZoomLabel(), bar->canvasRotationLabel()}) {
        text += (text.isEmpty() ? "" : " | ") +
                (label && label->isVisible() ? label->text() : QString("-"));
    }
    return text.toStdString();
}

} // namespace probe

int countPixels(const Picture& picture, const std::function<bool(const std::uint8_t*)>& match,
                QRect area) {
    if (area.isNull()) {
        area = QRect(0, 0, picture.width, picture.height);
    }
    area &= QRect(0, 0, picture.width, picture.height);
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            count += match(picture.at(x, y)) ? 1 : 0;
        }
    }
    return count;
}

bool near(const std::uint8_t* pixel, int r, int g, int b, int tolerance) {
    return std::abs(pixel[0] - r) <= tolerance && std::abs(pixel[1] - g) <= tolerance &&
           std::abs(pixel[2] - b) <= tolerance;
}

} // namespace velmora::acceptance
