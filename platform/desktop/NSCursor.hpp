#pragma once

#include "graphics/CGGeometry.hpp"

#include <QCursor>
#include <QImage>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace velmora {

// A pointer shape: an image of `imageSize` points with one bitmap per scale
// (1, 2, ...) and a hot spot in points from its top left, or one of the
// system's shapes. Made on any thread.
//
// The cursor calls may come from any thread too: they change one locked stack
// whose top the main thread shows as the application's override cursor (a
// pixmap cursor can only be made there), at once when called on the main
// thread, else in its next event-loop turn.
class NSCursor : public std::enable_shared_from_this<NSCursor> {
public:
    static std::shared_ptr<NSCursor> make(std::vector<QImage> representations, CGSize imageSize,
                                          CGPoint hotSpot);
    static std::shared_ptr<NSCursor> make(Qt::CursorShape shape);

    // The system's cursors: the same object on every call.
    static const std::shared_ptr<NSCursor>& arrowCursor();
    static const std::shared_ptr<NSCursor>& crosshairCursor();
    static const std::shared_ptr<NSCursor>& openHandCursor();
    static const std::shared_ptr<NSCursor>& closedHandCursor();
    static const std::shared_ptr<NSCursor>& resizeLeftRightCursor();
    static const std::shared_ptr<NSCursor>& resizeUpDownCursor();
    static const std::shared_ptr<NSCursor>& IBeamCursor();
    static const std::shared_ptr<NSCursor>& pointingHandCursor();
    static const std::shared_ptr<NSCursor>& operationNotAllowedCursor();

    CGSize imageSize() const { return imageSize_; }
    CGPoint hotSpot() const { return hotSpot_; }
    const std::vector<QImage>& representations() const { return representations_; }
    std::optional<Qt::CursorShape> shape() const { return shape_; }
    // The bitmap for a backing scale: the smallest one at least that fine (a
    // point's rounding short still counts), else the finest; null for a system shape.
    QImage image(qreal scale = 1) const;

    // Makes this the current cursor on top of the stack.
    void push();
    // Makes this the current cursor; the stack stays as it is.
    void set();
    // Takes the top off the stack; the one below becomes current. Nothing on an
    // empty stack.
    static void pop();
    // The cursor shown (the arrow when none was pushed or set).
    static std::shared_ptr<NSCursor> currentCursor();
    // Counted: as many unhides as hides show the cursor again; unhiding a
    // shown cursor does nothing.
    static void hide();
    static void unhide();

    static size_t stackDepth();
    static bool isHidden();

    // Main thread: the cursor for a screen of `devicePixelRatio`.
    QCursor qCursor(qreal devicePixelRatio) const;
    // Any thread, where the platform's pixmaps are plain images that any
    // thread may make (else nothing happens): makes the cursor for
    // `devicePixelRatio` now, so that showing it costs the main thread no
    // image conversion.
    void prepare(qreal devicePixelRatio);
    bool isPrepared(qreal devicePixelRatio) const;

private:
    NSCursor() = default;
    QCursor makeQCursor(qreal devicePixelRatio) const;

    std::vector<QImage> representations_;
    CGSize imageSize_;
    CGPoint hotSpot_;
    std::optional<Qt::CursorShape> shape_;
    mutable std::mutex preparedMutex_;
    std::optional<std::pair<qreal, QCursor>> prepared_;
};

} // namespace velmora
