#include "Extensions/CGAffineTransformExtensions.hpp"
#include "Rendering/DisplayViewModel.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

struct Listener : DisplayViewModelDelegate {
    void displayViewModelDidUpdateZoom(DisplayViewModel&, CGFloat zoom) override {
        calls.push_back("zoom " + std::to_string(zoom));
        zooms.push_back(zoom);
    }
    void displayViewModelDidUpdateRotation(DisplayViewModel&, CGFloat rotation) override {
        calls.push_back("rotation");
        rotations.push_back(rotation);
    }
    std::vector<std::string> calls;
    std::vector<CGFloat> zooms, rotations;
};

CGFloat zoomOf(const DisplayViewModel& m) {
    return scaling(m.transform()).dx;
}
CGFloat angleOf(const DisplayViewModel& m) {
    return rotationInDegrees(m.transform());
}

class DisplayViewModelTest : public ::testing::Test {
protected:
    void SetUp() override { model.delegates += listener; }
    DisplayViewModel model;
    std::shared_ptr<Listener> listener = std::make_shared<Listener>();
    const CGPoint centre{50, 25};
};

TEST_F(DisplayViewModelTest, StartsAtIdentityWithMaxZoom120) {
    DisplayViewModel fresh;
    EXPECT_TRUE(fresh.transform().isIdentity());
    EXPECT_EQ(fresh.maxZoom, 120.0);
    EXPECT_FALSE(fresh.snappedScaler().has_value());
    EXPECT_FALSE(fresh.snappedRotater().has_value());
}

TEST_F(DisplayViewModelTest, ResetCentresOrFitsTheCanvas) {
    const auto old = model.resetTransform({2000, 2000}, {1000, 500}, false);
    EXPECT_TRUE(old.isIdentity());
    EXPECT_EQ(model.transform(), CGAffineTransform::makeTranslation(500, 750));

    const auto centred = model.resetTransform({2000, 2000}, {1000, 500}, true);
    EXPECT_EQ(centred, CGAffineTransform::makeTranslation(500, 750));
    EXPECT_NEAR(zoomOf(model), 1.9, 1e-12);
    const CGPoint mid = model.transform().apply(CGPoint{500, 250});
    EXPECT_NEAR(mid.x, 1000, 1e-9);
    EXPECT_NEAR(mid.y, 1000, 1e-9);

    model.restoreTransform(centred);
    EXPECT_EQ(model.transform(), CGAffineTransform::makeTranslation(500, 750));
}

TEST_F(DisplayViewModelTest, FitIntoAnEmptyFramebufferKeepsAnInvertibleTransform) {
    for (const CGSize fb : {CGSize{0, 0}, CGSize{0, 500}, CGSize{3, 2}}) {
        model.resetTransform(fb, {8000, 8000}, true);
        EXPECT_GE(zoomOf(model), DisplayViewModel::minZoom) << fb.width;
        const CGPoint back = model.transform().inverted().apply(CGPoint{1, 1});
        EXPECT_TRUE(std::isfinite(back.x) && std::isfinite(back.y));
    }
}

TEST_F(DisplayViewModelTest, MagnifyStopsAtMaxZoomAndMinZoom) {
    model.restoreTransform(CGAffineTransform::makeScale(100, 100));
    model.magnify(2.0, centre, true);
    EXPECT_NEAR(zoomOf(model), 120.0, 1e-9);
    model.restoreTransform(CGAffineTransform::makeScale(0.02, 0.02));
    model.magnify(0.1, centre, true);
    EXPECT_NEAR(zoomOf(model), DisplayViewModel::minZoom, 1e-12);
}

TEST_F(DisplayViewModelTest, MeaninglessFactorsAndAnglesAreIgnored) {
    model.restoreTransform(CGAffineTransform::makeScale(2, 2));
    listener->calls.clear();
    for (const CGFloat f : std::vector<CGFloat>{0.0, -1.0, NAN, INFINITY}) {
        model.magnify(f, centre, false);
        model.magnify(f, centre, true);
        model.rotate(f == 0.0 ? NAN : f * INFINITY, centre, true);
        model.pan({f * INFINITY, 1});
    }
    model.magnify(2.0, {NAN, 1}, true);
    EXPECT_EQ(model.transform(), CGAffineTransform::makeScale(2, 2));
    EXPECT_TRUE(listener->calls.empty());
}

TEST_F(DisplayViewModelTest, ZoomSnapsToOneWithinFivePercent) {
    struct Case {
        CGFloat factor;
        CGFloat shown;
    };
    for (const Case c :
         {Case{1.04, 1.0}, Case{0.96, 1.0}, Case{1.05, 1.05}, Case{0.95, 0.95}, Case{1.2, 1.2}}) {
        model.restoreTransform(CGAffineTransform::identity());
        model.magnify(c.factor, centre, false);
        EXPECT_NEAR(zoomOf(model), c.shown, 1e-12) << c.factor;
        model.magnify(1.0, centre, true);
        EXPECT_NEAR(zoomOf(model), c.shown, 1e-12) << c.factor;
        EXPECT_FALSE(model.snappedScaler().has_value());
        model.restoreTransform(model.transform());
        EXPECT_NEAR(zoomOf(model), c.shown, 1e-12) << "stored, not only shown: " << c.factor;
    }
}

TEST_F(DisplayViewModelTest, OneCallWithGestureEndSnapsAndFixes) {
    model.restoreTransform(CGAffineTransform::makeScale(0.72, 0.72));
    model.magnify(std::sqrt(2.0), centre, true);
    EXPECT_EQ(zoomOf(model), 1.0);
    EXPECT_FALSE(model.snappedScaler().has_value());
}

TEST_F(DisplayViewModelTest, RotationSnapsToRightAnglesWithinThreeDegrees) {
    struct Case {
        CGFloat degrees;
        CGFloat shown;
    };
    for (const Case c : {Case{92.5, 90}, Case{87, 87}, Case{-2.9, 0}, Case{178, 180},
                         Case{3.0, 3.0}, Case{45, 45}}) {
        model.restoreTransform(CGAffineTransform::identity());
        model.rotate(c.degrees, centre, false);
        EXPECT_NEAR(std::remainder(angleOf(model) - c.shown, 360.0), 0, 1e-9) << c.degrees;
        model.rotate(0, centre, true);
        EXPECT_NEAR(std::remainder(angleOf(model) - c.shown, 360.0), 0, 1e-9) << c.degrees;
        EXPECT_FALSE(model.snappedRotater().has_value());
    }
}

TEST_F(DisplayViewModelTest, SnapKeepsThePointUnderTheGesture) {
    model.restoreTransform(CGAffineTransform::makeTranslation(7, 3));
    const CGPoint before = model.transform().apply(centre);
    model.magnify(1.03, centre, false);
    model.rotate(2.0, centre, false);
    const CGPoint after = model.transform().apply(centre);
    EXPECT_NEAR(after.x, before.x, 1e-9);
    EXPECT_NEAR(after.y, before.y, 1e-9);
}

TEST_F(DisplayViewModelTest, PanMovesTheCanvasRightAndDownOnScreenAtAnyZoomAndRotation) {
    for (const CGFloat zoom : {0.25, 1.0, 3.0}) {
        for (const CGFloat degrees : {0.0, 30.0, 90.0, 200.0}) {
            model.restoreTransform(CGAffineTransform::makeTranslation(40, -12));
            model.magnify(zoom, centre, true);
            model.rotate(degrees, centre, true);
            const CGPoint p0 = model.transform().apply(CGPoint{3, 4});
            model.pan({10, 5});
            const CGPoint p1 = model.transform().apply(CGPoint{3, 4});
            EXPECT_NEAR(p1.x - p0.x, 10, 1e-9) << zoom << " " << degrees;
            EXPECT_NEAR(p1.y - p0.y, -5, 1e-9) << zoom << " " << degrees;
        }
    }
}

TEST_F(DisplayViewModelTest, DelegatesHearOnlyWhatChangesOnScreen) {
    model.pan({3, 4});
    EXPECT_TRUE(listener->calls.empty());
    model.magnify(2.0, centre, false);
    model.rotate(30, centre, false);
    EXPECT_EQ(listener->calls, (std::vector<std::string>{"zoom 2.000000", "rotation"}));
    EXPECT_NEAR(listener->rotations.back(), 30, 1e-9);
    listener->calls.clear();
    model.rotate(0, centre, true);
    model.magnify(1.0, centre, true);
    EXPECT_TRUE(listener->calls.empty()) << "ending a gesture without a snap changes nothing";
}

TEST_F(DisplayViewModelTest, ReportedZoomIsTheZoomShown) {
    model.magnify(1.02, centre, false);
    EXPECT_TRUE(listener->calls.empty()) << "snapped: still shown at 1";
    model.magnify(1.03 / 1.02, centre, false);
    EXPECT_TRUE(listener->calls.empty());
    model.magnify(1.2 / 1.03, centre, false);
    ASSERT_EQ(listener->zooms.size(), 1u);
    EXPECT_NEAR(listener->zooms[0], 1.2, 1e-12);
    EXPECT_NEAR(listener->zooms[0], zoomOf(model), 0);
    model.magnify(1.0, centre, true);
    EXPECT_EQ(listener->zooms.size(), 1u) << "the end of the gesture changes nothing shown";
}

TEST_F(DisplayViewModelTest, GestureEndingDuringTheOtherFoldsWithoutMovingTheCanvas) {
    for (const bool magnifyEndsFirst : {true, false}) {
        model.restoreTransform(CGAffineTransform::makeTranslation(5, 5));
        model.magnify(1.02, {10, 10}, false);
        model.rotate(91.5, {30, 20}, false);
        const auto shown = model.transform();
        listener->calls.clear();
        if (magnifyEndsFirst) {
            model.magnify(1.0, {10, 10}, true);
            EXPECT_FALSE(model.snappedScaler().has_value());
            EXPECT_TRUE(model.snappedRotater().has_value()) << "the rotation goes on";
        } else {
            model.rotate(0, {30, 20}, true);
            EXPECT_FALSE(model.snappedRotater().has_value());
        }
        const auto after = model.transform();
        for (const CGPoint p : {CGPoint{0, 0}, CGPoint{100, 50}}) {
            EXPECT_NEAR(after.apply(p).x, shown.apply(p).x, 1e-9) << magnifyEndsFirst;
            EXPECT_NEAR(after.apply(p).y, shown.apply(p).y, 1e-9) << magnifyEndsFirst;
        }
        EXPECT_TRUE(listener->calls.empty());
        // The other gesture's end must not turn the canvas a second time.
        if (magnifyEndsFirst) {
            model.rotate(0, {30, 20}, true);
        } else {
            model.magnify(1.0, {10, 10}, true);
        }
        EXPECT_NEAR(angleOf(model), 90, 1e-9) << magnifyEndsFirst;
        EXPECT_NEAR(zoomOf(model), 1, 1e-12) << magnifyEndsFirst;
        EXPECT_FALSE(model.snappedScaler().has_value() || model.snappedRotater().has_value());
    }
}

TEST_F(DisplayViewModelTest, ReleasedListenerIsNotCalled) {
    listener = nullptr;
    model.magnify(2.0, centre, true);
    EXPECT_NEAR(zoomOf(model), 2.0, 1e-12);
}

} // namespace
