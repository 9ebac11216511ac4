#include "platform/qt_menus.h"

#include <QAction>
#include <QKeySequence>

namespace velmora::platform {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MenuPlacer::MenuPlacer(QMenuBar& bar, std::span<const std::string_view> topMenus) {
    for (const std::string_view name : topMenus) {
        menus_[name] = bar.addMenu(fromUtf8(name));
    }
}

QMenu* MenuPlacer::menuFor(std::string_view menu, std::string_view submenu) {
    QMenu* top = menus_.at(menu);
    if (submenu.empty()) {
        return top;
    }
    QMenu*& sub = submenus_[{menu, submenu}];
    if (sub == nullptr) {
        sub = top->addMenu(fromUtf8(submenu));
    }
    return sub;
}

QAction* addMenuItem(QMenu& menu, std::string_view caption, std::string_view shortcut) {
    QAction* item = menu.addAction(fromUtf8(caption));
    if (!shortcut.empty()) {
        item->setShortcut(QKeySequence(fromUtf8(shortcut)));
        item->setShortcutContext(Qt::WindowShortcut);
    }
    return item;
}

} // namespace velmora::platform
