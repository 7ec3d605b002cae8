#pragma once

#include "Document/Viewers/GesturesProviderDelegate.hpp"
#include "Document/Viewers/Viewer.hpp"
#include "ToolResponders/ScrollProvider.hpp"

#include <QPointer>
#include <memory>
#include <optional>

namespace velmora {

// Turns the canvas view's magnify and rotate gestures, and the scroll events
// its tool responder passes on, into zoom, rotate and pan requests with the
// phase of the gesture. Made anew at every tool change; while it lives it is
// the view's one pair of gesture recognizers. Main thread only.
class GesturesProvider final : public ViewerGestureRecognizer,
                               public std::enable_shared_from_this<GesturesProvider> {
public:
    static std::shared_ptr<GesturesProvider>
    make(Viewer& view, const std::shared_ptr<ScrollProvider>& scrollProvider,
         const std::shared_ptr<GesturesProviderDelegate>& delegate);
    ~GesturesProvider() override;
    GesturesProvider(const GesturesProvider&) = delete;
    GesturesProvider& operator=(const GesturesProvider&) = delete;

    std::shared_ptr<GesturesProviderDelegate> delegate() const { return delegate_.lock(); }
    CGFloat previousGestureMagnification() const { return previousGestureMagnification_; }
    CGFloat previousGestureRotation() const { return previousGestureRotation_; }

    // The recognizers' side. Qt reports each event's change; the sums stand
    // for the platform's magnification and rotation since the gesture began.
    void beginGesture(const NSEvent& event) override;
    void magnify(const NSEvent& event) override;
    void rotate(const NSEvent& event) override;
    void endGesture(const NSEvent& event) override;

    // What the scroll provider hands on.
    void scroll(const NSEvent& event);

    // The gesture phase of a scroll event; none when it carries no motion.
    static std::optional<GesturePhase> scrollPhase(const NSEvent& event);

private:
    struct Token {};

public:
    GesturesProvider(Token, Viewer& view, std::shared_ptr<ScrollProvider> scrollProvider,
                     const std::shared_ptr<GesturesProviderDelegate>& delegate);

private:
    // One recognizer: the sum of the gesture's changes and whether it began.
    struct Recognizer {
        bool active = false;
        CGFloat total = 0;
    };

    QPointer<Viewer> view_;
    std::shared_ptr<ScrollProvider> scrollProvider_;
    std::weak_ptr<GesturesProviderDelegate> delegate_;
    Recognizer magnification_;
    Recognizer rotation_;
    CGFloat previousGestureMagnification_ = 0;
    CGFloat previousGestureRotation_ = 0;
};

} // namespace velmora
