#pragma once

#include "foundation/UUID.hpp"

#include <QAbstractTableModel>
#include <functional>
#include <optional>

namespace velmora {

class BrushStore;

// The brush list of the Brush Presets panel: row i is the brush at position
// i of the store's order. Rows are dragged as "Velmora.Brush" (the brush's
// UUID text) and dropped between rows only; `moveBrush` does the move.
class BrushListModel : public QAbstractTableModel {
public:
    static constexpr const char* brushPasteboardType = "Velmora.Brush";

    explicit BrushListModel(BrushStore& store, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // A drag within the list moves its row; the move is the drop's alone.
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    // Refused onto a row (Qt's row -1 with a valid parent).
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // The dropped brush's row and where it goes (counted without it), or
    // nothing when the drop is refused. `proposedRow` is the row the drop is
    // above; the row count below the last row.
    std::optional<std::pair<int, int>> dropMove(const QMimeData* data, int proposedRow) const;

    // Told of a failed store operation.
    std::function<void(const std::exception&)> onError;

    // After the store's rows changed from outside.
    void reload() {
        beginResetModel();
        endResetModel();
    }

private:
    BrushStore& store_;
};

} // namespace velmora
