// Opening the benchmark's document, painting on it and saving it, in the
// program's own windows: the open until the X server shows the canvas, each
// tablet sample from its delivery until the X server shows its dots, and the
// save.
#include "BenchPhases.hpp"
#include "Canvas/LayeredCanvas.hpp"
#include "Document/Document.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "Timing.hpp"
#include "acceptance/AppProbe.hpp"
#include "acceptance/Steps.hpp"
#include "desktop/NSApplication.hpp"
#include "desktop/NSMenu.hpp"
#include "desktop/NSMenuItem.hpp"
#include "foundation/LogCapture.hpp"

#include <QFileDialog>
#include <QLineEdit>
#include <QPointingDevice>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <qpa/qwindowsysteminterface.h>
#include <thread>

namespace velmora::acceptance {

namespace {

using Clock = XObserver::Clock;
using bench::ms;
using bench::percentile;
namespace fs = std::filesystem;

constexpr double sampleRate = 240;
// Screen pixels between samples (1200 a second) and the brush's radius on the
// screen: a sample's dots reach 6 pixels beyond it, the previous sample's only
// one, so the pixel 3 beyond it turns the brush's colour with its own dots.
constexpr int step = 5;
constexpr int radius = 6;
constexpr int probeAhead = 3;
constexpr int strokes = 6; // the first one learns the colour the screen shows

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// File > Open… with the path typed, until the screen shows the canvas as it
// stands once everything has settled: rows across the screen are grabbed after
// each burst of damage, and the first grab whose pixels over the canvas view
// all equal the settled ones is when the canvas was shown.
std::shared_ptr<Document> open(Driver& d, XObserver& x, const fs::path& file) {
    d.step("open");
    chooseMenu(d, "File", "Open…");
    auto* dialog = qobject_cast<QFileDialog*>(waitForModal(d));
    if (!d.check(dialog != nullptr, "the open panel opens")) {
        return nullptr;
    }
    const QRect screen = d.onMain([] { return QGuiApplication::primaryScreen()->geometry(); });
    std::vector<QRect> rows;
    for (int k = 1; k < 10; ++k) {
        rows.emplace_back(0, screen.height() * k / 10, screen.width(), 1);
    }
    struct Grab {
        Clock::time_point at;
        std::vector<QImage> rows;
    };
    std::mutex mutex;
    std::vector<Grab> grabs;
    x.watch(rows, [&](const std::vector<QImage>& images, Clock::time_point at) {
        std::lock_guard lock(mutex);
        grabs.push_back({at, images});
    });
    Clock::time_point asked{};
    d.onMain([&] {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, QString::fromStdString(file.string()));
        asked = Clock::now();
        QTest::keyClick(name, Qt::Key_Return);
    });
    const auto document = waitForShownDocument(d, 600);
    if (!d.check(document != nullptr, "the document opens")) {
        x.watch({}, {});
        return nullptr;
    }
    const auto opened = Clock::now();
    d.onMain([&] { Driver::focusWindow(probe::window(*document)); });
    d.pause(3);
    x.watch({}, {});
    const QRect view = d.onMain([&] {
        Viewer* viewer = probe::viewer(*document);
        return QRect(viewer->mapToGlobal(QPoint(0, 0)), viewer->size()).adjusted(8, 8, -8, -8);
    });
    std::vector<QImage> settled;
    for (const QRect& row : rows) {
        settled.push_back(x.grab(row));
    }
    Clock::time_point shownAt{};
    {
        std::lock_guard lock(mutex);
        for (const Grab& grab : grabs) {
            int points = 0, equal = 0;
            for (std::size_t k = 0; k < rows.size(); ++k) {
                if (!view.contains(view.left(), rows[k].top())) {
                    continue;
                }
                for (int px = view.left(); px <= view.right(); px += 4) {
                    ++points;
                    equal += near(grab.rows[k].pixel(px, 0), settled[k].pixel(px, 0), 8) ? 1 : 0;
                }
            }
            if (grab.at > asked && points > 0 && equal >= points * 99 / 100) {
                shownAt = grab.at;
                break;
            }
        }
    }
    if (d.check(shownAt != Clock::time_point{}, "the screen showed the canvas")) {
        std::cout << "RESULT open_shown_ms " << ms(shownAt - asked) << "\n"
                  << "RESULT open_document_ms " << ms(opened - asked) << std::endl;
    }
    d.screenshot("opened");
    return document;
}

struct Sample {
    QPointF local;  // in the window
    QPointF global; // on the screen
    int probe = 0;  // the screen column that turns with this sample, on the stroke's row
    Clock::time_point deliveredAt{};
    Clock::time_point shownAt{};
    bool counted = true; // false when the pixel had the brush's colour before
};

// A free run of the row across the canvas (screen columns `within`), clear of
// the other windows.
std::pair<int, int> freeRun(Driver& d, const std::shared_ptr<Document>& document, int row,
                            std::pair<int, int> within) {
    return d.onMain([&] {
        Viewer* viewer = probe::viewer(*document);
        QWidget* own = viewer->window();
        const QRect view(viewer->mapToGlobal(QPoint(0, 0)), viewer->size());
        std::vector<bool> free(std::size_t(view.width()), true);
        for (int px = view.left(); px <= view.right(); ++px) {
            free[std::size_t(px - view.left())] =
                px >= within.first + 20 && px <= within.second - 20;
        }
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top == own || !top->isVisible()) {
                continue;
            }
            const QRect other = top->frameGeometry().adjusted(-20, -20, 20, 20);
            if (other.top() <= row && other.bottom() >= row) {
                for (int px = std::max(other.left(), view.left());
                     px <= std::min(other.right(), view.right()); ++px) {
                    free[std::size_t(px - view.left())] = false;
                }
            }
        }
        std::pair<int, int> best{0, -1};
        for (int begin = 0; begin < view.width();) {
            int end = begin;
            while (end < view.width() && free[std::size_t(end)]) {
                ++end;
            }
            if (end - begin > best.second - best.first) {
                best = {begin, end};
            }
            begin = end + 1;
        }
        return std::pair{best.first + view.left(), best.second + view.left()};
    });
}

// One stroke along a screen row, its samples posted to Qt's window-system
// input from this thread, as the X event reader posts them; a sample counts
// as delivered when it is posted.
std::vector<Sample> stroke(Driver& d, XObserver& x, const std::shared_ptr<Document>& document,
                           int row, std::pair<int, int> run, std::optional<QRgb> brush) {
    QWindow* window = d.onMain([&] { return probe::viewer(*document)->window()->windowHandle(); });
    const QPoint origin =
        d.onMain([&] { return probe::viewer(*document)->window()->mapToGlobal(QPoint(0, 0)); });
    std::vector<Sample> samples;
    for (int px = run.first; px + probeAhead + radius < run.second; px += step) {
        Sample s;
        s.global = QPointF(px, row);
        s.local = s.global - QPointF(origin);
        s.probe = px + probeAhead;
        samples.push_back(s);
    }
    const QRect strip(run.first, row, run.second - run.first, 1);
    const QImage before = x.grab(strip);
    std::atomic<int> delivered{0};
    std::mutex mutex;
    if (brush) {
        for (Sample& s : samples) {
            s.counted = !near(before.pixel(s.probe - strip.left(), 0), *brush, 40);
        }
        // The curve's segment to a sample is drawn once the next sample comes;
        // the one to the stroke's last sample never is.
        samples.back().counted = false;
        x.watch({strip}, [&](const std::vector<QImage>& images, Clock::time_point at) {
            std::lock_guard lock(mutex);
            const int count = delivered.load();
            for (int i = 0; i < count; ++i) {
                Sample& s = samples[std::size_t(i)];
                if (s.shownAt == Clock::time_point{} &&
                    near(images[0].pixel(s.probe - strip.left(), 0), *brush, 24)) {
                    s.shownAt = at;
                }
            }
        });
    }
    const QPointingDevice* pen = Driver::pen();
    d.onMain([&] { Driver::focusWindow(probe::viewer(*document)); });
    QWindowSystemInterface::handleTabletEnterLeaveProximityEvent(window, pen, true);
    const auto start = Clock::now() + std::chrono::milliseconds(20);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::this_thread::sleep_until(
            start + std::chrono::nanoseconds(int64_t(double(i) * 1e9 / sampleRate)));
        {
            std::lock_guard lock(mutex);
            samples[i].deliveredAt = Clock::now();
        }
        delivered = int(i + 1);
        QWindowSystemInterface::handleTabletEvent(window, pen, samples[i].local, samples[i].global,
                                                  Qt::LeftButton, 1.0, 0, 0, 0, 0, 0, {});
    }
    // The pen lifts one report after its last sample, as a tablet reports it.
    std::this_thread::sleep_until(
        start + std::chrono::nanoseconds(int64_t(double(samples.size()) * 1e9 / sampleRate)));
    QWindowSystemInterface::handleTabletEvent(window, pen, samples.back().local,
                                              samples.back().global, Qt::NoButton, 0, 0, 0, 0, 0, 0,
                                              {});
    QWindowSystemInterface::handleTabletEnterLeaveProximityEvent(window, pen, false);
    d.waitUntil([&] { return document->undoManager() != nullptr; }, 120);
    if (brush) {
        d.waitUntil(
            [&] {
                std::lock_guard lock(mutex);
                return std::all_of(samples.begin(), samples.end(), [](const Sample& s) {
                    return !s.counted || s.shownAt != Clock::time_point{};
                });
            },
            3);
        x.watch({}, {});
    }
    d.pause(0.5);
    return samples;
}

// What the screen shows of the brush's colour: the middle of the stroke's pixels.
QRgb shownColour(XObserver& x, int row, std::pair<int, int> run,
                 const std::vector<Sample>& samples) {
    const QImage after = x.grab(QRect(run.first, row, run.second - run.first, 1));
    std::vector<int> channels[3];
    for (const Sample& s : samples) {
        const QRgb p = after.pixel(s.probe - run.first, 0);
        channels[0].push_back(qRed(p));
        channels[1].push_back(qGreen(p));
        channels[2].push_back(qBlue(p));
    }
    int middle[3];
    for (int c = 0; c < 3; ++c) {
        auto& v = channels[c];
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
        middle[c] = v[v.size() / 2];
    }
    std::cout << "brush colour on the screen: " << middle[0] << " " << middle[1] << " " << middle[2]
              << std::endl;
    return qRgb(middle[0], middle[1], middle[2]);
}

// Where the strokes go, and the brush's colour on the screen once learnt.
struct Canvas {
    int first = 0, last = 0;       // screen rows
    std::pair<int, int> columns{}; // screen columns
    std::optional<QRgb> brush;
};

Canvas paint(Driver& d, XObserver& x, const std::shared_ptr<Document>& document) {
    d.step("paint");
    chooseTool(d, "Brush");
    const QTransform toWidget = canvasToWidget(d, document);
    const double scale = std::hypot(toWidget.m11(), toWidget.m12());
    d.onMain([&] {
        auto& settings = DrawingSettings::shared();
        Brush brush = settings.liveBrush();
        brush.size = float(2 * radius / scale);
        brush.hardness = 1;
        brush.opacity = 1;
        brush.spacing = 0.05f;
        brush.sizeDependsOnPressure = false;
        brush.opacityDependsOnPressure = false;
        brush.stabilization = 0;
        settings.setLiveBrush(brush);
        settings.color = NSColor::colorWithSRGBRed(0.1, 0.9, 0.2, 1);
        // The top layer, so the dots show in the brush's own colour.
        const auto canvas = document->layeredCanvas();
        canvas->setActiveLayer(canvas->immediateLayers().back());
        (void)Driver::pen();
    });
    const QRect view = d.onMain([&] {
        Viewer* viewer = probe::viewer(*document);
        return QRect(viewer->mapToGlobal(QPoint(0, 0)), viewer->size());
    });
    // The canvas's rows on the screen, in the view's lower part where no panel is.
    const QPointF top = toWidget.map(QPointF(0, 8000));
    const QPointF bottom = toWidget.map(QPointF(0, 0));
    const int first = view.top() + int(std::max(top.y(), 0.0)) + view.height() / 2;
    const int last = view.top() + int(std::min(bottom.y(), double(view.height()))) - 20;
    const std::pair<int, int> columns{view.left() + int(std::min(top.x(), bottom.x())),
                                      view.left() + int(toWidget.map(QPointF(8000, 0)).x())};
    std::optional<QRgb> brush;
    // Every sample's, and apart those of the samples before and within a
    // stroke's last 25 ms (which may wait for the stroke's close to be shown).
    std::vector<double> latencies, before, ending;
    int counted = 0, missed = 0;
    for (int k = 0; k < strokes; ++k) {
        const int row = first + (last - first) * k / strokes;
        const auto run = freeRun(d, document, row, columns);
        if (!d.check(run.second - run.first > 300,
                     "a free run across the canvas at row " + std::to_string(row))) {
            continue;
        }
        const auto samples = stroke(d, x, document, row, run, brush);
        if (!brush) {
            brush = shownColour(x, row, run, samples);
            continue;
        }
        for (const Sample& s : samples) {
            if (!s.counted) {
                continue;
            }
            ++counted;
            if (s.shownAt == Clock::time_point{}) {
                ++missed;
                std::cerr << "never shown: sample " << (&s - samples.data()) << " of "
                          << samples.size() << " at " << s.probe << ", " << row << std::endl;
            } else {
                latencies.push_back(ms(s.shownAt - s.deliveredAt));
                const bool last =
                    s.deliveredAt + std::chrono::milliseconds(25) > samples.back().deliveredAt;
                (last ? ending : before).push_back(latencies.back());
            }
        }
    }
    d.check(counted > 0 && missed * 100 <= counted, "the screen showed the dots of " +
                                                        std::to_string(counted - missed) + " of " +
                                                        std::to_string(counted) + " samples");
    std::cout << "RESULT paint_samples " << counted << "\n"
              << "RESULT paint_missed " << missed << "\n"
              << "RESULT paint_med_ms " << percentile(latencies, 0.5) << "\n"
              << "RESULT paint_p99_ms " << percentile(latencies, 0.99) << "\n"
              << "RESULT paint_drawing_p99_ms " << percentile(before, 0.99) << "\n"
              << "RESULT paint_ending_med_ms " << percentile(ending, 0.5) << "\n"
              << "RESULT paint_brush_px " << 2 * radius / scale << std::endl;
    d.screenshot("painted");
    return {first, last, columns, brush};
}

// File > Save after the strokes (the document's save as the menu asks for it,
// with a completion to time its end), then at once a stroke while the file is
// written on the save's thread: the main thread's part of the save, the whole
// save until its end is handled, and the samples delivered before that end,
// from delivery to the screen.
void save(Driver& d, XObserver& x, const std::shared_ptr<Document>& document, const fs::path& file,
          const Canvas& canvas) {
    d.step("save");
    std::mutex mutex;
    Clock::time_point ended{};
    bool written = false;
    const auto [began, unblocked] = d.onMain([&] {
        const auto t0 = Clock::now();
        document->saveDocument([&](bool saved) {
            std::lock_guard lock(mutex);
            ended = Clock::now();
            written = saved;
        });
        return std::pair{t0, Clock::now()};
    });
    const auto end = [&] {
        std::lock_guard lock(mutex);
        return ended;
    };
    std::vector<double> latencies;
    const int row = canvas.first + (canvas.last - canvas.first) * (2 * strokes - 1) / (2 * strokes);
    const auto run = freeRun(d, document, row, canvas.columns);
    if (canvas.brush && run.second - run.first > 300) {
        const auto samples = stroke(d, x, document, row, run, canvas.brush);
        d.waitUntil([&] { return end() != Clock::time_point{}; }, 300);
        for (const Sample& s : samples) {
            if (s.counted && s.shownAt != Clock::time_point{} && s.deliveredAt < end()) {
                latencies.push_back(ms(s.shownAt - s.deliveredAt));
            }
        }
    }
    d.waitUntil([&] { return end() != Clock::time_point{}; }, 300);
    if (d.check(written && d.onMain([&] { return document->isDocumentEdited(); }),
                "saved, and the stroke drawn meanwhile left the document edited")) {
        std::cout << "RESULT save_main_ms " << ms(unblocked - began) << "\n"
                  << "RESULT save_ms " << ms(end() - began) << "\n"
                  << "RESULT save_paint_samples " << latencies.size() << "\n"
                  << "RESULT save_paint_med_ms " << percentile(latencies, 0.5) << "\n"
                  << "RESULT save_paint_p99_ms " << percentile(latencies, 0.99) << "\n"
                  << "RESULT file_mb " << double(fs::file_size(file)) / 1e6 << std::endl;
    }
}

} // namespace

void documentPhase(Driver& d, XObserver& x, const std::string& path) {
    d.waitUntil([] { return probe::panel("Welcome") != nullptr; }, 60);
    // An autosave in the middle would be measured as painting.
    d.onMain([] { NSDocument::setAutosaveDelay(NSDocument::Interval(3600)); });
    d.pause(1);
    const fs::path file(path);
    // The document's own account of where an open's and a save's time went.
    const LogCapture steps(false);
    const auto document = open(d, x, file);
    if (document) {
        const Canvas canvas = paint(d, x, document);
        save(d, x, document, file, canvas);
    }
    for (const std::string& line : steps.messages("File Resources")) {
        if (line.starts_with("Read ") || line.starts_with("Wrote ")) {
            std::cout << "steps: " << line << std::endl;
        }
    }
    quit(d);
}

} // namespace velmora::acceptance
