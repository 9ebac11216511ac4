#include "contacts/import_contacts_dialog.h"

#include "contacts/contact_dialog.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

namespace {

constexpr TextEncoding kEncodings[] = {TextEncoding::Utf8, TextEncoding::Utf16Le,
                                       TextEncoding::Utf16Be, TextEncoding::Windows1252};
constexpr char kDelimiters[] = {',', ';', '\t'};
constexpr int kProgressSteps = 1000;

// Preview cells on one line, so a multi-line note does not stretch a row.
QString cellText(const std::string& text) {
    QString shown = toQString(text);
    shown.replace(u"\r\n"_s, u" / "_s);
    shown.replace(QChar(u'\n'), u" / "_s);
    shown.replace(QChar(u'\r'), u" / "_s);
    return shown;
}

} // namespace

ImportContactsDialog::ImportContactsDialog(store::Session& session, ViewAccess& views,
                                           const store::Clock& clock, std::string path,
                                           QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), clock_(clock),
      path_(std::move(path)), format_(new QLabel(this)), encoding_(new QComboBox(this)),
      delimiter_(new QComboBox(this)), preview_(new QTableWidget(this)),
      mappingGrid_(new QGridLayout), mappingBox_(new QWidget), group_(new QComboBox(this)),
      status_(new StatusChoices(this)), update_(new QCheckBox(u"Update known contacts"_s, this)),
      problem_(new QLabel(this)), progress_(new QProgressBar(this)),
      report_(new QPlainTextEdit(this)), cancel_(new QPushButton(u"Cancel"_s, this)),
      import_(new QPushButton(u"Import"_s, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(u"Import Contacts"_s);
    resize(720, 600);

    encoding_->addItem(u"Detected"_s);
    for (const TextEncoding e : kEncodings) {
        encoding_->addItem(toQString(encodingName(e)));
    }
    delimiter_->addItem(u"Detected"_s);
    for (const char d : kDelimiters) {
        QString name = toQString(delimiterName(d));
        name[0] = name[0].toUpper();
        delimiter_->addItem(name);
    }
    preview_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    preview_->verticalHeader()->setVisible(false);
    preview_->setMinimumHeight(150);
    mappingBox_->setLayout(mappingGrid_);
    auto* mappingScroll = new QScrollArea(this);
    mappingScroll->setWidgetResizable(true);
    mappingScroll->setWidget(mappingBox_);
    mappingScroll->setMinimumHeight(110);
    fillGroupDropDown(*group_, session_);
    if (group_->count() > 0) {
        group_->setCurrentIndex(0);
    }
    status_->setStatus(code(store::ContactStatus::Subscribers));
    problem_->setWordWrap(true);
    progress_->setRange(0, kProgressSteps);
    progress_->setValue(0);
    progress_->setVisible(false);
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setVisible(false);

    auto* file = new QFormLayout;
    file->addRow(u"File"_s, new QLabel(toQString(path_), this));
    file->addRow(u"Format"_s, format_);
    file->addRow(u"Encoding"_s, encoding_);
    file->addRow(u"Delimiter"_s, delimiter_);

    auto* newContacts = new QFormLayout;
    newContacts->addRow(u"Add to Campaign Group"_s, group_);
    newContacts->addRow(u"Set Initial Status"_s, status_);
    newContacts->addRow(u""_s, update_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progress_, 1);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(import_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(file);
    layout->addWidget(new QLabel(u"First rows"_s, this));
    layout->addWidget(preview_, 1);
    layout->addWidget(new QLabel(u"Field of each column"_s, this));
    layout->addWidget(mappingScroll);
    layout->addLayout(newContacts);
    layout->addWidget(problem_);
    layout->addWidget(report_, 1);
    layout->addLayout(buttons);

    connect(encoding_, &QComboBox::currentIndexChanged, this, [this] { loadPreview(); });
    connect(delimiter_, &QComboBox::currentIndexChanged, this, [this] { loadPreview(); });
    connect(cancel_, &QPushButton::clicked, this, &ImportContactsDialog::cancel);
    connect(import_, &QPushButton::clicked, this, &ImportContactsDialog::runImport);
    platform::installDialogKeys(*this, cancel_);
    platform::placeOver(*this, parent);
    loadPreview();
}

void ImportContactsDialog::loadPreview() {
    if (loading_) {
        return;
    }
    loading_ = true;
    std::optional<TextEncoding> encoding;
    if (encoding_->currentIndex() > 0) {
        encoding = kEncodings[encoding_->currentIndex() - 1];
    }
    std::optional<char> delimiter;
    if (delimiter_->currentIndex() > 0) {
        delimiter = kDelimiters[delimiter_->currentIndex() - 1];
    }
    shown_ = previewContactsFile(path_, ImportFormat::Auto, encoding, delimiter);
    const bool vcard = shown_.format == ImportFormat::VCard;
    format_->setText(shown_.ok ? (vcard ? u"vCard"_s : u"CSV"_s) : u""_s);
    encoding_->setItemText(
        0, u"Detected: "_s + toQString(encodingDescription(shown_.encoding, shown_.byteOrderMark)));
    delimiter_->setItemText(
        0, vcard ? QString(u"-"_s) : u"Detected: "_s + toQString(delimiterName(shown_.delimiter)));
    delimiter_->setEnabled(!vcard);

    preview_->clear();
    preview_->setColumnCount(static_cast<int>(shown_.header.size()));
    preview_->setRowCount(static_cast<int>(shown_.rows.size()));
    QStringList headings;
    for (const std::string& heading : shown_.header) {
        headings << cellText(heading);
    }
    preview_->setHorizontalHeaderLabels(headings);
    for (std::size_t r = 0; r < shown_.rows.size(); ++r) {
        for (std::size_t c = 0; c < shown_.rows[r].size() && c < shown_.header.size(); ++c) {
            preview_->setItem(static_cast<int>(r), static_cast<int>(c),
                              new QTableWidgetItem(cellText(shown_.rows[r][c])));
        }
    }

    for (QComboBox* box : fields_) {
        delete box;
    }
    for (QLabel* label : fieldLabels_) {
        delete label;
    }
    fields_.clear();
    fieldLabels_.clear();
    for (std::size_t c = 0; c < shown_.header.size(); ++c) {
        auto* label = new QLabel(headings[static_cast<int>(c)], mappingBox_);
        auto* box = new QComboBox(mappingBox_);
        for (const ContactField f : kContactFields) {
            box->addItem(toQString(contactFieldCaption(f)), static_cast<int>(f));
        }
        box->setCurrentIndex(box->findData(static_cast<int>(shown_.mapping.at(c))));
        box->setEnabled(!vcard);
        connect(box, &QComboBox::currentIndexChanged, this, [this] { updateImportButton(); });
        mappingGrid_->addWidget(label, static_cast<int>(c) / 3, static_cast<int>(c) % 3 * 2);
        mappingGrid_->addWidget(box, static_cast<int>(c) / 3, static_cast<int>(c) % 3 * 2 + 1);
        fields_.push_back(box);
        fieldLabels_.push_back(label);
    }
    loading_ = false;
    updateImportButton();
}

void ImportContactsDialog::updateImportButton() {
    bool hasEmail = false;
    for (QComboBox* box : fields_) {
        hasEmail = hasEmail || box->currentData().toInt() == static_cast<int>(ContactField::Email);
    }
    if (!shown_.ok) {
        problem_->setText(toQString(shown_.error));
    } else if (!hasEmail) {
        problem_->setText(u"Choose the column that holds the e-mail addresses."_s);
    } else {
        problem_->clear();
    }
    import_->setEnabled(shown_.ok && hasEmail && !importing_);
}

void ImportContactsDialog::runImport() {
    ImportOptions options;
    options.format = shown_.format;
    if (encoding_->currentIndex() > 0) {
        options.encoding = kEncodings[encoding_->currentIndex() - 1];
    }
    if (delimiter_->currentIndex() > 0) {
        options.delimiter = kDelimiters[delimiter_->currentIndex() - 1];
    }
    if (shown_.format == ImportFormat::Csv) {
        std::vector<ContactField> mapping;
        for (QComboBox* box : fields_) {
            mapping.push_back(static_cast<ContactField>(box->currentData().toInt()));
        }
        options.mapping = std::move(mapping);
    }
    options.settings.groupIndex = group_->currentIndex() + 1;
    options.settings.status = status_->chosen().value_or(code(store::ContactStatus::Subscribers));
    options.settings.update = update_->isChecked();

    importing_ = true;
    cancelRequested_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{encoding_, delimiter_, group_, status_,
                                                      update_, import_, mappingBox_}) {
        w->setEnabled(false);
    }
    progress_->setValue(0);
    progress_->setVisible(true);
    const ImportResult result = importContactsFile(
        session_, path_, options, formatContactDate(clock_.now()),
        [this](std::uint64_t done, std::uint64_t total) {
            progress_->setValue(total == 0 ? kProgressSteps
                                           : static_cast<int>(done * kProgressSteps / total));
            QCoreApplication::processEvents();
            return !cancelRequested_;
        });
    importing_ = false;
    progress_->setVisible(false);
    report_->setVisible(true);
    report_->setPlainText(
        toQString(result.ok ? importReportText(result.report) : result.error + "\n"));
    cancel_->setText(u"Close"_s);
    views_.refreshViews();
    views_.updateStatusLine();
}

void ImportContactsDialog::cancel() {
    if (importing_) {
        cancelRequested_ = true;
        return;
    }
    close();
}

void ImportContactsDialog::closeEvent(QCloseEvent* event) {
    // The window stays while an import runs: closing asks it to stop.
    if (importing_) {
        cancelRequested_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace velmora::contacts
