#pragma once

#include "views/contact_views.h"

#include <QAbstractTableModel>
#include <cstdint>
#include <vector>

class QTreeView;

namespace velmora::platform {
class ProgramImages;
}

namespace velmora::views {

// The slot table a list's rows name.
enum class RowTable { Contacts, Mailtray };

// A contact list as a table over slot numbers. Cells are read from the
// session when the view asks for them, so a refresh of a million rows copies
// no contact text. It shows either one of the five main lists, following the
// views' rows with all five columns, or rows of its own (the selection
// dialogs and the Mailtray window) with the icon, address and name columns.
class ContactListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Every cell carries its contact's slot number under this role.
    static constexpr int kSlotRole = Qt::UserRole;

    ContactListModel(const store::Session& session, const ContactViews& views, ViewTab tab,
                     const platform::ProgramImages* images, QObject* parent = nullptr);
    // Rows of its own, set with setRowSlots; icons by status, else tag.
    ContactListModel(const store::Session& session, RowTable table,
                     const platform::ProgramImages* images, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Bracket every change of the views' list: the model tells its views
    // before the rows go and takes the new row count afterwards.
    void beginRebuild();
    void endRebuild();
    // The same rows show their contacts' current fields (after stamps).
    void refreshCells();
    // Replaces the rows of a list of its own (a main list follows the views).
    void setRowSlots(std::vector<std::int32_t> rowSlots);

    // The contact slot of a row, 0 for a row out of range.
    std::int32_t slotAt(int row) const;

private:
    // The columns of a list with rows of its own.
    static constexpr int kOwnRowsColumnCount = static_cast<int>(ListColumn::Name) + 1;

    const ContactList& list() const { return views_ != nullptr ? views_->list(tab_) : ownRows_; }
    int columns() const { return views_ != nullptr ? kListColumnCount : kOwnRowsColumnCount; }
    // Null when the slot no longer exists (the session moved on meanwhile).
    const store::Contact* record(std::int32_t slot) const;

    const store::Session& session_;
    const ContactViews* views_ = nullptr;
    ViewTab tab_ = ViewTab::AllEntries;
    ContactList ownRows_;
    RowTable table_ = RowTable::Contacts;
    const platform::ProgramImages* images_;
    int rows_ = 0;
    bool rebuilding_ = false;
};

// A list of its own shown in a tree view: the column widths of the main
// lists, no tree decoration, whole rows selected.
void setUpOwnRowsView(QTreeView& view, ContactListModel& model);

} // namespace velmora::views
