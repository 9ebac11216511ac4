#pragma once

#include <QMenu>
#include <QMenuBar>
#include <QRect>
#include <map>
#include <span>
#include <string_view>
#include <utility>

class QIcon;
class QToolButton;
class QWidget;

namespace velmora::platform {

// Builds a menu bar from a window's command table: the top menus in order,
// each submenu made where the table first names it.
class MenuPlacer {
public:
    MenuPlacer(QMenuBar& bar, std::span<const std::string_view> topMenus);
    // The menu an entry of `menu` (and `submenu`, when not empty) goes in.
    QMenu* menuFor(std::string_view menu, std::string_view submenu);

private:
    std::map<std::string_view, QMenu*> menus_;
    std::map<std::pair<std::string_view, std::string_view>, QMenu*> submenus_;
};

// An item with its caption and, when not empty, its window-wide shortcut
// (e.g. "F1").
QAction* addMenuItem(QMenu& menu, std::string_view caption, std::string_view shortcut);

// A flat button of a window's image-button strip: a 16-pixel image at
// `place`, its tooltip also its accessible name.
QToolButton* addImageButton(QWidget& parent, QRect place, const QIcon& image,
                            std::string_view tooltip);

} // namespace velmora::platform
