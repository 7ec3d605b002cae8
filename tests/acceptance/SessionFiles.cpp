// Saving, closing and reopening the painting, and its flat exports read back
// by an independent reader (ImageMagick).
#include "Canvas/GroupLayer.hpp"
#include "Canvas/Layer.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "acceptance/Session.hpp"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <algorithm>
#include <filesystem>

namespace velmora::acceptance::session {

namespace {

namespace fs = std::filesystem;

// Each layer with its tree position, properties and own pixels.
struct LayerRecord {
    std::string path;
    std::string name;
    int mode;
    float opacity;
    bool visible;
    bool group;
    Picture pixels;
    friend bool operator==(const LayerRecord&, const LayerRecord&) = default;
};

void collect(const std::vector<std::shared_ptr<Layer>>& layers, const LayeredCanvas& canvas,
             const std::string& prefix, std::vector<LayerRecord>& out) {
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const Layer& layer = *layers[i];
        const auto* group = dynamic_cast<const GroupLayer*>(&layer);
        out.push_back({prefix + std::to_string(i), layer.name(), int(layer.blendMode()),
                       layer.opacity(), layer.visible(), group != nullptr,
                       group ? Picture{} : probe::layerPixels(layer, canvas)});
        if (group) {
            collect(group->immediateLayers(), canvas, prefix + std::to_string(i) + ".", out);
        }
    }
}

std::vector<LayerRecord> layersOf(Driver& d, const std::shared_ptr<Document>& document) {
    return d.onMain([&] {
        std::vector<LayerRecord> records;
        const auto canvas = document->layeredCanvas();
        collect(canvas->immediateLayers(), *canvas, "", records);
        return records;
    });
}

// The file's pixels as ImageMagick reads them: 8-bit RGBA, top row first.
Picture readByImageMagick(const fs::path& file, int width, int height) {
    const std::string bytes = Driver::run("convert", {file.string(), "-depth", "8", "rgba:-"});
    Picture picture;
    if (bytes.size() != std::size_t(width) * height * 4) {
        return picture;
    }
    picture.width = width;
    picture.height = height;
    picture.rgba.assign(bytes.begin(), bytes.end());
    return picture;
}

std::string identify(const fs::path& file, const std::string& format) {
    return Driver::run("identify", {"-format", format, file.string()});
}

double meanDifference(const Picture& a, const Picture& b) {
    if (a.rgba.size() != b.rgba.size() || a.rgba.empty()) {
        return 255;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.rgba.size(); i += 4) {
        for (int c = 0; c < 3; ++c) {
            sum += std::abs(int(a.rgba[i + c]) - int(b.rgba[i + c]));
        }
    }
    return sum / (a.rgba.size() / 4 * 3);
}

} // namespace

std::shared_ptr<Document> saveCloseReopen(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("save-reopen");
    const fs::path file = d.work() / "Painting.velmora";
    const auto layers = layersOf(d, document);
    const Picture flat = d.onMain([&] { return probe::flattened(*document); });
    if (!saveAs(d, "Velmora (experimental)", file)) {
        return nullptr;
    }
    d.check(d.onMain([&] { return !document->isDocumentEdited(); }), "the document is saved");
    chooseMenu(d, "File", "Close");
    d.waitUntil([] { return probe::documents().empty(); });
    d.check(d.onMain([] { return probe::documents().empty(); }), "the document is closed");

    // Reopened from the welcome window's list of recent documents.
    QTableWidget* recents = nullptr;
    d.waitUntil([&] {
        QWidget* welcome = probe::panel("Welcome");
        recents = welcome ? Driver::find<QTableWidget>({}, welcome) : nullptr;
        return recents != nullptr && recents->rowCount() > 0;
    });
    if (!d.check(recents != nullptr, "the welcome window lists recent documents")) {
        return nullptr;
    }
    d.screenshot("welcome-recent");
    // A double click on the first row, through the window system as a mouse gives it.
    const QPoint first =
        d.onMain([&] { return recents->visualRect(recents->model()->index(0, 0)).center(); });
    for (int click = 0; click < 2; ++click) {
        d.onMain([&] {
            Driver::mouse(recents->viewport(), first, Qt::LeftButton, Qt::LeftButton,
                          QEvent::MouseButtonPress);
            Driver::mouse(recents->viewport(), first, Qt::NoButton, Qt::LeftButton,
                          QEvent::MouseButtonRelease);
        });
    }
    std::shared_ptr<Document> reopened;
    d.waitUntil([&] {
        const auto all = probe::documents();
        reopened = all.empty() ? nullptr : all.front();
        return reopened && reopened->layeredCanvas() && probe::viewer(*reopened) &&
               probe::viewer(*reopened)->isVisible();
    });
    if (!d.check(reopened != nullptr, "the first recent document opens")) {
        return nullptr;
    }
    d.onMain([&] { Driver::focusWindow(probe::window(*reopened)); });
    d.pause(0.5);
    d.check(d.onMain([&] { return reopened->fileURL() && reopened->fileURL()->path() == file; }),
            "it is the file saved");
    const auto again = layersOf(d, reopened);
    d.check(again.size() == layers.size(), "as many layers and groups");
    for (std::size_t i = 0; i < std::min(again.size(), layers.size()); ++i) {
        d.check(again[i] == layers[i], "layer " + layers[i].path + " \"" + layers[i].name +
                                           "\" is equal in tree place, name, mode, opacity, "
                                           "visibility and pixels");
    }
    const Picture reopenedFlat = d.onMain([&] { return probe::flattened(*reopened); });
    d.check(reopenedFlat == flat, "the flattened canvas equals the one before saving");
    d.check(screenAgreement(d, reopened, d.screenshot("reopened"), reopenedFlat) > 0.9,
            "the screen shows the reopened canvas");
    return reopened;
}

void exportFlat(Driver& d, const std::shared_ptr<Document>& document) {
    d.step("export");
    const Picture flat = d.onMain([&] { return probe::flattened(*document); });
    for (const char* format : {"TIFF", "PNG", "JPEG"}) {
        const std::string extension = format == std::string("JPEG")   ? "jpg"
                                      : format == std::string("TIFF") ? "tiff"
                                                                      : "png";
        const fs::path file = d.work() / ("Painting." + extension);
        if (!saveAs(d, format, file)) {
            continue;
        }
        const std::string name = file.filename().string();
        d.check(identify(file, "%m %w %h") ==
                    (format == std::string("JPEG") ? "JPEG" : format) + std::string(" 1200 800"),
                name + " is a 1200 × 800 " + format + ": " + identify(file, "%m %w %h"));
        const std::string profile = identify(file, "%[icc:description]");
        d.check(profile.find("sRGB") != std::string::npos,
                name + " embeds an sRGB profile: " + profile);
        const Picture read = readByImageMagick(file, 1200, 800);
        if (format == std::string("JPEG")) {
            const double difference = meanDifference(read, flat);
            d.check(difference < 2.0, name + " is close to the canvas: mean difference " +
                                          std::to_string(difference));
        } else {
            d.check(!read.empty() && read == flat, name + " holds the canvas's exact pixels");
        }
    }
}

} // namespace velmora::acceptance::session

namespace velmora::acceptance {

bool saveAs(Driver& d, const QString& format, const std::filesystem::path& file) {
    chooseMenu(d, "File", "saveDocumentAs:");
    QWidget* modal = waitForModal(d);
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!d.check(dialog != nullptr, "the save panel opens")) {
        return false;
    }
    const bool chosen = d.onMain([&] {
        for (QComboBox* box : dialog->findChildren<QComboBox*>()) {
            const int target = box->findText(format);
            if (target < 0 || box->findText("PNG") < 0) {
                continue;
            }
            box->setFocus();
            while (box->currentIndex() < target) {
                QTest::keyClick(box, Qt::Key_Down);
            }
            while (box->currentIndex() > target) {
                QTest::keyClick(box, Qt::Key_Up);
            }
            return true;
        }
        return false;
    });
    d.check(chosen, "the panel's format pop-up offers " + format.toStdString());
    d.screenshot("save-panel-" + format.toStdString());
    d.onMain([&] {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name != nullptr) {
            name->setFocus();
            name->selectAll();
            QTest::keyClicks(name, QString::fromStdString(file.string()));
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    // The file is written on the save's thread; its end is handled on the main one.
    const bool saved = d.waitUntil([&] {
        const auto open = probe::documents();
        return !Driver::activeModal() && std::filesystem::exists(file) &&
               std::none_of(open.begin(), open.end(), [](const auto& d) { return d->isSaving(); });
    });
    return d.check(saved, "saved as " + file.filename().string());
}

} // namespace velmora::acceptance
