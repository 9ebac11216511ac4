// The compose window offscreen, with the real web engine as its body.
#include "../delivery/python_helpers.h"
#include "app/main_window.h"
#include "compose/compose_window.h"
#include "compose/surface/body_editor.h"
#include "delivery/message/draft_file.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/message/personal_fields.h"
#include "delivery/windows/send_progress_window.h"
#include "engine_waits.h"
#include "platform/qt_images.h"
#include "platform/qt_prompter.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

using namespace Qt::StringLiterals;

namespace velmora::compose {

using testing_support::Bytes;
using testing_support::FakePrompter;
using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

// The formatting row, off for a plain-text body.
const ComposeCommand kFormatCommands[]{
    ComposeCommand::FontStyle,       ComposeCommand::Bold,
    ComposeCommand::Italic,          ComposeCommand::UnorderedList,
    ComposeCommand::OrderedList,     ComposeCommand::AlignLeft,
    ComposeCommand::AlignCenter,     ComposeCommand::AlignJustify,
    ComposeCommand::AlignRight,      ComposeCommand::IncreaseIndent,
    ComposeCommand::DecreaseIndent,  ComposeCommand::InsertHorizontalLine,
    ComposeCommand::InsertHyperlink, ComposeCommand::EditHtml};

class ComposeWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(images.load());
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        delete current.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ComposeWindow& open(store::EditorFormat format) {
        ComposeWindow* window = openComposeWindow(format, services, current);
        testing_support::allowEngineColdStart(*window->bodyEditor());
        // The window that was replaced goes once its command is over.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return *window;
    }
    void withSignature(const std::string& signature) {
        store::SessionSettings settings = session.settings();
        settings.signature = signature;
        settings.includeSignature = 1;
        session.setSettings(settings);
    }
    std::string file(const std::string& name, std::size_t size) {
        const std::string path = dir.file(name);
        writeFileBytes(path, std::string(size, 'x'));
        return path;
    }
    static std::string script(ComposeWindow& window, const char* js) {
        return window.bodyEditor()
            ->evaluateScript(QString::fromLatin1(js))
            .toString()
            .toStdString();
    }
    // Types `html` into the empty body, as the editing commands insert it.
    static void typeIntoBody(ComposeWindow& window, const char* html) {
        window.bodyEditor()->focusBody();
        script(window, "getSelection().collapse(document.body, 0)");
        window.bodyEditor()->replaceSelection(html);
    }
    static std::string label(ComposeWindow& window) {
        return window.attachmentLabel()->text().toStdString();
    }

    TempDir dir;
    platform::ProgramImages images;
    store::Session session;
    FakePrompter prompter;
    std::vector<std::int32_t> filtered;
    store::SystemClock clock;
    delivery::MimeTypesFile types;
    ComposeServices services{
        session,
        images,
        prompter,
        [this] { return filtered; },
        [] {},
        [] {},
        dir.path() + "/",
        delivery::SendRunEnvironment{clock, types, delivery::tcpConnections(), "localhost"}};
    QPointer<ComposeWindow> current;
};

TEST_F(ComposeWindowTest, OpensWithCountsTakenNowAndTheMailtrayChosen) {
    for (int i = 0; i < 4; ++i) {
        store::NewContact contact;
        contact.email = "c" + std::to_string(i) + "@example.org";
        contact.status = i < 2 ? code(store::ContactStatus::Customers)
                               : code(store::ContactStatus::DoNotContact);
        session.createContact(contact, "01/01/2026");
    }
    session.deleteContact(4);
    filtered = {1, 2, 3};
    ComposeWindow& first = open(store::EditorFormat::Html);
    EXPECT_EQ("Compose Email", first.windowTitle().toStdString());
    EXPECT_EQ(QSize(555, 400), first.centralWidget()->size());
    QStringList entries;
    for (int i = 0; i < first.toList()->count(); ++i) {
        entries << first.toList()->itemText(i);
    }
    EXPECT_EQ((QStringList{u"Single Recipient"_s, u"Mailtray (0)"_s, u"Filtered Results (3)"_s,
                           u"All Customers (2)"_s, u"All Prospects (0)"_s, u"All Subscribers (0)"_s,
                           u"Entire List (3)"_s}),
              entries);
    EXPECT_EQ(1, first.toList()->currentIndex());

    // The tooltips name 21 distinct buttons, each with its image.
    QSet<QString> tooltips;
    for (QToolButton* button : first.centralWidget()->findChildren<QToolButton*>()) {
        tooltips.insert(button->toolTip());
        EXPECT_FALSE(button->icon().isNull()) << button->toolTip().toStdString();
    }
    EXPECT_EQ(21, tooltips.size());

    // "New" replaces the window, once the user agreed to lose the typed
    // subject, and counts anew.
    first.subjectField()->setText(u"typed"_s);
    filtered = {1};
    QPointer<ComposeWindow> old(&first);
    prompter.answers.push_back(platform::PromptAnswer::Yes);
    first.action(ComposeCommand::New)->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNull());
    ASSERT_FALSE(current.isNull());
    EXPECT_EQ("Filtered Results (1)", current->toList()->itemText(2).toStdString());
    EXPECT_TRUE(current->subjectField()->text().isEmpty());
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, kDiscardMessageText);
}

TEST_F(ComposeWindowTest, SingleAddressFieldFollowsTheToChoice) {
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    EXPECT_FALSE(window.singleAddressField()->isEnabled());
    window.toList()->setCurrentIndex(0);
    EXPECT_TRUE(window.singleAddressField()->isEnabled());
    window.toList()->setCurrentIndex(6);
    EXPECT_FALSE(window.singleAddressField()->isEnabled());
}

TEST_F(ComposeWindowTest, HtmlBodyStartsWithTheSignatureAndFormattingFollowsTheSelection) {
    withSignature("<b>Ann</b> Lee");
    ComposeWindow& window = open(store::EditorFormat::Html);
    EXPECT_EQ("<br>&nbsp;<br>&nbsp;<br><b>Ann</b> Lee", script(window, "document.body.innerHTML"));
    EXPECT_EQ("on", script(window, "document.designMode"));
    EXPECT_EQ("Body Text", window.paragraphStyleList()->itemText(0).toStdString());

    // Nothing selected: the selection's controls are off, the rest on.
    EXPECT_FALSE(window.paragraphStyleList()->isEnabled());
    EXPECT_FALSE(window.button(ComposeCommand::Bold)->isEnabled());
    EXPECT_FALSE(window.button(ComposeCommand::Cut)->isEnabled());
    EXPECT_TRUE(window.button(ComposeCommand::EditHtml)->isEnabled());
    EXPECT_TRUE(window.button(ComposeCommand::InsertHyperlink)->isEnabled());

    // The engine reports selection changes while the body has the focus, as
    // it has when the user selects.
    window.bodyEditor()->focusBody();
    script(window, "getSelection().selectAllChildren(document.body.querySelector('b'))");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.button(ComposeCommand::Bold)->isEnabled(); },
                                testing_support::kEngineWaitMs));
    EXPECT_TRUE(window.paragraphStyleList()->isEnabled());
    EXPECT_TRUE(window.button(ComposeCommand::Copy)->isEnabled());

    // Bold on the selected bold word takes the tags out.
    window.button(ComposeCommand::Bold)->click();
    EXPECT_EQ("<br>&nbsp;<br>&nbsp;<br>Ann Lee", script(window, "document.body.innerHTML"));

    // Paste follows the clipboard.
    QToolButton* paste = window.button(ComposeCommand::Paste);
    EXPECT_FALSE(paste->isEnabled());
    QGuiApplication::clipboard()->setText(u"x"_s);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return paste->isEnabled(); }, testing_support::kEngineWaitMs));
    QGuiApplication::clipboard()->clear();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !paste->isEnabled(); }, testing_support::kEngineWaitMs));
}

TEST_F(ComposeWindowTest, HtmlCutCopyPasteAndThePasteButtonUseTheClipboardGiven) {
    testing_support::FakeClipboard clipboard;
    services.clipboard = &clipboard;
    QGuiApplication::clipboard()->setText(u"desktop"_s);
    withSignature("<b>Ann</b> Lee");
    ComposeWindow& window = open(store::EditorFormat::Html);

    // Paste follows the given clipboard, not the desktop's.
    QToolButton* paste = window.button(ComposeCommand::Paste);
    EXPECT_FALSE(paste->isEnabled());
    clipboard.content = "<i>pasted</i>";
    window.composeIdleUpdate();
    EXPECT_TRUE(paste->isEnabled());

    window.bodyEditor()->focusBody();
    script(window, "getSelection().selectAllChildren(document.body.querySelector('b'))");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.button(ComposeCommand::Copy)->isEnabled(); },
                                testing_support::kEngineWaitMs));
    window.action(ComposeCommand::Copy)->trigger();
    EXPECT_EQ("<b>Ann</b>", clipboard.content);
    clipboard.content.clear();
    window.action(ComposeCommand::Cut)->trigger();
    EXPECT_EQ("<b>Ann</b>", clipboard.content);
    EXPECT_EQ("<br>&nbsp;<br>&nbsp;<br> Lee", script(window, "document.body.innerHTML"));

    clipboard.content = "<i>pasted</i>";
    window.action(ComposeCommand::Paste)->trigger();
    EXPECT_NE(std::string::npos, script(window, "document.body.innerHTML").find("<i>pasted</i>"));
    EXPECT_EQ("desktop", QGuiApplication::clipboard()->text().toStdString());
}

TEST_F(ComposeWindowTest, PlainTextVariantDisablesFormattingAndKeepsTheSignature) {
    withSignature("Ann Lee");
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    EXPECT_EQ("\n\n\nAnn Lee", window.bodyEditor()->textEditor()->toPlainText().toStdString());
    EXPECT_EQ("Plain Text", window.paragraphStyleList()->itemText(0).toStdString());

    // A selection enables nothing of the formatting; Cut and Copy stay on.
    window.bodyEditor()->textEditor()->selectAll();
    EXPECT_FALSE(window.paragraphStyleList()->isEnabled());
    for (const ComposeCommand command : kFormatCommands) {
        EXPECT_FALSE(window.button(command)->isEnabled()) << static_cast<int>(command);
    }
    EXPECT_TRUE(window.button(ComposeCommand::Cut)->isEnabled());
    EXPECT_TRUE(window.button(ComposeCommand::Copy)->isEnabled());
    window.action(ComposeCommand::Copy)->trigger();
    EXPECT_EQ("\n\n\nAnn Lee", QGuiApplication::clipboard()->text().toStdString());
    EXPECT_TRUE(window.button(ComposeCommand::Paste)->isEnabled());
}

TEST_F(ComposeWindowTest, AttachmentsFillTwoSlotsAndClearingReopensTheMenuItem) {
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    EXPECT_EQ("No files attached.", label(window));
    const QPalette colours = window.attachmentLabel()->palette();
    EXPECT_EQ(QColor(0xFE, 0xFE, 0xFE), colours.color(QPalette::Window));
    EXPECT_EQ(QColor(0x66, 0x66, 0x66), colours.color(QPalette::WindowText));

    prompter.files = {file("a.txt", 2048), file("b.pdf", 1536), file("c.txt", 512)};
    window.button(ComposeCommand::AttachFile)->click();
    ASSERT_EQ(1u, prompter.fileRequests.size());
    EXPECT_EQ("Attach a file...", prompter.fileRequests[0].title);
    EXPECT_EQ("All files (*.*)|*.*", prompter.fileRequests[0].filter);
    EXPECT_EQ("a.txt (2.00 kb)", label(window));
    EXPECT_TRUE(window.button(ComposeCommand::AttachFile)->isEnabled());
    window.action(ComposeCommand::AttachFile)->trigger();
    EXPECT_EQ("a.txt (2.00 kb)\nb.pdf (1.50 kb)", label(window));
    EXPECT_FALSE(window.button(ComposeCommand::AttachFile)->isEnabled());

    // Both slots taken: the menu item asks for nothing.
    window.action(ComposeCommand::AttachFile)->trigger();
    EXPECT_EQ(2u, prompter.fileRequests.size());

    window.action(ComposeCommand::ClearAttachments)->trigger();
    EXPECT_EQ("No files attached.", label(window));
    EXPECT_TRUE(window.draft().attachmentList().empty());
    window.action(ComposeCommand::AttachFile)->trigger();
    EXPECT_EQ("c.txt (0.50 kb)", label(window));
    EXPECT_EQ(dir.file("c.txt"), window.draft().attachment1);
    EXPECT_FALSE(window.button(ComposeCommand::AttachFile)->isEnabled());
}

TEST_F(ComposeWindowTest, DraftRoundTripFromHtmlIntoPlainTextAndBack) {
    ComposeWindow& html = open(store::EditorFormat::Html);
    html.fromField()->setText(u" Ann <ann@example.org> "_s);
    html.subjectField()->setText(u"Spring sale"_s);
    html.toList()->setCurrentIndex(0);
    html.singleAddressField()->setText(u"bob@example.net"_s);
    typeIntoBody(html, "<p>Hi <b>there</b></p>");
    prompter.files = {file("a.txt", 2048)};
    html.attachFile();

    prompter.files = {dir.file("spring")};
    html.button(ComposeCommand::Save)->click();
    const std::string saved = dir.file("spring.eml");
    EXPECT_EQ("Save email draft to file...", prompter.fileRequests.back().title);
    EXPECT_EQ("Email Draft (*.eml)|*.eml|All files (*.*)|*.*", prompter.fileRequests.back().filter);
    ASSERT_EQ(1u, prompter.shown.size());
    EXPECT_EQ("Information", prompter.shown[0].title);
    EXPECT_EQ("Email draft successfully saved to \"" + saved + "\"", prompter.shown[0].text);
    const delivery::DraftReadResult stored = delivery::readDraftFile(saved);
    ASSERT_EQ(delivery::DraftReadStatus::Loaded, stored.status);
    EXPECT_EQ(" Ann <ann@example.org> ", stored.draft.fromText);
    EXPECT_EQ(dir.file("a.txt"), stored.draft.attachment1);
    EXPECT_NE(std::string::npos, stored.draft.body.find("<p>Hi <b>there</b></p>"));

    // Into a plain-text window: the HTML source shows as text.
    ComposeWindow& plain = open(store::EditorFormat::PlainText);
    prompter.files = {saved};
    plain.action(ComposeCommand::Open)->trigger();
    EXPECT_EQ("Open Email Draft...", prompter.fileRequests.back().title);
    EXPECT_EQ(dir.path() + "/*.eml", prompter.fileRequests.back().initialPath);
    const delivery::MessageDraft opened = plain.draft();
    EXPECT_EQ(stored.draft.body, opened.body);
    EXPECT_EQ(" Ann <ann@example.org> ", opened.fromText);
    EXPECT_EQ("Spring sale", opened.subject);
    EXPECT_EQ("a.txt (2.00 kb)", label(plain));
    EXPECT_EQ(code(delivery::RecipientChoice::Mailtray), opened.recipientChoice);
    EXPECT_EQ(code(store::EditorFormat::PlainText), opened.format);

    // And back into an HTML window: loaded and editable.
    ComposeWindow& again = open(store::EditorFormat::Html);
    again.openDraftFile(saved);
    EXPECT_EQ("<p>Hi <b>there</b></p>", script(again, "document.body.innerHTML"));
    EXPECT_EQ("on", script(again, "document.designMode"));
}

TEST_F(ComposeWindowTest, ForeignOrShortFilesAndCancelledRequesters) {
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    window.fromField()->setText(u"ann@example.org"_s);
    window.subjectField()->setText(u"Kept"_s);
    window.bodyEditor()->setPlainText("body");
    prompter.files = {file("a.txt", 100)};
    window.attachFile();
    const delivery::MessageDraft before = window.draft();

    const std::string foreign = dir.file("foreign.eml");
    writeFileBytes(foreign, Bytes().str("EMLX102").str("x").str("y").bytes());
    window.openDraftFile(foreign);
    window.openDraftFile(dir.file("missing.eml"));
    prompter.files = {std::nullopt, std::nullopt};
    window.action(ComposeCommand::Open)->trigger();
    window.action(ComposeCommand::Save)->trigger();
    EXPECT_EQ(before, window.draft());
    EXPECT_EQ("a.txt (0.10 kb)", label(window));
    EXPECT_TRUE(prompter.shown.empty());

    // A draft that ends after its subject: the rest reads as empty.
    const std::string shortDraft = dir.file("short.eml");
    writeFileBytes(shortDraft, Bytes().str("EMLX101").str("Bea").str("Short").i32(50).bytes());
    window.openDraftFile(shortDraft);
    const delivery::MessageDraft after = window.draft();
    EXPECT_EQ("Bea", after.fromText);
    EXPECT_EQ("Short", after.subject);
    EXPECT_TRUE(after.attachmentList().empty());
    EXPECT_EQ("", after.body);
    EXPECT_EQ("No files attached.", label(window));
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(ComposeWindowTest, AFailedSaveSaysSoAndTheWindowKeepsItsContents) {
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    window.subjectField()->setText(u"Kept"_s);
    prompter.files = {dir.file("no/such/folder/draft")};
    window.saveDraftFile();
    ASSERT_EQ(1u, prompter.shown.size());
    EXPECT_EQ("Error", prompter.shown[0].title);
    EXPECT_EQ(0u, prompter.shown[0].text.find("Cannot save email draft \"" +
                                              dir.file("no/such/folder/draft.eml") + "\""));
    EXPECT_EQ("Kept", window.subjectField()->text().toStdString());
}

TEST_F(ComposeWindowTest, SendCommandsAskAndCheckBeforeTheyRun) {
    ComposeWindow& window = open(store::EditorFormat::Html);
    prompter.answers = {platform::PromptAnswer::No};
    window.action(ComposeCommand::SendEmail)->trigger();
    ASSERT_EQ(1u, prompter.shown.size());
    EXPECT_EQ("Confirm", prompter.shown[0].title);
    EXPECT_EQ(delivery::kSendEmailQuestion, prompter.shown[0].text);

    window.fromField()->setText(u"   "_s);
    window.button(ComposeCommand::SendPreview)->click();
    ASSERT_EQ(2u, prompter.shown.size());
    EXPECT_EQ(delivery::kPreviewNeedsFromText, prompter.shown[1].text);
    EXPECT_EQ(nullptr, window.findChild<delivery::SendProgressWindow*>());
}

QByteArray decodedPayload(const nlohmann::json& part) {
    return QByteArray::fromBase64(QByteArray::fromStdString(part["payload"].get<std::string>()));
}

TEST_F(ComposeWindowTest, SendEmailAndPreviewDeliverTheWindowsMessage) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = server.port();
    settings.timeoutSeconds = 5;
    session.setSettings(settings);

    ComposeWindow& window = open(store::EditorFormat::Html);
    window.fromField()->setText(u"Ann Lee <ann@example.org>"_s);
    window.toList()->setCurrentIndex(0);
    window.singleAddressField()->setText(u"bob@example.net"_s);
    window.subjectField()->setText(u"Winter offer"_s);
    typeIntoBody(window, "<p>Warm <b>socks</b></p>");
    prompter.files = {file("a.txt", 2048)};
    window.attachFile();
    // The window keeps the format it was opened with.
    settings.editorFormat = code(store::EditorFormat::PlainText);
    session.setSettings(settings);

    window.button(ComposeCommand::SendEmailNow)->click(); // no question
    EXPECT_TRUE(prompter.shown.empty());
    auto* progress = window.findChild<delivery::SendProgressWindow*>();
    ASSERT_NE(nullptr, progress);
    EXPECT_EQ("Finished.", progress->statusText().toStdString());
    progress->close();

    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(nlohmann::json::array({"bob@example.net"}), envelope["rcptTos"]);
    const auto parsed = nlohmann::json::parse(delivery_testing::runPythonScript(
        "parse_message.py", {store.file("001.eml"), "--unstuffed"}));
    EXPECT_EQ("Winter offer", parsed["headers"]["Subject"]);
    // The HTML body goes with its text rendering, the attachment beside them.
    ASSERT_EQ(3u, parsed["parts"].size());
    EXPECT_EQ("text/plain", parsed["parts"][0]["contentType"]);
    EXPECT_TRUE(decodedPayload(parsed["parts"][0]).contains("Warm socks"));
    EXPECT_EQ("text/html", parsed["parts"][1]["contentType"]);
    EXPECT_TRUE(decodedPayload(parsed["parts"][1]).contains("<p>Warm <b>socks</b></p>"));
    EXPECT_EQ("a.txt", parsed["parts"][2]["filename"]);
    EXPECT_EQ(QByteArray(2048, 'x'), decodedPayload(parsed["parts"][2]));

    // The preview goes to the From address after its question.
    prompter.answers = {platform::PromptAnswer::Yes};
    window.action(ComposeCommand::SendPreview)->trigger();
    ASSERT_EQ(1u, prompter.shown.size());
    EXPECT_EQ(delivery::previewQuestion("Ann Lee <ann@example.org>"), prompter.shown[0].text);
    const auto preview = nlohmann::json::parse(readFileBytes(store.file("002.json")));
    EXPECT_EQ(nlohmann::json::array({"ann@example.org"}), preview["rcptTos"]);
}

TEST_F(ComposeWindowTest, CheckMessageShowsTheReportAndSendTestSendsTheFirstRecipients) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = server.port();
    settings.timeoutSeconds = 5;
    session.setSettings(settings);
    store::NewContact contact;
    contact.email = "bea@example.net";
    contact.name = "Bea";
    const std::int32_t slot = session.createContact(contact, "01/01/2026");
    store::Contact entry = session.contact(slot);
    entry.id = slot;
    session.addMailtrayEntry(entry);
    // No real filter here: its one run is the core's test.
    services.spamFilter = [](const std::string&) { return delivery::SpamScore{}; };
    std::vector<std::string> asked;
    services.askText = [&asked](const std::string& title, const std::string& question,
                                const std::string& initial) -> std::optional<std::string> {
        asked = {title, question, initial};
        return "me@example.org";
    };

    ComposeWindow& window = open(store::EditorFormat::Html);
    window.fromField()->setText(u"Ann Lee <ann@example.org>"_s);
    window.subjectField()->setText(u"Hello {{name}}"_s);
    typeIntoBody(window, "<p><img src=\"logo.png\"></p>");
    window.action(ComposeCommand::CheckMessage)->trigger();
    ASSERT_EQ(1u, prompter.shown.size());
    EXPECT_EQ("Check Message", prompter.shown[0].title);
    EXPECT_EQ(0u, prompter.shown[0].text.find(
                      "SpamAssassin is not installed\nWarning: The image \"logo.png\" has no "
                      "alternative text (alt)"))
        << prompter.shown[0].text;

    window.action(ComposeCommand::SendTest)->trigger();
    EXPECT_EQ(asked, (std::vector<std::string>{"Send Test",
                                               "Send a test of this message, as bea@example.net "
                                               "will get it, to:",
                                               "ann@example.org"}));
    auto* progress = window.findChild<delivery::SendProgressWindow*>();
    ASSERT_NE(nullptr, progress);
    EXPECT_EQ("Finished.", progress->statusText().toStdString());
    progress->close();
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(nlohmann::json::array({"me@example.org"}), envelope["rcptTos"]);
    EXPECT_NE(std::string::npos,
              readFileBytes(store.file("001.eml")).find("Subject: [Test] Hello Bea"));
    EXPECT_EQ(0, session.contact(slot).timesContacted);
}

TEST_F(ComposeWindowTest, SendLaterHandsTheTimerACommandThatSendsOrSaysWhyNot) {
    TempDir store;
    delivery_testing::SmtpTestServer server(store.path());
    ASSERT_TRUE(server.running());
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    testing_support::ScopedEnvironment path("PATH", bin + ":" + std::getenv("PATH"));
    testing_support::ScopedEnvironment state("XDG_STATE_HOME", dir.file("state"));
    const std::string scheduled = dir.file("state") + "/velmora-mailtray/scheduled";
    // The stand-in records its arguments, one a line, or fails as without a user manager.
    const auto standIn = [&bin](bool userManager) {
        writeFileBytes(bin + "/systemd-run",
                       userManager ? "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"
                                   : "#!/bin/sh\necho 'Failed to connect to bus: No medium "
                                     "found' >&2\nexit 1\n");
        std::filesystem::permissions(bin + "/systemd-run", std::filesystem::perms::owner_all);
    };
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = server.port();
    settings.timeoutSeconds = 5;
    session.setSettings(settings);
    store::NewContact contact;
    contact.email = "bea@example.net";
    const std::int32_t slot = session.createContact(contact, "01/01/2026");
    session.addMailtrayEntry(session.contact(slot));
    session.sessionFileName = dir.file("list.qmz");
    std::string error;
    ASSERT_TRUE(store::writeSessionFile(session, session.sessionFileName, error)) << error;
    std::string answer;
    services.askText = [&answer](const std::string& title, const std::string& question,
                                 const std::string&) -> std::optional<std::string> {
        EXPECT_EQ(title, "Send Later");
        EXPECT_EQ(question, "Send this message at (local time, YYYY-MM-DD HH:MM):");
        return answer;
    };
    ComposeWindow& window = open(store::EditorFormat::PlainText);
    window.fromField()->setText(u"Ann Lee <ann@example.org>"_s);
    window.subjectField()->setText(u"Winter offer"_s);

    struct Case {
        const char* at;
        bool saved;
        int to; // the "To" list's position
        bool userManager;
        std::string said;
    };
    const Case cases[] = {
        {"2020-01-01 10:00", true, 1, true,
         "The time to send must lie in the future (local time, \"YYYY-MM-DD HH:MM\")."},
        {"2099-01-01 10:00", false, 1, true,
         "Save the session first: the send reads the session from its file when its time "
         "comes."},
        {"2099-01-01 10:00", true, 2, true,
         "\"Filtered Results\" cannot be sent later: they are the main window's filter of this "
         "moment. Choose a list or a single recipient in \"To\"."},
        {"2099-01-01 10:00", true, 1, false,
         "No systemd user manager took the send, so nothing was scheduled (systemd-run: Failed "
         "to connect to bus: No medium found)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        answer = c.at;
        c.saved ? session.markSaved() : session.markUnsaved();
        window.toList()->setCurrentIndex(c.to);
        standIn(c.userManager);
        prompter.shown.clear();
        window.action(ComposeCommand::SendLater)->trigger();
        ASSERT_EQ(prompter.shown.size(), 1U);
        EXPECT_EQ(prompter.shown[0].title, "Error");
        EXPECT_EQ(prompter.shown[0].text, c.said);
        // Nothing is left behind: no schedule, no copy of the draft.
        EXPECT_TRUE(!std::filesystem::exists(scheduled) || std::filesystem::is_empty(scheduled));
    }

    // Scheduled: the command the timer would start sends the window's message.
    session.markSaved();
    window.toList()->setCurrentIndex(1);
    standIn(true);
    prompter.shown.clear();
    window.action(ComposeCommand::SendLater)->trigger();
    ASSERT_EQ(prompter.shown.size(), 1U);
    EXPECT_EQ(prompter.shown[0].title, "Information");
    EXPECT_TRUE(prompter.shown[0].text.starts_with("Scheduled ")) << prompter.shown[0].text;
    EXPECT_NE(prompter.shown[0].text.find(" for 2099-01-01 10:00: "), std::string::npos);
    // The open session holds its lock: the user is told the timer needs it.
    EXPECT_TRUE(prompter.shown[0].text.ends_with(
        "\nWhen its time comes, the send needs the session file to itself: close the session in "
        "this program by then, or the send will not start."));
    std::vector<std::string> args;
    {
        std::istringstream in(readFileBytes(bin + "/systemd-run.args"));
        for (std::string line; std::getline(in, line);) {
            args.push_back(line);
        }
    }
    ASSERT_GT(args.size(), 4U);
    EXPECT_EQ(args[2], "--on-calendar=2099-01-01 10:00:00");
    const auto command = std::find(args.begin(), args.end(), "--");
    ASSERT_NE(command, args.end());
    std::vector<std::string> argv{testing_support::mailtrayProgram()};
    argv.insert(argv.end(), command + 2, args.end());
    testing_support::ChildProcess timer(argv);
    ASSERT_EQ(timer.wait(), 0) << timer.out() << timer.err();
    const auto envelope = nlohmann::json::parse(readFileBytes(store.file("001.json")));
    EXPECT_EQ(nlohmann::json::array({"bea@example.net"}), envelope["rcptTos"]);
    EXPECT_NE(std::string::npos,
              readFileBytes(store.file("001.eml")).find("Subject: Winter offer"));
}

TEST_F(ComposeWindowTest, MainWindowComposeOpensOneWindowInTheSessionsFormat) {
    testing_support::NoLauncher launcher;
    testing_support::FakeClipboard clipboard;
    app::MainWindow main(
        session, images,
        app::MainWindowServices{
            prompter, launcher, dir.path() + "/", {}, clock, clipboard, nullptr, nullptr});
    newSession(session, main.sessionHooks());
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "127.0.0.1";
    settings.editorFormat = code(store::EditorFormat::PlainText);
    session.setSettings(settings);

    main.runCommand(app::MainCommand::Compose);
    QPointer<ComposeWindow> first = main.composeWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(store::EditorFormat::PlainText, first->format());
    main.runCommand(app::MainCommand::Compose);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(nullptr, main.composeWindow());
    EXPECT_TRUE(prompter.shown.empty());
    session.markSaved();
}

} // namespace

// Requesters and boxes a compose-window command asks for belong to the
// compose window, which stays in front of the main window afterwards.
TEST_F(ComposeWindowTest, RequestersOfTheComposeWindowKeepItActive) {
    testing_support::NoLauncher launcher;
    testing_support::FakeClipboard clipboard;
    struct MainPrompter final : platform::Prompter {
        std::unique_ptr<platform::QtPrompter> inner;
        platform::PromptAnswer message(const std::string& t, const std::string& m,
                                       platform::PromptButtons b) override {
            return inner->message(t, m, b);
        }
        std::optional<std::string> openFileName(const std::string& t, const std::string& f,
                                                const std::string& i) override {
            return inner->openFileName(t, f, i);
        }
        std::optional<std::string> saveFileName(const std::string& t, const std::string& f,
                                                const std::string& i) override {
            return inner->saveFileName(t, f, i);
        }
    } mainPrompter;
    app::MainWindow main(
        session, images,
        app::MainWindowServices{
            mainPrompter, launcher, dir.path() + "/", {}, clock, clipboard, nullptr, nullptr});
    mainPrompter.inner = std::make_unique<platform::QtPrompter>(&main);
    newSession(session, main.sessionHooks());
    store::SessionSettings settings = session.settings();
    settings.smtpServer = "127.0.0.1";
    settings.editorFormat = code(store::EditorFormat::PlainText);
    session.setSettings(settings);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.runCommand(app::MainCommand::Compose);
    ComposeWindow* compose = main.composeWindow();
    ASSERT_NE(nullptr, compose);
    compose->show();
    compose->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(compose));

    // Each requester: which window owns it, then cancelled.
    QList<QWidget*> owners;
    const auto closeNextModal = [&owners] {
        QTimer::singleShot(0, [&owners] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) {
                return;
            }
            owners << (modal->parentWidget() != nullptr ? modal->parentWidget()->window()
                                                        : nullptr);
            modal->close();
        });
    };
    // The first timer may fire before the requester shows: keep trying.
    QTimer retry;
    QObject::connect(&retry, &QTimer::timeout, closeNextModal);
    retry.start(50);
    const auto composeIsActive = [compose] { return QApplication::activeWindow() == compose; };
    compose->action(ComposeCommand::AttachFile)->trigger();
    ASSERT_TRUE(QTest::qWaitFor(composeIsActive));
    compose->action(ComposeCommand::Save)->trigger();
    ASSERT_TRUE(QTest::qWaitFor(composeIsActive));
    retry.stop();
    ASSERT_EQ(2, owners.size());
    EXPECT_EQ(compose, owners[0]);
    EXPECT_EQ(compose, owners[1]);
    session.markSaved();
}

TEST_F(ComposeWindowTest, ComposeAgainAsksBeforeItDiscardsAChangedMessage) {
    for (const store::EditorFormat format :
         {store::EditorFormat::PlainText, store::EditorFormat::Html}) {
        SCOPED_TRACE(static_cast<int>(format));
        prompter.shown.clear();
        const auto settled = [](ComposeWindow& window) {
            return QTest::qWaitFor([&] { return window.unchangedBodyKnown(); },
                                   testing_support::kEngineWaitMs);
        };
        QPointer<ComposeWindow> first = &open(format);
        ASSERT_TRUE(settled(*first));
        // An unchanged window is replaced without a word.
        QPointer<ComposeWindow> second = &open(format);
        EXPECT_TRUE(first.isNull());
        EXPECT_TRUE(prompter.shown.empty());
        ASSERT_TRUE(settled(*second));
        if (format == store::EditorFormat::Html) {
            typeIntoBody(*second, "Dear all");
        } else {
            second->bodyEditor()->insertText("Dear all");
        }
        // No keeps the message and its window.
        prompter.answers.push_back(platform::PromptAnswer::No);
        EXPECT_EQ(&open(format), second.data());
        ASSERT_EQ(prompter.shown.size(), 1u);
        EXPECT_EQ(prompter.shown[0].title, "Confirm");
        EXPECT_EQ(prompter.shown[0].text, "Discard the message you are writing?");
        ASSERT_FALSE(second.isNull());
        EXPECT_NE(second->draft().body.find("Dear all"), std::string::npos);
        // Yes replaces it.
        prompter.answers.push_back(platform::PromptAnswer::Yes);
        open(format);
        EXPECT_TRUE(second.isNull());
        EXPECT_EQ(prompter.shown.size(), 2u);
    }
}

TEST_F(ComposeWindowTest, UndoAndRedoOfTheEditMenuWorkOnTheBodyInBothFormats) {
    ComposeWindow& html = open(store::EditorFormat::Html);
    html.bodyEditor()->focusBody();
    script(html, "getSelection().collapse(document.body, 0); "
                 "document.execCommand('insertText', false, 'typed'); 1");
    ASSERT_NE(script(html, "document.body.innerHTML").find("typed"), std::string::npos);
    html.action(ComposeCommand::Undo)->trigger();
    EXPECT_EQ(script(html, "document.body.innerHTML").find("typed"), std::string::npos);
    html.action(ComposeCommand::Redo)->trigger();
    EXPECT_NE(script(html, "document.body.innerHTML").find("typed"), std::string::npos);

    prompter.answers.push_back(platform::PromptAnswer::Yes); // the typed message goes
    ComposeWindow& plain = open(store::EditorFormat::PlainText);
    plain.bodyEditor()->textEditor()->setFocus();
    QTest::keyClicks(plain.bodyEditor()->textEditor(), u"Hi"_s);
    ASSERT_EQ("Hi", plain.draft().body);
    plain.action(ComposeCommand::Undo)->trigger();
    EXPECT_EQ("", plain.draft().body);
    plain.action(ComposeCommand::Redo)->trigger();
    EXPECT_EQ("Hi", plain.draft().body);
}

TEST_F(ComposeWindowTest, InsertFieldPutsTheFieldAtTheCaretInBothFormats) {
    ComposeWindow& plain = open(store::EditorFormat::PlainText);
    plain.bodyEditor()->setPlainText("Dear ,");
    QTextCursor caret = plain.bodyEditor()->textEditor()->textCursor();
    caret.setPosition(5);
    plain.bodyEditor()->textEditor()->setTextCursor(caret);
    ASSERT_NE(nullptr, plain.fieldAction("firstName"));
    plain.fieldAction("firstName")->trigger();
    EXPECT_EQ("Dear {{firstName}},", plain.draft().body);
    for (std::string_view name : delivery::kPersonalFieldNames) {
        ASSERT_NE(nullptr, plain.fieldAction(name)) << name;
        EXPECT_EQ("{{" + std::string(name) + "}}", plain.fieldAction(name)->text().toStdString());
    }

    prompter.answers.push_back(platform::PromptAnswer::Yes); // "Dear {{firstName}}," goes
    ComposeWindow& html = open(store::EditorFormat::Html);
    script(html, "document.body.innerHTML = '<p>Hi</p>'; "
                 "getSelection().collapse(document.body.firstChild.firstChild, 2); 1");
    html.fieldAction("name")->trigger();
    EXPECT_EQ("<p>Hi{{name}}</p>", script(html, "document.body.innerHTML"));
}

// The menus and the buttons come from the command tables: what the user sees
// stays as it was, item by item.
TEST_F(ComposeWindowTest, MenusButtonsAndFocusChainReadAsBefore) {
    ComposeWindow& window = open(store::EditorFormat::Html);
    std::string shown;
    const std::function<void(const QMenu*, const std::string&)> walk =
        [&](const QMenu* menu, const std::string& indent) {
            for (const QAction* item : menu->actions()) {
                shown += indent + (item->isSeparator() ? "-" : item->text().toStdString()) + "\n";
                if (item->menu() != nullptr) {
                    walk(item->menu(), indent + "  ");
                }
            }
        };
    for (const QAction* top : window.menuBar()->actions()) {
        shown += top->text().toStdString() + "\n";
        walk(top->menu(), "  ");
    }
    std::string fields;
    for (std::string_view name : delivery::kPersonalFieldNames) {
        fields += "    {{" + std::string(name) + "}}\n";
    }
    EXPECT_EQ("&File\n  &New\n  &Open..\n  &Save..\n  -\n  Send &Email\n  -\n  &Close\n"
              "&Edit\n  &Undo\n  &Redo\n  -\n  Cu&t\n  &Copy\n  &Paste\n  -\n  &Insert\n"
              "    &Hyperlink..\n    &Attachment..\n    Horizontal &Line\n  Insert &Field\n" +
                  fields +
                  "  -\n  C&lear Attachments\n"
                  "&Tools\n  &Font Style..\n  &Edit HTML\n  -\n  Send &Preview\n  &Check Message\n"
                  "  Send &Test...\n  Send &Later...\n"
                  "&Help\n  &Help...\n  -\n  &About\n",
              shown);
    EXPECT_EQ(QKeySequence(Qt::Key_F1), window.action(ComposeCommand::Help)->shortcut());

    // Tooltip, place and size of each button.
    const std::vector<std::tuple<ComposeCommand, const char*, QRect>> buttons{
        {ComposeCommand::SendEmailNow, "Send email", {0, 0, 32, 32}},
        {ComposeCommand::Save, "Save draft", {32, 0, 32, 32}},
        {ComposeCommand::SendPreview, "Preview", {64, 0, 32, 32}},
        {ComposeCommand::Cut, "Cut", {104, 0, 32, 32}},
        {ComposeCommand::Copy, "Copy", {136, 0, 32, 32}},
        {ComposeCommand::Paste, "Paste", {168, 0, 32, 32}},
        {ComposeCommand::AttachFile, "Attach a file", {208, 0, 32, 32}},
        {ComposeCommand::FontStyle, "Font-style", {5, 110, 24, 24}},
        {ComposeCommand::Bold, "Bold", {205, 110, 24, 24}},
        {ComposeCommand::DecreaseIndent, "Decrease indent", {445, 110, 24, 24}},
        {ComposeCommand::EditHtml, "Edit HTML", {525, 110, 24, 24}},
    };
    for (const auto& [command, tooltip, place] : buttons) {
        ASSERT_NE(nullptr, window.button(command)) << tooltip;
        EXPECT_EQ(tooltip, window.button(command)->toolTip().toStdString());
        EXPECT_EQ(place, window.button(command)->geometry()) << tooltip;
    }
    EXPECT_EQ(nullptr, window.button(ComposeCommand::Close));

    // The paragraph style list sits between Font-style and Bold in the chain.
    EXPECT_EQ(window.paragraphStyleList(),
              window.button(ComposeCommand::FontStyle)->nextInFocusChain());
    EXPECT_EQ(window.button(ComposeCommand::Bold), window.paragraphStyleList()->nextInFocusChain());
}

} // namespace velmora::compose
