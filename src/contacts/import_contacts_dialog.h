#pragma once

#include "contacts/contact_import.h"
#include "contacts/view_access.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/session.h"

#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace velmora::contacts {
class StatusChoices;

inline constexpr const char* kImportContactsTitle = "Import Contacts (CSV, vCard)...";
inline constexpr const char* kImportContactsFilter =
    "Contact files (*.csv *.txt *.vcf)|*.csv *.txt *.vcf|All files (*.*)|*.*";

// Import Contacts: the chosen file's detected encoding and delimiter (both
// changeable), its first rows, a field for each column, the group and status
// of new contacts; Import runs with a progress bar and Cancel, then shows
// the report.
class ImportContactsDialog final : public QWidget {
    Q_OBJECT

public:
    ImportContactsDialog(store::Session& session, ViewAccess& views, const store::Clock& clock,
                         std::string path, QWidget* parent = nullptr);

    QComboBox* encodingDropDown() const { return encoding_; }
    QComboBox* delimiterDropDown() const { return delimiter_; }
    QTableWidget* preview() const { return preview_; }
    const std::vector<QComboBox*>& fieldDropDowns() const { return fields_; }
    QComboBox* groupDropDown() const { return group_; }
    StatusChoices* statusChoices() const { return status_; }
    QCheckBox* updateBox() const { return update_; }
    QPushButton* importButton() const { return import_; }
    QPushButton* cancelButton() const { return cancel_; }
    QProgressBar* progressBar() const { return progress_; }
    QPlainTextEdit* reportArea() const { return report_; }
    QLabel* problemLabel() const { return problem_; }
    // True while an import runs (its progress pumps events).
    bool importing() const { return importing_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void loadPreview();
    void updateImportButton();
    void runImport();
    void cancel();

    store::Session& session_;
    ViewAccess& views_;
    const store::Clock& clock_;
    std::string path_;
    ImportPreview shown_;

    QLabel* format_;
    QComboBox* encoding_;
    QComboBox* delimiter_;
    QTableWidget* preview_;
    QGridLayout* mappingGrid_;
    QWidget* mappingBox_;
    std::vector<QComboBox*> fields_;
    std::vector<QLabel*> fieldLabels_;
    QComboBox* group_;
    StatusChoices* status_;
    QCheckBox* update_;
    QLabel* problem_;
    QProgressBar* progress_;
    QPlainTextEdit* report_;
    QPushButton* cancel_;
    QPushButton* import_;
    bool importing_ = false;
    bool cancelRequested_ = false;
    bool loading_ = false;
};

} // namespace velmora::contacts
