#include "CanvasTestSupport.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

// Canvas: [0] A, [1] G { [1, 0] B, [1, 1] C, [1, 2] H { } }, [2] D.
struct Tree {
    std::shared_ptr<RasterLayer> a = raster("A"), b = raster("B"), c = raster("C"), d = raster("D");
    std::shared_ptr<GroupLayer> h = group("H", {});
    std::shared_ptr<GroupLayer> g = group("G", {b, c, h});
    std::shared_ptr<LayeredCanvas> canvas = canvasWith({a, g, d});
};

std::string nameOf(const std::shared_ptr<Layer>& layer) {
    return layer ? layer->name() : "none";
}

std::string nameOf(const std::shared_ptr<LayerContainer>& container, const Tree& t) {
    if (!container) {
        return "none";
    }
    if (container == t.canvas) {
        return "canvas";
    }
    return std::dynamic_pointer_cast<GroupLayer>(container)->name();
}

} // namespace

TEST(LayerContainer, AddressingByPath) {
    const Tree t;
    const struct {
        IndexPath path;
        const char* container;
        const char* layer;
    } cases[] = {
        {{}, "canvas", "none"},   {{0}, "canvas", "A"},        {{2}, "canvas", "D"},
        {{7}, "canvas", "none"},  {{-1}, "canvas", "none"},    {{1}, "canvas", "G"},
        {{1, 1}, "G", "C"},       {{1, 3}, "G", "none"},       {{1, -2}, "G", "none"},
        {{0, 0}, "none", "none"}, {{3, 0}, "none", "none"},    {{-1, 0}, "none", "none"},
        {{1, 2, 0}, "H", "none"}, {{1, 0, 0}, "none", "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.description());
        EXPECT_EQ(nameOf(t.canvas->container(c.path), t), c.container);
        EXPECT_EQ(nameOf(t.canvas->layer(c.path)), c.layer);
    }
    // A group addresses from itself.
    EXPECT_EQ(t.g->layer({2}), t.h);
    EXPECT_EQ(t.g->container({}), t.g);
}

TEST(LayerContainer, PathsOfLayersByIdentity) {
    const Tree t;
    EXPECT_EQ(t.canvas->path(*t.a), IndexPath({0}));
    EXPECT_EQ(t.canvas->path(*t.c), IndexPath({1, 1}));
    EXPECT_EQ(t.canvas->path(*t.h), IndexPath({1, 2}));
    EXPECT_EQ(t.g->path(*t.g), IndexPath());
    EXPECT_EQ(t.g->path(*t.c), IndexPath({1}));
    EXPECT_FALSE(t.canvas->path(*raster("A")).has_value());
    EXPECT_FALSE(t.g->path(*t.a).has_value());
}

TEST(LayerContainer, LayerByIdentifierAtAnyDepth) {
    const Tree t;
    EXPECT_EQ(t.canvas->layer(t.c->uuid()), t.c);
    EXPECT_EQ(t.canvas->layer(t.h->uuid()), t.h);
    EXPECT_EQ(t.canvas->layer(UUID()), nullptr);
    EXPECT_EQ((*t.canvas)[t.b->uuid()], t.b);
    // The transient root and white layer never match a remembered identifier.
    const auto root = t.canvas->layerTree()->value;
    EXPECT_EQ(t.canvas->layer(root->uuid()), nullptr);
}

TEST(LayerContainer, ClosestPath) {
    const auto three = canvasWith({raster("A"), raster("B"), raster("C")});
    const auto empty = canvasWith({});
    const auto inner = group("G", {raster("X"), raster("Y"), raster("Z")});
    const auto withGroup = canvasWith({raster("A"), inner});
    const auto withEmptyGroup = canvasWith({raster("A"), group("E", {})});
    const struct {
        const char* name;
        std::shared_ptr<LayeredCanvas> canvas;
        IndexPath path;
        std::optional<IndexPath> expected;
    } cases[] = {
        {"empty path", three, {}, std::nullopt},
        {"past the end", three, {5}, IndexPath{2}},
        {"existing", three, {1}, IndexPath{1}},
        {"negative", three, {-3}, IndexPath{0}},
        {"into a raster layer", three, {0, 4}, IndexPath{0}},
        {"no layers", empty, {0}, IndexPath{}},
        {"past the end of a group", withGroup, {1, 3}, IndexPath{1, 2}},
        {"the group itself", withGroup, {1}, IndexPath{1}},
        {"inside a group", withGroup, {1, 0}, IndexPath{1, 0}},
        {"an empty group", withEmptyGroup, {1, 0}, IndexPath{1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.canvas->closestPath(c.path), c.expected);
    }
    EXPECT_EQ(empty->layer(*empty->closestPath({0})), nullptr);
}
