#pragma once

#include "platform/prompter.h"
#include "store/session.h"

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;

namespace velmora::contacts {

inline constexpr const char* kExportContactsTitle = "Export Contacts...";
inline constexpr const char* kExportContactsFilter = "CSV files (*.csv)|*.csv|All files (*.*)|*.*";

// The lists a window shows now, which the export offers besides a group, a
// status and the Mailtray.
struct ShownLists {
    std::string currentCaption;
    std::vector<std::int32_t> currentRows;
    bool filtered = false;
    std::vector<std::int32_t> filteredRows;
};

// Export Contacts: which list (the current tab, the filtered All Entries, a
// group, a status or the Mailtray) and where; writes CSV with all fields.
class ExportContactsDialog final : public QWidget {
    Q_OBJECT

public:
    // The file requester starts at `startPath` (see exportStartPath).
    ExportContactsDialog(const store::Session& session, ShownLists lists,
                         platform::Prompter& prompter, std::string startPath,
                         QWidget* parent = nullptr);

    QRadioButton* currentChoice() const { return current_; }
    QRadioButton* filteredChoice() const { return filtered_; }
    QRadioButton* groupChoice() const { return group_; }
    QRadioButton* statusChoice() const { return status_; }
    QRadioButton* mailtrayChoice() const { return mailtray_; }
    QComboBox* groupDropDown() const { return groupList_; }
    QComboBox* statusDropDown() const { return statusList_; }
    QCheckBox* byteOrderMarkBox() const { return bom_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* cancelButton() const { return cancel_; }

private:
    void exportList();

    const store::Session& session_;
    ShownLists lists_;
    std::string startPath_;
    platform::Prompter& prompter_;
    QRadioButton* current_;
    QRadioButton* filtered_;
    QRadioButton* group_;
    QRadioButton* status_;
    QRadioButton* mailtray_;
    QComboBox* groupList_;
    QComboBox* statusList_;
    QCheckBox* bom_;
    QPushButton* cancel_;
    QPushButton* export_;
};

} // namespace velmora::contacts
