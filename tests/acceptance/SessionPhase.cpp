// An artist's session from launch to quit, each step checked in the program's
// state and on the screen.
#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Session.hpp"
#include "desktop/NSApplication.hpp"

#include <fstream>

namespace velmora::acceptance {

namespace session {

bool isCyan(const std::uint8_t* p) {
    return p[3] > 200 && p[0] < 100 && p[1] > 180 && p[2] > 180;
}
bool isRed(const std::uint8_t* p) {
    return p[3] > 200 && p[0] > 200 && p[1] < 80 && p[2] < 80;
}

std::shared_ptr<Document> launchAndNew(Driver& d) {
    d.step("launch");
    const auto panels = d.onMain([] {
        std::vector<bool> shown;
        for (const char* title : {"Brush Presets", "Tool Settings", "Tools", "Layers"}) {
            shown.push_back(probe::panel(title) != nullptr);
        }
        return shown;
    });
    d.check(panels == std::vector<bool>(4, true), "the four panels are shown");
    d.check(d.onMain([] { return probe::documents().empty(); }), "no untitled document");
    d.check(d.onMain([] { return probe::panel("Welcome") != nullptr; }),
            "the welcome window is shown");
    d.screenshot("launch");

    d.step("new");
    const auto document = newDocument(d, 1200, 800);
    if (!document) {
        return nullptr;
    }
    const auto layout = d.onMain([&] {
        const auto canvas = document->layeredCanvas();
        const auto& layers = canvas->immediateLayers();
        return std::make_tuple(canvas->size().width, canvas->size().height, layers.size(),
                               layers.empty() ? std::string() : layers[0]->name());
    });
    d.check(std::get<0>(layout) == 1200 && std::get<1>(layout) == 800, "the canvas is 1200 × 800");
    d.check(std::get<2>(layout) == 1 && std::get<3>(layout) == "Background",
            "one layer named Background");
    d.check(d.onMain([&] { return probe::canvasInfo(*document); }).starts_with("1200 × 800"),
            "the status bar reads the canvas size: " +
                d.onMain([&] { return probe::canvasInfo(*document); }));
    d.screenshot("new-document");
    rememberEmpty(d, document);
    return document;
}

void paint(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("brush-strokes");
    chooseTool(d, "Brush");
    chooseBrush(d, "Hard Round");
    setToolSetting(d, "BrushSize", 10);
    d.check(d.onMain([] { return DrawingSettings::shared().liveBrush().size; }) == 10,
            "the size typed is the brush's size");
    stroke(d, document, {{150, 600}, {600, 620}, {1050, 600}}, {0.3, 1.0, 0.4}, Driver::pen());
    Picture flat;
    d.waitUntil([&] { return isCyan(canvasPixel(flat = probe::flattened(*document), 600, 620)); });
    d.check(isCyan(canvasPixel(flat, 600, 620)), "the first stroke is on the canvas in cyan");
    const int thin = thicknessAcross(flat, 600, 620);
    d.check(thin >= 7 && thin <= 14,
            "the first stroke is about 10 px thick: " + std::to_string(thin));

    rememberEdit(d, document);
    chooseColor(d, QColor(255, 0, 0));
    setToolSetting(d, "BrushSize", 40);
    stroke(d, document, {{150, 400}, {600, 380}, {1050, 400}}, {0.5, 1.0, 0.6}, Driver::pen());
    d.waitUntil([&] { return isRed(canvasPixel(flat = probe::flattened(*document), 600, 380)); });
    d.check(isRed(canvasPixel(flat, 600, 380)), "the second stroke is red");
    const int thick = thicknessAcross(flat, 600, 380);
    d.check(thick >= 34 && thick <= 48,
            "the second stroke is about 40 px thick: " + std::to_string(thick));
    d.check(isCyan(canvasPixel(flat, 600, 620)), "the first stroke is still there");
    d.check(screenAgreement(d, document, d.screenshot("two-strokes"), flat) > 0.9,
            "the screen shows the canvas");

    rememberEdit(d, document);
    d.step("stylus-eraser");
    stroke(d, document, {{300, 250}, {300, 700}}, {1.0, 1.0}, Driver::eraserEnd());
    d.check(d.onMain([] { return DrawingSettings::shared().currentTool(); }) == DrawingTool::eraser,
            "the eraser end of the stylus is the eraser");
    // Erased (the eraser's opacity is 85 %) nearly down to the white backdrop
    // somewhere across the eraser's path.
    const auto erasedAt = [&](int x, int y) {
        int darkest = 0;
        for (int dx = -3; dx <= 3; ++dx) {
            const std::uint8_t* p = canvasPixel(flat, x + dx, y);
            darkest = std::max(darkest, int(std::min({p[0], p[1], p[2]})));
        }
        return darkest;
    };
    d.waitUntil([&] { return flat = probe::flattened(*document), erasedAt(300, 390) > 200; });
    d.check(erasedAt(300, 390) > 200,
            "the eraser end cleared the red stroke: " + std::to_string(erasedAt(300, 390)));
    d.check(erasedAt(300, 610) > 200, "and the cyan one");
    d.check(isRed(canvasPixel(flat, 500, 385)), "beside it the red stroke is whole");

    rememberEdit(d, document);
    d.step("eraser-tool");
    chooseTool(d, "Eraser");
    stroke(d, document, {{900, 250}, {900, 700}}, {1.0, 1.0}, Driver::pen());
    d.waitUntil([&] { return flat = probe::flattened(*document), erasedAt(900, 390) > 200; });
    d.check(erasedAt(900, 390) > 200, "the eraser tool cleared the red stroke");
    d.check(isRed(canvasPixel(flat, 700, 385)), "beside it the red stroke is whole");
    d.screenshot("erased");

    rememberEdit(d, document);
    d.step("brush-preset");
    chooseTool(d, "Brush");
    chooseBrush(d, "Soft Round");
    d.check(d.onMain([] { return DrawingSettings::shared().liveBrush().name; }) == "Soft Round",
            "the brush chosen is in use");
    stroke(d, document, {{150, 150}, {1050, 150}}, {1.0, 1.0}, Driver::pen());
    d.waitUntil([&] { return canvasPixel(flat = probe::flattened(*document), 600, 150)[1] < 128; });
    std::string profile;
    int soft = 0;
    for (int y = 100; y < 200; ++y) {
        // Red over white: green falls from 255 to 0 towards the middle.
        const int green = canvasPixel(flat, 600, y)[1];
        soft += green > 30 && green < 225 ? 1 : 0;
        profile += y % 5 == 0 ? std::to_string(green) + " " : "";
    }
    d.check(soft >= 12, "the soft brush's edge fades over many pixels: " + profile);
    rememberEdit(d, document);
    d.screenshot("soft-stroke");
}

} // namespace session

void sessionPhase(Driver& d) {
    using namespace session;
    const auto document = launchAndNew(d);
    if (document) {
        paint(d, document);
        editLayers(d, document);
        moveContents(d, document);
        navigate(d, document);
        undoAndRedo(d, document);
        if (const auto reopened = saveCloseReopen(d, document)) {
            exportFlat(d, reopened);
        }
    }
    const std::string state = d.onMain([] { return interfaceState(); });
    std::ofstream(d.work() / "interface-state.txt") << state;
    // Everything is saved: a quit that asked would leave the program running
    // and the phase would time out.
    quit(d);
}

} // namespace velmora::acceptance
