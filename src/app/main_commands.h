#pragma once

#include "platform/image_names.h"
#include "store/records.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

// Every command of the main window. Menu items and image buttons name one of
// these, and the window runs each through one handler.
enum class MainCommand {
    NewSession,
    OpenSession,
    SaveSession,
    SaveSessionAs,
    ImportContacts,
    ExportContacts,
    Exit,
    AddCampaignGroup,
    RemoveCampaignGroup,
    AddContact,
    AddEmailList,
    EditEntries,
    DeleteEntries,
    RemoveDuplicates,
    SetGroup,
    SetStatus,
    SetTag,
    ApplyFilters,
    ClearFilters,
    Mailtray,
    ServerSettings,
    ProcessFeedback,
    Compose,
    Help,
    About,
};

// One line of the menu bar: an item, a separator, or the start of a submenu
// ("menu" names the top menu, "submenu" the submenu or is empty).
struct MenuEntry {
    enum class Kind { Item, Separator } kind = Kind::Item;
    std::string_view menu;
    std::string_view submenu;
    std::string_view caption; // empty for a separator; "&" marks the key letter
    MainCommand command = MainCommand::Help;
    std::string_view shortcut; // e.g. "F1", "Ctrl+S"
};
const std::vector<MenuEntry>& mainMenu();
// The top menus in order, "&" before each one's key letter (Alt+F opens File).
inline constexpr std::array<std::string_view, 4> kTopMenus{"&File", "&Groups", "&Tools", "&Help"};

struct ImageButton {
    int x;
    std::string_view tooltip;
    platform::ImageName image;
    MainCommand command;
};
inline constexpr int kImageButtonSize = 32;
const std::array<ImageButton, 11>& imageButtons();

// What the Compose command does with the session's delivery settings.
enum class ComposeRoute {
    NoDeliveryMethod, // "Information": choose a method first
    NoServer,         // "Information": enter server and port first
    OpenComposeWindow,
    DefaultMailClient,
    CustomMailClient,
    Nothing, // an unknown method code
};
ComposeRoute composeRoute(const store::SessionSettings& settings);
// The "Information" text for the two refusals, empty for the other routes.
std::string_view composeRefusalText(ComposeRoute route);

// The About box.
inline constexpr const char* kAboutTitle = "About";
std::string aboutText();

// The manual the Help command opens: below the start folder when the program
// runs from its source or unpacked folder, else the first of `installed`
// that exists; the start folder's path when none exists (the desktop then
// reports nothing, as with any missing file).
std::string helpFilePath(const std::string& startDirectory,
                         const std::vector<std::string>& installed,
                         bool (*exists)(const std::string& path));
inline constexpr const char* kManualRelativePath = "help/manual.html";
// What Help says when the desktop has no program for the manual.
std::string noManualHandlerText(const std::string& manualPath);

} // namespace velmora::app
