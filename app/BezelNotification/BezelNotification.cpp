#include "BezelNotification/BezelNotification.hpp"

#include "desktop/NSApplication.hpp"
#include "desktop/NSFont.hpp"
#include "desktop/NSScreen.hpp"
#include "desktop/NSWindow.hpp"
#include "foundation/FatalError.hpp"
#include "foundation/Timer.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QVariantAnimation>

namespace velmora {

namespace {

// Never key or main: showing it must not move the keyboard or the menus.
class BezelWindow : public NSWindow {
public:
    BezelWindow() : NSWindow(CGRect{{0, 0}, {100, 100}}, NSWindowStyleMask::borderless) {}
    bool canBecomeKeyWindow() const override { return false; }
    bool canBecomeMainWindow() const override { return false; }
};

constexpr int margin = 10;
constexpr double fontSize = 18;

// Rich text for the label: every run escaped, in its own font.
QString html(const NSAttributedString& string) {
    QString html;
    for (const NSAttributedString::Run& run : string.runs()) {
        QString text = QString::fromStdString(run.string).toHtmlEscaped();
        text.replace('\n', QStringLiteral("<br>"));
        html += QStringLiteral("<span style=\"font-family:'%1'; font-size:%2pt; "
                               "font-weight:%3; font-style:%4\">%5</span>")
                    .arg(run.font.family().toHtmlEscaped())
                    .arg(run.font.pointSizeF())
                    .arg(int(run.font.weight()))
                    .arg(run.font.italic() ? QStringLiteral("italic") : QStringLiteral("normal"))
                    .arg(text);
    }
    return html;
}
constexpr double cornerRadius = 10;

} // namespace

BezelNotification::BezelNotification(NSAttributedString attributedString,
                                     std::optional<double> dismissInterval)
    : attributedString_(std::move(attributedString)), dismissInterval_(dismissInterval) {
    makeWindow();
}

BezelNotification::~BezelNotification() {
    if (fadeOutTimer_) {
        fadeOutTimer_->invalidate();
    }
    if (animation_) {
        animation_->stop();
        delete animation_;
    }
    if (window_) {
        window_->orderOut();
    }
}

void BezelNotification::setText(std::string text) {
    setAttributedString(NSAttributedString({{std::move(text), NSFont::systemFont(fontSize)}}));
}

void BezelNotification::setAttributedString(NSAttributedString string) {
    attributedString_ = std::move(string);
    label_->setText(html(attributedString_));
    label_->adjustSize();
    fitWindowToLabel();
}

void BezelNotification::fitWindowToLabel() {
    // Not adjustSize(): a window that may grow is kept at least 200 by 100.
    // The window's own layout still holds the label's previous size as its
    // minimum until it is told the content changed.
    QMainWindow* widget = window_->widget();
    widget->centralWidget()->layout()->activate();
    widget->layout()->invalidate();
    widget->layout()->activate();
    widget->resize(widget->sizeHint());
}

void BezelNotification::makeWindow() {
    window_ = std::make_shared<BezelWindow>();
    window_->setHasShadow(false);
    window_->setLevel(NSModalPanelWindowLevel);
    window_->setOpaque(false);
    window_->setIgnoresMouseEvents(true);
    window_->setAlphaValue(0);
    QMainWindow* widget = window_->widget();
    // A tool tip's type: above everything, never focused, no task-bar entry.
    widget->setWindowFlags((widget->windowFlags() & ~Qt::WindowType_Mask) | Qt::ToolTip |
                           Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint);
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    QWidget* content = window_->contentView();
    // The dark translucent fill stands in for the heads-up material; X11 has
    // no common blur behind a window.
    content->setObjectName(QStringLiteral("BezelBackground"));
    content->setStyleSheet(QStringLiteral("#BezelBackground { background: rgba(30, 30, 30, 200); "
                                          "border-radius: %1px; } QLabel { color: white; }")
                               .arg(cornerRadius));
    auto* layout = new QHBoxLayout(content);
    layout->setContentsMargins(margin, margin, margin, margin);
    label_ = new QLabel(content);
    label_->setTextFormat(Qt::RichText);
    label_->setFont(NSFont::systemFont(fontSize));
    label_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(label_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setAttributedString(attributedString_);
}

bool BezelNotification::isVisible() const {
    return window_->isVisible() && window_->alphaValue() != 0;
}

void BezelNotification::show() {
    if (fadeOutTimer_) {
        fadeOutTimer_->invalidate();
        fadeOutTimer_.reset();
    }
    if (previousShowSession_) {
        previousShowSession_->cancelled = true;
    }
    previousShowSession_ = std::make_shared<NotificationSession>();
    const bool wasShowing = isVisible();
    fadeIn(previousShowSession_);
    if (!wasShowing) {
        placeOnActiveScreen();
    }
    window_->orderFront();
}

void BezelNotification::dismiss() {
    if (!previousShowSession_ || previousShowSession_->cancelled) {
        return;
    }
    previousShowSession_->cancelled = true;
    fadeOut(previousShowSession_);
}

NSModalResponse BezelNotification::showModal() {
    precondition(dismissInterval_.has_value(), "A modal bezel needs a dismiss interval");
    auto session = std::make_shared<NotificationSession>();
    session->modal = true;
    fadeIn(session);
    placeOnActiveScreen();
    return NSApplication::shared().runModal(window_);
}

void BezelNotification::placeOnActiveScreen() {
    fitWindowToLabel();
    const auto key = NSWindow::keyWindow();
    std::shared_ptr<NSScreen> screen = key ? key->screen() : nullptr;
    if (!screen) {
        screen = NSScreen::mainScreen();
    }
    if (!screen) {
        return;
    }
    const CGRect area = screen->visibleFrame();
    CGRect frame = window_->frame();
    frame.origin = {area.midX() - frame.width() / 2, area.midY() - frame.height() / 2};
    window_->setFrameOrigin(frame.origin);
}

void BezelNotification::fadeIn(const std::shared_ptr<NotificationSession>& session) {
    std::weak_ptr<BezelNotification> weak = weak_from_this();
    animateAlpha(1, fadeInDuration, [weak, session] {
        const auto self = weak.lock();
        if (!self || session->cancelled || !self->dismissInterval_) {
            return;
        }
        self->fadeOutTimer_ = Timer::scheduledTimer(
            Timer::Interval(*self->dismissInterval_), false, [weak, session](Timer&) {
                // A dismissed showing has faded out already: no second flash.
                if (const auto bezel = weak.lock(); bezel && !session->cancelled) {
                    bezel->fadeOut(session);
                }
            });
    });
}

void BezelNotification::fadeOut(const std::shared_ptr<NotificationSession>& session) {
    window_->setAlphaValue(1);
    std::weak_ptr<BezelNotification> weak = weak_from_this();
    animateAlpha(0, fadeOutDuration, [weak, session] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        // Without a compositing manager X11 ignores the opacity.
        self->window_->orderOut();
        if (session->modal) {
            NSApplication::shared().stopModal();
        }
    });
}

void BezelNotification::animateAlpha(double to, double seconds, std::function<void()> completion) {
    if (animation_) {
        animation_->stop();
        animation_->deleteLater();
    }
    auto* animation = new QVariantAnimation;
    animation->setStartValue(window_->alphaValue());
    animation->setEndValue(to);
    animation->setDuration(int(seconds * 1000));
    std::weak_ptr<NSWindow> window = window_;
    QObject::connect(animation, &QVariantAnimation::valueChanged, [window](const QVariant& value) {
        if (const auto shown = window.lock()) {
            shown->setAlphaValue(value.toDouble());
        }
    });
    QObject::connect(animation, &QVariantAnimation::finished, [animation, completion] {
        animation->deleteLater();
        completion();
    });
    animation_ = animation;
    animation->start();
}

} // namespace velmora
