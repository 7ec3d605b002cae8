#include "Canvas/FilledLayer.hpp"
#include "Canvas/LayerFamily.hpp"
#include "CanvasTestSupport.hpp"
#include "TypedCodable/FamilyDecoding.hpp"

#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::testing;

namespace {

std::shared_ptr<RegionLayer> regionLayer(std::string name, std::vector<MTLRegion> regions) {
    return std::make_shared<RegionLayer>(std::move(name), std::move(regions));
}

// The values of a tree in walk order, by name.
std::vector<std::string> walk(const LayerTree::Pointer& tree) {
    std::vector<std::string> result;
    for (const auto& layer : tree->flattenedValues()) {
        result.push_back(layer->name());
    }
    return result;
}

CodedValue& child(CodedValue& value, std::string_view key) {
    return *value.dictionary()->find(key);
}

} // namespace

TEST(GroupLayer, NewGroupIsEmpty) {
    const auto g = GroupLayer::make("G");
    EXPECT_TRUE(g->immediateLayers().empty());
    EXPECT_TRUE(g->regions().empty());
    EXPECT_EQ(g->boundingRect(), MTLRegion{});
    EXPECT_TRUE(g->image(makeMTLRegion(0, 0, 10, 10)).isEmpty());
    g->moveContents({3, 4, 0});
    const auto tree = g->layerTree();
    EXPECT_EQ(tree->value, g);
    EXPECT_TRUE(tree->children.empty());
}

TEST(GroupLayer, RegionsTreeAndMovesReachEveryDescendant) {
    const MTLRegion r1 = makeMTLRegion(0, 0, 4, 4), r2 = makeMTLRegion(10, 0, 2, 2),
                    r3 = makeMTLRegion(-5, 7, 3, 1);
    const auto first = regionLayer("first", {r1, r2});
    const auto innermost = regionLayer("innermost", {r3});
    const auto inner = group("inner", {innermost});
    const auto outer = group("outer", {first, inner});

    EXPECT_EQ(outer->regions(), (std::vector<MTLRegion>{r1, r2, r3}));
    EXPECT_EQ(outer->boundingRect(), makeMTLRegion(-5, 0, 17, 8));
    const auto tree = outer->layerTree();
    EXPECT_EQ(walk(tree), (std::vector<std::string>{"outer", "first", "inner", "innermost"}));
    EXPECT_EQ(tree->children[1]->children[0]->parent.lock(), tree->children[1]);
    EXPECT_NE(outer->layerTree(), tree) << "built anew on every call";

    outer->moveContents({5, -3, 0});
    EXPECT_EQ(innermost->regions(), (std::vector<MTLRegion>{translated(r3, {5, -3, 0})}));
    EXPECT_EQ(first->regions()[1], translated(r2, {5, -3, 0}));
}

TEST(FilledLayer, CoversTheLargestCanvasAndStaysPut) {
    const auto white = FilledLayer::make("Filled Layer", CIColor::white());
    const MTLRegion largest{{0, 0, 0}, {8000, 8000, 1}};
    EXPECT_EQ(white->regions(), std::vector<MTLRegion>{largest});
    white->moveContents({10, 10, 0});
    EXPECT_EQ(white->boundingRect(), largest);
    EXPECT_EQ(white->image(makeMTLRegion(0, 0, 1, 1)).extent(),
              (CGRect{{-4096, -4096}, {12096, 12096}}));
}

TEST(GroupLayer, DescriptionsListTheChildren) {
    EXPECT_EQ(group("G", {raster("A"), raster("B")})->description(), "G: [\n\tA,\n\tB\n]");
    EXPECT_EQ(group("G", {})->description(), "G: [\n\t\n]");
    const auto a = raster("A");
    const auto g = group("G", {a});
    EXPECT_EQ(g->debugDescription(), "<GroupLayer: G, " + g->uuid().uuidString() +
                                         ", sourceOver>: [" + a->debugDescription() + "]");
}

TEST(GroupLayer, CodingRoundTripKeepsChildrenAndTheirClasses) {
    const auto a = raster("A");
    const auto nested = group("N", {raster("C")});
    const auto g = group("G", {a, nested});
    g->setBlendMode(BlendMode::multiply);
    g->setVisible(false);
    g->setOpacity(0.5f);
    const auto back =
        decodeTree<std::shared_ptr<GroupLayer>>(encodeTree(std::static_pointer_cast<Layer>(g)));
    EXPECT_TRUE(back->isEqual(*g));
    EXPECT_EQ(back->uuid(), g->uuid());
    EXPECT_FALSE(back->visible());
    EXPECT_EQ(back->opacity(), 0.5f);
    ASSERT_EQ(back->immediateLayers().size(), 2u);
    EXPECT_NE(std::dynamic_pointer_cast<RasterLayer>(back->immediateLayers()[0]), nullptr);
    const auto backNested = std::dynamic_pointer_cast<GroupLayer>(back->immediateLayers()[1]);
    ASSERT_NE(backNested, nullptr);
    EXPECT_EQ(backNested->immediateLayers()[0]->name(), "C");
}

TEST(GroupLayer, DecodingFailures) {
    const auto g = group("G", {raster("A")});
    const auto encoded = encodeTree(std::static_pointer_cast<Layer>(g));
    const struct {
        const char* name;
        std::function<void(CodedValue&)> damage;
    } cases[] = {
        {"no layers", [](CodedValue& t) { t.dictionary()->remove("layers"); }},
        {"no opacity", [](CodedValue& t) { child(t, "super").dictionary()->remove("opacity"); }},
        {"unknown child type",
         [](CodedValue& t) {
             child((*child(t, "layers").array())[0], "type") = CodedValue("FilledLayer");
         }},
        {"child without type",
         [](CodedValue& t) { (*child(t, "layers").array())[0].dictionary()->remove("type"); }},
        {"layers not a list", [](CodedValue& t) { child(t, "layers") = CodedValue("A"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CodedValue tree = encoded;
        c.damage(tree);
        EXPECT_THROW(decodeTree<std::shared_ptr<GroupLayer>>(tree), DecodingError);
    }
}

TEST(GroupLayer, DecodingRefusesGroupsNestedTooDeeply) {
    const auto nestedGroups = [](int depth) {
        std::shared_ptr<GroupLayer> g = group("leaf", {});
        for (int i = 1; i < depth; ++i) {
            g = group("g", {g});
        }
        return encodeTree(std::static_pointer_cast<Layer>(g));
    };
    EXPECT_NO_THROW(
        decodeTree<std::shared_ptr<GroupLayer>>(nestedGroups(GroupLayer::maximumDecodingDepth)));
    try {
        decodeTree<std::shared_ptr<GroupLayer>>(nestedGroups(GroupLayer::maximumDecodingDepth + 1));
        FAIL() << "decoded";
    } catch (const DecodingError& error) {
        EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
    // The depth is per decoding: a failure leaves nothing behind.
    EXPECT_NO_THROW(decodeTree<std::shared_ptr<GroupLayer>>(nestedGroups(3)));
}

TEST(GroupLayer, EqualityComparesChildrenInOrder) {
    const auto a = raster("A");
    const auto b = raster("B");
    const auto g = group("G", {a, b});
    const auto copy =
        decodeTree<std::shared_ptr<GroupLayer>>(encodeTree(std::static_pointer_cast<Layer>(g)));
    EXPECT_TRUE(g->isEqual(*copy));
    EXPECT_EQ(g->hash(), copy->hash());

    copy->immediateLayers()[1]->setName("B'");
    EXPECT_FALSE(g->isEqual(*copy));
    copy->immediateLayers()[1]->setName("B");
    std::swap(copy->immediateLayers()[0], copy->immediateLayers()[1]);
    EXPECT_FALSE(g->isEqual(*copy));
    copy->immediateLayers().pop_back();
    EXPECT_FALSE(g->isEqual(*copy));
    // A raster layer with the group's identity is not the group.
    EXPECT_FALSE(g->isEqual(*a));
}
