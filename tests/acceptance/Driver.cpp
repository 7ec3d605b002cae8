#include "acceptance/Driver.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPointingDevice>
#include <QWindow>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <qpa/qwindowsysteminterface.h>
#include <thread>

namespace velmora::acceptance {

namespace {

QString textOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    return widget->windowTitle();
}

QPointingDevice* makeStylusTool(const char* name, QPointingDevice::PointerType type, qint64 id) {
    // Leaked on purpose: Qt keeps registered devices until the end.
    auto* device =
        new QPointingDevice(name, id, QInputDevice::DeviceType::Stylus, type,
                            QInputDevice::Capability::Position | QInputDevice::Capability::Pressure,
                            1, 3, QString(), QPointingDeviceUniqueId::fromNumericId(id));
    QWindowSystemInterface::registerInputDevice(device);
    return device;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Qt hands a queued call over, and back, through futexes that ThreadSanitizer
// cannot see. This lock, held while the call is queued and taken first on the
// main thread, shows it the way there; callOnMain's condition the way back.
std::mutex& queueing() {
    static std::mutex mutex;
    return mutex;
}

void queue(std::function<void()> f) {
    const std::lock_guard lock(queueing());
    QMetaObject::invokeMethod(
        qApp,
        [f = std::move(f)] {
            { const std::lock_guard queued(queueing()); }
            f();
        },
        Qt::QueuedConnection);
}

} // namespace

Driver::Driver(std::filesystem::path work, std::filesystem::path shots, std::string phase)
    : work_(std::move(work)), shots_(std::move(shots)), phase_(std::move(phase)) {
    std::filesystem::create_directories(shots_);
}

void Driver::post(std::function<void()> f) {
    queue(std::move(f));
}

void Driver::callOnMain(const std::function<void()>& f) {
    std::mutex mutex;
    std::condition_variable ran;
    bool done = false;
    queue([&] {
        f();
        const std::lock_guard lock(mutex);
        done = true;
        ran.notify_all();
    });
    std::unique_lock lock(mutex);
    ran.wait(lock, [&] { return done; });
}

bool Driver::waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!onMain(condition)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void Driver::pause(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    onMain([] {}); // the loop has run meanwhile
}

bool Driver::check(bool ok, const std::string& what) {
    std::cerr << (ok ? "  ok   " : "  FAIL ") << "[" << phase_ << "/" << step_ << "] " << what
              << std::endl;
    failures_ += ok ? 0 : 1;
    return ok;
}

void Driver::step(const std::string& name) {
    step_ = name;
    std::cerr << "step " << phase_ << "/" << name << std::endl;
}

QImage Driver::screenshot(const std::string& name) {
    // Two turns of the loop and a little time so the last frame is on the screen.
    pause(0.3);
    char number[16];
    std::snprintf(number, sizeof number, "%02d", ++shotNumber_);
    const auto file = shots_ / (phase_ + "-" + number + "-" + name + ".png");
    int code = -1;
    run("import", {"-window", "root", file.string()}, &code);
    QImage image(QString::fromStdString(file.string()));
    check(code == 0 && !image.isNull(), "screenshot " + file.filename().string());
    return image.convertToFormat(QImage::Format_RGB32);
}

QWidget* Driver::activeModal() {
    return QApplication::activeModalWidget();
}

QWidget* Driver::findWidget(const QMetaObject& type, const QString& text, QWidget* within) {
    QList<QWidget*> roots;
    if (within != nullptr) {
        roots.push_back(within);
    } else {
        roots = QApplication::topLevelWidgets();
    }
    for (QWidget* root : roots) {
        if (!root->isVisible()) {
            continue;
        }
        QList<QWidget*> all = root->findChildren<QWidget*>();
        all.prepend(root);
        for (QWidget* widget : all) {
            if (widget->isVisible() && type.cast(widget) != nullptr &&
                (text.isEmpty() || textOf(widget).contains(text) || widget->objectName() == text)) {
                return widget;
            }
        }
    }
    return nullptr;
}

void Driver::focusWindow(QWidget* widget) {
    QWidget* top = widget->window();
    // Panels and menus never take the focus from a document window.
    if (!top->windowFlags().testFlag(Qt::Tool) && top->windowType() != Qt::Popup &&
        QApplication::activeWindow() != top) {
        top->activateWindow();
    }
}

void Driver::click(QWidget* widget, QPoint at) {
    if (at == QPoint(-1, -1)) {
        at = widget->rect().center();
    }
    mouse(widget, at, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress);
    mouse(widget, at, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease);
}

const QPointingDevice* Driver::pen() {
    static QPointingDevice* device =
        makeStylusTool("Acceptance stylus", QPointingDevice::PointerType::Pen, 0x51);
    return device;
}

const QPointingDevice* Driver::eraserEnd() {
    static QPointingDevice* device =
        makeStylusTool("Acceptance stylus eraser", QPointingDevice::PointerType::Eraser, 0x52);
    return device;
}

void Driver::tablet(QWidget* target, QPointF at, Qt::MouseButtons buttons, double pressure,
                    const QPointingDevice* device, Qt::KeyboardModifiers modifiers) {
    QWidget* top = target->window();
    if (buttons != Qt::NoButton) {
        focusWindow(target);
    }
    const QPointF local = target->mapTo(top, at);
    QWindowSystemInterface::handleTabletEvent(top->windowHandle(), device, local,
                                              target->mapToGlobal(at), buttons, pressure, 0, 0, 0,
                                              0, 0, modifiers);
    QWindowSystemInterface::flushWindowSystemEvents();
}

void Driver::proximity(QWidget* target, const QPointingDevice* device, bool entering) {
    QWindowSystemInterface::handleTabletEnterLeaveProximityEvent(target->window()->windowHandle(),
                                                                 device, entering);
    QWindowSystemInterface::flushWindowSystemEvents();
}

void Driver::wheel(QWidget* target, QPointF at, QPoint pixelDelta,
                   Qt::KeyboardModifiers modifiers) {
    QWidget* top = target->window();
    QWindowSystemInterface::handleWheelEvent(top->windowHandle(), target->mapTo(top, at),
                                             target->mapToGlobal(at), pixelDelta, pixelDelta,
                                             modifiers);
    QWindowSystemInterface::flushWindowSystemEvents();
}

void Driver::mouse(QWidget* target, QPointF at, Qt::MouseButtons buttons, Qt::MouseButton changed,
                   QEvent::Type type, Qt::KeyboardModifiers modifiers) {
    QWidget* top = target->window();
    if (type == QEvent::MouseButtonPress) {
        focusWindow(target);
    }
    // Delivered when the loop next runs: a press may open a modal loop of its own.
    QWindowSystemInterface::handleMouseEvent(top->windowHandle(), target->mapTo(top, at),
                                             target->mapToGlobal(at), buttons, changed, type,
                                             modifiers);
}

std::string Driver::run(const std::string& program, const std::vector<std::string>& arguments,
                        int* exitCode) {
    std::string command = quoted(program);
    for (const auto& argument : arguments) {
        command += " " + quoted(argument);
    }
    command += " 2>/dev/null";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (exitCode != nullptr) {
            *exitCode = -1;
        }
        return output;
    }
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int status = ::pclose(pipe);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return code == 0 ? output : std::string();
}

} // namespace velmora::acceptance
