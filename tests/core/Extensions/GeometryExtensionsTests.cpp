#include "Extensions/CGAffineTransformExtensions.hpp"
#include "Extensions/CGGeometryExtensions.hpp"
#include "Extensions/ClosedRangeExtensions.hpp"
#include "Extensions/NSRectEdgeExtensions.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <unordered_set>

using namespace velmora;

namespace {

void expectNear(CGPoint got, CGPoint expected, const char* what) {
    EXPECT_NEAR(got.x, expected.x, 1e-9) << what;
    EXPECT_NEAR(got.y, expected.y, 1e-9) << what;
}

bool isFinite(const CGAffineTransform& t) {
    for (double v : {t.a, t.b, t.c, t.d, t.tx, t.ty}) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

TEST(GeometryExtensions, SizesAndRectangles) {
    EXPECT_TRUE(contains(CGSize{10, 10}, CGSize{10, 5}));
    EXPECT_FALSE(contains(CGSize{10, 10}, CGSize{11, 1}));
    EXPECT_FALSE(contains(CGSize{10, 10}, CGSize{1, 10.5}));
    EXPECT_EQ(deflated(CGRect{{1, 2}, {10, 10}}, CGVector{2, 4}), (CGRect{{1, 2}, {8, 6}}));
    EXPECT_EQ(deflated(CGSize{10, 10}, CGVector{2, -4}), (CGSize{8, 14}));
    EXPECT_EQ(CGRect({{2, 4}, {6, 8}}) / 2, (CGRect{{1, 2}, {3, 4}}));
    EXPECT_EQ(ceiled(CGSize{1.01, -1.5}), (CGSize{2, -1}));
    EXPECT_EQ(max(CGSize{3, 7}), 7);
    EXPECT_EQ(max(CGSize{7, 3}), 7);
    EXPECT_EQ(CGSize(3, 4) * 2.0, CGSize(6, 8));
    EXPECT_EQ(CGSize(3, 4) / 2.0, CGSize(1.5, 2));
    EXPECT_EQ(makeCGRect(CGSize{5, 6}), (CGRect{{0, 0}, {5, 6}}));
    EXPECT_EQ(makeCGRect(4.0), (CGRect{{0, 0}, {4, 4}}));
    EXPECT_EQ(makeCGRect(MTLRegion{{-3, 4, 7}, {10, 20, 2}}), (CGRect{{-3, 4}, {10, 20}}));
    EXPECT_EQ(makeCGSize(MTLSize{640, 480, 3}), (CGSize{640, 480}));
    EXPECT_EQ(makeCGPoint(MTLOrigin{-1, 2, 9}), (CGPoint{-1, 2}));
    EXPECT_EQ(makeCGPoint(CGSize{3, 4}), (CGPoint{3, 4}));
}

TEST(GeometryExtensions, PointClampedIntoRectangle) {
    const struct {
        CGPoint p;
        CGRect rect;
        CGPoint expected;
    } cases[] = {
        {{-5, 50}, {{0, 0}, {10, 20}}, {0, 20}},
        {{5, 5}, {{0, 0}, {10, 20}}, {5, 5}},
        {{11, -1}, {{0, 0}, {10, 20}}, {10, 0}},
        {{5, 5}, {{10, 10}, {-4, -20}}, {6, 5}},
        {{0, 0}, deflated(CGRect{{0, 0}, {100, 50}}, CGVector{1, 1}), {0, 0}},
        {{200, 200}, deflated(CGRect{{0, 0}, {100, 50}}, CGVector{1, 1}), {99, 49}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clamped(c.p, c.rect), c.expected);
    }
}

TEST(GeometryExtensions, SizesHashByValueWithSignedZerosAlike) {
    std::unordered_set<CGSize> sizes{{1, 2}, {2, 1}, {1, 2}, {0.0, 3}, {-0.0, 3}};
    EXPECT_EQ(sizes.size(), 3u);
    EXPECT_EQ(std::hash<CGSize>{}({0.0, -0.0}), std::hash<CGSize>{}({-0.0, 0.0}));
}

TEST(GeometryExtensions, ClosedRangeClamp) {
    const ClosedRange<float> unit(0.0f, 1.0f);
    EXPECT_EQ(clamp(unit, -0.5f), 0.0f);
    EXPECT_EQ(clamp(unit, 0.25f), 0.25f);
    EXPECT_EQ(clamp(unit, 3.0f), 1.0f);
    EXPECT_EQ(clamp(ClosedRange<int>(1, 1000), 0), 1);
}

TEST(GeometryExtensions, RectEdges) {
    const struct {
        NSRectEdge edge;
        const char* text;
        CGPoint position;
    } cases[] = {
        {NSRectEdge::minX, "minX", {0, 0.5}},
        {NSRectEdge::minY, "minY", {0.5, 0}},
        {NSRectEdge::maxX, "maxX", {1, 0.5}},
        {NSRectEdge::maxY, "maxY", {0.5, 1}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(description(c.edge), c.text);
        EXPECT_EQ(normalizedPosition(c.edge), c.position);
    }
}

TEST(TransformExtensions, Decomposition) {
    const CGAffineTransform shear{3, 0, 4, 1, 7, -2};
    EXPECT_EQ(scaling(shear), (CGVector{5, 1}));
    EXPECT_EQ(translation(shear), (CGVector{7, -2}));
    const auto turned = CGAffineTransform::makeRotation(degreesToRadians(30)).scaledBy(2, 2);
    EXPECT_NEAR(rotationInDegrees(turned), 30, 1e-12);
    EXPECT_NEAR(scaling(turned).dx, 2, 1e-12);
    EXPECT_NEAR(rotationInDegrees(CGAffineTransform::makeRotation(-kPi / 2)), -90, 1e-12);
    EXPECT_EQ(translatedBy(shear, CGVector{1, 0}), shear.translatedBy(1, 0));
}

TEST(TransformExtensions, ScalingAndRotationAboutAPoint) {
    const CGPoint p{3, -2};
    const CGAffineTransform id = CGAffineTransform::identity();
    const CGAffineTransform moved = CGAffineTransform::makeTranslation(10, 0);
    const struct {
        const char* what;
        CGAffineTransform t;
        CGPoint in;
        CGPoint out;
    } cases[] = {
        {"scale keeps the centre", scaledBy(id, 2, p), p, p},
        {"scale doubles the distance", scaledBy(id, 2, p), {4, -2}, {5, -2}},
        {"rotation keeps the centre", rotated(id, 90, p), p, p},
        {"rotation turns counterclockwise", rotated(id, 90, p), {4, -2}, {3, -1}},
        {"the transform applies after", scaledBy(moved, 2, p), {4, -2}, {15, -2}},
        {"rotation then the transform", rotated(moved, 180, p), {4, -2}, {12, -2}},
    };
    for (const auto& c : cases) {
        expectNear(c.t.apply(c.in), c.out, c.what);
    }
}

TEST(TransformExtensions, AgnosticTranslation) {
    const CGVector v{4, 6};
    const struct {
        const char* what;
        CGAffineTransform t;
        CGVector expectedShift; // of the transform's translation
    } cases[] = {
        {"identity flips y", CGAffineTransform::identity(), {4, -6}},
        {"zoomed in, the view still moves by v",
         CGAffineTransform::makeScale(2, 2).translatedBy(5, 5),
         {4, -6}},
        {"unequal zoom", CGAffineTransform::makeScale(4, 0.5), {4, -6}},
        {"nothing left on x", CGAffineTransform::makeScale(0, 2), {0, -6}},
        {"nothing left at all", CGAffineTransform::makeScale(0, 0), {0, 0}},
        {"vanishingly small", CGAffineTransform::makeScale(1e-200, 1e-200), {4, -6}},
        {"rotated and zoomed", CGAffineTransform::makeRotation(kPi / 2).scaledBy(3, 3), {4, -6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CGAffineTransform out = translatedBy(c.t, v, true);
        ASSERT_TRUE(isFinite(out));
        EXPECT_EQ(out.a, c.t.a);
        EXPECT_EQ(out.d, c.t.d);
        EXPECT_NEAR(out.tx - c.t.tx, c.expectedShift.dx, 1e-9);
        EXPECT_NEAR(out.ty - c.t.ty, c.expectedShift.dy, 1e-9);
    }
    EXPECT_EQ(translatedBy(CGAffineTransform::makeScale(2, 2), v, false),
              CGAffineTransform::makeScale(2, 2).translatedBy(4, 6));
}

} // namespace
