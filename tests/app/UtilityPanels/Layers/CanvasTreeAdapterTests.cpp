#include "LayersTestSupport.hpp"
#include "UtilityPanels/Layers/CanvasTreeAdapter.hpp"
#include "UtilityPanels/Layers/IndexPathCoding.hpp"

#include <QAbstractItemModelTester>
#include <QTreeView>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using testing::LayerTreeFixture;
using testing::modelShape;
using testing::outlineShape;

struct AdapterRig : LayerTreeFixture {
    std::shared_ptr<CanvasTreeAdapter> adapter = CanvasTreeAdapter::make(canvas);
    LayerTreeController& tree = adapter->treeController();
    QAbstractItemModelTester tester{&tree, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST(CanvasTreeAdapter, ShowsEveryContainerLastLayerFirst) {
    AdapterRig rig;
    EXPECT_EQ(outlineShape(rig.tree), "B G[y x] A Background");
    EXPECT_EQ(rig.adapter->arrangedIndexPath({2, 0}), IndexPath({1, 1}));
    EXPECT_EQ(rig.adapter->arrangedIndexPath({0}), IndexPath({3}));
    EXPECT_EQ(rig.tree.indexPath(*rig.x), IndexPath({1, 1}));
    EXPECT_EQ(rig.tree.descendantNode({1, 0})->layer, rig.y);
    EXPECT_EQ(rig.tree.descendantNode({4}), nullptr);
}

TEST(CanvasTreeAdapter, InsertionsLandWhereTheOrderRuleSays) {
    AdapterRig rig;
    const auto c = RasterLayer::make("C");
    rig.canvas->insertLayer(c, {4});
    EXPECT_EQ(rig.tree.indexPath(*c), IndexPath({0}));
    rig.canvas->insertLayer(RasterLayer::make("z"), {2, 2});
    const auto inner = GroupLayer::make("H");
    inner->setImmediateLayers({RasterLayer::make("h1"), RasterLayer::make("h2")});
    rig.canvas->insertLayer(inner, {0});
    EXPECT_EQ(outlineShape(rig.tree), "C B G[z y x] A Background H[h2 h1]");
    rig.canvas->removeLayer({3, 1});
    rig.canvas->removeLayer({0});
    EXPECT_EQ(outlineShape(rig.tree), "C B G[z x] A Background");
}

TEST(CanvasTreeAdapter, MovesLeaveTheTreeAsAFreshAdapterBuildsIt) {
    struct Case {
        const char* name;
        IndexPath from, to;
        const char* moved;
    };
    const Case cases[] = {
        {"top row to the bottom of its container", {3}, {0}, "B Background A G[x y]"},
        {"into a group below", {3}, {2, 0}, "Background A G[B x y]"},
        {"into a group above", {1}, {2, 2}, "Background G[x y A] B"},
        {"out of a group, to the top", {2, 0}, {4}, "Background A G[y] B x"},
        {"out of a group, to the bottom", {2, 1}, {0}, "y Background A G[x] B"},
        {"within a group", {2, 0}, {2, 2}, "Background A G[y x] B"},
        {"a group up", {2}, {4}, "Background A B G[x y]"},
        {"in place", {1}, {2}, "Background A G[x y] B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AdapterRig rig;
        const auto moved = rig.canvas->layer(c.from);
        rig.canvas->setActiveLayer(moved);
        if (c.from != c.to) {
            rig.canvas->moveLayer(c.from, c.to);
        }
        ASSERT_EQ(modelShape(*rig.canvas), c.moved);
        const auto fresh = CanvasTreeAdapter::make(rig.canvas);
        EXPECT_EQ(outlineShape(rig.tree), outlineShape(fresh->treeController()));
        EXPECT_EQ(rig.tree.selectedLayer(), moved) << "the selection goes with the node";
    }
}

TEST(CanvasTreeAdapter, TheActiveLayerIsTheSelection) {
    AdapterRig rig;
    QTreeView view;
    view.setModel(&rig.tree);
    view.setSelectionModel(rig.tree.selectionModel());
    view.collapseAll();
    EXPECT_EQ(rig.tree.selectedLayer(), rig.background) << "the initial value";
    rig.canvas->setActiveLayer(rig.x);
    EXPECT_EQ(rig.tree.selectionIndexPath(), IndexPath({1, 1}));
    EXPECT_EQ(rig.tree.selectedLayer(), rig.x);
    rig.canvas->setActiveLayer(nullptr);
    EXPECT_EQ(rig.tree.selectionIndexPath(), std::nullopt);
    EXPECT_EQ(rig.tree.selectedLayer(), nullptr);

    const std::weak_ptr<CanvasTreeAdapter> gone = rig.adapter;
    rig.adapter.reset();
    EXPECT_TRUE(gone.expired());
    EXPECT_TRUE(rig.canvas->delegates().isEmpty());
}

TEST(IndexPathCoding, IsAJSONListOfIntegers) {
    const auto data = encodeIndexPathJSON({2, 0});
    EXPECT_EQ(std::string(data.begin(), data.end()), "[2,0]");
    EXPECT_EQ(decodeIndexPathJSON(data), IndexPath({2, 0}));
    EXPECT_EQ(decodeIndexPathJSON(encodeIndexPathJSON({})), IndexPath());
    for (const std::string bad : {"", "{}", "[1.5]", "[\"1\"]", "[[1]]", "2", "[1,"}) {
        const std::vector<std::uint8_t> bytes(bad.begin(), bad.end());
        EXPECT_EQ(decodeIndexPathJSON(bytes), std::nullopt) << bad;
    }
}

} // namespace
} // namespace velmora
