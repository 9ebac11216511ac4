#include "compose/hyperlink_dialog.h"

#include "compose/surface/body_editor.h"
#include "platform/qt_text.h"
#include "platform/qt_window_behaviour.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

using namespace Qt::StringLiterals;

namespace velmora::compose {

using platform::toQString;

namespace {

std::string toStd(const QString& text) {
    return text.toStdString();
}

} // namespace

void centreOnScreen(QWidget& window) {
    const QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    window.move(area.center() - QPoint(window.width() / 2, window.height() / 2));
}

HyperlinkDialog::HyperlinkDialog(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(u"Insert Hyperlink"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(329, 90);

    auto* textLabel = new QLabel(u"Link Text"_s, this);
    textLabel->setGeometry(5, 5, 85, 20);
    auto* locationLabel = new QLabel(u"Link Location"_s, this);
    locationLabel->setGeometry(5, 30, 85, 20);
    linkText_ = new QLineEdit(this);
    linkText_->setGeometry(95, 5, 230, 20);
    linkLocation_ = new QLineEdit(u"http://"_s, this);
    linkLocation_->setGeometry(95, 30, 230, 20);
    insert_ = new QPushButton(u"Insert >>"_s, this);
    insert_->setGeometry(235, 55, 90, 30);
    cancel_ = new QPushButton(u"Cancel"_s, this);
    cancel_->setGeometry(145, 55, 90, 30);

    connect(insert_, &QPushButton::clicked, this, [this] {
        const QString text = linkText();
        const QString location = linkLocation();
        close();
        emit insertRequested(text, location);
    });
    connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
    platform::installDialogKeys(*this, cancel_, insert_);
}

void HyperlinkDialog::setFields(const HyperlinkFields& fields) {
    linkText_->setText(toQString(fields.linkText));
    linkLocation_->setText(toQString(fields.linkLocation));
}

QString HyperlinkDialog::linkText() const {
    return linkText_->text();
}

QString HyperlinkDialog::linkLocation() const {
    return linkLocation_->text();
}

HyperlinkDialog* openHyperlinkDialog(BodyEditor& editor, QPointer<HyperlinkDialog>& current) {
    if (current) {
        current->close();
    }
    const HyperlinkFields fields = hyperlinkFieldsFor(editor.selectionProperty("text"));
    auto* dialog = new HyperlinkDialog;
    dialog->setFields(fields);
    QPointer<BodyEditor> target(&editor);
    QObject::connect(dialog, &HyperlinkDialog::insertRequested, dialog,
                     [target](const QString& text, const QString& location) {
                         if (target) {
                             insertHyperlink(*target, toStd(text), toStd(location));
                         }
                     });
    centreOnScreen(*dialog);
    dialog->show();
    current = dialog;
    return dialog;
}

} // namespace velmora::compose
