// One program per session, never one without a window: a second launch hands
// its file to this one, closing the last document window brings the welcome
// window back, and closing that with nothing open quits. Closes come from the
// window system, as a title bar's close button sends them.
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/NativeDocument.hpp"
#include "acceptance/AppProbe.hpp"
#include "acceptance/Phases.hpp"
#include "acceptance/Steps.hpp"
#include "graphics/ColorManagement.hpp"

#include <QWindow>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <qpa/qwindowsysteminterface.h>
#include <sstream>

namespace velmora::acceptance {

namespace {

namespace fs = std::filesystem;

// What the X server's WM_DELETE_WINDOW becomes in Qt.
void closeFromTitleBar(Driver& d, QWidget* window) {
    d.onMain([&] {
        if (window != nullptr && window->windowHandle() != nullptr) {
            QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
                window->windowHandle());
        }
    });
}

bool welcomeShown() {
    QWidget* welcome = probe::panel("Welcome");
    return welcome != nullptr && welcome->isVisible();
}

void writeDocument(const fs::path& path) {
    auto bitmap = NSBitmapImageRep::makeRGBA8(32, 24, ColorManagement::workingNSColorSpace());
    for (int64_t y = 0; y < 24; ++y) {
        for (int64_t x = 0; x < 32; ++x) {
            std::uint8_t* p = bitmap->row(y) + x * 4;
            p[0] = std::uint8_t(x * 8), p[1] = std::uint8_t(y * 10), p[2] = 90, p[3] = 255;
        }
    }
    const auto bytes = NativeDocument::data(*LayeredCanvas::make(*bitmap, "Handed"), bitmap);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

void lifecyclePhase(Driver& d) {
    d.step("second-launch");
    d.check(d.onMain([] { return probe::documents().empty() && welcomeShown(); }),
            "the welcome window and no document");
    const fs::path handed = d.work() / "Handed.velmora";
    writeDocument(handed);
    // The runner now launches the program again with this file.
    std::ofstream(d.work() / "lifecycle-ready") << "ready\n";
    std::shared_ptr<Document> document;
    d.waitUntil(
        [&] {
            for (const auto& open : probe::documents()) {
                QWidget* window = probe::window(*open);
                if (open->fileURL() && open->fileURL()->filePath() == handed && window &&
                    window->isVisible()) {
                    document = open;
                }
            }
            return document != nullptr;
        },
        60);
    if (!d.check(document != nullptr, "the file of the second launch opens here")) {
        quit(d);
        return;
    }
    d.check(d.onMain([] { return probe::documents().size() == 1; }), "and only it");
    d.screenshot("handed-over");

    d.step("log");
    chooseMenu(d, "Help", "Insert Debug Log Marker");
    const fs::path log = fs::path(std::getenv("XDG_STATE_HOME")) / "velmora" / "velmora.log";
    d.waitUntil([&] {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str().find("<Error> Debug Marker triggered by user") != std::string::npos;
    });
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    d.check(text.str().find("[com.tovik.Velmora:User Actions] <Error> Debug Marker triggered by "
                            "user") != std::string::npos,
            "the log file under the state folder has the marker");

    d.step("close-welcome");
    closeFromTitleBar(d, d.onMain([] { return probe::panel("Welcome"); }));
    d.pause(1.0);
    d.check(d.onMain([] { return !welcomeShown() && probe::documents().size() == 1; }),
            "with a document open the welcome window goes and the program stays");

    d.step("close-document");
    document.reset();
    closeFromTitleBar(d, d.onMain([] {
        const auto open = probe::documents();
        return open.empty() ? nullptr : probe::window(*open.front());
    }));
    d.check(d.waitUntil([] { return welcomeShown(); }, 10),
            "closing the last document window brings the welcome window back");
    d.check(d.onMain([] { return probe::documents().empty(); }), "the document closed");
    d.screenshot("welcome-again");

    d.step("close-welcome-quits");
    // The program ends by itself; the runner checks that it does, with 0.
    closeFromTitleBar(d, d.onMain([] { return probe::panel("Welcome"); }));
}

} // namespace velmora::acceptance
