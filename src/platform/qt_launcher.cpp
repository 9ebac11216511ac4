#include "platform/qt_launcher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStringList>
#include <QUrl>

bool QtLauncher::openDocument(const std::string& pathOrLink) {
    const QString text = QString::fromStdString(pathOrLink);
    // A path is a file; anything with a scheme ("mailto:", "http:") a link.
    const QUrl url = text.startsWith('/') ? QUrl::fromLocalFile(text) : QUrl(text);
    return QDesktopServices::openUrl(url);
}

bool QtLauncher::startProgram(const std::string& program,
                              const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    return QProcess::startDetached(QString::fromStdString(program), list);
}
