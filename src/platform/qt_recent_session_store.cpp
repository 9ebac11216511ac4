#include "platform/qt_recent_session_store.h"

#include "platform/qt_text.h"

#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace velmora::platform {

namespace {
constexpr const char* kKey = "recentSessions";
}

QtRecentSessionStore::QtRecentSessionStore()
    : settingsFile_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                    u"/velmora-mailtray/velmora-mailtray.conf"_s) {}

std::vector<std::string> QtRecentSessionStore::load() const {
    const QSettings settings(settingsFile_, QSettings::IniFormat);
    std::vector<std::string> paths;
    for (const QString& path : settings.value(kKey).toStringList()) {
        paths.push_back(path.toStdString());
    }
    return paths;
}

void QtRecentSessionStore::save(const std::vector<std::string>& paths) {
    QStringList list;
    for (const std::string& path : paths) {
        list << toQString(path);
    }
    QSettings settings(settingsFile_, QSettings::IniFormat);
    settings.setValue(kKey, list);
    settings.sync();
}

} // namespace velmora::platform
