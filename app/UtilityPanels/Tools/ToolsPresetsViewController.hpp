#pragma once

#include "Rendering/DrawingSettingsDelegate.hpp"
#include "UtilityPanels/Tools/BrushListModel.hpp"
#include "UtilityPanels/Tools/BrushStore.hpp"
#include "UtilityPanels/Tools/BrushTableView.hpp"
#include "desktop/NSViewController.hpp"

#include <QPointer>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

class NSSegmentedControl;
class ThrottledClipView;

// The Brush Presets panel: the user's brushes in the store's order; the
// selected row is the current tool's saved brush; "+" adds a copy of the live
// brush after the selection, "−" deletes the selected brush after asking;
// names are edited in place and rows reordered by dragging.
class ToolsPresetsViewController : public NSViewController, public DrawingSettingsDelegate {
public:
    static constexpr const char* brushPasteboardType = "Velmora.Brush";

    // The library in the user's folder, installed from the factory brushes.
    ToolsPresetsViewController();
    explicit ToolsPresetsViewController(std::unique_ptr<BrushStore> store);
    ~ToolsPresetsViewController() override;

    QPointer<BrushTableView> tableView;
    QPointer<NSSegmentedControl> segmentedControl;
    ThrottledClipView* clipView() const;
    BrushStore& brushStore() { return *brushStore_; }
    BrushListModel& model() { return *model_; }

    // Asks whether to delete the brush of that name; the delete alert by default.
    std::function<bool(const std::string&)> askConfirmationToDeleteBrush;

    void loadView() override;
    void viewDidLoad() override;
    void viewDidAppear() override;

    std::optional<int> selectedRow() const;
    void selectRow(int row);
    void segmentedControlClicked(int segment);
    void tableViewSelectionDidChange();
    // Where a commit of a row's name goes: the brush with that UUID, if still stored.
    void renameBrush(const UUID& uuid, const std::string& name);

    void drawingSettingsWillChangeActiveBrush(DrawingSettings&, const Brush&) override {}
    void drawingSettingsDidChangeActiveBrush(DrawingSettings& settings, const Brush&) override;
    void drawingSettingsDidUpdateActiveTool(DrawingSettings& settings, DrawingTool) override;

private:
    void selectSavedBrushRow(DrawingSettings& settings);
    void updateSegments();
    void newBrush();
    void deleteSelectedBrush();
    void showError(const std::exception& error);

    std::unique_ptr<BrushStore> brushStore_;
    DrawingSettings* brushSettings_;
    QPointer<BrushListModel> model_;
};

} // namespace velmora
