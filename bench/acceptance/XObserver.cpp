#include "XObserver.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <cstring>
#include <poll.h>

namespace velmora::acceptance {

XObserver::~XObserver() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
    if (grabber_ != nullptr) {
        XCloseDisplay(grabber_);
    }
}

bool XObserver::start() {
    display_ = XOpenDisplay(nullptr);
    grabber_ = XOpenDisplay(nullptr);
    int error = 0;
    if (display_ == nullptr || grabber_ == nullptr ||
        !XDamageQueryExtension(display_, &damageEvent_, &error)) {
        return false;
    }
    const Window root = DefaultRootWindow(display_);
    XSelectInput(display_, root, SubstructureNotifyMask);
    damage_ = XDamageCreate(display_, root, XDamageReportRawRectangles);
    XSync(display_, False);
    thread_ = std::thread([this] { run(); });
    return true;
}

std::vector<XObserver::Damage> XObserver::damages() const {
    std::lock_guard lock(mutex_);
    return damages_;
}

std::vector<XObserver::Mapped> XObserver::mapped() const {
    std::lock_guard lock(mutex_);
    return mapped_;
}

void XObserver::watch(std::vector<QRect> grabs, Seen seen) {
    int generation = 0;
    {
        std::lock_guard lock(mutex_);
        grabs_ = std::move(grabs);
        seen_ = std::move(seen);
        generation = ++watchGeneration_;
    }
    while (watchTaken_ < generation) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

QImage XObserver::grab(const QRect& area) {
    std::lock_guard lock(grabMutex_);
    return grabOn(grabber_, area);
}

QImage XObserver::grabOn(_XDisplay* display, const QRect& area) {
    XImage* image = XGetImage(display, DefaultRootWindow(display), area.x(), area.y(),
                              unsigned(area.width()), unsigned(area.height()), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return {};
    }
    QImage result(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y) {
        auto* out = reinterpret_cast<quint32*>(result.scanLine(y));
        if (image->bits_per_pixel == 32) {
            std::memcpy(out, image->data + std::ptrdiff_t(y) * image->bytes_per_line,
                        std::size_t(area.width()) * 4);
            for (int x = 0; x < area.width(); ++x) {
                out[x] |= 0xff000000u;
            }
        } else {
            for (int x = 0; x < area.width(); ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                out[x] = 0xff000000u | quint32(pixel & 0xffffff);
            }
        }
    }
    XDestroyImage(image);
    return result;
}

void XObserver::run() {
    const int fd = ConnectionNumber(display_);
    std::vector<QRect> grabs;
    Seen seen;
    int generation = 0;
    bool dirty = false;
    while (!stopping_) {
        {
            std::lock_guard lock(mutex_);
            if (watchGeneration_ != generation) {
                generation = watchGeneration_;
                grabs = grabs_;
                seen = seen_;
                dirty = false;
                watchTaken_ = generation;
            }
        }
        if (XEventsQueued(display_, QueuedAfterReading) == 0) {
            if (dirty && seen) {
                // The burst is read: what the server shows now includes it.
                std::vector<QImage> images;
                for (const QRect& area : grabs) {
                    images.push_back(grabOn(display_, area));
                }
                const auto at = Clock::now();
                seen(images, at);
                dirty = false;
                continue;
            }
            pollfd wait{fd, POLLIN, 0};
            ::poll(&wait, 1, 5);
            continue;
        }
        XEvent event;
        XNextEvent(display_, &event);
        const auto at = Clock::now();
        if (event.type == damageEvent_ + XDamageNotify) {
            const auto& notice = reinterpret_cast<const XDamageNotifyEvent&>(event);
            const QRect area(notice.area.x, notice.area.y, notice.area.width, notice.area.height);
            {
                std::lock_guard lock(mutex_);
                damages_.push_back({at, area});
            }
            for (const QRect& grab : grabs) {
                dirty = dirty || grab.intersects(area);
            }
        } else if (event.type == MapNotify) {
            std::lock_guard lock(mutex_);
            mapped_.push_back({at, event.xmap.window});
        }
    }
}

} // namespace velmora::acceptance
