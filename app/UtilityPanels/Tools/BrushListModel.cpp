#include "UtilityPanels/Tools/BrushListModel.hpp"

#include "UtilityPanels/Tools/BrushStore.hpp"

#include <QMimeData>
#include <algorithm>

namespace velmora {

BrushListModel::BrushListModel(BrushStore& store, QObject* parent)
    : QAbstractTableModel(parent), store_(store) {}

int BrushListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(store_.brushesOrder().size());
}

int BrushListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant BrushListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    const auto found = store_.brushes().find(store_.brushesOrder()[std::size_t(index.row())]);
    return found == store_.brushes().end()
               ? QVariant()
               : QVariant(QString::fromStdString(found->second.brush.name));
}

Qt::ItemFlags BrushListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    // Rows take drops so that the view tells a drop onto a row from one
    // between rows, and refuses it.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
           Qt::ItemIsDropEnabled;
}

QStringList BrushListModel::mimeTypes() const {
    return {QString::fromLatin1(brushPasteboardType)};
}

QMimeData* BrushListModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty() || indexes.front().row() >= rowCount()) {
        return nullptr;
    }
    auto* data = new QMimeData;
    const UUID& uuid = store_.brushesOrder()[std::size_t(indexes.front().row())];
    data->setData(QString::fromLatin1(brushPasteboardType),
                  QByteArray::fromStdString(uuid.uuidString()));
    return data;
}

std::optional<std::pair<int, int>> BrushListModel::dropMove(const QMimeData* data,
                                                            int proposedRow) const {
    const QString type = QString::fromLatin1(brushPasteboardType);
    if (!data || !data->hasFormat(type)) {
        return std::nullopt;
    }
    const std::optional<UUID> uuid = UUID::fromString(data->data(type).toStdString());
    if (!uuid) {
        return std::nullopt;
    }
    const auto& order = store_.brushesOrder();
    const auto found = std::find(order.begin(), order.end(), *uuid);
    if (found == order.end() || !store_.brushes().contains(*uuid)) {
        return std::nullopt;
    }
    const int from = int(found - order.begin());
    const int to = from < proposedRow ? proposedRow - 1 : proposedRow;
    if (from == to) {
        return std::nullopt;
    }
    return std::pair{from, to};
}

bool BrushListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                     const QModelIndex& parent) const {
    if (row < 0 && parent.isValid()) {
        return false;
    }
    return data && data->hasFormat(QString::fromLatin1(brushPasteboardType));
}

bool BrushListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                  const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    const int proposed = row < 0 ? rowCount() : row;
    const std::optional<std::pair<int, int>> move = dropMove(data, proposed);
    if (!move) {
        return false;
    }
    const auto [from, to] = *move;
    const Brush brush = store_.brushes().at(store_.brushesOrder()[std::size_t(from)]).brush;
    // Qt counts the destination with the moved row still in place.
    if (!beginMoveRows({}, from, from, {}, to > from ? to + 1 : to)) {
        return false;
    }
    try {
        store_.move(brush, std::size_t(to));
    } catch (const std::exception& error) {
        endMoveRows();
        // The order is as it was: show it so.
        reload();
        if (onError) {
            onError(error);
        }
        return false;
    }
    endMoveRows();
    return true;
}

} // namespace velmora
