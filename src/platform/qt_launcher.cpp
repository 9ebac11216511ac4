#include "platform/qt_launcher.h"

#include "platform/qt_text.h"

#include <QDesktopServices>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace velmora::platform {

namespace {

// The desktop's opener reports success as soon as it starts, even when it
// then finds no program for the file. Ask the desktop's MIME defaults
// first, and for web pages the browsers the opener falls back to; false
// only when the answer is known to be "none".
bool desktopHasProgramFor(const QString& path) {
    const QString query = QStandardPaths::findExecutable(u"xdg-mime"_s);
    if (query.isEmpty()) {
        return true; // unknown: let the desktop try
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QProcess process;
    process.start(query, {u"query"_s, u"default"_s, type.name()});
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished(1000);
        return true;
    }
    if (!process.readAllStandardOutput().trimmed().isEmpty()) {
        return true;
    }
    if (!type.inherits(u"text/html"_s) && type.name() != u"text/html"_s) {
        return false;
    }
    if (!qEnvironmentVariableIsEmpty("BROWSER")) {
        return true;
    }
    for (const QString& browser :
         {u"x-www-browser"_s, u"www-browser"_s, u"firefox"_s, u"firefox-esr"_s, u"chromium"_s,
          u"google-chrome"_s, u"epiphany"_s, u"konqueror"_s, u"falkon"_s, u"lynx"_s, u"w3m"_s,
          u"links"_s, u"elinks"_s}) {
        if (!QStandardPaths::findExecutable(browser).isEmpty()) {
            return true;
        }
    }
    return false;
}

} // namespace

bool QtLauncher::openDocument(const std::string& pathOrLink) {
    const QString text = toQString(pathOrLink);
    // A path is a file; anything with a scheme ("mailto:", "http:") a link.
    if (text.startsWith(u'/')) {
        return desktopHasProgramFor(text) && QDesktopServices::openUrl(QUrl::fromLocalFile(text));
    }
    return QDesktopServices::openUrl(QUrl(text));
}

bool QtLauncher::startProgram(const std::string& program,
                              const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) {
        list << toQString(argument);
    }
    return QProcess::startDetached(toQString(program), list);
}

} // namespace velmora::platform
