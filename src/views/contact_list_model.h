#pragma once

#include "views/contact_views.h"

#include <QAbstractTableModel>

namespace velmora::platform {
class ProgramImages;
}

namespace velmora::views {

// One of the five contact lists as a table over the list's slot numbers.
// Cells are read from the session when the view asks for them, so a refresh
// of a million rows copies no contact text.
class ContactListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // Every cell carries its contact's slot number under this role.
    static constexpr int kSlotRole = Qt::UserRole;

    ContactListModel(const store::Session& session, const ContactViews& views, ViewTab tab,
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

    ViewTab tab() const { return tab_; }
    // The contact slot of a row, 0 for a row out of range.
    std::int32_t slotAt(int row) const;

private:
    const ContactList& list() const { return views_.list(tab_); }

    const store::Session& session_;
    const ContactViews& views_;
    ViewTab tab_;
    const platform::ProgramImages* images_;
    int rows_ = 0;
    bool rebuilding_ = false;
};

} // namespace velmora::views
