#include "compose/edit_html_dialog.h"

#include "compose/editing_commands.h"
#include "compose/hyperlink_dialog.h"
#include "compose/surface/body_editor.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace velmora::compose {

using platform::toQString;

EditHtmlDialog::EditHtmlDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(u"Edit HTML"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(460, 294);

    editor_ = new QPlainTextEdit(this);
    editor_->setGeometry(5, 5, 450, 255);
    apply_ = new QPushButton(u"Apply Changes"_s, this);
    cancel_ = new QPushButton(u"Cancel"_s, this);
    // Right-aligned, each as wide as its caption needs.
    const int applyWidth = platform::widthForCaption(*apply_, 90);
    const int cancelWidth = platform::widthForCaption(*cancel_, 90);
    apply_->setGeometry(455 - applyWidth, 265, applyWidth, 25);
    cancel_->setGeometry(455 - applyWidth - cancelWidth, 265, cancelWidth, 25);

    connect(apply_, &QPushButton::clicked, this, [this] {
        const QString text = source();
        close();
        emit applyRequested(text);
    });
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    platform::installDialogKeys(*this, cancel_, apply_);
}

void EditHtmlDialog::setSource(const QString& source) {
    editor_->setPlainText(source);
}

QString EditHtmlDialog::source() const {
    return editor_->toPlainText();
}

EditHtmlDialog* openEditHtmlDialog(BodyEditor& editor, QPointer<EditHtmlDialog>& current) {
    if (current) {
        current->close();
    }
    auto* dialog = new EditHtmlDialog;
    dialog->setSource(toQString(editor.documentSource()));
    QPointer<BodyEditor> target(&editor);
    QObject::connect(dialog, &EditHtmlDialog::applyRequested, dialog,
                     [target](const QString& source) {
                         if (target) {
                             applyHtmlEdit(*target, source.toStdString());
                         }
                     });
    centreOnScreen(*dialog);
    dialog->show();
    current = dialog;
    return dialog;
}

} // namespace velmora::compose
