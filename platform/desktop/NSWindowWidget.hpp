#pragma once

#include <QMainWindow>
#include <QTimer>

namespace velmora {

class NSWindow;

// The Qt side of an NSWindow: reports activation, moves, resizes, hiding and
// close requests to its owner, which deletes it.
class NSWindowWidget : public QMainWindow {
public:
    explicit NSWindowWidget(NSWindow& owner);

    NSWindow* owner() const { return owner_; }
    void detach() { owner_ = nullptr; }

    // Restarted by every move or resize; the frame is saved when it fires.
    QTimer frameSaveTimer;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    NSWindow* owner_;
};

} // namespace velmora
