#pragma once

#include "delivery/feedback/feedback_apply.h"
#include "store/session.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

namespace velmora::delivery {

// The table of "Process Replies and Bounces...": one row per message and
// address found, with the contact it matched and what was (or would be) done.
class FeedbackRowsModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { Kind, Address, Contact, Reason, Action, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // The texts are taken now: the session may change while the table shows them.
    void setRows(const std::vector<FeedbackRow>& rows, const store::Session& session);
    void clear();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<QStringList> rows_;
};

} // namespace velmora::delivery
