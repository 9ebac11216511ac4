#include "platform/qt_prompter.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

QString toQtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts[i];
        const QString pattern = QString(parts[i + 1]).replace(';', ' ');
        if (!caption.contains('(')) {
            caption += " (" + pattern + ")";
        }
        // "*.*" means every file on the system this format came from.
        caption.replace("(*.*)", "(*)");
        entries << caption;
    }
    return entries.join(";;");
}

PromptAnswer QtPrompter::message(const std::string& title, const std::string& text,
                                 PromptButtons buttons) {
    const QString qtitle = QString::fromStdString(title);
    const QString qtext = QString::fromStdString(text);
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    QMessageBox::Icon icon = QMessageBox::Information;
    if (buttons == PromptButtons::YesNo) {
        standard = QMessageBox::Yes | QMessageBox::No;
        icon = QMessageBox::Question;
    } else if (buttons == PromptButtons::YesNoCancel) {
        standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        icon = QMessageBox::Question;
    } else if (title == "Error") {
        icon = QMessageBox::Critical;
    }
    QMessageBox box(icon, qtitle, qtext, standard, parent_);
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
    const QString path =
        QFileDialog::getOpenFileName(parent_, QString::fromStdString(title),
                                     QString::fromStdString(initialPath), toQtFilter(filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}

std::optional<std::string> QtPrompter::saveFileName(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& initialPath) {
    const QString path =
        QFileDialog::getSaveFileName(parent_, QString::fromStdString(title),
                                     QString::fromStdString(initialPath), toQtFilter(filter));
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return path.toStdString();
}
