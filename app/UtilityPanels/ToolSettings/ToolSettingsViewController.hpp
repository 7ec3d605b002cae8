#pragma once

#include "Extensions/UIRestorable.hpp"
#include "desktop/NSColorWell.hpp"
#include "desktop/NSViewController.hpp"
#include "graphics/NSColor.hpp"

#include <QPointer>

namespace velmora {

// The Tool Settings panel's settings page: the drawing colour in a colour
// well and one setting row per brush parameter, embedded by the segues
// "BrushSize", "BrushHardness", "BrushOpacity", "BrushSpacing" and
// "BrushStabilization". Keeps "color" and, while the colour panel shows,
// "color panel frame" in the saved interface state, and writes the drawing
// settings to the user defaults whenever it saves that state.
class ToolSettingsViewController : public NSViewController, public UIRestorable {
public:
    static constexpr const char* defaultIdentifier = "ToolSettingsViewController";

    ToolSettingsViewController();

    QPointer<NSColorWell> colorWell;

    // The shared drawing settings' colour.
    NSColorRef color() const;
    void setColor(NSColorRef color);

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;
    void prepare(NSStoryboardSegue& segue, NSObject* sender) override;
    void setRepresentedObject(std::shared_ptr<NSObject> object) override;

    void encodeUIState(KeyedArchiver& archiver) override;
    void decodeUIState(KeyedUnarchiver& unarchiver) override;
};

} // namespace velmora
