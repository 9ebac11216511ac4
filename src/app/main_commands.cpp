#include "app/main_commands.h"

#include "store/records.h"
#include "store/session_commands.h"
#include "store/text.h"

namespace velmora::app {

const std::vector<MenuEntry>& mainMenu() {
    using K = MenuEntry::Kind;
    using C = MainCommand;
    static const std::vector<MenuEntry> entries{
        {K::Item, "&File", "", "&New Session", C::NewSession, "Ctrl+N"},
        {K::Item, "&File", "", "&Open Session..", C::OpenSession, "Ctrl+O"},
        {K::Separator, "&File", "", "", C::Help, ""},
        {K::Item, "&File", "", "&Save Session", C::SaveSession, "Ctrl+S"},
        {K::Item, "&File", "", "Save Session &As..", C::SaveSessionAs, ""},
        {K::Separator, "&File", "", "", C::Help, ""},
        {K::Item, "&File", "", "&Import Contacts (CSV, vCard)...", C::ImportContacts, ""},
        {K::Item, "&File", "", "&Export Contacts...", C::ExportContacts, ""},
        {K::Separator, "&File", "", "", C::Help, ""},
        {K::Item, "&File", "", "E&xit", C::Exit, ""},
        {K::Item, "&Groups", "", "&Add Campaign Group..", C::AddCampaignGroup, ""},
        {K::Item, "&Groups", "", "&Remove Campaign Group", C::RemoveCampaignGroup, ""},
        {K::Item, "&Tools", "&Mailing List", "Add &Contact..", C::AddContact, ""},
        {K::Item, "&Tools", "&Mailing List", "Add E&mail List..", C::AddEmailList, ""},
        {K::Item, "&Tools", "&Mailing List", "&Edit Entries..", C::EditEntries, ""},
        {K::Item, "&Tools", "&Mailing List", "&Delete Entries", C::DeleteEntries, ""},
        {K::Separator, "&Tools", "&Mailing List", "", C::Help, ""},
        {K::Item, "&Tools", "&Mailing List", "&Remove Duplicates...", C::RemoveDuplicates, ""},
        {K::Item, "&Tools", "&Contacts", "Set &Group..", C::SetGroup, ""},
        {K::Item, "&Tools", "&Contacts", "Set &Status..", C::SetStatus, ""},
        {K::Item, "&Tools", "&Contacts", "Set &Tag", C::SetTag, ""},
        {K::Item, "&Tools", "", "&Apply Filters", C::ApplyFilters, ""},
        {K::Item, "&Tools", "", "C&lear Filters", C::ClearFilters, ""},
        {K::Separator, "&Tools", "", "", C::Help, ""},
        {K::Item, "&Tools", "", "Mail&tray..", C::Mailtray, ""},
        {K::Item, "&Tools", "", "&Server Settings..", C::ServerSettings, ""},
        {K::Item, "&Tools", "", "Process &Replies and Bounces...", C::ProcessFeedback, ""},
        {K::Separator, "&Tools", "", "", C::Help, ""},
        {K::Item, "&Tools", "", "C&ompose Mail..", C::Compose, ""},
        {K::Item, "&Help", "", "&Help...", C::Help, "F1"},
        {K::Separator, "&Help", "", "", C::Help, ""},
        {K::Item, "&Help", "", "&About", C::About, ""},
    };
    return entries;
}

const std::array<ImageButton, 11>& imageButtons() {
    using C = MainCommand;
    // An 8-pixel gap after the fourth and after the eighth button.
    static const std::array<ImageButton, 11> buttons{{
        {0, "Add Single Contact", platform::ImageName::AddContact, C::AddContact},
        {32, "Add Email-Address List", platform::ImageName::AddEmailList, C::AddEmailList},
        {64, "Edit Selected Entries", platform::ImageName::EditEntries, C::EditEntries},
        {96, "Delete Selected Entries", platform::ImageName::DeleteEntries, C::DeleteEntries},
        {136, "Add Campaign Group", platform::ImageName::AddCampaignGroup, C::AddCampaignGroup},
        {168, "Set Group", platform::ImageName::SetGroup, C::SetGroup},
        {200, "Set Status", platform::ImageName::SetStatus, C::SetStatus},
        {232, "Set Tag", platform::ImageName::SetTag, C::SetTag},
        {272, "Mailtray (recipients)", platform::ImageName::Mailtray, C::Mailtray},
        {304, "Server / Delivery Settings", platform::ImageName::DeliverySettings,
         C::ServerSettings},
        {336, "Compose Email", platform::ImageName::Compose, C::Compose},
    }};
    return buttons;
}

ComposeRoute composeRoute(const store::SessionSettings& settings) {
    switch (settings.deliveryMethod) {
    case code(store::DeliveryMethod::None):
        return ComposeRoute::NoDeliveryMethod;
    case code(store::DeliveryMethod::SmtpServer):
        if (store::trimSpaces(settings.smtpServer).empty() || settings.smtpPort == 0) {
            return ComposeRoute::NoServer;
        }
        return ComposeRoute::OpenComposeWindow;
    case code(store::DeliveryMethod::DefaultMailClient):
        return ComposeRoute::DefaultMailClient;
    case code(store::DeliveryMethod::CustomMailClient):
        return ComposeRoute::CustomMailClient;
    default:
        return ComposeRoute::Nothing;
    }
}

std::string_view composeRefusalText(ComposeRoute route) {
    switch (route) {
    case ComposeRoute::NoDeliveryMethod:
        return "You must select a delivery method from the server settings window before you can "
               "compose and send emails.";
    case ComposeRoute::NoServer:
        return "You must enter a server address and port in the server settings window before you "
               "can compose and send emails.";
    default:
        return {};
    }
}

std::string aboutText() {
    return std::string(store::kProductTitle) +
           "\n\nE-mail marketing to your contact list: campaign groups, filters, the Mailtray, "
           "composing and sending over SMTP or through your mail client.\n\nVersion 1.1\n"
           "Copyright (C) 2026 Velmora. All rights reserved.";
}

std::string helpFilePath(const std::string& startDirectory,
                         const std::vector<std::string>& installed,
                         bool (*exists)(const std::string& path)) {
    const std::string local = startDirectory + kManualRelativePath;
    if (exists(local)) {
        return local;
    }
    for (const std::string& path : installed) {
        if (exists(path)) {
            return path;
        }
    }
    return local;
}

std::string noManualHandlerText(const std::string& manualPath) {
    return "No program was found to open the manual at " + manualPath + ".";
}

} // namespace velmora::app
