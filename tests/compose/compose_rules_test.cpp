#include "compose/compose_rules.h"

#include <gtest/gtest.h>
#include <string>

namespace velmora::compose {

namespace {

// The mix of the example: 3 Mailtray entries and contacts of every status,
// 7 of them Deleted.
store::Session exampleSession() {
    store::Session session;
    const auto add = [&session](store::ContactStatus status, int n) {
        for (int i = 0; i < n; ++i) {
            store::NewContact contact;
            contact.email = "c" + std::to_string(session.contactCount() + 1) + "@example.org";
            contact.status = code(status);
            session.createContact(contact, "01/01/2026");
        }
    };
    add(store::ContactStatus::Customers, 2);
    add(store::ContactStatus::Prospects, 4);
    add(store::ContactStatus::Subscribers, 5 + 7);
    add(store::ContactStatus::DoNotContact, 1);
    for (std::int32_t slot = 12; slot <= 18; ++slot) {
        session.deleteContact(slot);
    }
    for (int i = 0; i < 3; ++i) {
        store::Contact entry;
        entry.email = "m" + std::to_string(i) + "@example.org";
        session.addMailtrayEntry(entry);
    }
    return session;
}

TEST(ComposeRulesTest, RecipientCountsAndToListTexts) {
    const store::Session session = exampleSession();
    const RecipientCounts counts = countRecipients(session, 10);
    EXPECT_EQ((RecipientCounts{3, 10, 2, 4, 5, 12}), counts);
    const auto texts = recipientEntryTexts(counts);
    const std::array<std::string, 7> expected = {
        "Single Recipient",  "Mailtray (3)",        "Filtered Results (10)", "All Customers (2)",
        "All Prospects (4)", "All Subscribers (5)", "Entire List (12)"};
    EXPECT_EQ(expected, texts);
}

TEST(ComposeRulesTest, InitialBodiesCarryTheSignatureOnlyWhenWanted) {
    store::SessionSettings settings;
    settings.signature = "<b>Ann</b> & co";
    const std::string head =
        "<html><head><STYLE type='text/css'>BODY {margin: 0px; padding: "
        "2px;} P {margin: 0px,0px,4px,2px; padding: 0px;}</STYLE></head><body>";
    EXPECT_EQ(head + "</body></html>", initialHtmlDocument(settings));
    EXPECT_EQ("", initialPlainText(settings));
    settings.includeSignature = 1;
    EXPECT_EQ(head + "<br/>&nbsp;<br/>&nbsp;<br/><b>Ann</b> & co</body></html>",
              initialHtmlDocument(settings));
    EXPECT_EQ("\n\n\n<b>Ann</b> & co", initialPlainText(settings));
}

TEST(ComposeRulesTest, AttachmentSlotsFillInOrderAndTheLabelListsThem) {
    delivery::MessageDraft draft;
    EXPECT_EQ("No files attached.", attachmentLabelText(draft));
    EXPECT_TRUE(attachToDraft(draft, "/home/ann/a.txt", 2048 / 1024.0f));
    EXPECT_FALSE(attachmentSlotsFull(draft));
    EXPECT_EQ("a.txt (2.00 kb)", attachmentLabelText(draft));
    EXPECT_TRUE(attachToDraft(draft, "C:\\docs\\b.pdf", 1536 / 1024.0f));
    EXPECT_TRUE(attachmentSlotsFull(draft));
    EXPECT_EQ("a.txt (2.00 kb)\nb.pdf (1.50 kb)", attachmentLabelText(draft));
    EXPECT_FALSE(attachToDraft(draft, "/c.txt", 1.0f));
    EXPECT_EQ("C:\\docs\\b.pdf", draft.attachment2);

    // A draft file may fill only the second slot: the label still names it.
    clearAttachments(draft);
    EXPECT_EQ((delivery::MessageDraft{}), draft);
    draft.attachment2 = "b.pdf";
    draft.attachment2SizeKb = 12.5f;
    EXPECT_EQ("b.pdf (12.50 kb)", attachmentLabelText(draft));
    draft.attachment2SizeKb = 1234.567f;
    EXPECT_EQ("b.pdf (1234.57 kb)", attachmentLabelText(draft));
}

TEST(ComposeRulesTest, AnOpenedDraftReplacesTextsAndSlotsButNotRecipientsOrFormat) {
    delivery::MessageDraft window;
    window.recipientChoice = code(delivery::RecipientChoice::SingleRecipient);
    window.singleRecipient = "bob@example.net";
    window.format = code(store::EditorFormat::PlainText);
    window.attachment1 = "/old/one";
    window.attachment2 = "/old/two";
    window.attachment1SizeKb = window.attachment2SizeKb = 9.0f;

    delivery::MessageDraft stored;
    stored.fromText = " Ann <ann@example.org> ";
    stored.subject = "Hi";
    stored.body = "<p>x</p>";
    stored.attachment1 = "/files/a.txt";
    stored.attachment1SizeKb = 99.0f; // a draft keeps no sizes: they are read anew
    takeDraftFields(window, stored,
                    [](const std::string& path) { return path == "/files/a.txt" ? 3.0f : -1.0f; });
    EXPECT_EQ(" Ann <ann@example.org> ", window.fromText);
    EXPECT_EQ("Hi", window.subject);
    EXPECT_EQ("<p>x</p>", window.body);
    EXPECT_EQ("/files/a.txt", window.attachment1);
    EXPECT_EQ(3.0f, window.attachment1SizeKb);
    EXPECT_EQ("", window.attachment2);
    EXPECT_EQ(0.0f, window.attachment2SizeKb);
    EXPECT_EQ(code(delivery::RecipientChoice::SingleRecipient), window.recipientChoice);
    EXPECT_EQ("bob@example.net", window.singleRecipient);
    EXPECT_EQ(code(store::EditorFormat::PlainText), window.format);
}

} // namespace

} // namespace velmora::compose
