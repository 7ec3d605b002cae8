#include "Rendering/DrawingSettings.hpp"

#include "coding/BinaryPropertyListDefaultsFormat.hpp"
#include "coding/KeyedArchiver.hpp"
#include "coding/KeyedUnarchiver.hpp"
#include "foundation/LogHandles.hpp"
#include "foundation/UserDefaults.hpp"

namespace velmora {

namespace {

// The base brushes as the archive holds them: since tools are neither strings
// nor integers, one flat list alternating a tool's raw value and its brush.
struct ToolBrushes {
    std::map<DrawingTool, Brush> brushes;

    void encode(Encoder& encoder) const {
        UnkeyedEncodingContainer list = encoder.unkeyedContainer();
        for (const auto& [tool, brush] : brushes) {
            list.encode(tool);
            list.encode(brush);
        }
    }
    static ToolBrushes decode(Decoder& decoder) {
        UnkeyedDecodingContainer list = decoder.unkeyedContainer();
        ToolBrushes out;
        while (!list.isAtEnd()) {
            const DrawingTool tool = list.decode<DrawingTool>();
            out.brushes.insert_or_assign(tool, list.decode<Brush>());
        }
        return out;
    }
};

} // namespace

DrawingSettings& DrawingSettings::shared() {
    // The engine's first use of the standard store: its file is a binary property list.
    static DrawingSettings settings(
        (BinaryPropertyListDefaultsFormat::install(), UserDefaults::standard()));
    return settings;
}

const NSColorRef& DrawingSettings::defaultColor() {
    return NSColor::cyanColor();
}

DrawingSettings::DrawingSettings(UserDefaults& defaults) : defaults_(defaults) {
    load();
}

DrawingSettings::Tool DrawingSettings::currentTool() const {
    return persistentTool_ == Tool::brush && usingStylusEraser_ ? Tool::eraser : persistentTool_;
}

Brush DrawingSettings::liveBrush() const {
    if (const auto it = liveBrushes_.find(currentTool()); it != liveBrushes_.end()) {
        return it->second;
    }
    return baseBrush();
}

Brush DrawingSettings::baseBrush() const {
    if (const auto it = baseBrushes_.find(currentTool()); it != baseBrushes_.end()) {
        return it->second;
    }
    return Brush();
}

void DrawingSettings::notifyWillChange() {
    const Brush brush = liveBrush();
    delegates |
        [&](DrawingSettingsDelegate& d) { d.drawingSettingsWillChangeActiveBrush(*this, brush); };
}

void DrawingSettings::notifyDidChange() {
    const Brush brush = liveBrush();
    delegates |
        [&](DrawingSettingsDelegate& d) { d.drawingSettingsDidChangeActiveBrush(*this, brush); };
}

void DrawingSettings::setLiveBrush(const Brush& brush) {
    notifyWillChange();
    liveBrushes_.insert_or_assign(currentTool(), brush);
    notifyDidChange();
}

void DrawingSettings::setBaseBrush(const Brush& brush) {
    liveBrushes_.erase(currentTool());
    notifyWillChange();
    baseBrushes_.insert_or_assign(currentTool(), brush);
    notifyDidChange();
}

template <class F> void DrawingSettings::changingTool(F&& store) {
    const Tool before = currentTool();
    store();
    const Tool after = currentTool();
    if (after != before) {
        delegates |
            [&](DrawingSettingsDelegate& d) { d.drawingSettingsDidUpdateActiveTool(*this, after); };
    }
}

void DrawingSettings::setUsingStylusEraser(bool value) {
    changingTool([&] { usingStylusEraser_ = value; });
}

void DrawingSettings::setPersistentTool(Tool tool) {
    changingTool([&] { persistentTool_ = tool; });
}

void DrawingSettings::load() {
    const std::optional<DefaultsValue> stored = defaults_.objectForKey(defaultsKey);
    if (!stored) {
        return;
    }
    if (const DefaultsValue::Data* data = stored->dataValue()) {
        try {
            KeyedUnarchiver unarchiver{std::span<const std::uint8_t>(*data)};
            if (!unarchiver.containsValue("BaseBrushes")) {
                return;
            }
            if (std::optional<ToolBrushes> decoded =
                    unarchiver.decodeDecodable<ToolBrushes>("BaseBrushes")) {
                baseBrushes_ = std::move(decoded->brushes);
                return;
            }
        } catch (const std::exception&) {
            // Not a keyed archive at all: damaged like an entry that does not decode.
        }
    }
    // Starting from defaults must not cost the user the stored brushes for
    // good, as the next save would overwrite them.
    drawingEngineLogs().error("Stored drawing settings are unreadable; kept under %{public}@",
                              damagedDefaultsKey);
    defaults_.set(*stored, damagedDefaultsKey);
}

void DrawingSettings::save() {
    std::vector<std::uint8_t> data;
    try {
        KeyedArchiver archiver(true);
        archiver.encodeEncodable(ToolBrushes{baseBrushes_}, "BaseBrushes");
        data = archiver.encodedData();
    } catch (const std::exception& error) {
        drawingEngineLogs().error("Drawing settings not saved: %{public}@", error.what());
        return;
    }
    defaults_.set(std::move(data), defaultsKey);
}

} // namespace velmora
