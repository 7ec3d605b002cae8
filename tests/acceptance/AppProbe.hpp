#pragma once

#include "acceptance/Driver.hpp"

#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace velmora {
class Document;
class DrawingViewController;
class Layer;
class LayeredCanvas;
class NSBitmapImageRep;
class Viewer;
} // namespace velmora

namespace velmora::acceptance {

// What the program holds, looked at the way its own controllers see it.
// Main thread only.
namespace probe {

std::vector<std::shared_ptr<Document>> documents();
std::shared_ptr<Document> frontDocument();
std::shared_ptr<DrawingViewController> drawing(const Document& document);
Viewer* viewer(const Document& document);
QWidget* window(const Document& document);
// A utility panel by its window title (the tool settings' title begins with its tool).
QWidget* panel(const QString& title);

Picture picture(NSBitmapImageRep& bitmap);
// The flattened canvas as a save makes it.
Picture flattened(const Document& document);
// One layer's own pixels over the whole canvas.
Picture layerPixels(const Layer& layer, const LayeredCanvas& canvas);

// A canvas pixel (y up) for a point of the viewer widget (Qt's, y down).
QPointF canvasPoint(const Document& document, QPointF widgetPoint);
// The three read-outs at the right of the document window's status bar.
std::string canvasInfo(const Document& document);

} // namespace probe

// Pixel statistics over a picture's rectangle (top-row-first coordinates).
int countPixels(const Picture& picture, const std::function<bool(const std::uint8_t*)>& match,
                QRect area = {});
bool near(const std::uint8_t* pixel, int r, int g, int b, int tolerance = 8);

} // namespace velmora::acceptance
