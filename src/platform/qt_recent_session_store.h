#pragma once

#include "platform/recent_session_store.h"

#include <QString>

namespace velmora::platform {

// The Recent Sessions list in an INI file of the desktop's settings folder
// (~/.config/velmora-mailtray/ unless XDG_CONFIG_HOME says otherwise).
class QtRecentSessionStore final : public RecentSessionStore {
public:
    QtRecentSessionStore();
    explicit QtRecentSessionStore(QString settingsFile) : settingsFile_(std::move(settingsFile)) {}
    std::vector<std::string> load() const override;
    void save(const std::vector<std::string>& paths) override;
    const QString& settingsFile() const { return settingsFile_; }

private:
    QString settingsFile_;
};

} // namespace velmora::platform
