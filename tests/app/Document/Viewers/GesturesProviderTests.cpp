#include "Document/Viewers/GesturesProvider.hpp"
#include "ToolResponders/CommonToolResponder.hpp"
#include "foundation/LogCapture.hpp"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

struct Call {
    std::string what; // "zoom", "rotate" or a live scope's name
    CGFloat amount;
    GesturePhase phase;
};

struct RecordingDelegate : GesturesProviderDelegate {
    void zoom(CGFloat factor, CGPoint at, GesturePhase phase) override {
        calls.push_back({"zoom", factor, phase});
        points.push_back(at);
    }
    void rotate(CGFloat degrees, CGPoint at, GesturePhase phase) override {
        calls.push_back({"rotate", degrees, phase});
        points.push_back(at);
    }
    std::shared_ptr<DisplayViewModel> displayViewModel() const override { return model; }
    void updateLiveScope(const std::string& name, GesturePhase phase) override {
        calls.push_back({name, 0, phase});
    }
    std::shared_ptr<DisplayViewModel> model = std::make_shared<DisplayViewModel>();
    std::vector<Call> calls;
    std::vector<CGPoint> points;
};

NSEvent gesture(NSEventType type, CGFloat change = 0) {
    NSEvent::Values v;
    v.type = type;
    v.locationInWindow = {12, 8};
    v.magnification = type == NSEventType::magnify ? change : 0;
    v.rotation = type == NSEventType::rotate ? float(change) : 0;
    return NSEvent(v);
}

struct Scroll {
    CGFloat dx = 0, dy = 0;
    bool precise = false;
    bool option = false;
    NSEventPhase phase = NSEventPhase::none, momentum = NSEventPhase::none;
};

NSEvent scroll(const Scroll& s) {
    NSEvent::Values v;
    v.type = NSEventType::scrollWheel;
    v.locationInWindow = {3, 4};
    v.scrollingDeltaX = s.dx;
    v.scrollingDeltaY = s.dy;
    v.hasPreciseScrollingDeltas = s.precise;
    v.modifierFlags = s.option ? NSEventModifierFlags::option : NSEventModifierFlags::none;
    v.phase = s.phase;
    v.momentumPhase = s.momentum;
    return NSEvent(v);
}

class GesturesProviderTest : public ::testing::Test {
protected:
    Viewer viewer;
    std::shared_ptr<CommonToolResponder> responder = std::make_shared<CommonToolResponder>(nullptr);
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<GesturesProvider> provider =
        GesturesProvider::make(viewer, responder, delegate);

    // As the view hands them on.
    void send(const NSEvent& e) {
        switch (e.type()) {
        case NSEventType::beginGesture:
            return provider->beginGesture(e);
        case NSEventType::magnify:
            return provider->magnify(e);
        case NSEventType::rotate:
            return provider->rotate(e);
        case NSEventType::endGesture:
            return provider->endGesture(e);
        default:
            return responder->scrollWheel(e, {});
        }
    }
};

} // namespace

TEST_F(GesturesProviderTest, PinchAndTurnApplyTheChangeSinceTheLastEvent) {
    for (const auto type : {NSEventType::magnify, NSEventType::rotate}) {
        delegate->calls.clear();
        send(gesture(NSEventType::beginGesture));
        // Qt reports each event's change: 0.2 then 0.3 is the platform's 0.2 then 0.5.
        send(gesture(type, 0.2));
        send(gesture(type, 0.3));
        send(gesture(NSEventType::endGesture));
        const bool zoom = type == NSEventType::magnify;
        ASSERT_EQ(delegate->calls.size(), 3u);
        const CGFloat expected[] = {zoom ? 1.2 : 0.2, zoom ? 1.3 : 0.3, zoom ? 1.0 : 0.0};
        const GesturePhase phases[] = {GesturePhase::began, GesturePhase::changed,
                                       GesturePhase::ended};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(delegate->calls[i].what, zoom ? "zoom" : "rotate");
            EXPECT_NEAR(delegate->calls[i].amount, expected[i], 1e-6) << i;
            EXPECT_EQ(delegate->calls[i].phase, phases[i]) << i;
        }
        EXPECT_EQ(delegate->points[0].x, 12);
    }
    // A second gesture starts from nothing again.
    delegate->calls.clear();
    send(gesture(NSEventType::beginGesture));
    send(gesture(NSEventType::magnify, 0.1));
    EXPECT_NEAR(delegate->calls.at(0).amount, 1.1, 1e-9);
    EXPECT_EQ(delegate->calls.at(0).phase, GesturePhase::began);
}

TEST_F(GesturesProviderTest, ScrollingWithAltZooms) {
    const CGFloat root2 = 1.4142135623730951, halfRoot2 = 0.7071067811865475;
    struct Case {
        const char* name;
        Scroll scroll;
        CGFloat factor;
    };
    const Case cases[] = {
        {"trackpad 50", {0, 50, true, true}, 1.25},
        {"trackpad 5000, clamped", {0, 5000, true, true}, 10},
        {"trackpad -500, clamped", {0, -500, true, true}, 0.1},
        {"wheel up, any size", {0, 0.1, false, true}, root2},
        {"wheel down", {0, -7, false, true}, halfRoot2},
        {"wheel turned sideways by Alt", {3, 0, false, true}, root2},
        {"trackpad sideways", {50, 0, true, true}, 1.25},
        {"no motion does not zoom", {0, 0, false, true}, 1},
        {"no motion on a trackpad", {0, 0, true, true}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate->calls.clear();
        send(scroll(c.scroll));
        ASSERT_EQ(delegate->calls.size(), 1u);
        EXPECT_EQ(delegate->calls[0].what, "zoom");
        EXPECT_DOUBLE_EQ(delegate->calls[0].amount, c.factor);
        EXPECT_EQ(delegate->calls[0].phase, GesturePhase::none);
    }
}

TEST_F(GesturesProviderTest, ScrollingPansInDrawablePixelsWithItsPhase) {
    viewer.view()->setBoundsSize({100, 50});
    viewer.view()->setDrawableSize({200, 100});
    const auto start = delegate->model->transform();
    send(scroll({0, 1}));
    const auto moved = delegate->model->transform();
    EXPECT_DOUBLE_EQ(moved.tx - start.tx, 0);
    EXPECT_DOUBLE_EQ(moved.ty - start.ty, -40) << "20 points a line, 2 pixels a point";
    send(scroll({3, 0, true}));
    EXPECT_DOUBLE_EQ(delegate->model->transform().tx - moved.tx, 6);

    using P = NSEventPhase;
    struct Case {
        P phase, momentum;
        std::optional<GesturePhase> expected;
    };
    const Case cases[] = {
        {P::began, P::none, GesturePhase::began},     {P::changed, P::none, GesturePhase::changed},
        {P::ended, P::none, GesturePhase::ended},     {P::none, P::began, GesturePhase::began},
        {P::none, P::changed, GesturePhase::changed}, {P::none, P::ended, GesturePhase::ended},
        {P::none, P::none, GesturePhase::none},       {P::stationary, P::none, std::nullopt},
        {P::cancelled, P::none, std::nullopt},        {P::mayBegin, P::none, std::nullopt},
    };
    for (const auto& c : cases) {
        LogCapture logs;
        delegate->calls.clear();
        send(scroll({0, 2, true, false, c.phase, c.momentum}));
        if (!c.expected) {
            EXPECT_TRUE(delegate->calls.empty());
            EXPECT_EQ(logs.messages("Device Input").size(), 1u);
            continue;
        }
        ASSERT_EQ(delegate->calls.size(), 1u);
        EXPECT_EQ(delegate->calls[0].what, "Pan");
        EXPECT_EQ(delegate->calls[0].phase, *c.expected);
    }
}

TEST_F(GesturesProviderTest, AReplacedProviderLeavesTheViewAndItsHandlerIdle) {
    EXPECT_EQ(viewer.gestureRecognizerCount(), 1u);
    auto next = GesturesProvider::make(viewer, responder, delegate);
    provider = nullptr;
    EXPECT_EQ(viewer.gestureRecognizerCount(), 1u);
    next = nullptr;
    EXPECT_EQ(viewer.gestureRecognizerCount(), 0u);
    send(scroll({0, 1}));
    EXPECT_TRUE(delegate->calls.empty());
}
