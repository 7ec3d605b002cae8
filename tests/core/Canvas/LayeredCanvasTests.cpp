#include "Canvas/FilledLayer.hpp"
#include "CanvasTestSupport.hpp"
#include "MetalExtensions/MTLGeometryCoding.hpp"
#include "coding/JSONDecoder.hpp"
#include "coding/JSONEncoder.hpp"

#include <gtest/gtest.h>
#include <set>

using namespace velmora;
using namespace velmora::testing;

namespace {

// A canvas with observers of its tree and of its active layer; the active
// layer observer writes into the same log, so the order shows.
struct Observed {
    std::shared_ptr<LayeredCanvas> canvas;
    std::shared_ptr<RecordingCanvasDelegate> delegate = std::make_shared<RecordingCanvasDelegate>();
    std::shared_ptr<void> token;

    explicit Observed(std::shared_ptr<LayeredCanvas> c) : canvas(std::move(c)) {
        canvas->delegates() += delegate;
        token = canvas->observeActiveLayer([log = delegate.get()](LayeredCanvas& canvas) {
            const auto active = canvas.activeLayer();
            log->calls.push_back("active " + (active ? active->name() : std::string("none")));
        });
    }
    std::vector<std::string> top() const { return names(canvas->immediateLayers()); }
};

} // namespace

TEST(LayeredCanvas, NewCanvasHasAnActiveBackground) {
    const auto canvas = LayeredCanvas::make({8000, 8000, 1});
    ASSERT_EQ(canvas->immediateLayers().size(), 1u);
    EXPECT_EQ(canvas->immediateLayers()[0]->name(), "Background");
    EXPECT_NE(std::dynamic_pointer_cast<RasterLayer>(canvas->immediateLayers()[0]), nullptr);
    EXPECT_EQ(canvas->activeLayer(), canvas->immediateLayers()[0]);
    EXPECT_EQ(canvas->size(), (MTLSize{8000, 8000, 1}));
}

TEST(LayeredCanvas, AcceptableSizes) {
    const std::pair<MTLSize, bool> cases[] = {
        {{1, 1, 1}, true},      {{8000, 8000, 1}, true}, {{640, 480, 1}, true},
        {{8001, 10, 1}, false}, {{10, 8001, 1}, false},  {{0, 10, 1}, false},
        {{10, 0, 1}, false},    {{10, 10, 0}, false},    {{10, 10, 2}, false},
        {{-1, 10, 1}, false},
    };
    for (const auto& [size, acceptable] : cases) {
        EXPECT_EQ(isAcceptableCanvasSize(size), acceptable) << description(size);
    }
}

TEST(LayeredCanvas, InsertTellsDelegatesBeforeActivating) {
    Observed o(canvasWith({}));
    o.delegate->calls.clear();
    o.canvas->insertLayer(raster("X"), {0});
    o.canvas->insertLayer(raster("Y"), {1});
    o.canvas->insertLayer(group("G", {}), {0});
    o.canvas->insertLayer(raster("Z"), {0, 0});
    EXPECT_EQ(o.delegate->calls, (std::vector<std::string>{
                                     "insert X at [0], active none",
                                     "active X",
                                     "insert Y at [1], active X",
                                     "insert G at [0], active X",
                                     "insert Z at [0, 0], active X",
                                 }));
    EXPECT_EQ(o.top(), (std::vector<std::string>{"G", "X", "Y"}));
    EXPECT_EQ(o.canvas->layer({0, 0})->name(), "Z");
}

TEST(LayeredCanvas, RemovalPassesTheActiveLayerOn) {
    const struct {
        const char* name;
        IndexPath removed;
        const char* active; // before the removal
        std::vector<std::string> calls;
    } cases[] = {
        {"top active", {2}, "Z", {"remove Z at [2], active Z", "active Y"}},
        {"bottom active", {0}, "X", {"remove X at [0], active X", "active Y"}},
        {"only child of a group", {1, 0}, "C", {"remove C at [1, 0], active C", "active Y"}},
        {"not active", {0}, "Z", {"remove X at [0], active Z"}},
        {"group holding the active layer", {1}, "C", {"remove Y at [1], active C", "active Z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // X, Y { C }, Z
        const auto inner = raster("C");
        Observed o(canvasWith({raster("X"), group("Y", {inner}), raster("Z")}));
        for (const auto& candidate : o.canvas->layerTree()->flattenedValues()) {
            if (candidate->name() == c.active) {
                o.canvas->setActiveLayer(candidate);
            }
        }
        o.delegate->calls.clear();
        o.canvas->removeLayer(c.removed);
        EXPECT_EQ(o.delegate->calls, c.calls);
    }
}

TEST(LayeredCanvas, RemovingTheOnlyLayersLeavesNoneActive) {
    Observed o(LayeredCanvas::make({64, 64, 1}));
    o.delegate->calls.clear();
    o.canvas->removeLayer({0});
    EXPECT_EQ(o.delegate->calls, (std::vector<std::string>{
                                     "remove Background at [0], active Background",
                                     "active none",
                                 }));
    EXPECT_TRUE(o.canvas->immediateLayers().empty());

    // The active child of a group: the emptied group becomes active.
    const auto child = raster("C");
    Observed g(canvasWith({raster("A"), group("G", {child})}));
    g.canvas->setActiveLayer(child);
    g.canvas->removeLayer({1, 0});
    EXPECT_EQ(g.canvas->activeLayer()->name(), "G");
}

TEST(LayeredCanvas, RemovedLayerLivesOnlyWhileSomebodyKeepsIt) {
    const auto canvas = canvasWith({raster("X"), raster("Y")});
    std::weak_ptr<Layer> removed = canvas->immediateLayers()[0];
    canvas->removeLayer({0});
    EXPECT_TRUE(removed.expired());
}

TEST(LayeredCanvas, MovesCountTheDestinationBeforeTheRemoval) {
    const struct {
        IndexPath from, to;
        std::vector<std::string> order;
    } cases[] = {
        {{0}, {2}, {"Y", "X", "Z"}},
        {{0}, {3}, {"Y", "Z", "X"}},
        {{2}, {0}, {"Z", "X", "Y"}},
        {{0}, {1}, {"X", "Y", "Z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from.description() + " to " + c.to.description());
        Observed o(canvasWith({raster("X"), raster("Y"), raster("Z")}));
        o.canvas->setActiveLayer(o.canvas->immediateLayers()[1]);
        o.delegate->calls.clear();
        o.canvas->moveLayer(c.from, c.to);
        EXPECT_EQ(o.top(), c.order);
        ASSERT_EQ(o.delegate->calls.size(), 1u) << "no active layer change";
        EXPECT_EQ(o.delegate->calls[0].substr(o.delegate->calls[0].find(" from ")),
                  " from " + c.from.description() + " to " + c.to.description() +
                      " in canvas -> canvas");
        EXPECT_EQ(o.canvas->activeLayer()->name(), "Y");
    }
}

TEST(LayeredCanvas, MovesBetweenContainers) {
    // X, Y, Z { A, B }: X into Z between A and B.
    Observed o(canvasWith({raster("X"), raster("Y"), group("Z", {raster("A"), raster("B")})}));
    o.canvas->moveLayer({0}, {2, 1});
    EXPECT_EQ(o.top(), (std::vector<std::string>{"Y", "Z"}));
    EXPECT_EQ(o.canvas->path(*o.canvas->layer({1, 1})), IndexPath({1, 1}));
    EXPECT_EQ(o.canvas->layer({1, 1})->name(), "X");
    EXPECT_EQ(o.delegate->calls.back(), "move X from [0] to [2, 1] in canvas -> Z");

    // And back out to the top.
    o.canvas->moveLayer({1, 1}, {2});
    EXPECT_EQ(o.top(), (std::vector<std::string>{"Y", "Z", "X"}));
    EXPECT_EQ(o.delegate->calls.back(), "move X from [1, 1] to [2] in Z -> canvas");
}

TEST(LayeredCanvasDeathTest, EditsThatCannotBeMadeStop) {
    const auto canvas = canvasWith({raster("X"), group("G", {raster("A")}), raster("Z")});
    EXPECT_DEATH(canvas->moveLayer({1}, {1}), "Internal inconcistency");
    // A group into itself or its own subtree would make a cycle.
    EXPECT_DEATH(canvas->moveLayer({1}, {1, 0}), "Internal inconcistency");
    EXPECT_DEATH(canvas->moveLayer({1}, {1, 1}), "Internal inconcistency");
    EXPECT_DEATH(canvas->insertLayer(canvas->layer({1}), {1, 0}), "Internal inconcistency");
    // Positions that do not exist.
    EXPECT_DEATH(canvas->insertLayer(raster("N"), {4}), "Internal inconcistency");
    EXPECT_DEATH(canvas->insertLayer(raster("N"), {0, 0}), "Internal inconcistency");
    EXPECT_DEATH(canvas->insertLayer(raster("N"), {-1}), "Internal inconcistency");
    EXPECT_DEATH(canvas->insertLayer(raster("N"), {}), "Internal inconcistency");
    EXPECT_DEATH(canvas->removeLayer({3}), "Internal inconcistency");
    EXPECT_DEATH(canvas->removeLayer({-1}), "Internal inconcistency");
    EXPECT_DEATH(canvas->removeLayer({}), "Internal inconcistency");
    EXPECT_DEATH(canvas->moveLayer({5}, {0}), "Internal inconcistency");
    EXPECT_DEATH(canvas->moveLayer({0}, {5}), "Internal inconcistency");
    EXPECT_DEATH(canvas->moveLayer({0}, {0, 0}), "Internal inconcistency");
    EXPECT_DEATH((void)(*canvas)[UUID()], "Internal inconcistency");
}

TEST(LayeredCanvas, LayerTreePutsANewWhiteLayerBelow) {
    const auto canvas = canvasWith({raster("A"), group("G", {raster("B")})});
    const auto tree = canvas->layerTree();
    EXPECT_EQ(tree->value->name(), "root");
    ASSERT_EQ(tree->children.size(), 3u);
    const auto white = std::dynamic_pointer_cast<FilledLayer>(tree->children[0]->value);
    ASSERT_NE(white, nullptr);
    EXPECT_EQ(white->name(), "Filled Layer");
    EXPECT_EQ(white->color(), CIColor::white());
    EXPECT_EQ(tree->children[2]->children[0]->value->name(), "B");
    EXPECT_EQ(canvas->immediateLayers().size(), 2u);
    EXPECT_NE(canvas->layerTree()->children[0]->value->uuid(), white->uuid());
}

TEST(LayeredCanvas, ActiveLayerIsWeakAndObservedOnEverySet) {
    auto canvas = canvasWith({raster("A")});
    int told = 0;
    auto token = canvas->observeActiveLayer([&](LayeredCanvas&) { ++told; });
    canvas->setActiveLayer(canvas->immediateLayers()[0]);
    canvas->setActiveLayer(canvas->immediateLayers()[0]);
    EXPECT_EQ(told, 2);
    canvas->immediateLayers().clear();
    EXPECT_EQ(canvas->activeLayer(), nullptr);
    token.reset();
    canvas->setActiveLayer(nullptr);
    EXPECT_EQ(told, 2);
}

TEST(LayeredCanvas, EqualityComparesSizeAndTree) {
    const auto a = raster("A");
    const auto g = group("G", {raster("B")});
    const auto one = canvasWith({a, g});
    const auto copy = decodeTree<std::shared_ptr<LayeredCanvas>>(encodeTree(one));
    EXPECT_TRUE(one->isEqual(*copy));
    EXPECT_EQ(one->hash(), copy->hash());
    copy->setActiveLayer(copy->immediateLayers()[0]);
    EXPECT_TRUE(one->isEqual(*copy)) << "the active layer takes no part";

    std::dynamic_pointer_cast<GroupLayer>(copy->immediateLayers()[1])
        ->immediateLayers()[0]
        ->setName("B'");
    EXPECT_FALSE(one->isEqual(*copy));

    auto resized = LayeredCanvas::make({65, 64, 1}, a);
    resized->immediateLayers().push_back(g);
    EXPECT_FALSE(one->isEqual(*resized));
    EXPECT_FALSE(one->isEqual(*canvasWith({a})));
}

TEST(LayeredCanvas, JSONRoundTrip) {
    const auto canvas = LayeredCanvas::make({640, 480, 1});
    canvas->insertLayer(group("G", {raster("B"), group("H", {})}), {1});
    canvas->layer({1})->setBlendMode(BlendMode::linearDodge);
    canvas->layer({1, 0})->setOpacity(0.25f);
    canvas->layer({1, 0})->setVisible(false);

    const std::string json = JSONEncoder().encode(canvas);
    EXPECT_EQ(json.find("{\"size\":{\"width\":640,\"height\":480,\"depth\":1},\"layers\":[{"), 0u)
        << json;
    const auto back = JSONDecoder().decode<std::shared_ptr<LayeredCanvas>>(json);
    EXPECT_TRUE(back->isEqual(*canvas));
    EXPECT_EQ(back->activeLayer(), nullptr);
    EXPECT_EQ(back->layer({1, 0})->opacity(), 0.25f);
    EXPECT_FALSE(back->layer({1, 0})->visible());
    EXPECT_EQ(JSONEncoder().encode(back), json);
}

TEST(LayeredCanvas, DecodingRefusesUnsupportedSizesBeforeReadingLayers) {
    const MTLSize sizes[] = {{9000, 10, 1}, {10, 9000, 1}, {0, 0, 1},
                             {10, 0, 1},    {10, 10, 2},   {10, 10, 0}};
    for (const MTLSize& size : sizes) {
        SCOPED_TRACE(description(size));
        CodedValue tree = encodeTree(canvasWith({raster("A")}));
        tree.dictionary()->set("size", encodeTree(size));
        tree.dictionary()->set("layers", CodedValue("not read"));
        try {
            decodeTree<std::shared_ptr<LayeredCanvas>>(tree);
            FAIL() << "decoded";
        } catch (const LayeredCanvas::DecodingError& error) {
            EXPECT_EQ(error.kind(), LayeredCanvas::DecodingError::Kind::unsupportedImageSize);
            EXPECT_EQ(error.currentSize(), size);
        }
    }
    CodedValue missing = encodeTree(canvasWith({}));
    missing.dictionary()->remove("layers");
    EXPECT_THROW(decodeTree<std::shared_ptr<LayeredCanvas>>(missing), DecodingError);
}

TEST(LayeredCanvas, DecodingMakesRepeatedIdentifiersUnique) {
    const auto a = raster("A");
    const auto canvas = canvasWith({a, group("G", {a, raster("B")}), a});
    const auto back = decodeTree<std::shared_ptr<LayeredCanvas>>(encodeTree(canvas));
    std::set<std::string> seen;
    const auto layers = back->layerTree()->flattenedValues();
    for (const auto& layer : layers) {
        EXPECT_TRUE(seen.insert(layer->uuid().uuidString()).second) << layer->name();
    }
    EXPECT_EQ(back->layer({0})->uuid(), a->uuid()) << "the first keeps its identifier";
    EXPECT_EQ(back->layer(a->uuid()), back->layer({0}));
}

TEST(LayeredCanvas, Descriptions) {
    const auto a = raster("A");
    const auto b = raster("B");
    const auto canvas = canvasWith({a, b});
    EXPECT_EQ(canvas->description(), "size: 64 x 64, layers: [\n\tA,\n\t B\n]");
    EXPECT_EQ(canvasWith({})->description(), "size: 64 x 64, layers: [\n\t\n]");
    EXPECT_EQ(canvas->debugDescription(), "size: 64 x 64, layers: [" + a->debugDescription() +
                                              ", " + b->debugDescription() + "]");
}
