#include "platform/qt_menus.h"

#include "platform/qt_text.h"

#include <QAction>
#include <QKeySequence>
#include <QToolButton>

namespace velmora::platform {

MenuPlacer::MenuPlacer(QMenuBar& bar, std::span<const std::string_view> topMenus) {
    for (const std::string_view name : topMenus) {
        menus_[name] = bar.addMenu(toQString(name));
    }
}

QMenu* MenuPlacer::menuFor(std::string_view menu, std::string_view submenu) {
    QMenu* top = menus_.at(menu);
    if (submenu.empty()) {
        return top;
    }
    QMenu*& sub = submenus_[{menu, submenu}];
    if (sub == nullptr) {
        sub = top->addMenu(toQString(submenu));
    }
    return sub;
}

QAction* addMenuItem(QMenu& menu, std::string_view caption, std::string_view shortcut) {
    QAction* item = menu.addAction(toQString(caption));
    if (!shortcut.empty()) {
        item->setShortcut(QKeySequence(toQString(shortcut)));
        item->setShortcutContext(Qt::WindowShortcut);
    }
    return item;
}

QToolButton* addImageButton(QWidget& parent, QRect place, const QIcon& image,
                            std::string_view tooltip) {
    auto* button = new QToolButton(&parent);
    button->setGeometry(place);
    button->setIcon(image);
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(toQString(tooltip));
    button->setAccessibleName(toQString(tooltip));
    return button;
}

} // namespace velmora::platform
