#include "delivery/windows/feedback_rows_model.h"

#include "platform/qt_text.h"
#include "store/untrusted_text.h"

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using platform::toQString;

namespace {

// "Name <address>", the address alone, or "-" when no contact matched.
std::string contactText(const store::Session& session, std::int32_t slot) {
    if (slot < 0 || !session.hasContact(slot)) {
        return "-";
    }
    const store::Contact& contact = session.contact(slot);
    const std::string name = contact.name.str();
    return name.empty() ? contact.email.str() : name + " <" + contact.email.str() + ">";
}

} // namespace

void FeedbackRowsModel::setRows(const std::vector<FeedbackRow>& rows,
                                const store::Session& session) {
    beginResetModel();
    rows_.clear();
    for (const FeedbackRow& row : rows) {
        // Addresses and reasons come from returned mail: shown printable.
        rows_.push_back({toQString(feedbackKindName(row.kind)),
                         toQString(store::printableText(row.address)),
                         toQString(store::printableText(contactText(session, row.slot))),
                         toQString(store::printableText(row.reason)), toQString(row.action)});
    }
    endResetModel();
}

void FeedbackRowsModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int FeedbackRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FeedbackRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FeedbackRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole)) {
        return {};
    }
    return rows_[static_cast<std::size_t>(index.row())][index.column()];
}

QVariant FeedbackRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount) {
        return {};
    }
    static const char* const kHeaders[] = {"Kind", "Address", "Contact", "Reason", "Action"};
    return toQString(kHeaders[section]);
}

} // namespace velmora::delivery
