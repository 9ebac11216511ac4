#include "contacts/contact_dialog.h"

#include "contacts/contact_adding.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"
#include "store/text_encoding.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using platform::toQString;

namespace {

std::string text(const QLineEdit* field) {
    return field->text().toStdString();
}

std::string text(const QPlainTextEdit* field) {
    // Qt keeps each line break as one LF; the session stores CR LF.
    return store::storedLineBreaks(field->toPlainText().toStdString());
}

void showLines(QPlainTextEdit* field, const std::string& stored) {
    field->setPlainText(toQString(store::editedLineBreaks(stored)));
}

} // namespace

StatusChoices::StatusChoices(QWidget* parent) : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    int position = 0;
    for (const store::ContactStatus status : store::kVisibleStatuses) {
        auto* choice = new QRadioButton(toQString(store::statusCaption(code(status))), this);
        group_->addButton(choice, code(status));
        grid->addWidget(choice, position / 2, position % 2);
        ++position;
    }
}

void StatusChoices::setStatus(std::optional<std::int32_t> status) {
    QAbstractButton* choice = status ? group_->button(*status) : nullptr;
    if (choice != nullptr) {
        choice->setChecked(true);
        return;
    }
    // An exclusive group will not let its last checked button go.
    group_->setExclusive(false);
    for (QAbstractButton* b : group_->buttons()) {
        b->setChecked(false);
    }
    group_->setExclusive(true);
}

std::optional<std::int32_t> StatusChoices::chosen() const {
    const auto set = [this](store::ContactStatus s) { return button(code(s))->isChecked(); };
    if (group_->checkedButton() == nullptr) {
        return std::nullopt;
    }
    return readStatusChoice(set(store::ContactStatus::Prospects),
                            set(store::ContactStatus::Customers),
                            set(store::ContactStatus::DoNotContact));
}

QRadioButton* StatusChoices::button(std::int32_t status) const {
    return qobject_cast<QRadioButton*>(group_->button(status));
}

void fillGroupDropDown(QComboBox& dropDown, const store::Session& session) {
    dropDown.clear();
    for (std::int32_t slot = 1; slot <= session.groupCount(); ++slot) {
        dropDown.addItem(toQString(session.group(slot).name));
    }
}

ContactDialog::ContactDialog(store::Session& session, ViewAccess& views, const store::Clock& clock,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), clock_(&clock) {
    buildControls();
    setWindowTitle(u"Add Contact"_s);
    groupLabel_->setText(u"Add to Campaign Group"_s);
    statusLabel_->setText(u"Set Initial Status"_s);
    confirm_->setText(u"Add >>"_s);
    if (group_->count() > 0) {
        group_->setCurrentIndex(0);
    }
    status_->setStatus(code(store::ContactStatus::Subscribers));
}

ContactDialog::ContactDialog(store::Session& session, ViewAccess& views,
                             platform::Prompter& prompter, ContactEditDisplay opened,
                             std::int32_t openedSlot, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), views_(views), prompter_(&prompter),
      opened_(std::move(opened)), openedSlot_(openedSlot) {
    buildControls();
    setWindowTitle(toQString(opened_.title));
    groupLabel_->setText(u"Move to Campaign Group"_s);
    statusLabel_->setText(u"Set Status"_s);
    confirm_->setText(u"Apply"_s);
    email_->setText(toQString(opened_.email));
    name_->setText(toQString(opened_.name));
    showLines(address_, opened_.address);
    telephone_->setText(toQString(opened_.telephone));
    company_->setText(toQString(opened_.company));
    showLines(notes_, opened_.notes);
    group_->setCurrentIndex(opened_.groupPosition);
    status_->setStatus(opened_.status);
    if (opened_.multi) {
        // The joined texts only inform; several contacts share notes, group
        // and status alone.
        email_->setReadOnly(true);
        name_->setReadOnly(true);
        address_->setReadOnly(true);
        telephone_->setReadOnly(true);
        company_->setReadOnly(true);
    }
}

ContactDialog* ContactDialog::openForEdit(store::Session& session, ViewAccess& views,
                                          platform::Prompter& prompter, QWidget* parent) {
    const SlotList selected = views.selectedRows();
    std::optional<ContactEditDisplay> display = contactEditDisplay(session, selected);
    if (!display) {
        return nullptr;
    }
    auto* dialog =
        new ContactDialog(session, views, prompter, std::move(*display), selected.front(), parent);
    dialog->show();
    return dialog;
}

void ContactDialog::buildControls() {
    setAttribute(Qt::WA_DeleteOnClose);
    resize(399, 376);

    email_ = new QLineEdit(this);
    name_ = new QLineEdit(this);
    address_ = new QPlainTextEdit(this);
    address_->setFixedHeight(40);
    address_->setTabChangesFocus(true);
    telephone_ = new QLineEdit(this);
    company_ = new QLineEdit(this);
    notes_ = new QPlainTextEdit(this);
    notes_->setFixedHeight(95);
    notes_->setTabChangesFocus(true);
    group_ = new QComboBox(this);
    fillGroupDropDown(*group_, session_);
    status_ = new StatusChoices(this);
    groupLabel_ = new QLabel(this);
    statusLabel_ = new QLabel(this);

    auto* form = new QFormLayout;
    form->addRow(u"Email Address"_s, email_);
    form->addRow(u"Contact Name"_s, name_);
    form->addRow(u"Address"_s, address_);
    form->addRow(u"Telephone"_s, telephone_);
    form->addRow(u"Company"_s, company_);
    form->addRow(u"Notes"_s, notes_);
    form->addRow(groupLabel_, group_);
    form->addRow(statusLabel_, status_);

    cancel_ = new QPushButton(u"Cancel"_s, this);
    confirm_ = new QPushButton(this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel_);
    buttons->addWidget(confirm_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    connect(confirm_, &QPushButton::clicked, this, &ContactDialog::confirm);
    platform::installDialogKeys(*this, cancel_, confirm_);
}

void ContactDialog::confirm() {
    if (editing()) {
        applyEdits();
    } else {
        addContact();
    }
    close();
}

store::ContactTexts ContactDialog::typedTexts() const {
    return {text(email_),     text(name_),    text(address_),
            text(telephone_), text(company_), text(notes_)};
}

void ContactDialog::addContact() {
    ContactForm form;
    static_cast<store::ContactTexts&>(form) = typedTexts();
    form.groupIndex = group_->currentIndex() + 1;
    form.status = status_->chosen().value_or(code(store::ContactStatus::Subscribers));
    addSingleContact(session_, form, formatContactDate(clock_->now()));
    views_.refreshViews();
    views_.updateStatusLine();
}

void ContactDialog::applyEdits() {
    ContactEditInput input;
    static_cast<store::ContactTexts&>(input) = typedTexts();
    input.groupPosition = group_->currentIndex();
    input.status = status_->chosen();
    applyContactEdits(session_, opened_, openedSlot_, views_.selectedRows(), input, *prompter_);
    views_.refreshViews();
}

} // namespace velmora::contacts
