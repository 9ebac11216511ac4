#include "platform/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace velmora::platform {

std::string QtClipboard::text() const {
    return QGuiApplication::clipboard()->text().toStdString();
}

void QtClipboard::setText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

} // namespace velmora::platform
