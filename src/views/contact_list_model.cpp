#include "views/contact_list_model.h"

#include "platform/qt_images.h"
#include "platform/qt_text.h"

#include <QHeaderView>
#include <QTreeView>

namespace velmora::views {

using platform::toQString;

ContactListModel::ContactListModel(const store::Session& session, const ContactViews& views,
                                   ViewTab tab, const platform::ProgramImages* images,
                                   QObject* parent)
    : QAbstractTableModel(parent), session_(session), views_(&views), tab_(tab), images_(images),
      rows_(static_cast<int>(views.list(tab).rowSlots.size())) {}

ContactListModel::ContactListModel(const store::Session& session, RowTable table,
                                   const platform::ProgramImages* images, QObject* parent)
    : QAbstractTableModel(parent), session_(session), table_(table), images_(images) {
    ownRows_.icon = RowIcon::StatusElseTag;
}

int ContactListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ContactListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns();
}

std::int32_t ContactListModel::slotAt(int row) const {
    if (rebuilding_ || row < 0 || row >= rows_) {
        return 0;
    }
    return list().rowSlots[static_cast<std::size_t>(row)];
}

const store::Contact* ContactListModel::record(std::int32_t slot) const {
    const store::SlotTable<store::Contact>& table =
        table_ == RowTable::Contacts ? session_.contacts() : session_.mailtray();
    return slot != 0 && table.hasSlot(slot) ? &table.at(slot) : nullptr;
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.parent().isValid() || index.column() >= columns()) {
        return {};
    }
    const std::int32_t slot = slotAt(index.row());
    // The session may have moved on before the rows were rebuilt.
    const store::Contact* found = record(slot);
    if (found == nullptr) {
        return {};
    }
    if (role == kSlotRole) {
        return slot;
    }
    const store::Contact& c = *found;
    const auto column = static_cast<ListColumn>(index.column());
    if (role == Qt::DecorationRole && column == ListColumn::Icon) {
        const int image = rowIcon(c, list().icon);
        if (image == kNoIcon || images_ == nullptr) {
            return {};
        }
        return images_->pixmap(image);
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (column) {
    case ListColumn::Icon:
        return {};
    case ListColumn::Email:
        return toQString(c.email);
    case ListColumn::Name:
        return toQString(c.name);
    case ListColumn::LastContacted:
        return toQString(c.lastContacted);
    case ListColumn::Notes: {
        // A carriage return left by the line-feed rule would draw as a box.
        QString notes = toQString(displayedNotes(c.notes, list().notes));
        notes.remove(QChar(u'\r'));
        return notes;
    }
    }
    return {};
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columns()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        return toQString(kListColumns[static_cast<std::size_t>(section)].caption);
    }
    return {};
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ContactListModel::beginRebuild() {
    if (rebuilding_) {
        return;
    }
    beginResetModel();
    rebuilding_ = true;
}

void ContactListModel::endRebuild() {
    if (!rebuilding_) {
        return;
    }
    rows_ = static_cast<int>(list().rowSlots.size());
    rebuilding_ = false;
    endResetModel();
}

void ContactListModel::refreshCells() {
    if (rows_ > 0) {
        emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
    }
}

void ContactListModel::setRowSlots(std::vector<std::int32_t> rowSlots) {
    Q_ASSERT(views_ == nullptr);
    beginRebuild();
    ownRows_.rowSlots = std::move(rowSlots);
    endRebuild();
}

void setUpOwnRowsView(QTreeView& view, ContactListModel& model) {
    view.setModel(&model);
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.setItemsExpandable(false);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setEditTriggers(QAbstractItemView::NoEditTriggers);
    view.header()->setStretchLastSection(false);
    view.header()->setMinimumSectionSize(0);
    for (int column = 0; column < model.columnCount(); ++column) {
        view.setColumnWidth(column, kListColumns[static_cast<std::size_t>(column)].width);
    }
}

} // namespace velmora::views
