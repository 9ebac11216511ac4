#pragma once

#include "store/session.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <cstdint>
#include <functional>
#include <vector>

class QTreeView;

namespace velmora::contacts {

// The icon a list shows for a contact or a Mailtray entry. The main window
// owns the program's images and supplies this; without one, rows show none.
using ContactIconProvider = std::function<QIcon(const store::Contact&)>;

// The three-column lists (icon, "Email Address", "Contact Name") of the
// selection dialogs and the Mailtray window: one row per slot of the contact
// table or of the Mailtray. Rows read the session when shown, so a list of a
// hundred thousand entries costs a vector of slots.
class ContactRowsModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum class Source { Contacts, Mailtray };
    enum Column { IconColumn = 0, EmailColumn = 1, NameColumn = 2, ColumnCount = 3 };
    static constexpr int kSlotRole = Qt::UserRole;

    ContactRowsModel(const store::Session& session, Source source, ContactIconProvider icons,
                     QObject* parent = nullptr);

    void setRowSlots(std::vector<std::int32_t> rowSlots);
    const std::vector<std::int32_t>& rowSlots() const { return slots_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Null when the slot no longer exists (the session was replaced meanwhile).
    const store::Contact* record(int row) const;

    const store::Session& session_;
    Source source_;
    ContactIconProvider icons_;
    std::vector<std::int32_t> slots_;
};

// Column widths 24, 180 and 160, no tree decoration, whole-row selection.
void setUpContactRowsView(QTreeView& view, ContactRowsModel& model);

} // namespace velmora::contacts
