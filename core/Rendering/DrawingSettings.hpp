#pragma once

#include "MulticastDelegate/MulticastDelegate.hpp"
#include "Rendering/Brush.hpp"
#include "Rendering/DrawingSettingsDelegate.hpp"
#include "Rendering/DrawingTool.hpp"
#include "graphics/NSColor.hpp"

#include <map>
#include <memory>

namespace velmora {

class UserDefaults;

// How the user draws: the colour, the chosen tool, whether the stylus's eraser
// end is in use, and per tool a saved (base) brush and a live brush being
// adjusted. Only the base brushes persist, under the user default
// "DrawingSettings". Main thread only.
class DrawingSettings {
public:
    using Tool = DrawingTool;

    static constexpr const char* defaultsKey = "DrawingSettings";
    // Where an unreadable stored value is kept aside instead of being overwritten.
    static constexpr const char* damagedDefaultsKey = "DrawingSettings.damaged";

    // The process's settings over the standard user defaults, made at first use.
    static DrawingSettings& shared();
    static const NSColorRef& defaultColor();

    // Reads the base brushes stored in `defaults`, which must outlive the settings.
    explicit DrawingSettings(UserDefaults& defaults);
    DrawingSettings(const DrawingSettings&) = delete;
    DrawingSettings& operator=(const DrawingSettings&) = delete;

    MulticastDelegate<DrawingSettingsDelegate> delegates;
    // The paint colour; changing it notifies nobody.
    NSColorRef color = defaultColor();

    // The current tool's live brush, else its base brush.
    Brush liveBrush() const;
    void setLiveBrush(const Brush& brush);
    template <class F> void modifyLiveBrush(F&& change) {
        Brush brush = liveBrush();
        change(brush);
        setLiveBrush(brush);
    }

    // The current tool's saved brush, else a fresh default brush (not stored).
    Brush baseBrush() const;
    // Also discards the current tool's live adjustments.
    void setBaseBrush(const Brush& brush);
    template <class F> void modifyBaseBrush(F&& change) {
        Brush brush = baseBrush();
        change(brush);
        setBaseBrush(brush);
    }

    bool usingStylusEraser() const { return usingStylusEraser_; }
    void setUsingStylusEraser(bool value);
    Tool persistentTool() const { return persistentTool_; }
    void setPersistentTool(Tool tool);
    // The eraser while the brush is chosen and the stylus's eraser end is in use.
    Tool currentTool() const;

    // Writes the base brushes into the user defaults. A brush that cannot be
    // archived (a non-finite number) leaves the stored value as it was.
    void save();

private:
    template <class F> void changingTool(F&& store);
    void notifyWillChange();
    void notifyDidChange();
    void load();

    UserDefaults& defaults_;
    std::map<Tool, Brush> liveBrushes_;
    std::map<Tool, Brush> baseBrushes_;
    bool usingStylusEraser_ = false;
    Tool persistentTool_ = Tool::brush;
};

} // namespace velmora
