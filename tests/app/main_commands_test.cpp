#include "app/main_commands.h"

#include <gtest/gtest.h>
#include <set>

namespace velmora::app {

namespace {

store::SessionSettings smtp(std::string server, std::int32_t port) {
    store::SessionSettings s;
    s.deliveryMethod = code(store::DeliveryMethod::SmtpServer);
    s.smtpServer = std::move(server);
    s.smtpPort = port;
    return s;
}

} // namespace

TEST(ComposeGuards, RouteByDeliveryMethod) {
    store::SessionSettings none;
    none.deliveryMethod = code(store::DeliveryMethod::None);
    EXPECT_EQ(composeRoute(none), ComposeRoute::NoDeliveryMethod);
    EXPECT_EQ(composeRefusalText(ComposeRoute::NoDeliveryMethod),
              "You must select a delivery method from the server settings window before you can "
              "compose and send emails.");
    EXPECT_EQ(composeRoute(smtp("mail.example.org", 25)), ComposeRoute::OpenComposeWindow);
    EXPECT_EQ(composeRoute(smtp("   ", 25)), ComposeRoute::NoServer);
    EXPECT_EQ(composeRoute(smtp("", 25)), ComposeRoute::NoServer);
    EXPECT_EQ(composeRoute(smtp("mail.example.org", 0)), ComposeRoute::NoServer);
    EXPECT_EQ(composeRefusalText(ComposeRoute::NoServer),
              "You must enter a server address and port in the server settings window before you "
              "can compose and send emails.");
    store::SessionSettings client;
    client.deliveryMethod = code(store::DeliveryMethod::DefaultMailClient);
    EXPECT_EQ(composeRoute(client), ComposeRoute::DefaultMailClient);
    client.deliveryMethod = code(store::DeliveryMethod::CustomMailClient);
    EXPECT_EQ(composeRoute(client), ComposeRoute::CustomMailClient);
    client.deliveryMethod = 9;
    EXPECT_EQ(composeRoute(client), ComposeRoute::Nothing);
    EXPECT_TRUE(composeRefusalText(ComposeRoute::Nothing).empty());
}

TEST(MainMenu, EveryButtonCommandHasAMenuItem) {
    std::set<MainCommand> inMenu;
    for (const MenuEntry& entry : mainMenu()) {
        if (entry.kind == MenuEntry::Kind::Item) {
            EXPECT_TRUE(inMenu.insert(entry.command).second) << entry.caption;
        }
    }
    for (const ImageButton& b : imageButtons()) {
        EXPECT_TRUE(inMenu.count(b.command)) << b.tooltip;
    }
    EXPECT_EQ(inMenu.size(), 25u); // with Process Replies and Bounces...
}

TEST(HelpFile, PrefersTheStartFolderThenTheInstalledCopies) {
    static std::set<std::string> present;
    const auto exists = [](const std::string& path) { return present.count(path) > 0; };
    present = {"/usr/share/m.html", "/opt/run/help/manual.html"};
    EXPECT_EQ(helpFilePath("/opt/run/", {"/usr/share/m.html"}, exists),
              "/opt/run/help/manual.html");
    EXPECT_EQ(helpFilePath("/home/ann/", {"/nope.html", "/usr/share/m.html"}, exists),
              "/usr/share/m.html");
    present.clear();
    EXPECT_EQ(helpFilePath("/home/ann/", {"/usr/share/m.html"}, exists),
              "/home/ann/help/manual.html");
}

} // namespace velmora::app
