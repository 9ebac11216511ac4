#include "../scripted_connection.h"
#include "delivery/message/mime_text.h"
#include "delivery/message/mime_types_file.h"
#include "delivery/smtp/smtp_session.h"
#include "support/test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace velmora::delivery {

using namespace delivery_testing::script;

using delivery_testing::RecordingObserver;
using delivery_testing::ScriptedConnection;
using delivery_testing::ScriptStep;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

struct SessionFixture {
    store::FixedClock clock{store::LocalDateTime{}};
    MimeTypesFile types{"/nonexistent"};
    MessageEnvironment environment{clock, types, {}};
    RecordingObserver observer;
    SmtpSessionRequest request;

    SessionFixture() {
        request.server = "mail.example.net";
        request.port = 587;
        request.timeoutSeconds = 10;
        request.hostName = "client.example";
        request.message.senderName = "Ann";
        request.message.senderAddress = "ann@example.org";
        request.message.recipient = "bob@example.net";
        request.message.subject = "Hello";
        request.message.body = "Hi Bob,\r\n.see you";
        request.message.format = code(store::EditorFormat::PlainText);
    }
    SmtpOutcome run(ScriptedConnection& connection) {
        return runSmtpSession(request, connection, observer, environment);
    }
};

std::vector<ScriptStep> plainScript(std::vector<ScriptStep> afterData) {
    std::vector<ScriptStep> script = {
        says("220 mail.example.net ESMTP\r\n"),
        expects("HELO client.example"),
        says("250 mail.example.net\r\n"),
        expects("MAIL FROM: <ann@example.org>"),
        says("250 OK\r\n"),
        expects("RCPT TO: <bob@example.net>"),
        says("250 OK\r\n"),
        expects("DATA"),
        says("354 go ahead\r\n"),
        message(),
    };
    script.insert(script.end(), afterData.begin(), afterData.end());
    return script;
}

std::vector<ScriptStep> deliveredTail() {
    return {says("250 queued\r\n"), expects("QUIT"), says("221 bye\r\n")};
}

} // namespace

TEST(SmtpSession, LogsTheWholeDialogueWithLoginAndDelivers) {
    SessionFixture f;
    TempDir dir;
    writeFileBytes(dir.file("note.txt"), "note");
    f.request.message.attachments = {dir.file("note.txt")};
    f.request.userName = "ann.lee";
    f.request.password = "s3cret";
    f.request.logDialogue = true;
    ScriptedConnection c(f.clock,
                         {says("220-mail.example.net ESMTP\r\n220 welcome\r\n"),
                          expects("Ehlo client.example"),
                          says("250-mail.example.net\r\n250 AUTH LOGIN\r\n"), expects("AUTH LOGIN"),
                          says("334 VXNlcm5hbWU6\r\n"), expects(base64String("ann.lee")),
                          says("334 UGFzc3dvcmQ6\r\n"), expects(base64String("s3cret")),
                          says("235 ok\r\n"), expects("MAIL FROM: <ann@example.org>"),
                          says("250 OK\r\n"), expects("RCPT TO: <bob@example.net>"),
                          says("250 OK\r\n"), expects("DATA"), says("354 go ahead\r\n"), message(),
                          says("250 queued\r\n"), expects("QUIT"), says("221 bye\r\n")});
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Delivered);
    EXPECT_TRUE(c.scriptDone());
    EXPECT_EQ(c.unexpected, "");
    EXPECT_EQ(c.connectedTo, "mail.example.net:587");
    EXPECT_GE(c.closes, 1);
    const std::vector<std::string> expected = {
        "Initializing network connection...",
        "Opening SMTP connection to mail.example.net (port 587)",
        "<220 mail.example.net ESMTP welcome",
        "<250 mail.example.net AUTH LOGIN",
        "<334 VXNlcm5hbWU6",
        "<334 UGFzc3dvcmQ6",
        "<235 ok",
        "<250 OK",
        "<250 OK",
        "<354 go ahead",
        dir.file("note.txt"),
        "<250 queued",
        "<221 bye",
        "Finished.",
    };
    EXPECT_EQ(f.observer.lines, expected);
    ASSERT_EQ(c.messages.size(), 1u);
    EXPECT_NE(c.messages[0].find("\r\nHi Bob,\r\n..see you\r\n"), std::string::npos);
    EXPECT_NE(c.messages[0].find("filename=\"note.txt\""), std::string::npos);
}

TEST(SmtpSession, QuietSessionsLogNothingAndRepliesSplitAtEveryByteStillWork) {
    SessionFixture f;
    ScriptedConnection c(f.clock, plainScript(deliveredTail()));
    c.chunk = 1;
    EXPECT_EQ(f.run(c).result, SmtpResult::Delivered);
    EXPECT_TRUE(c.scriptDone());
    EXPECT_EQ(c.unexpected, "");
    EXPECT_TRUE(f.observer.lines.empty());
}

TEST(SmtpSession, TimeOutEndsTheSessionWithoutQuit) {
    for (int timeout : {0, 10}) {
        SessionFixture f;
        f.request.timeoutSeconds = timeout;
        ScriptedConnection c(f.clock, {says("220 hi\r\n"), expects("HELO client.example")});
        const SmtpOutcome outcome = f.run(c);
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_EQ(outcome.reason, "Timeout reached.");
        EXPECT_TRUE(outcome.timedOut);
        EXPECT_EQ(f.observer.lines, std::vector<std::string>{"Timeout reached."});
        EXPECT_EQ(c.unexpected, "") << "nothing, QUIT included, after the time-out";
        EXPECT_GE(f.clock.now().millisecondsSinceEpoch, timeout * 1000LL);
        EXPECT_LE(f.clock.now().millisecondsSinceEpoch, timeout * 1000LL + 100);
    }
}

TEST(SmtpSession, ATimeOutOfZeroTimesOutAtOnceEvenWithAnAnswerWaiting) {
    // A server whose every answer is already there: still no wait at all.
    SessionFixture f;
    f.request.timeoutSeconds = 0;
    ScriptedConnection c(f.clock, plainScript(deliveredTail()));
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_EQ(outcome.reason, "Timeout reached.");
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(c.scriptDone());
}

TEST(SmtpSession, TimeOutCountsFromTheEndOfTheWriteNotTheStart) {
    SessionFixture f;
    // A slow link: every write takes 30 s; each reply comes 9 s after it.
    std::vector<ScriptStep> script =
        plainScript({silence(9000), says("250 queued\r\n"), expects("QUIT"), says("221 bye\r\n")});
    script.insert(script.begin() + 2, silence(9000));
    ScriptedConnection c(f.clock, script);
    c.writeCostMs = 30000;
    EXPECT_EQ(f.run(c).result, SmtpResult::Delivered);
    EXPECT_TRUE(c.scriptDone());
    EXPECT_GE(f.clock.now().millisecondsSinceEpoch, 5 * 30000 + 2 * 9000);

    SessionFixture late;
    script = plainScript({silence(10100), says("250 late\r\n")});
    ScriptedConnection c2(late.clock, script);
    EXPECT_EQ(late.run(c2).reason, "Timeout reached.");
}

TEST(SmtpSession, CancelClosesWithoutQuit) {
    SessionFixture f;
    f.request.logDialogue = true;
    f.observer.cancelAfterLine = "<250 mail.example.net";
    ScriptedConnection c(f.clock, plainScript(deliveredTail()));
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Cancelled);
    const std::vector<std::string>& lines = f.observer.lines;
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Cancelled.");
    EXPECT_EQ(lines.back(), "Finished.");
    EXPECT_EQ(c.position(), 3u) << "MAIL FROM was not written";
    EXPECT_EQ(c.unexpected, "");
}

TEST(SmtpSession, ADroppedConnectionIsNoticedAtOnce) {
    SessionFixture f;
    ScriptedConnection c(f.clock, {says("220 hi\r\n"), expects("HELO client.example"), hangs()});
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_EQ(outcome.reason, "Connection closed by the server.");
    EXPECT_EQ(f.observer.lines, std::vector<std::string>{"Connection closed by the server."});
    EXPECT_EQ(f.clock.now().millisecondsSinceEpoch, 0) << "no waiting for the time-out";
}

TEST(SmtpSession, ARefusedRecipientEndsWithQuitAndKeepsTheReply) {
    SessionFixture f;
    f.request.logDialogue = true;
    ScriptedConnection c(f.clock, {says("220 hi\r\n"), expects("HELO client.example"),
                                   says("250 ok\r\n"), expects("MAIL FROM: <ann@example.org>"),
                                   says("250 ok\r\n"), expects("RCPT TO: <bob@example.net>"),
                                   says("550 5.1.1 unknown user\r\n"), expects("QUIT"), hangs()});
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Rejected);
    EXPECT_EQ(outcome.replyCode, "550");
    EXPECT_EQ(outcome.replyText, "5.1.1 unknown user");
    EXPECT_TRUE(c.scriptDone());
    EXPECT_EQ(f.observer.lines.back(), "Finished.");
    EXPECT_EQ(f.observer.lines[f.observer.lines.size() - 2], "<550 5.1.1 unknown user");
}

TEST(SmtpSession, ConnectFailuresAndUnsafeAddressesAreReported) {
    SessionFixture f;
    f.request.logDialogue = true;
    ScriptedConnection refused(f.clock, {});
    refused.refuseConnect = true;
    SmtpOutcome outcome = f.run(refused);
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_EQ(outcome.reason,
              "Could not connect to mail.example.net (port 587): Connection refused.");
    EXPECT_EQ(f.observer.lines.back(), outcome.reason);

    SessionFixture unsafe;
    unsafe.request.message.recipient = "bob@example.net>\r\nRCPT TO:<eve@evil.example";
    ScriptedConnection never(unsafe.clock, {});
    outcome = unsafe.run(never);
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_EQ(never.connectedTo, "") << "no connection for an unsafe address";
    ASSERT_EQ(unsafe.observer.lines.size(), 1u);
    EXPECT_EQ(unsafe.observer.lines[0].find('\n'), std::string::npos);
}

TEST(SmtpSession, NoGreetingOnPort465SaysThePortExpectsTls) {
    for (const int port : {465, 587}) {
        SessionFixture f;
        f.request.port = port;
        f.request.security = SmtpSecurity::Auto;
        ScriptedConnection c(f.clock, {silence(20000)});
        const SmtpOutcome outcome = f.run(c);
        EXPECT_EQ(outcome.result, SmtpResult::Failed);
        EXPECT_TRUE(outcome.timedOut);
        const bool hinted = outcome.reason.find(kPortExpectsTlsText) != std::string::npos;
        EXPECT_EQ(hinted, port == 465) << outcome.reason;
        EXPECT_EQ(f.observer.lines.back() == kPortExpectsTlsText, port == 465);
    }
}

TEST(SmtpSession, ATlsAnswerToTheGreetingWaitSaysSoAtOnceOnAnyPort) {
    SessionFixture f;
    f.request.port = 2525;
    f.request.security = SmtpSecurity::StartTls;
    ScriptedConnection c(f.clock,
                         {says(std::string("\x15\x03\x01\x00\x02\x02\x46", 7)), silence(20000)});
    const SmtpOutcome outcome = f.run(c);
    EXPECT_EQ(outcome.result, SmtpResult::Failed);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.reason, kPortExpectsTlsText);
    EXPECT_EQ(c.unexpected, "") << "nothing in plain text to a TLS server";
    EXPECT_NE(std::find(f.observer.lines.begin(), f.observer.lines.end(), kPortExpectsTlsText),
              f.observer.lines.end());
}

TEST(SmtpSession, WithoutAHostNameTheGreetingNamesTheLocalAddress) {
    SessionFixture f;
    f.request.hostName = "";
    ScriptedConnection c(f.clock, {says("220 hi\r\n"), expects("HELO [IPv6:2001:db8::5]")});
    c.localAddress = "[IPv6:2001:db8::5]";
    f.run(c);
    EXPECT_EQ(c.unexpected, "");
    EXPECT_GE(c.position(), 2u);
}

} // namespace velmora::delivery
