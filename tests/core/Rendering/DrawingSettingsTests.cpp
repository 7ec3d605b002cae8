#include "Rendering/DrawingSettings.hpp"
#include "coding/BinaryPropertyListDefaultsFormat.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "foundation/UserDefaults.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace velmora;
using Tool = DrawingSettings::Tool;

namespace {

class Recorder final : public DrawingSettingsDelegate {
public:
    std::vector<std::string> events;

    void drawingSettingsWillChangeActiveBrush(DrawingSettings& settings,
                                              const Brush& brush) override {
        events.push_back("will " + brush.name + " live " + settings.liveBrush().name);
    }
    void drawingSettingsDidChangeActiveBrush(DrawingSettings& settings,
                                             const Brush& brush) override {
        events.push_back("did " + brush.name + " live " + settings.liveBrush().name);
    }
    void drawingSettingsDidUpdateActiveTool(DrawingSettings&, DrawingTool tool) override {
        events.push_back("tool " + std::string(name(tool)));
    }
};

Brush named(const std::string& name, std::uint64_t stabilization = 0) {
    Brush brush;
    brush.name = name;
    brush.stabilization = stabilization;
    return brush;
}

class DrawingSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("velmora-settings-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(folder_);
        defaults_ = std::make_unique<UserDefaults>(folder_);
    }
    void TearDown() override {
        defaults_.reset();
        std::filesystem::remove_all(folder_);
    }
    // A second store over the same folder, as after a restart.
    std::unique_ptr<UserDefaults> reopened() const {
        return std::make_unique<UserDefaults>(folder_);
    }

    std::filesystem::path folder_;
    std::unique_ptr<UserDefaults> defaults_;
};

} // namespace

TEST_F(DrawingSettingsTest, StartsWithFreshDefaultBrushesForEveryTool) {
    DrawingSettings settings(*defaults_);
    EXPECT_EQ(settings.currentTool(), Tool::brush);
    EXPECT_FALSE(settings.usingStylusEraser());
    EXPECT_EQ(*settings.color, *DrawingSettings::defaultColor());
    EXPECT_EQ(*DrawingSettings::defaultColor(), *NSColor::cyanColor());
    for (Tool tool : {Tool::brush, Tool::eraser, Tool::move}) {
        settings.setPersistentTool(tool);
        EXPECT_EQ(settings.baseBrush().name, "Unnamed brush");
        EXPECT_EQ(settings.liveBrush().name, "Unnamed brush");
        EXPECT_NE(settings.baseBrush(), settings.baseBrush()) << "each read is a new brush";
        EXPECT_NE(settings.liveBrush(), settings.liveBrush());
    }
}

TEST_F(DrawingSettingsTest, ToolValues) {
    EXPECT_EQ(drawingToolFromRawValue(0), Tool::brush);
    EXPECT_EQ(drawingToolFromRawValue(1), Tool::eraser);
    EXPECT_EQ(drawingToolFromRawValue(2), Tool::move);
    EXPECT_FALSE(drawingToolFromRawValue(3).has_value());
    EXPECT_FALSE(drawingToolFromRawValue(-1).has_value());
    EXPECT_EQ(name(Tool::eraser), "Eraser");
    EXPECT_EQ(name(Tool::move), "Move");
    EXPECT_TRUE(hasDrawingSettings(Tool::brush));
    EXPECT_TRUE(hasDrawingSettings(Tool::eraser));
    EXPECT_FALSE(hasDrawingSettings(Tool::move));
    EXPECT_EQ(ValueDecoder().decode<DrawingTool>(CodedValue(1)), Tool::eraser);
    EXPECT_THROW(ValueDecoder().decode<DrawingTool>(CodedValue(3)), DecodingError);
}

TEST_F(DrawingSettingsTest, BrushChangesComeInPairsWithTheLiveBrushAsItReads) {
    DrawingSettings settings(*defaults_);
    auto recorder = std::make_shared<Recorder>();
    settings.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(recorder);

    settings.setBaseBrush(named("Base"));
    settings.setLiveBrush(named("Live"));
    settings.modifyLiveBrush([](Brush& b) { b.name = "Live 2"; });
    settings.setBaseBrush(named("Base 2"));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{
                                    "will Unnamed brush live Unnamed brush",
                                    "did Base live Base",
                                    "will Base live Base",
                                    "did Live live Live",
                                    "will Live live Live",
                                    "did Live 2 live Live 2",
                                    // The live brush is dropped before the pair.
                                    "will Base live Base",
                                    "did Base 2 live Base 2",
                                }));
    EXPECT_EQ(settings.liveBrush().name, "Base 2") << "a new base brush discards the live one";
}

TEST_F(DrawingSettingsTest, TheStylusEraserRedirectsBrushesToTheEraser) {
    DrawingSettings settings(*defaults_);
    settings.setLiveBrush(named("Pen"));
    settings.setUsingStylusEraser(true);
    EXPECT_EQ(settings.currentTool(), Tool::eraser);
    settings.setLiveBrush(named("Rubber"));
    EXPECT_EQ(settings.liveBrush().name, "Rubber");
    settings.setUsingStylusEraser(false);
    EXPECT_EQ(settings.liveBrush().name, "Pen");
    settings.setPersistentTool(Tool::eraser);
    EXPECT_EQ(settings.liveBrush().name, "Rubber");
}

TEST_F(DrawingSettingsTest, ToolNotificationsOnlyWhenTheEffectiveToolChanges) {
    struct Step {
        std::function<void(DrawingSettings&)> change;
        std::vector<std::string> expected;
    };
    const Step steps[] = {
        {[](DrawingSettings& s) { s.setUsingStylusEraser(true); }, {"tool Eraser"}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(true); }, {}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(false); }, {"tool Brush"}},
        {[](DrawingSettings& s) { s.setPersistentTool(Tool::brush); }, {}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(true); }, {"tool Eraser"}},
        {[](DrawingSettings& s) { s.setPersistentTool(Tool::move); }, {"tool Move"}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(false); }, {}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(true); }, {}},
        {[](DrawingSettings& s) { s.setPersistentTool(Tool::eraser); }, {"tool Eraser"}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(false); }, {}},
        // Brush chosen with the eraser end in use: still the eraser.
        {[](DrawingSettings& s) { s.setUsingStylusEraser(true); }, {}},
        {[](DrawingSettings& s) { s.setPersistentTool(Tool::brush); }, {}},
        {[](DrawingSettings& s) { s.setUsingStylusEraser(false); }, {"tool Brush"}},
    };
    DrawingSettings settings(*defaults_);
    auto recorder = std::make_shared<Recorder>();
    settings.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(recorder);
    int index = 0;
    for (const Step& step : steps) {
        recorder->events.clear();
        step.change(settings);
        EXPECT_EQ(recorder->events, step.expected) << "step " << index;
        ++index;
    }
}

TEST_F(DrawingSettingsTest, ReleasedDelegatesDropOut) {
    DrawingSettings settings(*defaults_);
    auto recorder = std::make_shared<Recorder>();
    settings.delegates += std::static_pointer_cast<DrawingSettingsDelegate>(recorder);
    recorder.reset();
    settings.setLiveBrush(named("x"));
    EXPECT_TRUE(settings.delegates.isEmpty());
}

TEST_F(DrawingSettingsTest, SavedBaseBrushesComeBackAfterARestart) {
    Brush pen = named("Pen", 7), rubber = named("Rubber");
    pen.size = 12.5f;
    pen.sizeDependsOnPressure = true;
    {
        DrawingSettings settings(*defaults_);
        settings.setBaseBrush(pen);
        settings.setPersistentTool(Tool::eraser);
        settings.setBaseBrush(rubber);
        settings.setLiveBrush(named("Adjusted"));
        settings.color = NSColor::colorWithSRGBRed(1, 0, 0, 1);
        settings.save();
        ASSERT_TRUE(defaults_->synchronize());
    }
    const auto store = reopened();
    DrawingSettings restored(*store);
    EXPECT_EQ(restored.currentTool(), Tool::brush);
    EXPECT_EQ(restored.baseBrush(), pen);
    EXPECT_EQ(restored.liveBrush(), pen);
    restored.setPersistentTool(Tool::eraser);
    EXPECT_EQ(restored.baseBrush(), rubber);
    EXPECT_EQ(restored.liveBrush(), rubber) << "live brushes are not saved";
    restored.setPersistentTool(Tool::move);
    EXPECT_NE(restored.baseBrush(), restored.baseBrush()) << "the move tool had none";
    EXPECT_EQ(*restored.color, *DrawingSettings::defaultColor());
}

TEST_F(DrawingSettingsTest, DamagedStoredValueStartsFromDefaultsAndIsKeptAside) {
    const std::vector<std::uint8_t> garbage = {'b', 'p', 'l', 'i', 's', 't', '0', '0', 1, 2, 3};
    const DefaultsValue damaged[] = {DefaultsValue(garbage), DefaultsValue("not data"),
                                     DefaultsValue(std::vector<std::uint8_t>{})};
    for (const DefaultsValue& value : damaged) {
        defaults_->removeObjectForKey(DrawingSettings::damagedDefaultsKey);
        defaults_->set(value, DrawingSettings::defaultsKey);
        DrawingSettings settings(*defaults_);
        EXPECT_EQ(settings.baseBrush().name, "Unnamed brush");
        ASSERT_TRUE(defaults_->objectForKey(DrawingSettings::damagedDefaultsKey).has_value());
        EXPECT_TRUE(*defaults_->objectForKey(DrawingSettings::damagedDefaultsKey) == value);
        settings.setBaseBrush(named("New"));
        settings.save();
        EXPECT_TRUE(*defaults_->objectForKey(DrawingSettings::damagedDefaultsKey) == value)
            << "the next save leaves the damaged value alone";
        EXPECT_EQ(DrawingSettings(*defaults_).baseBrush().name, "New");
    }
}

TEST_F(DrawingSettingsTest, UndecodableBaseBrushesAreKeptAside) {
    struct BadList {
        void encode(Encoder& encoder) const {
            UnkeyedEncodingContainer list = encoder.unkeyedContainer();
            list.encode(std::int64_t(3)); // no such tool
            list.encode(named("Ghost"));
        }
    };
    KeyedArchiver archiver(true);
    archiver.encodeEncodable(BadList{}, "BaseBrushes");
    const std::vector<std::uint8_t> data = archiver.encodedData();
    defaults_->set(data, DrawingSettings::defaultsKey);
    DrawingSettings settings(*defaults_);
    EXPECT_EQ(settings.baseBrush().name, "Unnamed brush");
    EXPECT_TRUE(defaults_->dataForKey(DrawingSettings::damagedDefaultsKey) == data);
}

TEST_F(DrawingSettingsTest, AnArchiveWithoutBaseBrushesStartsEmptyQuietly) {
    KeyedArchiver archiver(true);
    archiver.encode(true, "Something");
    defaults_->set(archiver.encodedData(), DrawingSettings::defaultsKey);
    DrawingSettings settings(*defaults_);
    EXPECT_EQ(settings.baseBrush().name, "Unnamed brush");
    EXPECT_FALSE(defaults_->objectForKey(DrawingSettings::damagedDefaultsKey).has_value());
}

TEST_F(DrawingSettingsTest, UnsavableBrushesLeaveTheStoredValueAlone) {
    DrawingSettings settings(*defaults_);
    settings.setBaseBrush(named("Good"));
    settings.save();
    const auto before = defaults_->dataForKey(DrawingSettings::defaultsKey);
    ASSERT_TRUE(before.has_value());
    Brush broken = named("Broken");
    broken.size = std::numeric_limits<float>::quiet_NaN();
    settings.setBaseBrush(broken);
    settings.save();
    EXPECT_TRUE(defaults_->dataForKey(DrawingSettings::defaultsKey) == before);
}

TEST_F(DrawingSettingsTest, StoredFormIsAFlatListOfToolsAndBrushRecords) {
    DrawingSettings settings(*defaults_);
    settings.setPersistentTool(Tool::eraser);
    settings.setBaseBrush(named("Rubber"));
    settings.setPersistentTool(Tool::brush);
    settings.setBaseBrush(named("Pen"));
    settings.save();
    const auto data = defaults_->dataForKey(DrawingSettings::defaultsKey);
    ASSERT_TRUE(data.has_value());
    KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(*data)};
    const auto list =
        unarchiver.decodeObject(KeyedUnarchiver::propertyListClasses(), "BaseBrushes");
    ASSERT_TRUE(list.has_value());
    ASSERT_NE(list->array(), nullptr);
    ASSERT_EQ(list->array()->size(), 4u);
    std::map<std::int64_t, std::string> names;
    for (size_t i = 0; i < 4; i += 2) {
        const PropertyListObject& tool = (*list->array())[i];
        const PropertyListObject& brush = (*list->array())[i + 1];
        ASSERT_NE(tool.integer(), nullptr);
        ASSERT_NE(brush.dictionary(), nullptr);
        EXPECT_EQ(brush.dictionary()->size(), 11u);
        names[*tool.integer()->int64Value()] = *brush.dictionary()->find("name")->string();
    }
    EXPECT_EQ(names, (std::map<std::int64_t, std::string>{{0, "Pen"}, {1, "Rubber"}}));
}

TEST(DrawingSettingsShared, TheStandardStoreIsWrittenAsABinaryPropertyList) {
    DrawingSettings::shared();
    EXPECT_NE(
        dynamic_cast<const BinaryPropertyListDefaultsFormat*>(UserDefaults::fileFormat().get()),
        nullptr);
}
