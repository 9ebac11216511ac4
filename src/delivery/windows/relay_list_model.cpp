#include "delivery/windows/relay_list_model.h"

#include "delivery/relay_pool.h"
#include "platform/qt_text.h"

namespace velmora::delivery {

using platform::toQString;

RelayListModel::RelayListModel(const store::ExtensionSettings& extensions, QObject* parent)
    : QAbstractTableModel(parent), extensions_(extensions), numbers_(relayNumbers(extensions)) {}

int RelayListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(numbers_.size());
}

int RelayListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kRelayColumnCount);
}

QVariant RelayListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount() ||
        role != Qt::DisplayRole) {
        return {};
    }
    return toQString(relayRow(
        extensions_,
        numbers_[static_cast<std::size_t>(index.row())])[static_cast<std::size_t>(index.column())]);
}

QVariant RelayListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= columnCount()) {
        return {};
    }
    return toQString(kRelayColumns[section]);
}

int RelayListModel::relayAt(int row) const {
    return row >= 0 && row < rowCount() ? numbers_[static_cast<std::size_t>(row)] : 0;
}

void RelayListModel::reset() {
    beginResetModel();
    numbers_ = relayNumbers(extensions_);
    endResetModel();
}

} // namespace velmora::delivery
