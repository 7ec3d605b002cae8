#pragma once

#include <QImage>
#include <QRect>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct _XDisplay;

namespace velmora::acceptance {

// Learns from the X server when the screen's pixels change: a damage object on
// the root window reports every drawing into any window, and each report is
// timestamped on arrival with the steady clock (CLOCK_MONOTONIC), the clock
// the input's delivery is timed with. A watch grabs screen rectangles after
// each burst of damage meeting them, on the same connection, so the grab shows
// the server's pixels after the damage reported.
class XObserver {
public:
    using Clock = std::chrono::steady_clock;
    struct Damage {
        Clock::time_point at;
        QRect area;
    };
    struct Mapped {
        Clock::time_point at;
        unsigned long window = 0;
    };
    // The grabs' pixels and the time their reply arrived.
    using Seen = std::function<void(const std::vector<QImage>&, Clock::time_point)>;

    XObserver() = default;
    ~XObserver();
    XObserver(const XObserver&) = delete;
    XObserver& operator=(const XObserver&) = delete;

    // False when there is no display or it has no damage extension.
    bool start();

    std::vector<Damage> damages() const;
    std::vector<Mapped> mapped() const;

    // Replaces the watch; an empty list of rectangles ends it. Returns once the
    // observer has taken it.
    void watch(std::vector<QRect> grabs, Seen seen);
    // The screen's pixels now, on a connection of the caller's (any thread).
    QImage grab(const QRect& area);

private:
    void run();
    static QImage grabOn(_XDisplay* display, const QRect& area);

    _XDisplay* display_ = nullptr;
    _XDisplay* grabber_ = nullptr;
    int damageEvent_ = 0;
    unsigned long damage_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<Damage> damages_;
    std::vector<Mapped> mapped_;
    std::vector<QRect> grabs_;
    Seen seen_;
    std::atomic<int> watchGeneration_{0};
    std::atomic<int> watchTaken_{0};
    std::mutex grabMutex_;
};

} // namespace velmora::acceptance
