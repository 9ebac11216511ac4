#include "contacts/contact_rows_model.h"

#include <QHeaderView>
#include <QTreeView>

namespace velmora::contacts {

ContactRowsModel::ContactRowsModel(const store::Session& session, Source source,
                                   ContactIconProvider icons, QObject* parent)
    : QAbstractTableModel(parent), session_(session), source_(source), icons_(std::move(icons)) {}

void ContactRowsModel::setRowSlots(std::vector<std::int32_t> rowSlots) {
    beginResetModel();
    slots_ = std::move(rowSlots);
    endResetModel();
}

int ContactRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(slots_.size());
}

int ContactRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const store::Contact* ContactRowsModel::record(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= slots_.size()) {
        return nullptr;
    }
    const std::int32_t slot = slots_[static_cast<std::size_t>(row)];
    const store::SlotTable<store::Contact>& table =
        source_ == Source::Contacts ? session_.contacts() : session_.mailtray();
    return table.hasSlot(slot) ? &table.at(slot) : nullptr;
}

QVariant ContactRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.parent().isValid()) {
        return {};
    }
    if (role == kSlotRole) {
        return slots_[static_cast<std::size_t>(index.row())];
    }
    const store::Contact* c = record(index.row());
    if (c == nullptr) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        if (index.column() == EmailColumn) {
            return QString::fromUtf8(c->email.view().data(),
                                     static_cast<qsizetype>(c->email.view().size()));
        }
        if (index.column() == NameColumn) {
            return QString::fromUtf8(c->name.view().data(),
                                     static_cast<qsizetype>(c->name.view().size()));
        }
    }
    if (role == Qt::DecorationRole && index.column() == IconColumn && icons_) {
        const QIcon icon = icons_(*c);
        if (!icon.isNull()) {
            return icon;
        }
    }
    return {};
}

QVariant ContactRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case EmailColumn:
        return QStringLiteral("Email Address");
    case NameColumn:
        return QStringLiteral("Contact Name");
    case IconColumn:
        return QString();
    default:
        return {};
    }
}

void setUpContactRowsView(QTreeView& view, ContactRowsModel& model) {
    view.setModel(&model);
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.setItemsExpandable(false);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.header()->setStretchLastSection(false);
    view.header()->setMinimumSectionSize(0);
    view.setColumnWidth(ContactRowsModel::IconColumn, 24);
    view.setColumnWidth(ContactRowsModel::EmailColumn, 180);
    view.setColumnWidth(ContactRowsModel::NameColumn, 160);
}

} // namespace velmora::contacts
