#pragma once

#include <QString>
#include <string_view>

namespace velmora::platform {

// The one crossing from the core's text to Qt's: the core holds UTF-8 in
// std::string and std::string_view, Qt holds QString. Windows, dialogs and
// models convert with this, never with a copy of their own. The way back is
// QString::toStdString(), which Qt defines as UTF-8.
inline QString toQString(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace velmora::platform
