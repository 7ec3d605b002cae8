#pragma once

#include "desktop/NSAttributedString.hpp"
#include "desktop/NSModalResponse.hpp"

#include <QPointer>
#include <QVariantAnimation>
#include <memory>
#include <optional>
#include <string>

class QLabel;

namespace velmora {

class NSWindow;
class Timer;

// A short text in a borderless, translucent heads-up window centred on the
// active window's screen, fading in and out. It never takes the focus (a
// focused bezel would steal the key releases of the size edit it reports).
class BezelNotification : public std::enable_shared_from_this<BezelNotification> {
public:
    static constexpr double fadeInDuration = 0.1;
    static constexpr double fadeOutDuration = 0.5;

    // One per showing; a later showing cancels the one before.
    struct NotificationSession {
        bool cancelled = false;
        bool modal = false;
    };

    // Made with std::make_shared.
    BezelNotification(NSAttributedString attributedString,
                      std::optional<double> dismissInterval = std::nullopt);
    ~BezelNotification();

    std::string text() const { return attributedString_.string(); }
    void setText(std::string text);
    const NSAttributedString& attributedString() const { return attributedString_; }
    void setAttributedString(NSAttributedString string);

    const std::shared_ptr<NSWindow>& window() const { return window_; }
    QLabel* label() const { return label_; }
    std::optional<double> dismissInterval() const { return dismissInterval_; }
    void setDismissInterval(std::optional<double> interval) { dismissInterval_ = interval; }

    bool isVisible() const;
    void show();
    void dismiss();
    // Shows the bezel and runs the application modally until it has faded
    // out; needs a dismiss interval, as nothing else would end the loop.
    NSModalResponse showModal();

    // The running fade, for tests that drive it by hand.
    QVariantAnimation* currentAnimation() const { return animation_; }
    const std::shared_ptr<Timer>& fadeOutTimer() const { return fadeOutTimer_; }

private:
    void makeWindow();
    void fitWindowToLabel();
    void placeOnActiveScreen();
    void fadeIn(const std::shared_ptr<NotificationSession>& session);
    void fadeOut(const std::shared_ptr<NotificationSession>& session);
    void animateAlpha(double to, double seconds, std::function<void()> completion);

    NSAttributedString attributedString_;
    std::shared_ptr<NSWindow> window_;
    std::optional<double> dismissInterval_;
    QPointer<QLabel> label_;
    std::shared_ptr<NotificationSession> previousShowSession_;
    std::shared_ptr<Timer> fadeOutTimer_;
    QPointer<QVariantAnimation> animation_;
};

} // namespace velmora
