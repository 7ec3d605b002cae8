#pragma once

#include "acceptance/AppProbe.hpp"
#include "acceptance/Driver.hpp"

#include <QTransform>
#include <filesystem>

namespace velmora::acceptance {

// Moves of an artist that several phases share; each waits until the
// program has answered.

// Chooses a command of the main menu by its menu and item titles (or the
// item's action, for items retitled as they validate), as the menu
// bar would (validated first); later, so a modal loop it opens cannot block.
void chooseMenu(Driver& d, const std::string& menu, const std::string& item);
// Opens the menu by a click on its title in the window's menu bar and clicks
// the item of that title, as a person would; false when either is missing or
// the item is disabled; a screenshot of the open menu when `shot` is named.
bool clickMenu(Driver& d, QWidget* window, const QString& menu, const QString& item,
               const std::string& shot = {});
// Velmora > Quit; the phase's last move, since the program then ends.
void quit(Driver& d);
// Replaces a text field's text by typing, then presses Return.
void typeInto(Driver& d, QWidget* field, const QString& text);
// The modal dialog on top, once one is shown.
QWidget* waitForModal(Driver& d, double seconds = 20);
// Clicks the button of that title in the modal dialog; false when missing.
bool clickInModal(Driver& d, const QString& title);

// Save As… with the format chosen in the panel's pop-up and the path typed in;
// true once the file exists.
bool saveAs(Driver& d, const QString& format, const std::filesystem::path& file);

// New document through the sheet; the document made.
std::shared_ptr<Document> newDocument(Driver& d, int width, int height);
// The first open document once its canvas is shown in a visible viewer; null
// when none is by then.
std::shared_ptr<Document> waitForShownDocument(Driver& d, double seconds);

// Canvas pixels (y up) to the viewer's widget points and back.
QTransform canvasToWidget(Driver& d, const std::shared_ptr<Document>& document);
// A stylus stroke through canvas points with a pressure each, interpolated
// every few screen points; waits until the stroke's lock is given back.
void stroke(Driver& d, const std::shared_ptr<Document>& document,
            const std::vector<QPointF>& canvasPoints, const std::vector<double>& pressures,
            const QPointingDevice* device);
// A click on a tool button of the Tools panel ("Brush", "Eraser", "Move").
void chooseTool(Driver& d, const QString& title);
// A click on the brush of that name in the Brush Presets panel.
void chooseBrush(Driver& d, const QString& name);
// A value typed into a Tool Settings row ("BrushSize", "BrushOpacity", ...).
void setToolSetting(Driver& d, const char* row, int value);
// A colour chosen in the colour panel that the Tool Settings well opens.
void chooseColor(Driver& d, QColor color);

// The run of painted pixels across a horizontal line at canvas row y, column x
// (a stroke's thickness), or along a vertical one.
int thicknessAcross(const Picture& canvas, int x, int y, bool vertical = false);
// A canvas pixel (y up) of a top-row-first picture.
const std::uint8_t* canvasPixel(const Picture& canvas, int x, int y);

// The share of sampled screen points over the canvas where the screenshot shows
// the flattened canvas's opaque colour (within tolerance); -1 when no opaque
// sample was found.
double screenAgreement(Driver& d, const std::shared_ptr<Document>& document, const QImage& shot,
                       const Picture& flat);

} // namespace velmora::acceptance
