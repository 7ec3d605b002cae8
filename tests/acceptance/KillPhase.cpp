// Killed while saving or autosaving a large document, the program leaves the
// file saved before whole: the next launch opens it as it was.
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <fstream>

namespace velmora::acceptance {

namespace {

namespace fs = std::filesystem;

std::uint64_t digest(const Picture& picture) {
    std::uint64_t hash = 1469598103934665603ull;
    for (std::uint8_t byte : picture.rgba) {
        hash = (hash ^ byte) * 1099511628211ull;
    }
    return hash;
}

void typePath(Driver& d, QWidget* dialog, const fs::path& file) {
    d.onMain([&] {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name != nullptr) {
            name->setFocus();
            name->selectAll();
            QTest::keyClicks(name, QString::fromStdString(file.string()));
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
}

std::shared_ptr<Document> waitForDocument(Driver& d) {
    const auto document = waitForShownDocument(d, 120);
    if (document) {
        d.onMain([&] { Driver::focusWindow(probe::window(*document)); });
        d.pause(0.5);
    }
    return document;
}

// Opens the document saved before a kill and checks it holds the canvas saved
// then; the document, or none.
std::shared_ptr<Document> reopenSaved(Driver& d, const std::string& shot) {
    const fs::path file = d.work() / "Large.velmora";
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        return nullptr;
    }
    typePath(d, dialog, file);
    const auto document = waitForDocument(d);
    if (!d.check(document != nullptr, "the file saved before the kill opens")) {
        d.screenshot("not-reopened");
        return nullptr;
    }
    std::uint64_t expected = 0;
    std::ifstream(d.work() / "large-digest.txt") >> expected;
    d.check(digest(d.onMain([&] { return probe::flattened(*document); })) == expected,
            "and holds the canvas saved then");
    d.screenshot(shot);
    return document;
}

} // namespace

void killPhase(Driver& d) {
    d.step("open-png-convert");
    const fs::path noise = d.work() / "Noise.png";
    int made = -1;
    Driver::run("convert",
                {"-size", "3000x3000", "xc:gray", "+noise", "Random", "PNG24:" + noise.string()},
                &made);
    d.check(made == 0, "ImageMagick made a 3000 × 3000 PNG of noise");
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        quit(d);
        return;
    }
    typePath(d, dialog, noise);
    // The "ask" policy: the conversion question, answered with Convert.
    d.waitUntil([&] { return Driver::activeModal() && Driver::activeModal() != dialog; }, 60);
    d.screenshot("convert-question");
    d.check(clickInModal(d, "Convert"), "the conversion question offers Convert");
    const auto document = waitForDocument(d);
    if (!d.check(document != nullptr, "the image opens as a canvas")) {
        quit(d);
        return;
    }
    d.check(d.onMain([&] {
        return document->fileType() == "com.tovik.velmora-image" && !document->fileURL() &&
               document->layeredCanvas()->size().width == 3000;
    }),
            "converted: an unsaved Velmora document of the image's size");

    d.step("save-then-kill");
    const fs::path file = d.work() / "Large.velmora";
    // The native format chosen in the panel: it offers TIFF first.
    d.check(saveAs(d, "Velmora (experimental)", file) &&
                d.waitUntil([&] { return !document->isDocumentEdited(); }, 120),
            "saved once");
    const Picture saved = d.onMain([&] { return probe::flattened(*document); });
    std::ofstream(d.work() / "large-digest.txt") << digest(saved);
    stroke(d, document, {{200, 200}, {2800, 2800}}, {1.0, 1.0}, Driver::pen());
    d.check(d.waitUntil([&] { return document->isDocumentEdited(); }), "painted over");
    d.screenshot("before-kill");
    // The runner kills the program once the save has begun writing; not when
    // something failed before, for the runner to report the save never caught.
    if (d.failures() == 0) {
        std::ofstream(d.work() / "saving") << "now";
    }
    chooseMenu(d, "File", "Save");
    d.pause(120);
}

void afterKillPhase(Driver& d) {
    d.step("after-kill");
    reopenSaved(d, "reopened-after-kill");
    quit(d);
}

void autosaveKillPhase(Driver& d) {
    d.step("autosave-then-kill");
    const auto document = reopenSaved(d, "reopened-to-paint");
    if (!document) {
        quit(d);
        return;
    }
    // A document read from its file has no layer chosen: the artist picks one.
    const bool picked = d.onMain([&] {
        QWidget* layers = probe::panel("Layers");
        auto* outline = layers ? Driver::find<QTreeView>({}, layers) : nullptr;
        if (outline == nullptr || outline->model()->rowCount() == 0) {
            return false;
        }
        // Left of the row's name and controls.
        const QRect row = outline->visualRect(outline->model()->index(0, 0));
        Driver::click(outline->viewport(), QPoint(row.left() + 6, row.center().y()));
        return true;
    });
    d.pause(0.3);
    d.check(picked && d.onMain([&] { return document->layeredCanvas()->activeLayer() != nullptr; }),
            "the layer is chosen in the Layers panel");
    stroke(d, document, {{2800, 200}, {200, 2800}}, {1.0, 1.0}, Driver::pen());
    d.check(
        d.waitUntil([&] { return document->isDocumentEdited() && document->autosavesInPlace(); }),
        "painted over, and a Velmora document autosaves in place");
    d.screenshot("before-autosave-kill");
    // The program's own autosave, 15 s after the last change; the runner kills
    // the program once it has begun writing the temporary file. Nothing
    // failed before, else the runner reports the autosave never caught.
    if (d.failures() == 0) {
        std::ofstream(d.work() / "autosaving") << "now";
    }
    d.pause(120);
}

void afterAutosaveKillPhase(Driver& d) {
    d.step("after-autosave-kill");
    reopenSaved(d, "reopened-after-autosave-kill");
    quit(d);
}

} // namespace velmora::acceptance
