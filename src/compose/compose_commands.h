#pragma once

#include "platform/image_names.h"

#include <array>
#include <string_view>
#include <vector>

namespace velmora::compose {

// Every command of the compose window. Menu items and image buttons name one
// of these, and the window runs each through one handler.
enum class ComposeCommand {
    New,
    Open,
    Save,
    SendEmail,    // the menu item: asks first
    SendEmailNow, // the toolbar button: does not ask
    Close,
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    InsertHyperlink,
    AttachFile,
    InsertHorizontalLine,
    ClearAttachments,
    FontStyle,
    EditHtml,
    SendPreview,
    Help,
    About,
    Bold,
    Italic,
    UnorderedList,
    OrderedList,
    AlignLeft,
    AlignCenter,
    AlignJustify,
    AlignRight,
    IncreaseIndent,
    DecreaseIndent,
    CheckMessage,
    SendTest,
    SendLater,
};

// One line of the menu bar: an item, a separator, or the submenu of the
// personal fields ("menu" names the top menu, "submenu" the submenu or is
// empty).
struct ComposeMenuEntry {
    enum class Kind { Item, Separator, PersonalFields } kind = Kind::Item;
    std::string_view menu;
    std::string_view submenu;
    std::string_view caption; // empty for a separator and the field list
    ComposeCommand command = ComposeCommand::Help;
    std::string_view shortcut; // e.g. "F1"
};
const std::vector<ComposeMenuEntry>& composeMenu();
inline constexpr std::array<std::string_view, 4> kComposeTopMenus{"&File", "&Edit", "&Tools",
                                                                  "&Help"};

// The two rows of image buttons: the message row at the top, and the
// formatting row above the body, which works on HTML only.
enum class ButtonRow { Message, Formatting };
struct ButtonRowPlace {
    int y;
    int size;
};
constexpr ButtonRowPlace buttonRowPlace(ButtonRow row) {
    return row == ButtonRow::Message ? ButtonRowPlace{0, 32} : ButtonRowPlace{110, 24};
}

struct ComposeButton {
    ButtonRow row;
    int x;
    std::string_view tooltip;
    platform::ImageName image;
    ComposeCommand command;
    // On only while the HTML body has a selection.
    bool followsSelection;
};
const std::array<ComposeButton, 21>& composeButtons();

} // namespace velmora::compose
