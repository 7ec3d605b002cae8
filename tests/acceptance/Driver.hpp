#pragma once

#include <QApplication>
#include <QImage>
#include <QMetaObject>
#include <QPointF>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

class QPointingDevice;

namespace velmora::acceptance {

// Straight RGBA, 8 bits a sample, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    bool empty() const { return width == 0 || height == 0; }
    const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * width + x) * 4]; }
    friend bool operator==(const Picture&, const Picture&) = default;
};

// Runs a scripted session against the real program from a thread of its own:
// the program's main thread keeps its event loop (and its modal loops), and
// every look or touch is done there, one call at a time, as a person would.
class Driver {
public:
    Driver(std::filesystem::path work, std::filesystem::path shots, std::string phase);

    const std::filesystem::path& work() const { return work_; }
    const std::string& phase() const { return phase_; }

    // Runs f on the main thread and waits for its result.
    template <class F> auto onMain(F&& f) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if (QThread::currentThread() == qApp->thread()) {
            return f();
        }
        if constexpr (std::is_void_v<R>) {
            callOnMain([&] { f(); });
        } else {
            R result{};
            callOnMain([&] { result = f(); });
            return result;
        }
    }
    // Runs f on the main thread later, without waiting: for commands that open
    // a modal loop.
    void post(std::function<void()> f);

    // Polls the condition on the main thread until it holds; false on time-out.
    bool waitUntil(const std::function<bool()>& condition, double seconds = 20);
    void pause(double seconds);

    // Records a failed expectation and goes on; the phase fails at its end.
    bool check(bool ok, const std::string& what);
    int failures() const { return failures_; }
    void step(const std::string& name);

    // The whole X screen, as `import -window root` takes it, kept under the
    // shots folder with the phase and step in its name.
    QImage screenshot(const std::string& name);

    // The modal dialog or message box on top, if any (main thread).
    static QWidget* activeModal();
    // The first visible widget of that class under the top-level windows whose
    // text or object name contains `text` (main thread).
    template <class W> static W* find(const QString& text = {}, QWidget* within = nullptr) {
        return qobject_cast<W*>(findWidget(W::staticMetaObject, text, within));
    }
    static QWidget* findWidget(const QMetaObject& type, const QString& text, QWidget* within);
    static void click(QWidget* widget, QPoint at = {-1, -1});
    // What a click-to-focus window manager does on a press into a window
    // (the virtual X server runs none): the window becomes the active one.
    static void focusWindow(QWidget* widget);

    // Pen and eraser ends of one stylus, known to Qt as a tablet's tools.
    static const QPointingDevice* pen();
    static const QPointingDevice* eraserEnd();
    // One tablet sample through Qt's window-system input path (main thread).
    static void tablet(QWidget* target, QPointF at, Qt::MouseButtons buttons, double pressure,
                       const QPointingDevice* device, Qt::KeyboardModifiers modifiers = {});
    static void proximity(QWidget* target, const QPointingDevice* device, bool entering);
    static void wheel(QWidget* target, QPointF at, QPoint pixelDelta,
                      Qt::KeyboardModifiers modifiers = {});
    static void mouse(QWidget* target, QPointF at, Qt::MouseButtons buttons,
                      Qt::MouseButton changed, QEvent::Type type,
                      Qt::KeyboardModifiers modifiers = {});

    // Runs an external program; its standard output, empty when it failed.
    static std::string run(const std::string& program, const std::vector<std::string>& arguments,
                           int* exitCode = nullptr);

private:
    // Runs f on the main thread and returns once it has.
    static void callOnMain(const std::function<void()>& f);

    std::filesystem::path work_;
    std::filesystem::path shots_;
    std::string phase_;
    std::string step_;
    int shotNumber_ = 0;
    int failures_ = 0;
};

} // namespace velmora::acceptance
