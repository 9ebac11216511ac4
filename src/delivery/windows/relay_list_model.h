#pragma once

#include "store/extension_settings.h"

#include <QAbstractTableModel>
#include <vector>

namespace velmora::delivery {

// The relays of 2 and up of a settings' extension block, one row each
// (columns kRelayColumns). It reads the block it is given; reset() after
// the block changed.
class RelayListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit RelayListModel(const store::ExtensionSettings& extensions, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The relay number of a row; 0 for none.
    int relayAt(int row) const;
    void reset();

private:
    const store::ExtensionSettings& extensions_;
    std::vector<int> numbers_;
};

} // namespace velmora::delivery
