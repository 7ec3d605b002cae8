// The next launch: what the session left is back, and bad files are turned
// away one alert each, the program and its open documents untouched.
#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "acceptance/CanvasChecks.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"
#include "graphics/NSColor.hpp"

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <qpa/qplatformdrag.h>
#include <qpa/qwindowsysteminterface.h>
#include <random>
#include <sstream>

namespace velmora::acceptance {

namespace fs = std::filesystem;

// Tool, colour, brush and panel frames, one line each.
std::string interfaceState() {
    std::ostringstream out;
    const DrawingSettings& settings = DrawingSettings::shared();
    out << "tool " << int(settings.persistentTool()) << "\n";
    const auto& color = settings.color;
    out << "color " << std::lround(color->redComponent() * 255) << " "
        << std::lround(color->greenComponent() * 255) << " "
        << std::lround(color->blueComponent() * 255) << "\n";
    const Brush brush = settings.liveBrush();
    out << "brush " << brush.name << " " << brush.size << "\n";
    for (const char* title : {"Brush Presets", "Tool Settings", "Tools", "Layers"}) {
        QWidget* panel = probe::panel(title);
        const QRect frame = panel ? panel->frameGeometry() : QRect();
        out << "panel " << title << " " << frame.x() << " " << frame.y() << " " << frame.width()
            << " " << frame.height() << "\n";
    }
    return out.str();
}

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// File > Open…, the path typed into the panel.
void openFile(Driver& d, const fs::path& file) {
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        return;
    }
    d.onMain([&] {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name != nullptr) {
            name->setFocus();
            name->selectAll();
            QTest::keyClicks(name, QString::fromStdString(file.string()));
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    d.waitUntil([&] { return Driver::activeModal() != dialog; });
}

struct Alert {
    std::string message;
    std::string informative;
};

// The alert on top, answered with OK; then no second one may follow.
std::optional<Alert> takeAlert(Driver& d, const std::string& shot) {
    QMessageBox* box = nullptr;
    d.waitUntil(
        [&] { return (box = qobject_cast<QMessageBox*>(Driver::activeModal())) != nullptr; }, 10);
    if (box == nullptr) {
        return std::nullopt;
    }
    d.screenshot(shot);
    const Alert alert = d.onMain([&] {
        return Alert{box->text().toStdString(), box->informativeText().toStdString()};
    });
    clickInModal(d, "OK");
    d.waitUntil([&] { return Driver::activeModal() != box; });
    d.pause(1.0);
    d.check(d.onMain([] { return Driver::activeModal() == nullptr; }), "no second alert follows");
    return alert;
}

} // namespace

void relaunchPhase(Driver& d) {
    d.step("relaunch");
    d.check(d.onMain([] { return probe::documents().empty() && probe::panel("Welcome"); }),
            "the welcome window and no document");
    const std::string saved = readFile(d.work() / "interface-state.txt");
    const std::string now = d.onMain([] { return interfaceState(); });
    d.check(!saved.empty() && now == saved,
            "brush, tool, colour and panel frames are as the session left them:\n" + now +
                "--- left:\n" + saved);
    d.screenshot("relaunched");

    d.step("bad-input");
    const fs::path painting = d.work() / "Painting.velmora";
    openFile(d, painting);
    std::shared_ptr<Document> open;
    d.waitUntil([&] {
        const auto all = probe::documents();
        open = all.empty() ? nullptr : all.front();
        return open && open->layeredCanvas() && probe::viewer(*open) &&
               probe::viewer(*open)->isVisible();
    });
    if (!d.check(open != nullptr, "the painting opens")) {
        quit(d);
        return;
    }
    d.onMain([&] { Driver::focusWindow(probe::window(*open)); });
    d.pause(0.5);
    openedCanvasChecks(d, open);
    d.step("bad-input");
    const Picture before = d.onMain([&] { return probe::flattened(*open); });

    const std::string native = readFile(painting);
    writeFile(d.work() / "Truncated.velmora", native.substr(0, native.size() / 2));
    std::mt19937 random(25);
    std::string noise(4096, '\0');
    for (char& c : noise) {
        c = char(random());
    }
    writeFile(d.work() / "Noise.velmora", noise);
    // A patch whose stored image no longer starts as a TIFF.
    std::string damaged = native;
    const std::size_t tiff = damaged.find(std::string("II*\0", 4));
    d.check(tiff != std::string::npos, "the painting holds a TIFF patch");
    if (tiff != std::string::npos) {
        damaged.replace(tiff, 2, "XX");
    }
    writeFile(d.work() / "Damaged.velmora", damaged);
    int made = 0;
    Driver::run("convert",
                {"-size", "9000x10", "xc:red", "PNG24:" + (d.work() / "Wide.png").string()}, &made);
    d.check(made == 0, "ImageMagick made a 9000 × 10 PNG");
    Driver::run("convert",
                {"-size", "64x64", "gradient:red-blue", "-depth", "16", "-type", "TrueColor",
                 (d.work() / "Deep.tiff").string()},
                &made);
    d.check(made == 0, "ImageMagick made a 16-bit TIFF");

    struct Case {
        const char* file;
        std::string message;
        std::string informative; // the start of it; empty: any
    };
    // Never the parser's own words.
    const std::string unsupported = "This document format is not supported.";
    const std::string supported =
        "Supported formats are TIFF, JPEG, PNG, GIF, BMP and Velmora document.";
    const Case cases[] = {
        {"Truncated.velmora", unsupported, supported},
        {"Noise.velmora", unsupported, supported},
        {"Damaged.velmora", unsupported, supported},
        {"Wide.png", "Unsupported image size.",
         "Maximum image size on both dimensions is 8000 pixels but your image is "},
        {"Deep.tiff", "Unsupported pixel format.",
         "Only RGB 8 bits images are supported but the given image is "},
    };
    for (const Case& bad : cases) {
        openFile(d, d.work() / bad.file);
        const auto alert = takeAlert(d, std::string("alert-") + bad.file);
        if (!d.check(alert.has_value(), std::string(bad.file) + " shows an alert")) {
            continue;
        }
        d.check(!alert->message.empty() && (bad.message.empty() || alert->message == bad.message) &&
                    alert->informative.starts_with(bad.informative),
                std::string(bad.file) + " is explained: \"" + alert->message + "\" / \"" +
                    alert->informative + "\"");
        d.check(d.onMain([] { return probe::documents().size(); }) == 1,
                std::string("no document is left open for ") + bad.file);
    }
    d.check(d.onMain([&] { return probe::flattened(*open); }) == before,
            "the open painting is untouched");
    d.check(screenAgreement(d, open, d.screenshot("after-bad-input"), before) > 0.9,
            "and still shown");

    d.step("gif");
    const fs::path gifFile = d.work() / "Small.gif";
    Driver::run("convert", {"-size", "40x30", "xc:green", "GIF:" + gifFile.string()}, &made);
    d.check(made == 0, "ImageMagick made a GIF");
    openFile(d, gifFile);
    std::shared_ptr<Document> gif;
    d.waitUntil([&] {
        for (const auto& document : probe::documents()) {
            if (document != open && document->layeredCanvas()) {
                gif = document;
            }
        }
        return gif != nullptr;
    });
    if (d.check(gif != nullptr, "a GIF opens without a question, as a canvas")) {
        const MTLSize size = d.onMain([&] { return gif->layeredCanvas()->size(); });
        d.check(size.width == 40 && size.height == 30, "the GIF's canvas is 40 × 30");
        d.screenshot("gif-opened");
        d.onMain([&] { Driver::focusWindow(probe::window(*gif)); });
        chooseMenu(d, "File", "Close");
        if (waitForModal(d, 5) != nullptr) {
            clickInModal(d, "Don't Save");
        }
        d.waitUntil([&] { return probe::documents().size() == 1; });
        d.check(d.onMain([] { return probe::documents().size(); }) == 1, "the GIF closes");
        gif = nullptr;
    }
    d.onMain([&] { Driver::focusWindow(probe::window(*open)); });
    d.pause(0.5);

    d.step("drop");
    const fs::path dropped = d.work() / "Dropped.png";
    Driver::run("convert", {"-size", "64x48", "xc:blue", "PNG24:" + dropped.string()}, &made);
    const std::size_t layersBefore =
        d.onMain([&] { return open->layeredCanvas()->immediateLayers().size(); });
    const QPointF dropPoint = d.onMain([&] {
        return probe::canvasPoint(*open,
                                  QPointF(probe::viewer(*open)->rect().center() + QPoint(100, 50)));
    });
    const auto expectedX = std::int64_t(dropPoint.x()) - 32;
    const auto expectedY = std::int64_t(dropPoint.y()) - 24;
    // Dropped from a file manager: the drag reaches the window as X gives it to Qt.
    d.onMain([&] {
        Viewer* view = probe::viewer(*open);
        QWidget* top = view->window();
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(dropped.string()))});
        const QPoint at = view->mapTo(top, view->rect().center() + QPoint(100, 50));
        QWindowSystemInterface::handleDrag(top->windowHandle(), data, at, Qt::CopyAction,
                                           Qt::LeftButton, {});
        QWindowSystemInterface::handleDrop(top->windowHandle(), data, at, Qt::CopyAction,
                                           Qt::LeftButton, {});
        QWindowSystemInterface::handleDrag(top->windowHandle(), nullptr, QPoint(), Qt::IgnoreAction,
                                           {}, {});
        delete data;
    });
    d.waitUntil([&] { return open->layeredCanvas()->immediateLayers().size() > layersBefore; }, 20);
    // Above the active layer, and active itself.
    const auto region = d.onMain([&] {
        const auto& layers = open->layeredCanvas()->immediateLayers();
        const auto active = open->layeredCanvas()->activeLayer();
        return layers.size() > layersBefore && active && active->name() == "Dropped"
                   ? active->boundingRect()
                   : MTLRegion{};
    });
    d.check(region.size.width == 64 && region.size.height == 48 && region.origin.x == expectedX &&
                region.origin.y == expectedY,
            "a new active 64 × 48 layer, centred on the drop point: at (" +
                std::to_string(region.origin.x) + ", " + std::to_string(region.origin.y) + ")");
    d.screenshot("dropped");
    chooseMenu(d, "File", "Close");
    if (waitForModal(d, 5) != nullptr) {
        clickInModal(d, "Don't Save");
    }
    d.waitUntil([] { return probe::documents().empty(); });
    quit(d);
}

} // namespace velmora::acceptance
