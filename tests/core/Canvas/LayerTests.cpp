#include "Canvas/LayerFamily.hpp"
#include "CanvasTestSupport.hpp"
#include "coding/JSONEncoder.hpp"
#include "imaging/CIContext.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace velmora;
using namespace velmora::testing;

namespace {

class RecordingLayerDelegate : public LayerDelegate {
public:
    std::vector<std::string> calls;

    void layerDidChangeBlendMode(const std::shared_ptr<Layer>& layer, BlendMode from,
                                 BlendMode to) override {
        calls.push_back("blend " + std::string(rawValue(from)) + " -> " +
                        std::string(rawValue(to)) + " sees " +
                        std::string(rawValue(layer->blendMode())));
    }
    void layerDidChangeVisibility(const std::shared_ptr<Layer>& layer) override {
        calls.push_back(std::string("visible ") + (layer->visible() ? "true" : "false"));
    }
    void layerDidChangeOpacity(const std::shared_ptr<Layer>& layer, float from, float to) override {
        calls.push_back("opacity " + std::to_string(from) + " -> " + std::to_string(to) + " sees " +
                        std::to_string(layer->opacity()));
    }
    void layerDidChangeName(const std::shared_ptr<Layer>& layer, const std::string& from,
                            const std::string& to) override {
        calls.push_back("name " + from + " -> " + to + " sees " + layer->name());
    }
};

CodedDictionary& superOf(CodedValue& tree) {
    return *tree.dictionary()->find("super")->dictionary();
}

} // namespace

TEST(BlendMode, RawValuesAreTheStoredTextAndNothingElseReads) {
    const std::pair<BlendMode, const char*> modes[] = {
        {BlendMode::sourceOver, "sourceOver"},   {BlendMode::multiply, "multiply"},
        {BlendMode::overlay, "overlay"},         {BlendMode::linearBurn, "linearBurn"},
        {BlendMode::linearDodge, "linearDodge"}, {BlendMode::eraser, "eraser"},
    };
    for (const auto& [mode, text] : modes) {
        EXPECT_EQ(rawValue(mode), text);
        EXPECT_EQ(blendModeFromRawValue(text), mode);
        EXPECT_EQ(decodeTree<BlendMode>(encodeTree(mode)), mode);
    }
    EXPECT_EQ(BlendMode::normal, BlendMode::sourceOver);
    for (const char* other : {"screen", "SourceOver", "normal", "", "multiply "}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(blendModeFromRawValue(other).has_value());
        EXPECT_THROW(decodeTree<BlendMode>(CodedValue(other)), DecodingError);
    }
}

TEST(LayerFamily, ReadsOnlyTheStoredClassNames) {
    EXPECT_EQ(LayerFamily::fromRawValue("RasterLayer"),
              LayerFamily{LayerFamily::Case::rasterLayer});
    EXPECT_EQ(LayerFamily::fromRawValue("GroupLayer"), LayerFamily{LayerFamily::Case::groupLayer});
    for (const char* other : {"FilledLayer", "Layer", "rasterlayer", "groupLayer"}) {
        EXPECT_FALSE(LayerFamily::fromRawValue(other).has_value()) << other;
    }
}

TEST(Layer, NewLayerDefaults) {
    const auto layer = raster("A");
    EXPECT_EQ(layer->name(), "A");
    EXPECT_EQ(layer->blendMode(), BlendMode::sourceOver);
    EXPECT_TRUE(layer->visible());
    EXPECT_EQ(layer->opacity(), 1.0f);
    EXPECT_NE(layer->uuid(), raster("A")->uuid());
}

TEST(Layer, NotifiesOnlyRealChangesWithTheNewValueStored) {
    const auto layer = raster("A");
    const auto first = std::make_shared<RecordingLayerDelegate>();
    const auto second = std::make_shared<RecordingLayerDelegate>();
    layer->delegates() += first;
    layer->delegates() += second;

    layer->setBlendMode(BlendMode::sourceOver);
    layer->setVisible(true);
    layer->setOpacity(1.0f);
    layer->setName("A");
    EXPECT_TRUE(first->calls.empty());

    layer->setOpacity(0.5f);
    layer->setName("renamed");
    layer->setBlendMode(BlendMode::multiply);
    layer->setVisible(false);
    layer->setVisible(true);
    layer->setOpacity(0.0f);
    const std::vector<std::string> expected{
        "opacity 1.000000 -> 0.500000 sees 0.500000",
        "name A -> renamed sees renamed",
        "blend sourceOver -> multiply sees multiply",
        "visible false",
        "visible true",
        "opacity 0.500000 -> 0.000000 sees 0.000000",
    };
    EXPECT_EQ(first->calls, expected);
    EXPECT_EQ(second->calls, expected);
}

TEST(Layer, ReleasedSubscribersDropOut) {
    const auto layer = raster("A");
    auto subscriber = std::make_shared<RecordingLayerDelegate>();
    layer->delegates() += subscriber;
    const std::weak_ptr<RecordingLayerDelegate> weak = subscriber;
    subscriber.reset();
    EXPECT_TRUE(weak.expired());
    layer->setVisible(false);
    EXPECT_TRUE(layer->delegates().isEmpty());
}

TEST(Layer, ApplyingAlpha) {
    const CIImage red = CIImage(CIColor{1, 0, 0, 1}).cropped({{0, 0}, {2, 2}});
    const auto layer = raster("A");
    EXPECT_EQ(layer->applyingAlpha(red), red);

    layer->setOpacity(0.3f);
    layer->setVisible(false);
    EXPECT_TRUE(layer->applyingAlpha(red).isEmpty());

    layer->setVisible(true);
    const CIContext context;
    for (const float opacity : {0.0f, 0.5f}) {
        layer->setOpacity(opacity);
        const CIImage faded = layer->applyingAlpha(red);
        ASSERT_FALSE(faded.isEmpty());
        const auto pixels = context.renderBitmap(faded, {{0, 0}, {1, 1}}, CIFormat::RGBA8);
        ASSERT_EQ(pixels.size(), 4u);
        EXPECT_EQ(pixels[3], std::lround(opacity * 255)) << opacity;
        EXPECT_EQ(pixels[0], std::lround(opacity * 255)) << "premultiplied red";
    }
    // An image made earlier keeps its own opacity once the filter is reused.
    layer->setOpacity(0.5f);
    const CIImage half = layer->applyingAlpha(red);
    layer->setOpacity(0.2f);
    (void)layer->applyingAlpha(red);
    EXPECT_EQ(context.renderBitmap(half, {{0, 0}, {1, 1}}, CIFormat::RGBA8)[3], 128);
}

TEST(Layer, BoundingRectFoldsTheNonEmptyRegions) {
    const struct {
        const char* name;
        std::vector<MTLRegion> regions;
        MTLRegion expected;
    } cases[] = {
        {"none", {}, MTLRegion{}},
        {"two",
         {makeMTLRegion(10, 10, 20, 20), makeMTLRegion(100, 50, 5, 5)},
         makeMTLRegion(10, 10, 95, 45)},
        {"an empty one changes nothing",
         {makeMTLRegion(10, 10, 20, 20), makeMTLRegion(-500, -500, 0, 7),
          makeMTLRegion(100, 50, 5, 5)},
         makeMTLRegion(10, 10, 95, 45)},
        {"only empty ones", {makeMTLRegion(3, 3, 0, 0)}, MTLRegion{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto layer = std::make_shared<RegionLayer>("R", c.regions);
        EXPECT_EQ(layer->boundingRect(), c.expected);
    }
}

TEST(Layer, EqualityIgnoresVisibilityAndOpacity) {
    const auto a = raster("A");
    a->setOpacity(0.25f);
    CodedValue tree = encodeTree(std::static_pointer_cast<Layer>(a));
    const auto b = decodeTree<std::shared_ptr<RasterLayer>>(tree);
    b->setVisible(false);
    b->setOpacity(0.75f);
    EXPECT_TRUE(a->isEqual(*b));
    EXPECT_EQ(a->hash(), b->hash());
    b->setName("B");
    EXPECT_FALSE(a->isEqual(*b));
    const auto c = decodeTree<std::shared_ptr<RasterLayer>>(tree);
    c->setBlendMode(BlendMode::eraser);
    EXPECT_FALSE(a->isEqual(*c));
    EXPECT_FALSE(a->isEqual(*raster("A")));
}

TEST(Layer, DescriptionsNameTheClassAndBlendMode) {
    const auto layer = raster("Ink");
    layer->setBlendMode(BlendMode::linearBurn);
    EXPECT_EQ(layer->description(), "Ink");
    EXPECT_EQ(layer->debugDescription(),
              "<RasterLayer: Ink, " + layer->uuid().uuidString() + ", linearBurn>");
}

TEST(Layer, BaseKeysSitUnderSuperInOrder) {
    const auto layer = raster("A");
    layer->setOpacity(0.5f);
    layer->setBlendMode(BlendMode::overlay);
    CodedValue tree = encodeTree(std::static_pointer_cast<Layer>(layer));
    std::vector<std::string> keys;
    for (const auto& [key, value] : *tree.dictionary()) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"type", "super", "patches"}));
    EXPECT_EQ(*tree.dictionary()->find("type")->text(), "RasterLayer");
    keys.clear();
    for (const auto& [key, value] : superOf(tree)) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"uuid", "name", "blendMode", "visible", "opacity"}));
    EXPECT_EQ(*superOf(tree).find("uuid")->text(), layer->uuid().uuidString());
    EXPECT_EQ(*superOf(tree).find("blendMode")->text(), "overlay");

    const auto back = decodeTree<std::shared_ptr<RasterLayer>>(tree);
    EXPECT_EQ(back->uuid(), layer->uuid());
    EXPECT_EQ(back->blendMode(), BlendMode::overlay);
    EXPECT_EQ(back->opacity(), 0.5f);
}

TEST(Layer, DecodingFailsForDamagedBaseKeys) {
    const auto layer = raster("A");
    const struct {
        const char* name;
        const char* key;
        std::optional<CodedValue> value; // none removes the key
    } cases[] = {
        {"unknown blend mode", "blendMode", CodedValue("screen")},
        {"missing opacity", "opacity", std::nullopt},
        {"missing uuid", "uuid", std::nullopt},
        {"malformed uuid", "uuid", CodedValue("not-a-uuid")},
        {"visible as text", "visible", CodedValue("yes")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CodedValue tree = encodeTree(std::static_pointer_cast<Layer>(layer));
        if (c.value) {
            superOf(tree).set(c.key, *c.value);
        } else {
            superOf(tree).remove(c.key);
        }
        EXPECT_THROW(decodeTree<std::shared_ptr<RasterLayer>>(tree), DecodingError);
    }
}

TEST(Layer, DecodedOpacityIsClampedIntoTheUnitRange) {
    const auto layer = raster("A");
    const std::pair<float, float> cases[] = {
        {2.0f, 1.0f},
        {-3.0f, 0.0f},
        {std::numeric_limits<float>::quiet_NaN(), 1.0f},
        {std::numeric_limits<float>::infinity(), 1.0f},
        {0.25f, 0.25f},
    };
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(stored);
        CodedValue tree = encodeTree(std::static_pointer_cast<Layer>(layer));
        superOf(tree).set("opacity", CodedValue(stored));
        const auto back = decodeTree<std::shared_ptr<RasterLayer>>(tree);
        EXPECT_EQ(back->opacity(), expected);
        back->setOpacity(0.5f); // a later setter works from a sound value
    }
}
