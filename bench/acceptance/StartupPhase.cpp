// Process start to the welcome window on the X server.
#include "BenchPhases.hpp"
#include "acceptance/AppProbe.hpp"
#include "acceptance/Steps.hpp"

#include <QWidget>
#include <iostream>
#include <set>

namespace velmora::acceptance {

namespace {

double ms(XObserver::Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

void startupPhase(Driver& d, XObserver& x, XObserver::Clock::time_point spawned) {
    d.step("startup");
    QWidget* welcome = nullptr;
    d.check(d.waitUntil([&] { return (welcome = probe::panel("Welcome")) != nullptr; }, 60),
            "the welcome window is shown");
    if (welcome == nullptr) {
        quit(d);
        return;
    }
    const auto [window, area] = d.onMain([&] {
        return std::pair{static_cast<unsigned long>(welcome->winId()),
                         QRect(welcome->mapToGlobal(QPoint(0, 0)), welcome->size())};
    });
    // Time for every first paint to reach the server.
    d.pause(1.5);
    XObserver::Clock::time_point mappedAt{};
    for (const auto& map : x.mapped()) {
        if (map.window == window) {
            mappedAt = map.at;
            break;
        }
    }
    d.check(mappedAt != XObserver::Clock::time_point{}, "the server mapped the welcome window");
    // Painted: every pixel of the window drawn at least once since it was mapped
    // (its windows have no background the server would fill in).
    std::vector<std::uint8_t> drawn(std::size_t(area.width()) * std::size_t(area.height()), false);
    std::size_t count = 0;
    XObserver::Clock::time_point paintedAt{};
    for (const auto& damage : x.damages()) {
        if (damage.at < mappedAt || !damage.area.intersects(area)) {
            continue;
        }
        const QRect part = damage.area.intersected(area).translated(-area.topLeft());
        for (int y = part.top(); y <= part.bottom(); ++y) {
            for (int px = part.left(); px <= part.right(); ++px) {
                auto& cell = drawn[std::size_t(y) * std::size_t(area.width()) + std::size_t(px)];
                count += cell ? 0 : 1;
                cell = 1;
            }
        }
        if (count == drawn.size()) {
            paintedAt = damage.at;
            break;
        }
    }
    d.check(paintedAt != XObserver::Clock::time_point{}, "the whole welcome window was drawn");
    // Drawn with something: text and rows, not one flat colour.
    const QImage shown = x.grab(area);
    std::set<QRgb> colours;
    for (int y = 0; y < shown.height(); y += 3) {
        for (int px = 0; px < shown.width(); px += 3) {
            colours.insert(shown.pixel(px, y));
        }
    }
    d.check(colours.size() > 8, "the welcome window on the screen has content: " +
                                    std::to_string(colours.size()) + " colours");
    if (paintedAt != XObserver::Clock::time_point{}) {
        std::cout << "RESULT startup_mapped_ms " << ms(mappedAt - spawned) << "\n"
                  << "RESULT startup_painted_ms " << ms(paintedAt - spawned) << std::endl;
    }
    d.screenshot("welcome");
    quit(d);
}

} // namespace velmora::acceptance
