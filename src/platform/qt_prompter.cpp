#include "platform/qt_prompter.h"

#include "platform/qt_text.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace velmora::platform {

QString toQtFilter(const std::string& filter) {
    const QStringList parts = toQString(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(u';', u' ');
        if (!caption.contains(u'(')) {
            caption += u" ("_s + pattern + u")"_s;
        }
        // "*.*" means every file on the system this format came from.
        caption.replace(u"(*.*)"_s, u"(*)"_s);
        entries << caption;
    }
    return entries.join(u";;"_s);
}

namespace {

// Hands the focus back to the window that asked once its box or requester
// closes. Not every window manager does so by itself (nor does the offscreen
// platform the window tests run on), and without it the main window could
// come up over the compose window the user is working in.
class GivesFocusBack {
public:
    explicit GivesFocusBack(QWidget* owner) : owner_(owner) {}
    ~GivesFocusBack() {
        if (owner_ != nullptr && owner_->isVisible()) {
            owner_->activateWindow();
        }
    }
    GivesFocusBack(const GivesFocusBack&) = delete;
    GivesFocusBack& operator=(const GivesFocusBack&) = delete;

private:
    QPointer<QWidget> owner_;
};

} // namespace

QWidget* QtPrompter::owner() const {
    // The window the user is working in asked: a box or requester there
    // keeps that window in front when it closes (a compose window over the
    // main window stays on top).
    QWidget* active = QApplication::activeWindow();
    if (active != nullptr && active->isVisible() && !active->windowFlags().testFlag(Qt::Popup)) {
        return active;
    }
    return parent_;
}

PromptAnswer QtPrompter::message(const std::string& title, const std::string& text,
                                 PromptButtons buttons) {
    const QString qtitle = toQString(title);
    const QString qtext = toQString(text);
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (buttons == PromptButtons::YesNo || buttons == PromptButtons::YesNoDefaultNo) {
        standard = QMessageBox::Yes | QMessageBox::No;
        icon = QMessageBox::Question;
    } else if (buttons == PromptButtons::YesNoCancel) {
        standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        icon = QMessageBox::Question;
    } else if (title == "Error") {
        icon = QMessageBox::Critical;
    }
    const GivesFocusBack focus(owner());
    QMessageBox box(icon, qtitle, qtext, standard, owner());
    if (buttons == PromptButtons::YesNoDefaultNo) {
        box.setDefaultButton(QMessageBox::No);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    case QMessageBox::Cancel:
        return PromptAnswer::Cancel;
    default:
        return buttons == PromptButtons::Ok ? PromptAnswer::Ok : PromptAnswer::Cancel;
    }
}

std::optional<std::string> QtPrompter::openFileName(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& initialPath) {
    const GivesFocusBack focus(owner());
    const QString path = QFileDialog::getOpenFileName(owner(), toQString(title),
                                                      toQString(initialPath), toQtFilter(filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QtPrompter::saveFileName(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& initialPath) {
    const GivesFocusBack focus(owner());
    const QString path = QFileDialog::getSaveFileName(owner(), toQString(title),
                                                      toQString(initialPath), toQtFilter(filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

} // namespace velmora::platform
