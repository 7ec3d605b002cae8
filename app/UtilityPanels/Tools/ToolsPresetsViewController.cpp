#include "UtilityPanels/Tools/ToolsPresetsViewController.hpp"

#include "Extensions/AppKitExtensions.hpp"
#include "Rendering/DrawingSettings.hpp"
#include "UtilityPanels/Tools/BrushListModel.hpp"
#include "UtilityPanels/Tools/BrushTableCellView.hpp"
#include "UtilityPanels/Tools/BrushTableView.hpp"
#include "Utils/ThrottledClipView.hpp"
#include "desktop/NSAlert.hpp"
#include "desktop/NSSegmentedControl.hpp"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <iostream>

namespace velmora {

namespace {

// Row editors are BrushTableCellViews that know their row's brush when made.
class BrushNameDelegate : public QStyledItemDelegate {
public:
    BrushNameDelegate(std::weak_ptr<ToolsPresetsViewController> panel, QObject* parent)
        : QStyledItemDelegate(parent), panel_(std::move(panel)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        auto* cell = new BrushTableCellView(parent);
        std::shared_ptr<ToolsPresetsViewController> panel = panel_.lock();
        if (!panel || index.row() >= int(panel->brushStore().brushesOrder().size())) {
            return cell;
        }
        const UUID uuid = panel->brushStore().brushesOrder()[std::size_t(index.row())];
        cell->onNameEdited = [weak = panel_, uuid](const std::string& name) {
            if (std::shared_ptr<ToolsPresetsViewController> self = weak.lock()) {
                self->renameBrush(uuid, name);
            }
        };
        return cell;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<BrushTableCellView*>(editor)->setText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const override {
        static_cast<BrushTableCellView*>(editor)->brushNameEdited();
    }
    // The field ends its own edit on Return by giving the focus up, and the
    // focus leaving commits and closes the editor; the base class would also
    // queue a commit and close of its own, which would find the editor gone.
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                return false;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    std::weak_ptr<ToolsPresetsViewController> panel_;
};

bool askWithDeleteAlert(const std::string& name) {
    NSAlert alert;
    alert.alertStyle = NSAlertStyle::warning;
    alert.messageText = "Do you want to permanently delete the brush \"" + name + "\"?";
    alert.informativeText = "This action cannot be undone.";
    alert.addButtonWithTitle("Cancel");
    const NSModalResponse deleteResponse = alert.addButtonWithTitle("Delete Brush");
    return alert.runModal() == deleteResponse;
}

} // namespace

ToolsPresetsViewController::ToolsPresetsViewController()
    : ToolsPresetsViewController(std::make_unique<BrushStore>()) {}

ToolsPresetsViewController::ToolsPresetsViewController(std::unique_ptr<BrushStore> store)
    : askConfirmationToDeleteBrush(askWithDeleteAlert), brushStore_(std::move(store)),
      brushSettings_(&DrawingSettings::shared()) {}

ToolsPresetsViewController::~ToolsPresetsViewController() {
    // The model reads the store: it goes first.
    if (tableView) {
        tableView->setModel(nullptr);
    }
    delete model_.data();
}

ThrottledClipView* ToolsPresetsViewController::clipView() const {
    return tableView ? &tableView->clipView() : nullptr;
}

void ToolsPresetsViewController::loadView() {
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(4);
    tableView = new BrushTableView(view);
    layout->addWidget(tableView, 1);
    segmentedControl = new NSSegmentedControl(view);
    segmentedControl->setSegmentCount(2);
    segmentedControl->setLabel("+", 0);
    segmentedControl->setLabel("\u2212", 1);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 0, 4, 0);
    row->addWidget(segmentedControl);
    row->addStretch();
    layout->addLayout(row);
    setView(view);
}

void ToolsPresetsViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    model_ = new BrushListModel(*brushStore_);
    model_->onError = [this](const std::exception& error) { showError(error); };
    tableView->setModel(model_);
    tableView->setItemDelegate(
        new BrushNameDelegate(weakAs<ToolsPresetsViewController>(), tableView));
    QObject::connect(tableView->selectionModel(), &QItemSelectionModel::selectionChanged, tableView,
                     [this] { tableViewSelectionDidChange(); });
    segmentedControl->action = [this](NSSegmentedControl& control) {
        segmentedControlClicked(control.selectedSegment());
    };
    DrawingSettings::shared().delegates += sharedAs<ToolsPresetsViewController>();
    selectSavedBrushRow(*brushSettings_);
    updateSegments();
}

void ToolsPresetsViewController::viewDidAppear() {
    NSViewController::viewDidAppear();
    // A library that could not be read starts empty; the user hears why once.
    if (std::optional<BrushStoreError> error = brushStore_->takeStartupError()) {
        showError(*error);
    }
}

std::optional<int> ToolsPresetsViewController::selectedRow() const {
    if (!tableView || !tableView->selectionModel()) {
        return std::nullopt;
    }
    const QModelIndexList rows = tableView->selectionModel()->selectedRows();
    return rows.isEmpty() ? std::nullopt : std::optional<int>(rows.front().row());
}

void ToolsPresetsViewController::selectRow(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        tableView->clearSelection();
        return;
    }
    tableView->selectionModel()->select(model_->index(row, 0), QItemSelectionModel::ClearAndSelect |
                                                                   QItemSelectionModel::Rows);
    tableView->selectionModel()->setCurrentIndex(model_->index(row, 0),
                                                 QItemSelectionModel::NoUpdate);
}

void ToolsPresetsViewController::updateSegments() {
    segmentedControl->setEnabled(true, 0);
    segmentedControl->setEnabled(selectedRow().has_value(), 1);
}

void ToolsPresetsViewController::tableViewSelectionDidChange() {
    updateSegments();
    const std::optional<int> row = selectedRow();
    if (!row) {
        return;
    }
    const auto& order = brushStore_->brushesOrder();
    if (brushSettings_ && std::size_t(*row) < order.size()) {
        brushSettings_->setBaseBrush(brushStore_->brushes().at(order[std::size_t(*row)]).brush);
    }
}

void ToolsPresetsViewController::selectSavedBrushRow(DrawingSettings& settings) {
    const auto& order = brushStore_->brushesOrder();
    const auto found = std::find(order.begin(), order.end(), settings.baseBrush().uuid);
    if (found == order.end()) {
        if (selectedRow()) {
            tableView->clearSelection();
        }
        selectRow(0);
        return;
    }
    DrawingSettings* held = std::exchange(brushSettings_, nullptr);
    selectRow(int(found - order.begin()));
    brushSettings_ = held;
}

void ToolsPresetsViewController::drawingSettingsDidChangeActiveBrush(DrawingSettings& settings,
                                                                     const Brush&) {
    selectSavedBrushRow(settings);
}

void ToolsPresetsViewController::drawingSettingsDidUpdateActiveTool(DrawingSettings& settings,
                                                                    DrawingTool) {
    selectSavedBrushRow(settings);
}

void ToolsPresetsViewController::segmentedControlClicked(int segment) {
    if (segment == 0) {
        newBrush();
    } else if (segment == 1) {
        deleteSelectedBrush();
    }
}

void ToolsPresetsViewController::newBrush() {
    Brush brush = DrawingSettings::shared().liveBrush();
    brush.name = "New Brush";
    brush.uuid = UUID();
    const int position = selectedRow() ? *selectedRow() + 1 : 0;
    try {
        brushStore_->add(brush, std::size_t(position));
    } catch (const std::exception& error) {
        showError(error);
        return;
    }
    model_->reload();
    selectRow(position);
    updateSegments();
}

void ToolsPresetsViewController::deleteSelectedBrush() {
    const std::optional<int> row = selectedRow();
    if (!row) {
        return;
    }
    const Brush brush =
        brushStore_->brushes().at(brushStore_->brushesOrder()[std::size_t(*row)]).brush;
    if (!askConfirmationToDeleteBrush(brush.name)) {
        return;
    }
    try {
        brushStore_->deleteBrush(std::size_t(*row));
    } catch (const std::exception& error) {
        showError(error);
        return;
    }
    model_->reload();
    selectRow(std::min(std::max(*row - 1, 0), model_->rowCount() - 1));
    updateSegments();
}

void ToolsPresetsViewController::renameBrush(const UUID& uuid, const std::string& name) {
    const auto found = brushStore_->brushes().find(uuid);
    if (found == brushStore_->brushes().end()) {
        std::cout << "Skipping name update on deleted brush with uuid " << uuid.uuidString()
                  << std::endl;
        return;
    }
    try {
        brushStore_->rename(found->second.brush, name);
    } catch (const std::exception& error) {
        showError(error);
    }
}

void ToolsPresetsViewController::showError(const std::exception& error) {
    makeAlert(error)->runModal();
}

} // namespace velmora
