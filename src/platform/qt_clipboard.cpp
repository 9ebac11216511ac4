#include "platform/qt_clipboard.h"

#include "platform/qt_text.h"

#include <QClipboard>
#include <QGuiApplication>

namespace velmora::platform {

std::string QtClipboard::text() const {
    return QGuiApplication::clipboard()->text().toStdString();
}

void QtClipboard::setText(const std::string& text) {
    QGuiApplication::clipboard()->setText(toQString(text));
}

} // namespace velmora::platform
