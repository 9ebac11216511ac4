// Send runs and previews over scripted servers.
#include "../scripted_connection.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/run/send_run.h"
#include "delivery/smtp/smtp_dialogue.h"
#include "support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <utility>

namespace velmora::delivery {

using namespace delivery_testing::script;

using delivery_testing::deliveryScript;
using delivery_testing::RecordingObserver;
using delivery_testing::refusedAt;
using delivery_testing::ScriptedServer;
using delivery_testing::ScriptStep;
using testing_support::FakePrompter;

namespace {

using Recipients = std::vector<std::pair<std::int32_t, std::string>>;

constexpr const char* kSender = "ann@example.org";
constexpr const char* kToday = "12/07/2026";

store::LocalDateTime runDay() {
    return {2026, 12, 7, 9, 0, 0, 4, 0, 0};
}

struct RunFixture {
    store::FixedClock clock{runDay()};
    MimeTypesFile types{"/nonexistent"};
    ScriptedServer server{clock};
    SendRunEnvironment environment{clock, types, server.factory(), "client.example"};
    RecordingObserver observer;
    store::Session session;
    MessageDraft draft;

    RunFixture() {
        store::SessionSettings settings;
        settings.smtpServer = "mail.example.net";
        settings.smtpPort = 25;
        settings.timeoutSeconds = 10;
        // The unencrypted dialogue; the encrypted ones have tests of their own.
        settings.extensions.set("smtpSecurity", "none");
        session.setSettings(settings);
        draft.fromText = "Ann Lee <ann@example.org>";
        draft.subject = "  Winter offer ";
        draft.body = "Hello";
        environment.sleep = [this](int ms) { clock.advanceMilliseconds(ms); };
    }
    std::int32_t contact(const std::string& email, store::ContactStatus status) {
        store::NewContact fields;
        fields.email = email;
        fields.status = code(status);
        return session.createContact(fields, "01/01/2026");
    }
    // Queues contact `slot` in the Mailtray as "Add Selected" would.
    void queue(std::int32_t slot, bool deletedEntry = false) {
        store::Contact entry = session.contact(slot);
        entry.id = slot;
        if (deletedEntry) {
            entry.status = code(store::ContactStatus::Deleted);
        }
        session.addMailtrayEntry(entry);
    }
    Recipients gathered(RecipientChoice choice, const std::vector<std::int32_t>& rows = {}) {
        draft.recipientChoice = code(choice);
        gatherRecipients(session, draft, rows);
        Recipients out;
        for (const store::Contact& entry : session.sendList) {
            out.emplace_back(entry.id, entry.email.str());
        }
        return out;
    }
    SendRunSummary run(RecipientChoice choice) {
        draft.recipientChoice = code(choice);
        return sendToRecipients(session, draft, {}, environment, observer);
    }
};

} // namespace

TEST(SendRun, GathersEachChoiceInSlotOrder) {
    RunFixture f;
    const auto sub = f.contact("sub@example.org", store::ContactStatus::Subscribers);
    const auto pro = f.contact("pro@example.org", store::ContactStatus::Prospects);
    const auto cus = f.contact("cus@example.org", store::ContactStatus::Customers);
    const auto dnc = f.contact("dnc@example.org", store::ContactStatus::DoNotContact);
    const auto gone = f.contact("gone@example.org", store::ContactStatus::Subscribers);
    f.session.deleteContact(gone);
    const auto twin = f.contact("sub@example.org", store::ContactStatus::Subscribers);
    f.contact("", store::ContactStatus::Customers); // a blank address is never a recipient
    f.queue(dnc);
    f.queue(pro, true);
    f.queue(sub);

    f.draft.singleRecipient = "  typed@example.org ";
    EXPECT_EQ(f.gathered(RecipientChoice::SingleRecipient),
              (Recipients{{-1, "typed@example.org"}}));
    f.draft.singleRecipient = "   ";
    EXPECT_TRUE(f.gathered(RecipientChoice::SingleRecipient).empty());
    // Every live entry, Do Not Contact included.
    EXPECT_EQ(f.gathered(RecipientChoice::Mailtray),
              (Recipients{{dnc, "dnc@example.org"}, {sub, "sub@example.org"}}));
    // The rows as shown, in their order, whatever their status; no slot that is not a contact.
    EXPECT_EQ(f.gathered(RecipientChoice::FilteredResults, {dnc, sub, 999}),
              (Recipients{{dnc, "dnc@example.org"}, {sub, "sub@example.org"}}));
    EXPECT_EQ(f.gathered(RecipientChoice::AllCustomers), (Recipients{{cus, "cus@example.org"}}));
    EXPECT_EQ(f.gathered(RecipientChoice::AllProspects), (Recipients{{pro, "pro@example.org"}}));
    EXPECT_EQ(f.gathered(RecipientChoice::AllSubscribers),
              (Recipients{{sub, "sub@example.org"}, {twin, "sub@example.org"}}));
    EXPECT_EQ(f.gathered(RecipientChoice::EntireList), (Recipients{{sub, "sub@example.org"},
                                                                   {pro, "pro@example.org"},
                                                                   {cus, "cus@example.org"},
                                                                   {twin, "sub@example.org"}}));
}

TEST(SendRun, ListRunLogsOneResultPerRecipientStampsAndSumsUp) {
    RunFixture f;
    const auto first = f.contact("sub@example.org", store::ContactStatus::Subscribers);
    f.contact("dnc@example.org", store::ContactStatus::DoNotContact);
    const auto twin = f.contact("sub@example.org", store::ContactStatus::Prospects);
    f.server.add(deliveryScript(kSender, "sub@example.org"));
    f.server.add(deliveryScript(kSender, "sub@example.org"));

    const SendRunSummary summary = f.run(RecipientChoice::EntireList);
    EXPECT_EQ(f.server.opened, 2);
    EXPECT_FALSE(summary.stoppedEarly);
    EXPECT_EQ(f.observer.lines,
              (std::vector<std::string>{"sub@example.org", "Delivered.", "sub@example.org",
                                        "Delivered.", "Delivered 2, rejected 0, failed 0."}));
    EXPECT_EQ(f.observer.labels,
              (std::vector<std::string>{"Sending 1/2 (sub@example.org)",
                                        "Sending 2/2 (sub@example.org)", "Finished."}));
    EXPECT_EQ(f.observer.progressMaximum, 2);
    EXPECT_EQ(f.observer.progressValue, 2);
    EXPECT_FALSE(f.observer.sending);
    for (const auto slot : {first, twin}) {
        EXPECT_EQ(f.session.contact(slot).lastContacted.str(), kToday);
        EXPECT_EQ(f.session.contact(slot).timesContacted, 1);
    }
    EXPECT_EQ(f.session.contactedToday, 0);
    // The subject goes out trimmed, the Date header from the run's clock.
    const std::string& message = f.server.connections[0]->messages[0];
    EXPECT_NE(message.find("\r\nSubject: Winter offer\r\n"), std::string::npos);
    EXPECT_NE(message.find("\r\nTo: sub@example.org\r\n"), std::string::npos);
}

TEST(SendRun, SingleRecipientLogsTheDialogueAndStampsNobody) {
    RunFixture f;
    const auto slot = f.contact("typed@example.org", store::ContactStatus::Customers);
    f.draft.singleRecipient = "typed@example.org";
    f.server.add(deliveryScript(kSender, "typed@example.org"));
    const SendRunSummary summary = f.run(RecipientChoice::SingleRecipient);
    EXPECT_EQ(summary.delivered, 1);
    ASSERT_GE(f.observer.lines.size(), 4u);
    EXPECT_EQ(f.observer.lines[0], "typed@example.org");
    EXPECT_EQ(f.observer.lines[1], "Initializing network connection...");
    EXPECT_EQ(f.observer.lines[3], "<220 mail.example.net ESMTP");
    EXPECT_EQ(f.observer.lines.back(), "Finished.");
    EXPECT_EQ(f.session.contact(slot).timesContacted, 0);

    // A blank address: no session, "Finished." at once.
    RunFixture blank;
    blank.draft.singleRecipient = " ";
    blank.run(RecipientChoice::SingleRecipient);
    EXPECT_EQ(blank.server.opened, 0);
    EXPECT_TRUE(blank.observer.lines.empty());
    EXPECT_EQ(blank.observer.labels, std::vector<std::string>{"Finished."});
}

TEST(SendRun, CancelDuringTheThirdOfFiveStopsThereAndStampsOnlyDeliveries) {
    RunFixture f;
    std::vector<std::int32_t> slots;
    for (int i = 1; i <= 5; ++i) {
        slots.push_back(
            f.contact("r" + std::to_string(i) + "@example.org", store::ContactStatus::Subscribers));
        f.queue(slots.back());
    }
    f.server.add(deliveryScript(kSender, "r1@example.org"));
    f.server.add(deliveryScript(kSender, "r2@example.org"));
    std::vector<ScriptStep> third = deliveryScript(kSender, "r3@example.org");
    third.resize(5);
    third.push_back(silence(5000));
    f.server.add(third);
    // Cancel once the third dialogue is under way.
    f.server.onOpen = [&f](int n) {
        if (n == 3) {
            f.observer.cancelAtPump = f.observer.pumps + 4;
        }
    };

    const SendRunSummary summary = f.run(RecipientChoice::Mailtray);
    EXPECT_EQ(f.server.opened, 3);
    EXPECT_TRUE(summary.cancelled);
    EXPECT_TRUE(summary.stoppedEarly);
    EXPECT_EQ(f.observer.lines,
              (std::vector<std::string>{"r1@example.org", "Delivered.", "r2@example.org",
                                        "Delivered.", "r3@example.org", "Cancelled.",
                                        "Delivered 2, rejected 0, failed 0, not attempted 3."}));
    const std::vector<int> times = {1, 1, 0, 0, 0};
    for (std::size_t i = 0; i < slots.size(); ++i) {
        EXPECT_EQ(f.session.contact(slots[i]).timesContacted, times[i]) << i;
    }
    EXPECT_EQ(f.session.contact(slots[2]).lastContacted.str(), "never");
    EXPECT_EQ(f.observer.labels.back(), "Stopped early: 3 of 5 recipients not attempted.");
}

TEST(SendRun, CancelBetweenSessionsIsLoggedByTheRun) {
    RunFixture f;
    f.queue(f.contact("r1@example.org", store::ContactStatus::Subscribers));
    f.queue(f.contact("r2@example.org", store::ContactStatus::Subscribers));
    f.server.add(deliveryScript(kSender, "r1@example.org"));
    f.observer.cancelAfterLine = "Delivered.";
    const SendRunSummary summary = f.run(RecipientChoice::Mailtray);
    EXPECT_EQ(f.server.opened, 1);
    EXPECT_TRUE(summary.stoppedEarly);
    EXPECT_EQ(f.observer.lines,
              (std::vector<std::string>{"r1@example.org", "Delivered.", "Cancelled.",
                                        "Delivered 1, rejected 0, failed 0, not attempted 1."}));
}

TEST(SendRun, RefusalsFailOneRecipientWhileServerFailuresStopTheRun) {
    struct Case {
        const char* name;
        std::vector<ScriptStep> first; // the first of two recipients
        bool refuseConnect;
        bool stops;
        const char* resultLine;
    };
    const std::string a = "a@example.org";
    std::vector<ScriptStep> timesOut = deliveryScript(kSender, a);
    timesOut.resize(3);
    timesOut.push_back(silence(20000));
    std::vector<ScriptStep> hangsUp = deliveryScript(kSender, a);
    hangsUp.resize(8);
    hangsUp.push_back(hangs());
    const std::vector<Case> cases = {
        // Each reason once: the session logged it already.
        {"no connection",
         {},
         true,
         false,
         "Could not connect to mail.example.net (port 25): Connection refused."},
        // A refused sender and 530 concern the session, not the recipient
        // (421 pauses the run instead: see the delivery run tests).
        {"sender refused", refusedAt(kSender, a, 4, "553 sender rejected\r\n"), false, true,
         "Failed: The server refused the sender: 553 sender rejected"},
        {"530 at the recipient", refusedAt(kSender, a, 6, "530 5.7.0 Authentication required\r\n"),
         false, true, "Failed: The server refused the session: 530 5.7.0 Authentication required"},
        {"recipient refused", refusedAt(kSender, a, 6, "550 no such user\r\n"), false, false,
         "Rejected: 550 no such user"},
        {"message refused", refusedAt(kSender, a, 10, "554 spam\r\n"), false, false,
         "Rejected: 554 spam"},
        {"greeting refused", refusedAt(kSender, a, 0, "554 no service\r\n"), false, true,
         "Failed: The server refused the connection: 554 no service"},
        {"HELO refused", refusedAt(kSender, a, 2, "501 bad name\r\n"), false, true,
         "Failed: The server refused HELO: 501 bad name"},
        {"time-out", timesOut, false, true, "Timeout reached."},
        {"lost connection", hangsUp, false, true, "Connection closed by the server."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunFixture f;
        const auto first = f.contact(a, store::ContactStatus::Customers);
        const auto second = f.contact("b@example.org", store::ContactStatus::Customers);
        f.server.add(c.first).refuseConnect = c.refuseConnect;
        f.server.add(deliveryScript(kSender, "b@example.org"));

        const SendRunSummary summary = f.run(RecipientChoice::AllCustomers);
        EXPECT_EQ(summary.stoppedEarly, c.stops);
        EXPECT_EQ(f.server.opened, c.stops ? 1 : 2);
        EXPECT_EQ(f.session.contact(first).timesContacted, 0);
        EXPECT_EQ(f.session.contact(second).timesContacted, c.stops ? 0 : 1);
        const auto& lines = f.observer.lines;
        ASSERT_GE(lines.size(), 3u);
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.resultLine), lines.end());
        const std::string reason = std::string(c.resultLine)
                                       .substr(std::string(c.resultLine).find(':') < 10
                                                   ? std::string(c.resultLine).find(':') + 2
                                                   : 0);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) {
                                    return line.find(reason) != std::string::npos;
                                }),
                  1);
        EXPECT_EQ(lines.back(), summaryText(summary));
        EXPECT_EQ(summary.delivered, c.stops ? 0 : 1);
        EXPECT_EQ(summary.rejected + summary.failed, 1);
        EXPECT_EQ(notAttempted(summary), c.stops ? 1 : 0);
        EXPECT_EQ(lines.back().find("not attempted") != std::string::npos, c.stops);
    }
}

TEST(SendPreview, GoesToTheFromAddressAndStampsNothing) {
    RunFixture f;
    const auto self = f.contact(kSender, store::ContactStatus::Customers);
    f.session.sendList.append(store::Contact{});
    f.server.add(deliveryScript(kSender, kSender));
    const SendRunSummary summary = sendPreview(f.session, f.draft, f.environment, f.observer);
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_EQ(f.observer.labels,
              (std::vector<std::string>{"Sending Preview (ann@example.org)", "Finished."}));
    EXPECT_EQ(f.observer.lines.front(), "Initializing network connection...");
    EXPECT_EQ(f.observer.lines.back(), "Finished.");
    EXPECT_EQ(f.observer.progressMaximum, 1);
    const std::string& message = f.server.connections[0]->messages.at(0);
    EXPECT_NE(message.find("\r\nTo: ann@example.org\r\n"), std::string::npos);
    EXPECT_EQ(f.session.contact(self).timesContacted, 0);
    EXPECT_EQ(f.session.sendList.count(), 1);

    // A From field naming nobody opens no connection.
    RunFixture nobody;
    nobody.draft.fromText = "Ann Lee <>";
    EXPECT_TRUE(sendPreview(nobody.session, nobody.draft, nobody.environment, nobody.observer)
                    .stoppedEarly);
    EXPECT_EQ(nobody.server.opened, 0);
    EXPECT_EQ(previewRecipient("  bob@example.net "), "bob@example.net");
}

TEST(SendPreview, ClassifiesRepliesAsARunButNeverRetriesOrPauses) {
    const struct {
        const char* reply;
        std::int32_t deferred, rejected, failed;
        bool stops;
    } cases[] = {
        // A run would come back to these after a back-off or a pause.
        {"450 4.2.1 mailbox busy\r\n", 1, 0, 0, false},
        {"421 4.7.0 too many connections\r\n", 0, 0, 1, true},
        {"550 no such user\r\n", 0, 1, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        RunFixture f;
        f.server.add(refusedAt(kSender, kSender, 6, c.reply));
        const store::LocalDateTime started = f.clock.now();
        const SendRunSummary summary = sendPreview(f.session, f.draft, f.environment, f.observer);
        EXPECT_EQ(f.server.opened, 1);
        EXPECT_EQ(f.clock.now().millisecondsSinceEpoch, started.millisecondsSinceEpoch);
        EXPECT_EQ((std::vector<std::int32_t>{summary.deferred, summary.rejected, summary.failed}),
                  (std::vector<std::int32_t>{c.deferred, c.rejected, c.failed}));
        EXPECT_EQ(summary.stoppedEarly, c.stops);
        EXPECT_EQ(f.observer.labels.back(), "Finished.");
        EXPECT_TRUE(f.observer.tallies.empty());
    }

    // A test send as a contact carries its fields, yet stamps nobody.
    RunFixture t;
    const auto bea = t.contact("bea@example.org", store::ContactStatus::Subscribers);
    t.server.add(deliveryScript(kSender, "me@example.net"));
    EXPECT_EQ(sendTest(t.session, t.draft, {bea, "bea@example.org"}, " me@example.net ",
                       t.environment, t.observer)
                  .delivered,
              1);
    EXPECT_EQ(t.session.contact(bea).timesContacted, 0);
    EXPECT_EQ(t.observer.labels.front(), "Sending Test (me@example.net)");
}

TEST(SendRun, ARunToATypedAddressAndAPreviewSayWhyTheSessionFailed) {
    for (const bool preview : {false, true}) {
        SCOPED_TRACE(preview ? "preview" : "typed address");
        RunFixture f;
        store::SessionSettings settings = f.session.settings();
        settings.requiresAuth = 1;
        settings.userName = "ann";
        settings.password = "s3cret";
        settings.extensions.set("smtpSecurity", "auto");
        f.session.setSettings(settings);
        // No STARTTLS on offer: the password is not sent, and only the
        // reason, not a reply, says so.
        f.server.add({says("220 mail.example.net ESMTP\r\n"), expects("EHLO client.example"),
                      says("250 mail.example.net\r\n"), expects("QUIT"), says("221 bye\r\n")});
        f.draft.singleRecipient = "typed@example.org";
        const SendRunSummary summary =
            preview ? sendPreview(f.session, f.draft, f.environment, f.observer)
                    : f.run(RecipientChoice::SingleRecipient);
        EXPECT_EQ(summary.failed, 1);
        EXPECT_EQ(std::count(f.observer.lines.begin(), f.observer.lines.end(),
                             std::string("Failed: ") + kNoEncryptionText),
                  1);
    }
}

TEST(SendQuestions, AskBeforeSendingAndCheckTheFromField) {
    FakePrompter prompter;
    prompter.answers = {platform::PromptAnswer::Yes, platform::PromptAnswer::No,
                        platform::PromptAnswer::Yes};
    EXPECT_TRUE(confirmSendEmail(prompter));
    EXPECT_FALSE(confirmSendEmail(prompter));
    EXPECT_EQ(prompter.shown[0].title, "Confirm");
    EXPECT_EQ(prompter.shown[0].text, kSendEmailQuestion);

    EXPECT_EQ(confirmPreview(prompter, "  Ann Lee <ann@example.org> "), PreviewCheck::Send);
    EXPECT_EQ(prompter.shown[2].text,
              "Are you sure you want to send a preview of this message to your email address? "
              "The preview uses the address in the 'From' field to send you a copy of the "
              "email.\nThe email will be sent to \"Ann Lee <ann@example.org>\"");
    EXPECT_EQ(confirmPreview(prompter, "   "), PreviewCheck::NeedsFrom);
    EXPECT_EQ(prompter.shown[3].title, "Information");
    EXPECT_EQ(prompter.shown[3].text, kPreviewNeedsFromText);
    EXPECT_EQ(prompter.shown[3].buttons, platform::PromptButtons::Ok);
}

namespace {

// The decoded Subject and the text of the one text part of a message as sent.
std::string headerLine(const std::string& message, const std::string& name) {
    const std::size_t at = message.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return "";
    }
    const std::size_t end = message.find("\r\n", at + 2);
    return message.substr(at + 2, end - at - 2);
}

} // namespace

TEST(SendRun, EachContactGetsItsOwnFieldsBySlot) {
    RunFixture f;
    store::NewContact ann;
    ann.email = "ann@example.net";
    ann.name = "Ann <Lee>";
    ann.status = code(store::ContactStatus::Subscribers);
    const auto first = f.session.createContact(ann, "01/01/2026");
    ann.name = ""; // a second contact with the same address, without a name
    const auto twin = f.session.createContact(ann, "01/01/2026");
    f.queue(first);
    f.queue(twin);
    f.draft.subject = "For {{firstName|you}}";
    f.draft.format = code(store::EditorFormat::PlainText);
    f.draft.body = "Dear {{name|Customer}}, write to {{email}}.";
    f.server.add(deliveryScript(kSender, "ann@example.net"));
    f.server.add(deliveryScript(kSender, "ann@example.net"));
    EXPECT_EQ(f.run(RecipientChoice::Mailtray).delivered, 2);
    const std::string& one = f.server.connections[0]->messages.at(0);
    const std::string& two = f.server.connections[1]->messages.at(0);
    EXPECT_EQ(headerLine(one, "Subject"), "Subject: For Ann");
    EXPECT_NE(one.find("Dear Ann <Lee>, write to ann@example.net."), std::string::npos);
    EXPECT_EQ(headerLine(two, "Subject"), "Subject: For you");
    EXPECT_NE(two.find("Dear Customer, write to ann@example.net."), std::string::npos);

    // HTML bodies get the values escaped.
    RunFixture h;
    const auto slot = h.session.createContact(ann, "01/01/2026");
    h.session.modifyContact(slot, [](store::Contact& c) { c.name = "Ann <Lee> & Co"; });
    h.draft.body = "<p>Dear {{name}}</p>";
    h.draft.singleRecipient = "ann@example.net"; // a typed address takes its contact's fields
    h.server.add(deliveryScript(kSender, "ann@example.net"));
    h.run(RecipientChoice::SingleRecipient);
    EXPECT_NE(h.server.connections[0]->messages.at(0).find("<p>Dear Ann &lt;Lee&gt; &amp; Co</p>"),
              std::string::npos);
}

TEST(SendRun, AnUnknownFieldOrAnUnreadableAttachmentSendsNothing) {
    testing_support::TempDir dir;
    const struct {
        std::string subject;
        std::string attachment;
        std::string expected;
    } cases[] = {
        {"Hi {{surname|x}}", "",
         "The personal field \"{{surname}}\" is unknown. Nothing was sent."},
        {"Hi", dir.file("gone.pdf"),
         "Attachment \"" + dir.file("gone.pdf") +
             "\" cannot be read - No such file or directory. Nothing was sent."},
    };
    for (const auto& c : cases) {
        RunFixture f;
        f.contact("sub@example.org", store::ContactStatus::Subscribers);
        f.draft.subject = c.subject;
        f.draft.attachment2 = c.attachment;
        const SendRunSummary summary = f.run(RecipientChoice::EntireList);
        EXPECT_TRUE(summary.stoppedEarly);
        EXPECT_EQ(f.server.opened, 0);
        EXPECT_EQ(f.observer.lines, std::vector<std::string>{c.expected});
        EXPECT_EQ(f.observer.labels, std::vector<std::string>{"Finished."});

        RunFixture p;
        p.draft.subject = c.subject;
        p.draft.attachment1 = c.attachment;
        EXPECT_TRUE(sendPreview(p.session, p.draft, p.environment, p.observer).stoppedEarly);
        EXPECT_EQ(p.server.opened, 0);
        EXPECT_EQ(p.observer.lines, std::vector<std::string>{c.expected});
    }
}

TEST(SendRun, AnAttachmentGoneDuringTheRunFailsThatRecipientUnfinished) {
    testing_support::TempDir dir;
    testing_support::writeFileBytes(dir.file("offer.pdf"), "%PDF");
    RunFixture f;
    f.contact("a@example.org", store::ContactStatus::Subscribers);
    f.contact("b@example.org", store::ContactStatus::Subscribers);
    f.draft.attachment1 = dir.file("offer.pdf");
    f.server.add(deliveryScript(kSender, "a@example.org"));
    // The second session reaches DATA, then the message stops unfinished:
    // the connection is closed without the end-of-data line.
    std::vector<ScriptStep> second = deliveryScript(kSender, "b@example.org");
    second.resize(second.size() - 4); // up to the 354 reply
    f.server.add(second);
    f.server.onOpen = [&](int number) {
        if (number == 2) {
            std::remove(dir.file("offer.pdf").c_str());
        }
    };
    const SendRunSummary summary = f.run(RecipientChoice::EntireList);
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_EQ(summary.failed, 1);
    EXPECT_TRUE(f.server.connections[1]->messages.empty());
    EXPECT_EQ(f.observer.lines.at(3), "Failed: Attachment \"" + dir.file("offer.pdf") +
                                          "\" cannot be read - No such file or directory.");
    EXPECT_EQ(f.session.contact(2).timesContacted, 0);
}

TEST(SendRun, ListRunsCarryListUnsubscribeAndPreviewsAndTypedAddressesDoNot) {
    const struct {
        std::string mailto, replyTo, url;
        std::string header, post;
    } cases[] = {
        {"", "", "", "List-Unsubscribe: <mailto:ann@example.org?subject=unsubscribe>", ""},
        {"", "replies@example.org", "",
         "List-Unsubscribe: <mailto:replies@example.org?subject=unsubscribe>", ""},
        {"out@bücher.example", "replies@example.org", "https://example.org/u?e={{email}}",
         "List-Unsubscribe: <https://example.org/u?e=sub%2Bx%40example.org>,\r\n"
         " <mailto:out@xn--bcher-kva.example?subject=unsubscribe>",
         "List-Unsubscribe-Post: List-Unsubscribe=One-Click"},
    };
    for (const auto& c : cases) {
        RunFixture f;
        store::SessionSettings settings = f.session.settings();
        settings.replyTo = c.replyTo;
        settings.extensions.set("unsubscribeMailto", c.mailto);
        settings.extensions.set("unsubscribeUrl", c.url);
        f.session.setSettings(settings);
        f.contact("sub+x@example.org", store::ContactStatus::Subscribers);
        f.draft.body = "<a href=\"{{unsubscribeUrl|#}}\">Unsubscribe</a>";
        f.server.add(deliveryScript(kSender, "sub+x@example.org"));
        ASSERT_EQ(f.run(RecipientChoice::EntireList).delivered, 1);
        const std::string& message = f.server.connections[0]->messages.at(0);
        EXPECT_NE(message.find("\r\n" + c.header + "\r\n"), std::string::npos) << message;
        EXPECT_EQ(headerLine(message, "List-Unsubscribe-Post"), c.post);
        EXPECT_EQ(headerLine(message, "List-Id"), "List-Id: <ann.example.org>");
        if (!c.url.empty()) {
            EXPECT_NE(message.find("href=\"https://example.org/u?e=sub%2Bx%40example.org\""),
                      std::string::npos);
        }

        f.server.add(deliveryScript(kSender, kSender));
        sendPreview(f.session, f.draft, f.environment, f.observer);
        f.draft.singleRecipient = "typed@example.org";
        f.server.add(deliveryScript(kSender, "typed@example.org"));
        f.run(RecipientChoice::SingleRecipient);
        for (std::size_t i : {1u, 2u}) {
            EXPECT_EQ(f.server.connections.at(i)->messages.at(0).find("List-"), std::string::npos);
        }
    }
}

TEST(SendRun, InternationalDomainsGoOutAsALabelsAndBadOnesAreRejectedHere) {
    RunFixture f;
    f.draft.fromText = "Ann <ann@exämple.org>";
    f.contact("bob@bücher.example", store::ContactStatus::Subscribers);
    f.contact("eve@-dömain.de", store::ContactStatus::Subscribers);
    f.server.add(deliveryScript("ann@xn--exmple-cua.org", "bob@xn--bcher-kva.example"));
    const SendRunSummary summary = f.run(RecipientChoice::EntireList);
    EXPECT_EQ(summary.delivered, 1);
    EXPECT_EQ(summary.rejected, 1);
    EXPECT_EQ(f.server.opened, 1);
    const std::string& message = f.server.connections[0]->messages.at(0);
    EXPECT_NE(message.find("\r\nTo: bob@xn--bcher-kva.example\r\n"), std::string::npos);
    EXPECT_NE(message.find("\r\nFrom: Ann <ann@xn--exmple-cua.org>\r\n"), std::string::npos);
    EXPECT_EQ(f.observer.lines.at(3).substr(0, 37), "Rejected: The domain of \"eve@-dömain");
}

TEST(SendRun, ListIdNamesTheSender) {
    EXPECT_EQ(listIdFor("ann@example.org"), "ann.example.org");
    EXPECT_EQ(listIdFor("Ann.Lee+news@exämple.org"), "Ann.Leenews.xn--exmple-cua.org");
    EXPECT_EQ(listIdFor("ann"), "");
    EXPECT_EQ(listIdFor("ann@"), "");
}

TEST(SendRun, PersonalAttachmentsGoToTheirOwnRecipientsOrNothingIsSent) {
    testing_support::TempDir dir;
    testing_support::writeFileBytes(dir.file("Acme.txt"), "invoice of Acme");
    testing_support::writeFileBytes(dir.file("Bolt.txt"), "invoice of Bolt");
    const auto withCompany = [](RunFixture& f, const char* email, const char* company) {
        store::NewContact fields;
        fields.email = email;
        fields.company = company;
        f.session.createContact(fields, "01/01/2026");
    };
    RunFixture f;
    withCompany(f, "a@example.org", "Acme");
    withCompany(f, "b@example.org", "Bolt");
    f.draft.attachment1 = dir.file("{{company}}.txt");
    f.server.add(deliveryScript(kSender, "a@example.org"));
    f.server.add(deliveryScript(kSender, "b@example.org"));
    EXPECT_EQ(f.run(RecipientChoice::EntireList).delivered, 2);
    EXPECT_NE(f.server.connections[0]->messages.at(0).find("filename=\"Acme.txt\""),
              std::string::npos);
    EXPECT_NE(f.server.connections[1]->messages.at(0).find("filename=\"Bolt.txt\""),
              std::string::npos);

    // One contact's file missing: nobody gets anything, and the log lists it.
    RunFixture g;
    withCompany(g, "a@example.org", "Acme");
    withCompany(g, "c@example.org", "Crane");
    withCompany(g, "d@example.org", "");
    g.draft.attachment1 = dir.file("{{company}}.txt");
    const SendRunSummary summary = g.run(RecipientChoice::EntireList);
    EXPECT_TRUE(summary.stoppedEarly);
    EXPECT_EQ(g.server.opened, 0);
    EXPECT_EQ(g.observer.lines,
              (std::vector<std::string>{"2 personal attachments cannot be read. Nothing was sent.",
                                        "For c@example.org: Attachment \"" + dir.file("Crane.txt") +
                                            "\" cannot be read - No such file or directory.",
                                        "For d@example.org: Attachment \"" + dir.file(".txt") +
                                            "\" cannot be read - No such file or directory."}));
    EXPECT_EQ(g.session.contact(1).timesContacted, 0);
}

} // namespace velmora::delivery
