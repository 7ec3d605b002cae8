#include "DrawingTestSupport.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace velmora;
using namespace velmora::testing;

namespace {

// The tree as names, groups in brackets: "A G[x y] B".
std::string shape(const LayerContainer& container) {
    std::string out;
    for (const auto& layer : container.immediateLayers()) {
        out += out.empty() ? "" : " ";
        out += layer->name();
        if (const auto group = asContainer(layer)) {
            out += "[" + shape(*group) + "]";
        }
    }
    return out;
}

// Background, then A, a group G holding x and y, and B, all raster but G.
struct LayerRig : DrawingRig {
    std::shared_ptr<RasterLayer> a = RasterLayer::make("A"), b = RasterLayer::make("B"),
                                 x = RasterLayer::make("x"), y = RasterLayer::make("y");
    std::shared_ptr<GroupLayer> g = GroupLayer::make("G");
    UndoManager& undo = *document->undoManager;

    LayerRig() {
        g->setImmediateLayers({x, y});
        canvas->insertLayer(a, {1});
        canvas->insertLayer(g, {2});
        canvas->insertLayer(b, {3});
        endTurn();
        undo.removeAllActions();
    }
};

} // namespace

TEST(DrawingControllerLayerEdits, MovesUndoToWhereTheyCameFrom) {
    struct Case {
        const char* name;
        IndexPath from, to;
        const char* moved;
    };
    const Case cases[] = {
        {"down among siblings", {3}, {1}, "Background B A G[x y]"},
        {"up among siblings", {1}, {4}, "Background G[x y] B A"},
        {"into a group above", {1}, {2, 1}, "Background G[x A y] B"},
        {"into a group below", {3}, {2, 0}, "Background A G[B x y]"},
        {"out of a group, above it", {2, 0}, {4}, "Background A G[y] B x"},
        {"out of a group, below it", {2, 1}, {1}, "Background y A G[x] B"},
        {"within a group", {2, 0}, {2, 2}, "Background A G[y x] B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LayerRig rig;
        const std::string start = shape(*rig.canvas);
        rig.canvas->moveLayer(c.from, c.to);
        endTurn();
        ASSERT_EQ(shape(*rig.canvas), c.moved);
        EXPECT_EQ(rig.undo.undoActionName(), "Move Layer");
        rig.undo.undo();
        EXPECT_EQ(shape(*rig.canvas), start);
        EXPECT_EQ(rig.undo.redoActionName(), "Move Layer");
        rig.undo.redo();
        EXPECT_EQ(shape(*rig.canvas), c.moved);
    }
}

TEST(DrawingControllerLayerEdits, InsertAndRemoveUndoWithSwappedNames) {
    LayerRig rig;
    const auto c = RasterLayer::make("C");
    rig.canvas->insertLayer(c, {2, 1});
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Add Layer");
    rig.undo.undo();
    EXPECT_EQ(shape(*rig.canvas), "Background A G[x y] B");
    EXPECT_EQ(rig.undo.redoActionName(), "Add Layer");
    rig.undo.redo();
    EXPECT_EQ(shape(*rig.canvas), "Background A G[x C y] B");

    // A painted layer comes back whole, with its settings and its strokes' entries.
    rig.canvas->setActiveLayer(rig.background);
    rig.background->setBlendMode(BlendMode::multiply);
    rig.background->setOpacity(0.25f);
    rig.background->setVisible(false);
    endTurn();
    const Pixels unpainted = layerPixels(*rig.background);
    rig.stroke(diagonal());
    rig.drawUntilIdle();
    const Pixels painted = layerPixels(*rig.background);
    const UUID id = rig.background->uuid();
    rig.canvas->removeLayer({0});
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Remove Layer");
    rig.undo.undo();
    EXPECT_EQ(rig.undo.redoActionName(), "Remove Layer");
    const auto back = std::dynamic_pointer_cast<RasterLayer>(rig.canvas->layer(IndexPath{0}));
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back, rig.background);
    EXPECT_EQ(back->uuid(), id);
    EXPECT_EQ(back->name(), "Background");
    EXPECT_EQ(back->blendMode(), BlendMode::multiply);
    EXPECT_EQ(back->opacity(), 0.25f);
    EXPECT_FALSE(back->visible());
    EXPECT_EQ(layerPixels(*back), painted);
    rig.undo.undo(); // the stroke, on the re-inserted layer
    rig.settle();
    EXPECT_EQ(layerPixels(*back), unpainted);
}

TEST(DrawingControllerLayerEdits, PropertyChangesUndoOneByOne) {
    LayerRig rig;
    rig.controller->setDelegate(nullptr); // nothing draws, so the dirty region stays
    struct Case {
        const char* name;
        std::function<void()> change;
        const char* action;
        std::function<bool()> isOriginal;
    };
    const auto& x = rig.x;
    const Case cases[] = {
        {"blend mode",
         [&] {
             x->setBlendMode(x->blendMode() == BlendMode::overlay ? BlendMode::multiply
                                                                  : BlendMode::overlay);
         },
         "Blend Mode Change", [&] { return x->blendMode() == BlendMode::normal; }},
        {"visibility", [&] { x->setVisible(!x->visible()); }, "Layer Visibility Change",
         [&] { return x->visible(); }},
        {"opacity", [&] { x->setOpacity(x->opacity() - 0.25f); }, "Layer Opacity Change",
         [&] { return x->opacity() == 1.0f; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.change();
        endTurn();
        c.change();
        endTurn();
        EXPECT_EQ(rig.undo.undoActionName(), c.action);
        rig.undo.undo();
        EXPECT_FALSE(c.isOriginal());
        EXPECT_EQ(rig.undo.redoActionName(), c.action);
        rig.undo.undo();
        EXPECT_TRUE(c.isOriginal());
        rig.undo.removeAllActions();
    }
}

TEST(DrawingControllerLayerEdits, APropertyChangeRecompositesOnlyTheLayer) {
    LayerRig rig;
    rig.controller->setDelegate(nullptr);
    auto bitmap = NSBitmapImageRep::makeRGBA8(6, 5, ColorManagement::workingNSColorSpace());
    const auto small = RasterLayer::make("Small", *bitmap);
    small->moveContents({20, 30, 0});
    rig.canvas->insertLayer(small, {1});
    rig.view->draw(); // composites everything, leaving nothing dirty
    rig.settle();
    small->setOpacity(0.5f);
    const MTLRegion dirty = rig.controller->renderedCanvas()->dirtyRect();
    EXPECT_EQ(dirty, small->boundingRect());
    EXPECT_EQ(dirty.size.width, 6);
}

TEST(DrawingControllerLayerEdits, LayersOfAGroupComeAndGoWithIt) {
    LayerRig rig;
    rig.canvas->removeLayer({2});
    endTurn();
    // The removed group's layers no longer answer to this controller.
    rig.x->setVisible(false);
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Remove Layer");

    rig.undo.undo();
    const auto group = asContainer(rig.canvas->layer(IndexPath{2}));
    ASSERT_NE(group, nullptr);
    const auto child = group->layer(IndexPath{0});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->uuid(), rig.x->uuid());
    rig.undo.removeAllActions();
    child->setVisible(!child->visible());
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Layer Visibility Change");
    const bool toggled = child->visible();
    rig.undo.undo();
    EXPECT_NE(child->visible(), toggled);

    // A group inserted anew brings its layers along too.
    const auto inner = RasterLayer::make("inner");
    const auto fresh = GroupLayer::make("Fresh");
    fresh->setImmediateLayers({inner});
    rig.canvas->insertLayer(fresh, {1});
    endTurn();
    rig.undo.removeAllActions();
    inner->setBlendMode(BlendMode::linearBurn);
    endTurn();
    EXPECT_EQ(rig.undo.undoActionName(), "Blend Mode Change");
}
