#include "delivery/mail_client.h"
#include "delivery/run/send_list.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

namespace {

struct RecordingLauncher final : platform::Launcher {
    bool openDocument(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
    bool startProgram(const std::string& program,
                      const std::vector<std::string>& arguments) override {
        programs.push_back(program);
        argumentLists.push_back(arguments);
        return true;
    }
    std::vector<std::string> urls;
    std::vector<std::string> programs;
    std::vector<std::vector<std::string>> argumentLists;
};

store::Session sessionWithMailtray(std::initializer_list<const char*> emails) {
    store::Session s;
    s.resetToNew();
    store::SessionSettings settings = s.settings();
    settings.fromAddress = "me@x.org";
    settings.clientPath = "/usr/bin/client";
    s.setSettings(settings);
    for (const char* e : emails) {
        store::NewContact c;
        c.email = e;
        const auto slot = s.createContact(c, "01/01/2026");
        store::Contact entry = s.contact(slot);
        entry.id = slot;
        s.addMailtrayEntry(entry);
    }
    return s;
}

} // namespace

TEST(SendList, AddRecipientTrimsAndSkipsBlankAddresses) {
    store::Session s;
    EXPECT_TRUE(addRecipient(s, 3, "  a@x "));
    EXPECT_FALSE(addRecipient(s, 4, "   "));
    ASSERT_EQ(s.sendList.count(), 1);
    EXPECT_EQ(s.sendList.at(1).id, 3);
    EXPECT_EQ(s.sendList.at(1).email, "a@x");
}

TEST(MailClient, GatheringStampsContactsAndSkipsDeletedEntries) {
    store::Session s = sessionWithMailtray({"a@x.org", "b@x.org", "c@x.org"});
    s.modifyMailtrayEntry(
        2, [](store::Contact& e) { e.status = code(store::ContactStatus::Deleted); });
    s.modifyMailtrayEntry(3,
                          [](store::Contact& e) { e.email = "  "; }); // blank: stamped, not listed
    EXPECT_EQ(gatherMailtrayRecipients(s, "12/07/2026"), "a@x.org");
    EXPECT_EQ(s.contact(1).timesContacted, 1);
    EXPECT_EQ(s.contact(2).timesContacted, 0);
    EXPECT_EQ(s.contact(3).lastContacted, "12/07/2026");
    EXPECT_EQ(s.contactedToday, 2);
    EXPECT_EQ(s.mailtrayEntry(1).timesContacted, 0); // the entry itself is not changed
}

TEST(MailClient, MailtoLinkKeepsOneBccValue) {
    EXPECT_EQ(mailtoLink("me@x.org", "a@x.org,b+news@x.org"),
              "mailto:me@x.org?bcc=a@x.org,b+news@x.org");
    EXPECT_EQ(mailtoLink("", ""), "mailto:?bcc=");
    // Characters that would end the value or start another field are encoded.
    EXPECT_EQ(mailtoLink("Me <me@x.org>", "a&cc=evil@x.org,b?x#y%z c@x.org"),
              "mailto:Me%20%3Cme@x.org%3E?bcc=a%26cc=evil@x.org,b%3Fx%23y%25z%20c@x.org");
    EXPECT_EQ(mailtoLink("a,b@x.org", ""), "mailto:a%2Cb@x.org?bcc=");
}

TEST(MailClient, TemplateSplitsLikeAShellWithoutExpanding) {
    EXPECT_EQ(splitCommandTemplate("-compose \"to='%from%',bcc='%mailtray%'\""),
              (std::vector<std::string>{"-compose", "to='%from%',bcc='%mailtray%'"}));
    EXPECT_EQ(splitCommandTemplate("  a   \"b c\"d \"\" e\"\"\"f\""),
              (std::vector<std::string>{"a", "b cd", "", "e\"f"}));
    EXPECT_EQ(splitCommandTemplate("$HOME `id` ;|&"),
              (std::vector<std::string>{"$HOME", "`id`", ";|&"}));
}

TEST(MailClient, PlaceholdersAreReplacedInsideArgumentsFromFirst) {
    const auto args = customClientArguments("-compose \"to='%from%',bcc='%mailtray%'\"", "me@x.org",
                                            "a@x.org,b@x.org");
    EXPECT_EQ(args, (std::vector<std::string>{"-compose", "to='me@x.org',bcc='a@x.org,b@x.org'"}));
    EXPECT_EQ(customClientArguments("%mailtray% %MAILTRAY% %mailtray%", "", "l"),
              (std::vector<std::string>{"l", "%MAILTRAY%", "l"}));
    // "%from%" first: a From address naming the other placeholder gets the list.
    EXPECT_EQ(customClientArguments("%from%", "%mailtray%", "l"), (std::vector<std::string>{"l"}));
    // A hostile address stays inside its one argument.
    const auto hostile =
        customClientArguments("--to %mailtray%", "", "x@y\" ; rm -rf ~ ; \"z@w,$(id)");
    EXPECT_EQ(hostile, (std::vector<std::string>{"--to", "x@y\" ; rm -rf ~ ; \"z@w,$(id)"}));
}

TEST(MailClient, DefaultClientOpensTheLinkEvenForAnEmptyMailtray) {
    store::Session s = sessionWithMailtray({});
    RecordingLauncher launcher;
    EXPECT_EQ(deliverByDefaultClient(s, launcher, "d"), HandoffResult::Started);
    EXPECT_EQ(launcher.urls, (std::vector<std::string>{"mailto:me@x.org?bcc="}));
}

TEST(MailClient, CustomClientStartsOnlyWithRecipients) {
    store::Session empty = sessionWithMailtray({});
    RecordingLauncher launcher;
    EXPECT_EQ(deliverByCustomClient(empty, launcher, "d"), HandoffResult::NothingToStart);
    EXPECT_TRUE(launcher.programs.empty());

    store::Session s = sessionWithMailtray({"a@x.org", "b@x.org"});
    EXPECT_EQ(deliverByCustomClient(s, launcher, "d"), HandoffResult::Started);
    ASSERT_EQ(launcher.programs.size(), 1u);
    EXPECT_EQ(launcher.programs[0], "/usr/bin/client");
    EXPECT_EQ(launcher.argumentLists[0],
              (std::vector<std::string>{"-compose", "to='me@x.org',bcc='a@x.org,b@x.org'"}));
    EXPECT_EQ(s.contactedToday, 2);
}

TEST(MailClient, AddressesThatCannotBePassedWholeAreLeftOutAndNotStamped) {
    store::Session s = sessionWithMailtray({"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"});
    s.modifyMailtrayEntry(2, [](store::Contact& e) { e.email = std::string("b@x.org\0evil", 12); });
    s.modifyMailtrayEntry(3, [](store::Contact& e) { e.email = "c@x.org,f@x.org"; });
    s.modifyMailtrayEntry(4, [](store::Contact& e) { e.email = "d@x.org\r\nBcc: g@x.org"; });
    RecordingLauncher launcher;
    std::int32_t leftOut = -1;
    EXPECT_EQ(deliverByCustomClient(s, launcher, "12/07/2026", &leftOut), HandoffResult::Started);
    EXPECT_EQ(leftOut, 3);
    ASSERT_EQ(launcher.argumentLists.size(), 1u);
    EXPECT_EQ(s.sendList.count(), 2);
    for (std::int32_t slot = 1; slot <= 5; ++slot) {
        const bool handedOver = slot == 1 || slot == 5;
        EXPECT_EQ(s.contact(slot).timesContacted, handedOver ? 1 : 0) << slot;
    }
    EXPECT_EQ(s.contactedToday, 2);
    EXPECT_EQ(leftOutOfHandoffText(3),
              "3 addresses were left out of the hand-off and not stamped as contacted: they hold "
              "characters that cannot be passed to a mail client whole.");

    leftOut = -1;
    EXPECT_EQ(deliverByDefaultClient(s, launcher, "12/07/2026", &leftOut), HandoffResult::Started);
    EXPECT_EQ(leftOut, 3);
    EXPECT_EQ(launcher.urls.back(), "mailto:me@x.org?bcc=a@x.org,e@x.org");
}

// The one hand-off the window and the command-line tool run: the method
// picks the client, any other method stamps nothing; one text per client.
TEST(MailClient, TheDeliveryMethodPicksTheClientAndItsFailureText) {
    const struct {
        store::DeliveryMethod method;
        HandoffResult result;
        std::size_t urls;
        std::size_t programs;
    } cases[] = {
        {store::DeliveryMethod::DefaultMailClient, HandoffResult::Started, 1, 0},
        {store::DeliveryMethod::CustomMailClient, HandoffResult::Started, 0, 1},
        {store::DeliveryMethod::SmtpServer, HandoffResult::NothingToStart, 0, 0},
        {store::DeliveryMethod::None, HandoffResult::NothingToStart, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(code(c.method));
        store::Session s = sessionWithMailtray({"a@x.org"});
        store::SessionSettings settings = s.settings();
        settings.deliveryMethod = code(c.method);
        s.setSettings(settings);
        RecordingLauncher launcher;
        EXPECT_EQ(handOffToMailClient(s, launcher, "d"), c.result);
        EXPECT_EQ(launcher.urls.size(), c.urls);
        EXPECT_EQ(launcher.programs.size(), c.programs);
        EXPECT_EQ(s.contact(1).timesContacted, static_cast<std::int32_t>(c.urls + c.programs));
        EXPECT_EQ(deliversByMailClient(settings), c.urls + c.programs == 1);
    }
    store::SessionSettings settings;
    settings.deliveryMethod = code(store::DeliveryMethod::DefaultMailClient);
    EXPECT_EQ(mailClientFailedText(settings), "The default mail client could not be opened.");
    settings.deliveryMethod = code(store::DeliveryMethod::CustomMailClient);
    settings.clientPath = "/opt/mail/client";
    EXPECT_EQ(mailClientFailedText(settings),
              "The mail client \"/opt/mail/client\" could not be started.");
}

} // namespace velmora::delivery
