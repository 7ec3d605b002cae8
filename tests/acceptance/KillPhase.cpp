// Killed while saving a large document, the program leaves the file saved
// before whole: the next launch opens it as it was.
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
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
    std::shared_ptr<Document> document;
    d.waitUntil(
        [&] {
            const auto all = probe::documents();
            document = all.empty() ? nullptr : all.front();
            return document && document->layeredCanvas() && probe::viewer(*document) &&
                   probe::viewer(*document)->isVisible();
        },
        120);
    if (document) {
        d.onMain([&] { Driver::focusWindow(probe::window(*document)); });
        d.pause(0.5);
    }
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
    d.check(d.onMain([&] { return document->isDocumentEdited(); }), "painted over");
    d.screenshot("before-kill");
    // The runner kills the program once the save has begun writing.
    std::ofstream(d.work() / "saving") << "now";
    chooseMenu(d, "File", "Save");
    d.pause(120);
}

void afterKillPhase(Driver& d) {
    d.step("after-kill");
    const fs::path file = d.work() / "Large.velmora";
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        quit(d);
        return;
    }
    typePath(d, dialog, file);
    const auto document = waitForDocument(d);
    if (d.check(document != nullptr, "the file saved before the kill opens")) {
        std::uint64_t expected = 0;
        std::ifstream(d.work() / "large-digest.txt") >> expected;
        d.check(digest(d.onMain([&] { return probe::flattened(*document); })) == expected,
                "and holds the canvas saved then");
        d.screenshot("reopened-after-kill");
    } else {
        d.screenshot("not-reopened");
    }
    quit(d);
}

} // namespace velmora::acceptance
