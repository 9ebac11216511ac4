#include "../dialogue_script.h"
#include "delivery/message/mime_text.h"
#include "delivery/smtp/smtp_dialogue.h"

#include <gtest/gtest.h>
#include <optional>

namespace velmora::delivery {

using namespace delivery_testing::script;
using delivery_testing::ScriptStep;

namespace {

SmtpDialogueSetup setupFor(std::string user = "", std::string password = "",
                           SmtpSecurity security = SmtpSecurity::None) {
    SmtpDialogueSetup setup;
    setup.hostName = "client.example";
    setup.userName = std::move(user);
    setup.password = std::move(password);
    setup.senderAddress = "ann@example.org";
    setup.recipient = "bob@example.net";
    setup.security = security;
    return setup;
}

// Plays a script against a dialogue; each server text is fed in pieces of
// `chunk` bytes (0: whole). Every client line must be written in order and
// nothing else; the whole script must be consumed.
class ScriptPlayer {
public:
    ScriptPlayer(SmtpDialogue& dialogue, std::size_t chunk = 0) : d_(dialogue), chunk_(chunk) {}

    void play(const std::vector<ScriptStep>& script) {
        for (std::size_t i = 0; i < script.size(); ++i) {
            const ScriptStep& line = script[i];
            SCOPED_TRACE("script line " + std::to_string(i));
            switch (line.kind) {
            case ScriptStep::Says:
                feed(line.bytes);
                break;
            case ScriptStep::Expects:
                ASSERT_EQ(written_.substr(0, line.bytes.size()), line.bytes);
                written_.erase(0, line.bytes.size());
                break;
            case ScriptStep::Message:
                ASSERT_TRUE(messagePending_) << "no 354 was acted on";
                ASSERT_TRUE(written_.empty()) << written_;
                messagePending_ = false;
                ++messages_;
                if (ahead) {
                    written_ += d_.nextEnvelopeAhead(*ahead);
                    ahead.reset();
                }
                take(d_.messageWritten());
                break;
            case ScriptStep::StartsTls:
                ASSERT_TRUE(tlsPending_) << "no handshake was asked for";
                ASSERT_TRUE(written_.empty()) << written_;
                tlsPending_ = false;
                take(d_.tlsStarted());
                break;
            case ScriptStep::Silence:
            case ScriptStep::Hangs:
                FAIL() << "a connection step in a dialogue script";
            }
        }
        EXPECT_EQ(written_, "") << "the client wrote more than the script says";
        EXPECT_FALSE(messagePending_);
        EXPECT_FALSE(tlsPending_);
    }
    // What the caller's own call (nextMessage, quit) asked to write.
    void then(const SmtpStep& step) { take(step); }
    // The envelope offered to go with the next message's end of data.
    std::optional<SmtpEnvelope> ahead;
    std::vector<std::string> logLines;
    // What the caller answers when the dialogue asks for a fresh token
    // (empty: none to be had); each answer is used once.
    std::vector<std::string> freshTokens;
    int tokenRequests = 0;
    int messages() const { return messages_; }

private:
    void feed(const std::string& bytes) {
        const std::size_t step = chunk_ == 0 ? bytes.size() : chunk_;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            take(d_.received(std::string_view(bytes).substr(at, step)));
        }
    }
    void take(const SmtpStep& step) {
        for (const SmtpReply& reply : step.replies) {
            logLines.push_back(reply.logLine());
        }
        written_ += step.toWrite;
        if (step.writeMessage) {
            EXPECT_FALSE(messagePending_) << "the message was asked for twice";
            messagePending_ = true;
        }
        if (step.startTls) {
            EXPECT_FALSE(tlsPending_) << "the handshake was asked for twice";
            tlsPending_ = true;
        }
        if (step.refreshToken) {
            ++tokenRequests;
            std::string token;
            if (!freshTokens.empty()) {
                token = freshTokens.front();
                freshTokens.erase(freshTokens.begin());
            }
            take(token.empty() ? d_.tokenRefreshFailed("The sign-in has ended: sign in again.")
                               : d_.tokenRefreshed(token));
        }
    }

    SmtpDialogue& d_;
    std::size_t chunk_;
    std::string written_;
    bool messagePending_ = false;
    bool tlsPending_ = false;
    int messages_ = 0;
};

const std::vector<ScriptStep> kPlainDialogue = {
    says("220 mail.example.net ESMTP ready\r\n"),
    expects("HELO client.example"),
    says("250 mail.example.net\r\n"),
    expects("MAIL FROM: <ann@example.org>"),
    says("250 2.1.0 OK\r\n"),
    expects("RCPT TO: <bob@example.net>"),
    says("250 2.1.5 OK\r\n"),
    expects("DATA"),
    says("354 End data with <CR><LF>.<CR><LF>\r\n"),
    message(),
    says("250 2.0.0 Ok: queued as 12345\r\n"),
    expects("QUIT"),
    says("221 2.0.0 Bye\r\n"),
};

std::vector<ScriptStep> loginDialogue() {
    return {
        says("220-mail.example.net ESMTP\r\n220-second greeting line\r\n220 ready\r\n"),
        expects("Ehlo client.example"),
        says("250-mail.example.net\r\n250-PIPELINING\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n"),
        expects("AUTH LOGIN"),
        says("334 VXNlcm5hbWU6\r\n"),
        expects(base64String("ann.lee")),
        says("334 UGFzc3dvcmQ6\r\n"),
        expects(base64String("s3cret")),
        says("235 2.7.0 Authentication successful\r\n"),
        expects("MAIL FROM: <ann@example.org>"),
        says("250 OK\r\n"),
        expects("RCPT TO: <bob@example.net>"),
        says("251 User not local; will forward\r\n"),
        expects("DATA"),
        says("354 go ahead\r\n"),
        message(),
        says("250 accepted\r\n"),
        expects("QUIT"),
        says("221 bye\r\n"),
    };
}

} // namespace

TEST(SmtpDialogue, DeliversWithoutLoginAndLogsEachReplyOnce) {
    SmtpDialogue d(setupFor());
    ScriptPlayer player(d);
    player.play(kPlainDialogue);
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
    EXPECT_EQ(d.outcome().replyCode, "250");
    EXPECT_EQ(player.messages(), 1);
    ASSERT_EQ(player.logLines.size(), 7u);
    EXPECT_EQ(player.logLines[0], "<220 mail.example.net ESMTP ready");
    EXPECT_EQ(player.logLines[6], "<221 2.0.0 Bye");
}

TEST(SmtpDialogue, LogsInWithMultiLineRepliesAndTakes251) {
    SmtpDialogue d(setupFor("ann.lee", "s3cret"));
    ScriptPlayer player(d);
    player.play(loginDialogue());
    EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
    // Multi-line replies are one reply each, their texts joined by a blank.
    EXPECT_EQ(player.logLines[0], "<220 mail.example.net ESMTP second greeting line ready");
    EXPECT_EQ(player.logLines[1], "<250 mail.example.net PIPELINING AUTH LOGIN PLAIN 8BITMIME");
}

TEST(SmtpDialogue, RepliesSplitAtEveryByteGiveTheSameDialogue) {
    SmtpDialogue whole(setupFor("ann.lee", "s3cret"));
    ScriptPlayer reference(whole);
    reference.play(loginDialogue());
    EXPECT_EQ(reference.logLines.size(), 10u);
    for (std::size_t chunk : {1, 2, 3, 5, 7}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        SmtpDialogue d(setupFor("ann.lee", "s3cret"));
        ScriptPlayer player(d, chunk);
        player.play(loginDialogue());
        EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
        EXPECT_EQ(player.logLines, reference.logLines);
    }
    // Every single cut of a reply, including inside its code.
    const std::string reply = "250-first\r\n250 second\r\n";
    for (std::size_t cut = 1; cut < reply.size(); ++cut) {
        SmtpDialogue d(setupFor());
        d.received("220 hi\r\n");
        SmtpStep first = d.received(reply.substr(0, cut));
        EXPECT_TRUE(first.replies.empty()) << cut;
        EXPECT_EQ(first.toWrite, "");
        SmtpStep second = d.received(reply.substr(cut));
        ASSERT_EQ(second.replies.size(), 1u) << cut;
        EXPECT_EQ(second.replies[0].logLine(), "<250 first second");
        EXPECT_EQ(second.toWrite, "MAIL FROM: <ann@example.org>\r\n");
    }
}

TEST(SmtpDialogue, RefusedRecipientIsRejectedAndEndsWithQuit) {
    SmtpDialogue d(setupFor());
    ScriptPlayer player(d);
    player.play({says("220 hi\r\n"), expects("HELO client.example"), says("250 ok\r\n"),
                 expects("MAIL FROM: <ann@example.org>"), says("250 ok\r\n"),
                 expects("RCPT TO: <bob@example.net>"),
                 says("550 5.1.1 <bob@example.net>: Recipient address rejected\r\n"),
                 expects("QUIT"), says("221 bye\r\n")});
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.outcome().result, SmtpResult::Rejected);
    EXPECT_EQ(d.outcome().replyCode, "550");
    EXPECT_EQ(d.outcome().replyText, "5.1.1 <bob@example.net>: Recipient address rejected");
    EXPECT_NE(d.outcome().reason.find("550"), std::string::npos);
}

TEST(SmtpDialogue, WrongPasswordFailsAtOnce) {
    SmtpDialogue d(setupFor("ann.lee", "wrong"));
    ScriptPlayer player(d);
    player.play({says("220 hi\r\n"), expects("Ehlo client.example"), says("250 AUTH LOGIN\r\n"),
                 expects("AUTH LOGIN"), says("334 VXNlcm5hbWU6\r\n"),
                 expects(base64String("ann.lee")), says("334 UGFzc3dvcmQ6\r\n"),
                 expects(base64String("wrong")),
                 says("535 5.7.8 Authentication credentials invalid\r\n"), expects("QUIT"),
                 says("221 bye\r\n")});
    EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
    EXPECT_EQ(d.outcome().replyCode, "535");
}

TEST(SmtpDialogue, AnErrorReplyAtEachStepEndsTheSessionWithTheRightOutcome) {
    // The plain dialogue up to each step, then a 4xx there.
    struct Case {
        std::size_t serverLine; // index in kPlainDialogue of the reply replaced
        SmtpResult expected;
    };
    // A refused sender is refused for every recipient: the session failed.
    const Case cases[] = {{0, SmtpResult::Failed},   {2, SmtpResult::Failed},
                          {4, SmtpResult::Failed},   {6, SmtpResult::Rejected},
                          {8, SmtpResult::Rejected}, {10, SmtpResult::Rejected}};
    for (const Case& c : cases) {
        SCOPED_TRACE("reply " + std::to_string(c.serverLine));
        std::vector<ScriptStep> script(kPlainDialogue.begin(),
                                       kPlainDialogue.begin() + c.serverLine);
        script.push_back(says("451 4.3.0 Try again later\r\n"));
        script.push_back(expects("QUIT"));
        script.push_back(says("221 bye\r\n"));
        SmtpDialogue d(setupFor());
        ScriptPlayer player(d);
        player.play(script);
        EXPECT_TRUE(d.finished());
        EXPECT_EQ(d.outcome().result, c.expected);
        EXPECT_EQ(d.outcome().replyCode, "451");
        EXPECT_EQ(d.outcome().replyText, "4.3.0 Try again later");
        // What lets a run pause on it rather than stop.
        EXPECT_EQ(d.outcome().senderRefused, c.serverLine == 4);
    }
}

TEST(SmtpDialogue, UnexpectedPositiveRepliesAreIgnoredAndCodesOutOfPlaceDoNothing) {
    SmtpDialogue d(setupFor());
    ScriptPlayer player(d);
    // 354 before DATA and 235 without a login must not start the message or MAIL FROM.
    player.play({says("220 hi\r\n"), expects("HELO client.example"),
                 says("354 what\r\n235 odd\r\n"), says("250 ok\r\n"),
                 expects("MAIL FROM: <ann@example.org>")});
    EXPECT_EQ(d.state(), SmtpState::AwaitMailFromReply);
    EXPECT_FALSE(d.outcomeSettled());
}

TEST(SmtpDialogue, AReplyBeforeTheEndOfTheDataIsAProtocolErrorNotADelivery) {
    // With the 354 in one packet (the message is then never written), or
    // while the message is being written.
    for (const bool samePacket : {true, false}) {
        SCOPED_TRACE(samePacket ? "with the 354" : "while writing");
        SmtpDialogue d(setupFor());
        d.received("220 hi\r\n250 a\r\n250 b\r\n250 c\r\n");
        SmtpStep step = d.received(samePacket ? "354 go\r\n250 queued\r\n" : "354 go\r\n");
        if (!samePacket) {
            EXPECT_TRUE(step.writeMessage);
            step = d.received("250 queued\r\n");
        }
        EXPECT_FALSE(step.writeMessage);
        EXPECT_EQ(step.toWrite, "");
        EXPECT_EQ(step.problem, kEarlyReplyText);
        EXPECT_TRUE(d.finished());
        EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
        EXPECT_TRUE(d.messageWritten().toWrite.empty()); // the late 250 is not acted on
        EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
    }
}

TEST(SmtpDialogue, ATlsRecordInsteadOfAGreetingSaysThePortExpectsTls) {
    struct Case {
        const char* name;
        std::string bytes;
        SmtpSecurity security;
        std::size_t chunk;
    };
    const std::string serverHello("\x16\x03\x03\x00\x2a\x02\x00\x00\x26\x03\x03\r\n", 12);
    const std::string alert("\x15\x03\x01\x00\x02\x02\x46", 7);
    const Case cases[] = {
        {"handshake, STARTTLS", serverHello, SmtpSecurity::StartTls, 0},
        {"handshake byte by byte, auto", serverHello, SmtpSecurity::Auto, 1},
        {"alert, none", alert, SmtpSecurity::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue d(setupFor("", "", c.security));
        SmtpStep step;
        const std::size_t chunk = c.chunk == 0 ? c.bytes.size() : c.chunk;
        for (std::size_t at = 0; at < c.bytes.size() && !d.finished(); at += chunk) {
            step = d.received(std::string_view(c.bytes).substr(at, chunk));
            EXPECT_EQ(step.toWrite, "");
        }
        EXPECT_TRUE(d.finished());
        EXPECT_EQ(step.problem, kPortExpectsTlsText);
        EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
        EXPECT_EQ(d.outcome().reason, kPortExpectsTlsText);
    }
}

TEST(SmtpDialogue, ADisconnectFailsTheSessionUnlessTheOutcomeWasSettled) {
    SmtpDialogue lost(setupFor());
    lost.received("220 hi\r\n");
    lost.connectionClosed();
    EXPECT_TRUE(lost.finished());
    EXPECT_EQ(lost.outcome().result, SmtpResult::Failed);
    EXPECT_EQ(lost.outcome().reason, "Connection closed by the server.");

    SmtpDialogue delivered(setupFor());
    ScriptPlayer player(delivered);
    player.play({says("220 hi\r\n"), expects("HELO client.example"), says("250 a\r\n"),
                 expects("MAIL FROM: <ann@example.org>"), says("250 b\r\n"),
                 expects("RCPT TO: <bob@example.net>"), says("250 c\r\n"), expects("DATA"),
                 says("354 go\r\n"), message(), says("250 queued\r\n"), expects("QUIT")});
    delivered.connectionClosed(); // no 221: the message was taken all the same
    EXPECT_EQ(delivered.outcome().result, SmtpResult::Delivered);
}

TEST(SmtpDialogue, TimeOutAndCancelSettleTheOutcome) {
    SmtpDialogue slow(setupFor());
    slow.received("220 hi\r\n");
    slow.timedOut();
    EXPECT_EQ(slow.outcome().result, SmtpResult::Failed);
    EXPECT_EQ(slow.outcome().reason, "Timeout reached.");

    SmtpDialogue cancelled(setupFor());
    cancelled.cancelled();
    EXPECT_TRUE(cancelled.finished());
    EXPECT_EQ(cancelled.outcome().result, SmtpResult::Cancelled);
    EXPECT_EQ(cancelled.received("220 hi\r\n").toWrite, "");
}

TEST(SmtpDialogue, UnsafeEnvelopeAddressesEndTheDialogueBeforeItStarts) {
    for (const char* bad :
         {"bob@example.net\r\nRCPT TO: <eve@evil>", "bob>@x", "<bob@x", "bob\n@x"}) {
        SmtpDialogueSetup setup = setupFor();
        setup.recipient = bad;
        SmtpDialogue d(setup);
        EXPECT_TRUE(d.finished()) << bad;
        EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
        EXPECT_EQ(d.outcome().reason.find('\n'), std::string::npos);
        EXPECT_EQ(d.received("220 hi\r\n").toWrite, "");
    }
    SmtpDialogueSetup host = setupFor();
    host.hostName = "evil\r\nRSET";
    EXPECT_EQ(SmtpDialogue(host).received("220 hi\r\n").toWrite, "HELO evilRSET\r\n");
    host.hostName = "";
    EXPECT_EQ(SmtpDialogue(host).received("220 hi\r\n").toWrite, "HELO localhost\r\n");

    SmtpDialogueSetup nul = setupFor();
    nul.senderAddress = std::string("ann\0@x", 6);
    EXPECT_TRUE(SmtpDialogue(nul).finished());
    EXPECT_TRUE(isSafeEnvelopeAddress(""));
}

TEST(SmtpDialogue, ALineThatIsNoReplyEndsTheDialogueWithAProblem) {
    SmtpDialogue d(setupFor());
    SmtpStep step = d.received("HTTP/1.1 400 Bad Request\r\n");
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
    EXPECT_NE(step.problem.find("HTTP/1.1 400"), std::string::npos);
    EXPECT_EQ(step.toWrite, "");
}

TEST(SmtpReplyReader, JoinsLinesAcceptsBareLineFeedsAndBoundsLines) {
    SmtpReplyReader reader;
    reader.feed("250");
    EXPECT_FALSE(reader.next());
    reader.feed("\n220-a\n220-\n220 b c\r\n");
    std::optional<SmtpReply> first = reader.next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->logLine(), "<250 ");
    std::optional<SmtpReply> second = reader.next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->lines, (std::vector<std::string>{"a", "", "b c"}));
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.hasPartialReply());

    SmtpReplyReader flood;
    flood.feed(std::string(SmtpReplyReader::kMaxLineBytes + 10, '2'));
    EXPECT_FALSE(flood.next());
    EXPECT_TRUE(flood.failed());

    SmtpReplyReader odd;
    odd.feed("25x ok\r\n");
    EXPECT_FALSE(odd.next());
    EXPECT_TRUE(odd.failed());
}

namespace {

std::string plainCredentials(const std::string& user, const std::string& password) {
    return base64String(std::string(1, '\0') + user + std::string(1, '\0') + password);
}

// From MAIL FROM to QUIT, once the login (if any) is done.
std::vector<ScriptStep> envelopeAndMessage() {
    return {expects("MAIL FROM: <ann@example.org>"),
            says("250 OK\r\n"),
            expects("RCPT TO: <bob@example.net>"),
            says("250 OK\r\n"),
            expects("DATA"),
            says("354 go\r\n"),
            message(),
            says("250 queued\r\n"),
            expects("QUIT"),
            says("221 bye\r\n")};
}

std::vector<ScriptStep> joinedScript(std::vector<ScriptStep> head,
                                     const std::vector<ScriptStep>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

bool wroteAuth(const std::vector<ScriptStep>& script) {
    return std::any_of(script.begin(), script.end(), [](const ScriptStep& line) {
        return line.kind == ScriptStep::Expects && line.bytes.starts_with("AUTH");
    });
}

} // namespace

TEST(SmtpDialogueTls, StartTlsDropsWhatCameWithThe220AndAsksForCapabilitiesAgain) {
    for (const SmtpSecurity security : {SmtpSecurity::Auto, SmtpSecurity::StartTls}) {
        SmtpDialogue d(setupFor("ann.lee", "s3cret", security));
        ScriptPlayer player(d);
        player.play(joinedScript(
            {says("220 mail.example.net ESMTP\r\n"), expects("EHLO client.example"),
             // Before TLS the server (or someone in between) offers only LOGIN.
             says("250-mail.example.net\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n"),
             expects("STARTTLS"),
             // Bytes injected after the 220 must never be read as replies.
             says("220 2.0.0 Ready to start TLS\r\n250 2.1.0 injected\r\n354 injected\r\n"),
             startsTls(), expects("EHLO client.example"),
             says("250-mail.example.net\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n"),
             expects("AUTH PLAIN " + plainCredentials("ann.lee", "s3cret")),
             says("235 2.7.0 Authentication successful\r\n")},
            envelopeAndMessage()));
        EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
        EXPECT_TRUE(d.encrypted());
        EXPECT_TRUE(d.loggedIn());
        EXPECT_EQ(d.authMechanism(), "PLAIN");
        // Only what the server said after TLS counts.
        EXPECT_EQ(d.capabilities(), (std::vector<std::string>{"AUTH PLAIN LOGIN", "8BITMIME"}));
        // What came before stays known, for a test whose handshake fails.
        EXPECT_EQ(d.capabilitiesBeforeTls(), (std::vector<std::string>{"STARTTLS", "AUTH LOGIN"}));
        EXPECT_EQ(std::count(player.logLines.begin(), player.logLines.end(), "<250 2.1.0 injected"),
                  0);
    }
}

TEST(SmtpDialogueTls, BytesArrivingWhileTheHandshakeIsPendingAreIgnored) {
    SmtpDialogue d(setupFor("", "", SmtpSecurity::Auto));
    d.received("220 hi\r\n");
    d.received("250-x\r\n250 STARTTLS\r\n");
    SmtpStep step = d.received("220 go\r\n");
    EXPECT_TRUE(step.startTls);
    EXPECT_EQ(d.state(), SmtpState::AwaitTls);
    step = d.received("250 OK\r\n");
    EXPECT_TRUE(step.replies.empty());
    EXPECT_EQ(step.toWrite, "");
    EXPECT_EQ(d.tlsStarted().toWrite, "EHLO client.example\r\n");
    EXPECT_EQ(d.received("250 fresh\r\n").toWrite, "MAIL FROM: <ann@example.org>\r\n");
}

TEST(SmtpDialogueTls, SecurityModesDecideWhatHappensWithoutStartTls) {
    const std::string noTls = "250-mail.example.net\r\n250 AUTH PLAIN LOGIN\r\n";
    struct Case {
        const char* name;
        SmtpSecurity security;
        bool login;
        std::vector<ScriptStep> script;
        SmtpResult result;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"auto with a login never sends the password in clear",
         SmtpSecurity::Auto,
         true,
         {says("220 hi\r\n"), expects("EHLO client.example"), says(noTls), expects("QUIT"),
          says("221 bye\r\n")},
         SmtpResult::Failed,
         kNoEncryptionText},
        {"auto without a login goes on unencrypted", SmtpSecurity::Auto, false,
         joinedScript({says("220 hi\r\n"), expects("EHLO client.example"), says(noTls)},
                      envelopeAndMessage()),
         SmtpResult::Delivered, ""},
        {"starttls requires it",
         SmtpSecurity::StartTls,
         false,
         {says("220 hi\r\n"), expects("EHLO client.example"), says(noTls), expects("QUIT"),
          says("221 bye\r\n")},
         SmtpResult::Failed,
         kNoStartTlsText},
        {"starttls: EHLO refused means no STARTTLS",
         SmtpSecurity::StartTls,
         false,
         {says("220 hi\r\n"), expects("EHLO client.example"), says("502 what?\r\n"),
          expects("QUIT"), says("221 bye\r\n")},
         SmtpResult::Failed,
         kNoStartTlsText},
        {"none: the old dialogue's AUTH LOGIN", SmtpSecurity::None, true,
         joinedScript({says("220 hi\r\n"), expects("Ehlo client.example"), says(noTls),
                       expects("AUTH LOGIN"), says("334 VXNlcm5hbWU6\r\n"),
                       expects(base64String("ann.lee")), says("334 UGFzc3dvcmQ6\r\n"),
                       expects(base64String("s3cret")), says("235 ok\r\n")},
                      envelopeAndMessage()),
         SmtpResult::Delivered, ""},
        {"auto: EHLO refused falls back to HELO", SmtpSecurity::Auto, false,
         joinedScript({says("220 hi\r\n"), expects("EHLO client.example"), says("500 unknown\r\n"),
                       expects("HELO client.example"), says("250 ok\r\n")},
                      envelopeAndMessage()),
         SmtpResult::Delivered, ""},
        {"EHLO refused with a login: no login is possible",
         SmtpSecurity::Tls,
         true,
         {says("220 hi\r\n"), expects("EHLO client.example"), says("502 unknown\r\n"),
          expects("QUIT"), says("221 bye\r\n")},
         SmtpResult::Failed,
         "The server does not understand EHLO (502 unknown), so no login is possible; the "
         "password was not sent."},
        {"STARTTLS refused",
         SmtpSecurity::Auto,
         true,
         {says("220 hi\r\n"), expects("EHLO client.example"), says("250-x\r\n250 STARTTLS\r\n"),
          expects("STARTTLS"), says("454 4.7.0 TLS not available\r\n"), expects("QUIT"),
          says("221 bye\r\n")},
         SmtpResult::Failed,
         "The server refused STARTTLS: 454 4.7.0 TLS not available"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue d(setupFor(c.login ? "ann.lee" : "", c.login ? "s3cret" : "", c.security));
        ScriptPlayer player(d);
        player.play(c.script);
        EXPECT_TRUE(d.finished());
        EXPECT_EQ(d.outcome().result, c.result);
        EXPECT_EQ(d.outcome().reason, c.reason);
        if (c.result == SmtpResult::Failed) {
            EXPECT_FALSE(wroteAuth(c.script));
        }
    }
}

TEST(SmtpDialogueTls, TheLoginMethodIsChosenFromWhatTheServerOffers) {
    struct Case {
        SmtpSecurity security;
        SmtpAuthMechanism mechanism;
        const char* offered; // the EHLO reply's AUTH line ("" for none)
        std::string command; // the first AUTH command, or the failure reason
    };
    const Case cases[] = {
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "AUTH LOGIN PLAIN",
         "AUTH PLAIN " + plainCredentials("ann.lee", "s3cret")},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "AUTH LOGIN", "AUTH LOGIN"},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "AUTH=LOGIN", "AUTH LOGIN"},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "auth cram-md5 plain",
         "AUTH PLAIN " + plainCredentials("ann.lee", "s3cret")},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Login, "AUTH PLAIN LOGIN", "AUTH LOGIN"},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Plain, "AUTH LOGIN",
         "The server does not offer the login method PLAIN; it offers: LOGIN."},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "AUTH CRAM-MD5 XOAUTH2",
         "The server does not offer the login method PLAIN or LOGIN; it offers: CRAM-MD5 "
         "XOAUTH2."},
        {SmtpSecurity::Tls, SmtpAuthMechanism::Auto, "",
         "The server offers no login method (its EHLO reply names no AUTH)."},
        {SmtpSecurity::None, SmtpAuthMechanism::Auto, "AUTH LOGIN PLAIN", "AUTH LOGIN"},
        {SmtpSecurity::None, SmtpAuthMechanism::Auto, "AUTH PLAIN",
         "AUTH PLAIN " + plainCredentials("ann.lee", "s3cret")},
        {SmtpSecurity::None, SmtpAuthMechanism::Auto, "", "AUTH LOGIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.offered) + " / " + std::to_string(int(c.mechanism)));
        SmtpDialogueSetup setup = setupFor("ann.lee", "s3cret", c.security);
        setup.mechanism = c.mechanism;
        SmtpDialogue d(setup);
        d.received("220 hi\r\n");
        const std::string ehlo =
            *c.offered == '\0' ? "250 mail.example.net\r\n"
                               : "250-mail.example.net\r\n250 " + std::string(c.offered) + "\r\n";
        const SmtpStep step = d.received(ehlo);
        if (c.command.starts_with("AUTH")) {
            EXPECT_EQ(step.toWrite, c.command + "\r\n");
        } else {
            EXPECT_EQ(step.toWrite, "QUIT\r\n");
            EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
            EXPECT_EQ(d.outcome().reason, c.command);
        }
    }
}

TEST(SmtpDialogueTls, AFailedHandshakeEndsTheDialogueWithoutAWord) {
    SmtpDialogue d(setupFor("ann.lee", "s3cret", SmtpSecurity::Auto));
    d.received("220 hi\r\n250-mail.example.net\r\n250 STARTTLS\r\n");
    EXPECT_TRUE(d.received("220 go\r\n").startTls);
    d.tlsFailed("The server's certificate has expired.");
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
    EXPECT_EQ(d.outcome().reason, "The server's certificate has expired.");
    EXPECT_EQ(d.tlsStarted().toWrite, "");
}

TEST(SmtpDialogueTls, AConnectionTestStopsAfterTheLogin) {
    SmtpDialogueSetup setup = setupFor("ann.lee", "s3cret", SmtpSecurity::Tls);
    setup.probeOnly = true;
    SmtpDialogue d(setup);
    ScriptPlayer player(d);
    player.play({says("220 hi\r\n"), expects("EHLO client.example"),
                 says("250-x\r\n250 AUTH PLAIN\r\n"),
                 expects("AUTH PLAIN " + plainCredentials("ann.lee", "s3cret")), says("235 ok\r\n"),
                 expects("QUIT"), says("221 bye\r\n")});
    EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
    EXPECT_TRUE(d.loggedIn());
    EXPECT_EQ(d.greeting(), "hi");
}

TEST(SmtpDialogue, ServerTextIsMadeSafeInTheLogAndTheOutcome) {
    SmtpDialogue d(setupFor());
    ScriptPlayer player(d);
    player.play({says("220 hi\x1B]0;owned\x07\r\n"), expects("HELO client.example"),
                 says("554 no \xC2\x9B"
                      "31m \x9B"
                      "1m\r\n"),
                 expects("QUIT")});
    EXPECT_EQ(player.logLines[0], "<220 hi\\x1B]0;owned\\x07");
    EXPECT_EQ(d.outcome().replyText, "no \\x9B31m \xEF\xBF\xBD"
                                     "1m");
    EXPECT_EQ(d.outcome().reason.find('\x1B'), std::string::npos);
}

TEST(SmtpDialogue, NonAsciiLocalPartsGoOnlyToServersOfferingSmtpUtf8) {
    const std::string greeting = "220 mx ESMTP\r\n";
    // Offered: EHLO even without a login, and MAIL FROM asks for SMTPUTF8.
    {
        SmtpDialogueSetup setup = setupFor();
        setup.recipient = "jürgen@example.net";
        SmtpDialogue d(setup);
        ScriptPlayer p(d);
        p.play({says(greeting), expects("Ehlo client.example"),
                says("250-mx\r\n250-8BITMIME\r\n250 smtputf8\r\n"),
                expects("MAIL FROM: <ann@example.org> SMTPUTF8"), says("250 ok\r\n"),
                expects("RCPT TO: <jürgen@example.net>"), says("250 ok\r\n"), expects("DATA"),
                says("354 go\r\n"), message(), says("250 queued\r\n"), expects("QUIT"),
                says("221 bye\r\n")});
        EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
    }
    // Not offered: the recipient is rejected before the server hears of it.
    {
        SmtpDialogueSetup setup = setupFor();
        setup.recipient = "jürgen@example.net";
        SmtpDialogue d(setup);
        ScriptPlayer p(d);
        p.play({says(greeting), expects("Ehlo client.example"), says("250-mx\r\n250 8BITMIME\r\n"),
                expects("QUIT"), says("221 bye\r\n")});
        EXPECT_EQ(d.outcome().result, SmtpResult::Rejected);
        EXPECT_EQ(d.outcome().reason,
                  "The address \"jürgen@example.net\" has non-ASCII characters before the \"@\" "
                  "and the server does not accept such addresses (no SMTPUTF8).");
    }
    // ASCII addresses (an A-label domain too) keep HELO and a plain MAIL FROM.
    SmtpDialogueSetup plain = setupFor();
    plain.recipient = "bob@xn--bcher-kva.example";
    SmtpDialogue d(plain);
    ScriptPlayer p(d);
    p.play({says(greeting), expects("HELO client.example"), says("250 mx\r\n"),
            expects("MAIL FROM: <ann@example.org>"), says("250 ok\r\n"),
            expects("RCPT TO: <bob@xn--bcher-kva.example>")});
}

namespace {

SmtpDialogueSetup heldSetup(bool pipelining) {
    SmtpDialogueSetup setup = setupFor();
    setup.security = SmtpSecurity::Auto; // EHLO, so that PIPELINING can be offered
    setup.keepOpen = true;
    setup.pipelining = pipelining;
    return setup;
}

const char* const kEhloWithPipelining =
    "250-mail.example.net\r\n250-PIPELINING\r\n250 8BITMIME\r\n";

// The greeting and EHLO of a server that offers PIPELINING.
std::vector<ScriptStep> ehloOpening() {
    return {says("220 mail.example.net ESMTP\r\n"), expects("EHLO client.example"),
            says(kEhloWithPipelining)};
}

// MAIL FROM, RCPT TO and DATA, each answered before the next, then the message.
std::vector<ScriptStep> envelopeOneByOne(const std::string& recipient) {
    return {expects("MAIL FROM: <ann@example.org>"),
            says("250 ok\r\n"),
            expects("RCPT TO: <" + recipient + ">"),
            says("250 ok\r\n"),
            expects("DATA"),
            says("354 go\r\n"),
            message()};
}

} // namespace

TEST(SmtpDialogueReuse, AHeldConnectionCarriesMessagesWithoutRsetAfterADeliveryAndQuitsLast) {
    // Without pipelining (asked for or offered) every command waits for its reply.
    for (const bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "pipelining" : "one by one");
        SmtpDialogue d(heldSetup(pipelining));
        ScriptPlayer player(d);
        std::vector<ScriptStep> first = ehloOpening();
        if (pipelining) {
            // Written together before any reply; read back in order.
            first = joinedScript(std::move(first),
                                 {expects("MAIL FROM: <ann@example.org>"),
                                  expects("RCPT TO: <bob@example.net>"), expects("DATA"),
                                  says("250 sender ok\r\n250 rcpt ok\r\n354 go\r\n"), message()});
        } else {
            first = joinedScript(std::move(first), envelopeOneByOne("bob@example.net"));
        }
        first.push_back(says("250 queued 1\r\n"));
        player.play(first);
        EXPECT_TRUE(d.idle());
        EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
        EXPECT_EQ(d.outcome().replyText, "queued 1");

        player.then(d.nextMessage("ann@example.org", "cy@example.net"));
        // The completed transaction reset the server: no RSET.
        std::vector<ScriptStep> second;
        if (pipelining) {
            second = {expects("MAIL FROM: <ann@example.org>"),
                      expects("RCPT TO: <cy@example.net>"),
                      expects("DATA"),
                      says("250 ok\r\n250 ok\r\n"),
                      says("354 go\r\n"),
                      message()};
        } else {
            second = envelopeOneByOne("cy@example.net");
        }
        second.push_back(says("250 queued 2\r\n"));
        player.play(second);
        EXPECT_TRUE(d.idle());
        EXPECT_EQ(d.outcome().replyText, "queued 2");
        EXPECT_TRUE(d.outcome().messageWritten);
        EXPECT_EQ(player.messages(), 2);

        player.then(d.quit());
        player.play({expects("QUIT"), says("221 bye\r\n")});
        EXPECT_TRUE(d.finished());
    }
}

TEST(SmtpDialogueReuse, RefusalsInAPipelinedGroupWaitForTheWholeGroupBeforeTheNextCommand) {
    struct Case {
        const char* name;
        const char* replies;          // to MAIL FROM, RCPT TO and DATA
        std::vector<ScriptStep> then; // the rest of the dialogue
        SmtpResult result;
        const char* code;
        bool keepOpen;
        bool idle; // the connection is held for the next message
    };
    const std::vector<ScriptStep> quit = {expects("QUIT"), says("221 bye\r\n")};
    // clang-format off
    const Case cases[] = {
        {"refused recipient, DATA refused too", "250 ok\r\n550 5.1.1 no such user\r\n554 no\r\n",
         {}, SmtpResult::Rejected, "550", true, true},
        {"refused recipient without keepOpen", "250 ok\r\n550 5.1.1 no such user\r\n554 no\r\n",
         quit, SmtpResult::Rejected, "550", false, false},
        // A server that takes DATA for nobody gets an empty message, not our QUIT as its text.
        {"refused recipient, DATA accepted", "250 ok\r\n550 no such user\r\n354 go\r\n",
         {expects("."), says("554 no valid recipients\r\n")}, SmtpResult::Rejected, "550", true, true},
        {"deferred recipient", "250 ok\r\n450 4.2.1 mailbox busy\r\n554 no rcpt\r\n",
         {}, SmtpResult::Rejected, "450", true, true},
        {"refused DATA", "250 ok\r\n250 ok\r\n451 4.3.0 try later\r\n",
         {}, SmtpResult::Rejected, "451", true, true},
        // A refused sender meets every recipient: QUIT, once the group is answered.
        {"refused sender", "550 5.7.1 sender refused\r\n503 no sender\r\n503 no rcpt\r\n",
         quit, SmtpResult::Failed, "550", true, false},
        {"session closing", "421 4.7.0 too many connections\r\n",
         {}, SmtpResult::Failed, "421", true, false},
        // An odd positive code still answers its own command.
        {"251 to MAIL FROM", "251 sender ok\r\n250 ok\r\n354 go\r\n",
         {message(), says("250 queued\r\n")}, SmtpResult::Delivered, "250", true, true},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogueSetup setup = heldSetup(true);
        setup.keepOpen = c.keepOpen;
        SmtpDialogue d(setup);
        ScriptPlayer player(d);
        std::vector<ScriptStep> script =
            joinedScript(ehloOpening(), {expects("MAIL FROM: <ann@example.org>"),
                                         expects("RCPT TO: <bob@example.net>"), expects("DATA")});
        // Each reply alone: nothing may be written until the group is answered.
        std::string replies = c.replies;
        for (std::size_t end = replies.find("\r\n"); end != std::string::npos;
             end = replies.find("\r\n")) {
            script.push_back(says(replies.substr(0, end + 2)));
            replies.erase(0, end + 2);
        }
        player.play(joinedScript(std::move(script), c.then));
        EXPECT_EQ(d.outcome().result, c.result);
        EXPECT_EQ(d.outcome().replyCode, c.code);
        EXPECT_EQ(d.idle(), c.idle);
        EXPECT_EQ(d.outcome().messageWritten, c.result == SmtpResult::Delivered);
    }
}

TEST(SmtpDialogueReuse, WhatHappensToTheNextMessageOnAHeldConnection) {
    const std::vector<ScriptStep> toData = envelopeOneByOne("cy@example.net");
    struct Case {
        const char* name;
        const char* recipient;
        std::vector<ScriptStep> script; // after nextMessage()
        bool closes;                    // the server then closes the connection
        SmtpResult result;
        bool idle, lost, written;
    };
    const Case cases[] = {
        // Settled without a word to the server; the connection stays held.
        {"unsafe address",
         "eve@example.net>\r\nRCPT TO: <x@y",
         {},
         false,
         SmtpResult::Failed,
         true,
         false,
         false},
        {"control character in the address",
         "bell\x07@example.net",
         {},
         false,
         SmtpResult::Failed,
         true,
         false,
         false},
        {"non-ASCII address, no SMTPUTF8",
         "jörg@example.net",
         {},
         false,
         SmtpResult::Rejected,
         true,
         false,
         false},
        // Nothing of the message went: it may go over a new connection.
        {"ended before the message",
         "cy@example.net",
         {expects("MAIL FROM: <ann@example.org>")},
         true,
         SmtpResult::Failed,
         false,
         true,
         false},
        // The message may have arrived.
        {"lost after the data", "cy@example.net", toData, true, SmtpResult::Failed, false, true,
         true},
        {"refused sender",
         "cy@example.net",
         {expects("MAIL FROM: <ann@example.org>"), says("550 5.7.1 not you\r\n"), expects("QUIT")},
         false,
         SmtpResult::Failed,
         false,
         false,
         false},
    };
    SmtpDialogueSetup setup = setupFor();
    setup.keepOpen = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue d(setup);
        ScriptPlayer player(d);
        std::vector<ScriptStep> first(kPlainDialogue.begin(), kPlainDialogue.end() - 2); // no QUIT
        player.play(first);
        ASSERT_TRUE(d.idle());
        player.then(d.nextMessage("ann@example.org", c.recipient));
        player.play(c.script);
        if (c.closes) {
            d.connectionClosed();
        }
        EXPECT_EQ(d.outcome().result, c.result);
        EXPECT_EQ(d.idle(), c.idle);
        EXPECT_EQ(d.outcome().connectionLost, c.lost);
        EXPECT_EQ(d.outcome().messageWritten, c.written);
    }
}

namespace {

// The first message of a held, pipelining connection, with cy's envelope
// offered to go with its end of data.
std::vector<ScriptStep> firstWithCyAhead(ScriptPlayer& player) {
    player.ahead = SmtpEnvelope{"ann@example.org", "cy@example.net"};
    return joinedScript(ehloOpening(), {expects("MAIL FROM: <ann@example.org>"),
                                        expects("RCPT TO: <bob@example.net>"), expects("DATA"),
                                        says("250 ok\r\n250 ok\r\n354 go\r\n"), message(),
                                        expects("MAIL FROM: <ann@example.org>"),
                                        expects("RCPT TO: <cy@example.net>"), expects("DATA")});
}

} // namespace

TEST(SmtpDialogueReuse, TheNextEnvelopeGoesWithTheEndOfDataAndEachReplyFindsItsMessage) {
    struct Case {
        const char* name;
        const char* replies; // to bob's end of data, then cy's MAIL FROM, RCPT TO and DATA
        SmtpResult bob;
        const char* bobCode;
        std::vector<ScriptStep> cy; // after nextMessage() for cy
        SmtpResult cyResult;
        const char* cyCode;
        bool held;  // the connection is held after cy
        bool reset; // the message after cy starts with RSET
    };
    const std::vector<ScriptStep> cyDelivered = {message(), says("250 queued 2\r\n")};
    // clang-format off
    const Case cases[] = {
        {"all accepted", "250 queued 1\r\n250 ok\r\n250 ok\r\n354 go\r\n",
         SmtpResult::Delivered, "250", cyDelivered, SmtpResult::Delivered, "250", true, false},
        {"bob's message refused", "554 5.7.1 spam\r\n250 ok\r\n250 ok\r\n354 go\r\n",
         SmtpResult::Rejected, "554", cyDelivered, SmtpResult::Delivered, "250", true, false},
        {"bob's message deferred", "451 4.3.0 later\r\n250 ok\r\n250 ok\r\n354 go\r\n",
         SmtpResult::Rejected, "451", cyDelivered, SmtpResult::Delivered, "250", true, false},
        {"cy's sender refused",
         "250 queued 1\r\n451 4.7.1 too much mail\r\n503 no sender\r\n503 no rcpt\r\n",
         SmtpResult::Delivered, "250", {expects("QUIT"), says("221 bye\r\n")},
         SmtpResult::Failed, "451", false, false},
        {"cy refused", "250 queued 1\r\n250 ok\r\n550 5.1.1 no such user\r\n554 no rcpt\r\n",
         SmtpResult::Delivered, "250", {}, SmtpResult::Rejected, "550", true, true},
        {"cy's DATA refused", "250 queued 1\r\n250 ok\r\n250 ok\r\n451 4.3.0 try later\r\n",
         SmtpResult::Delivered, "250", {}, SmtpResult::Rejected, "451", true, true},
        // A server that takes DATA for nobody gets an empty message.
        {"cy refused, DATA accepted", "250 queued 1\r\n250 ok\r\n550 no such user\r\n354 go\r\n",
         SmtpResult::Delivered, "250", {expects("."), says("554 no valid recipients\r\n")},
         SmtpResult::Rejected, "550", true, true},
    };
    // clang-format on
    for (const std::size_t chunk : {std::size_t{0}, std::size_t{1}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (chunk == 0 ? "" : ", byte by byte"));
            SmtpDialogue d(heldSetup(true));
            ScriptPlayer player(d, chunk);
            player.play(joinedScript(firstWithCyAhead(player), {says(c.replies)}));
            // Bob's outcome stands until cy's message is begun.
            EXPECT_EQ(d.state(), SmtpState::NextEnvelopeSent);
            EXPECT_EQ(d.outcome().result, c.bob);
            EXPECT_EQ(d.outcome().replyCode, c.bobCode);

            player.then(d.nextMessage("ann@example.org", "cy@example.net"));
            player.play(c.cy);
            EXPECT_EQ(d.outcome().result, c.cyResult);
            EXPECT_EQ(d.outcome().replyCode, c.cyCode);
            EXPECT_EQ(d.outcome().senderRefused, c.cyResult == SmtpResult::Failed);
            ASSERT_EQ(d.idle(), c.held);
            if (!c.held) {
                continue;
            }
            // RSET only where a transaction failed before its end of data.
            player.then(d.nextMessage("ann@example.org", "dee@example.net"));
            std::vector<ScriptStep> third;
            if (c.reset) {
                third.push_back(expects("RSET"));
            }
            third.insert(third.end(), {expects("MAIL FROM: <ann@example.org>"),
                                       expects("RCPT TO: <dee@example.net>"), expects("DATA")});
            third.push_back(says(c.reset ? "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n"
                                         : "250 ok\r\n250 ok\r\n354 go\r\n"));
            third.insert(third.end(), {message(), says("250 queued 3\r\n")});
            player.play(third);
            EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
        }
    }
}

TEST(SmtpDialogueReuse, ASentEnvelopeThatCannotBeFollowedEndsTheConnectionWithoutAWord) {
    enum class Then { ServerCloses, SessionClosing, Quit, OtherEnvelope };
    struct Case {
        const char* name;
        Then then;
        const char* replies;
        SmtpResult bob;
        bool cyLost; // cy's outcome: lost before its message went out
    };
    const Case cases[] = {
        {"closed after bob's reply", Then::ServerCloses, "250 queued 1\r\n", SmtpResult::Delivered,
         true},
        // No QUIT: it could become cy's message.
        {"421 to bob's end of data", Then::SessionClosing, "421 4.7.0 closing\r\n",
         SmtpResult::Failed, false},
        {"the caller stops", Then::Quit, "250 queued 1\r\n250 ok\r\n250 ok\r\n354 go\r\n",
         SmtpResult::Delivered, false},
        {"another envelope", Then::OtherEnvelope, "250 queued 1\r\n250 ok\r\n250 ok\r\n354 go\r\n",
         SmtpResult::Delivered, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpDialogue d(heldSetup(true));
        ScriptPlayer player(d);
        player.play(joinedScript(firstWithCyAhead(player), {says(c.replies)}));
        EXPECT_EQ(d.outcome().result, c.bob);
        switch (c.then) {
        case Then::ServerCloses:
            player.then(d.nextMessage("ann@example.org", "cy@example.net"));
            d.connectionClosed();
            break;
        case Then::SessionClosing:
            EXPECT_EQ(d.outcome().replyCode, "421");
            break;
        case Then::Quit:
            player.then(d.quit());
            break;
        case Then::OtherEnvelope:
            player.then(d.nextMessage("ann@example.org", "dee@example.net"));
            break;
        }
        player.play({}); // nothing written
        EXPECT_TRUE(d.finished());
        EXPECT_EQ(d.outcome().connectionLost, c.cyLost);
        EXPECT_FALSE(c.cyLost && d.outcome().messageWritten);
    }
    // Without PIPELINING nothing goes ahead: the next message waits for its turn.
    SmtpDialogue d(heldSetup(false));
    ScriptPlayer player(d);
    player.ahead = SmtpEnvelope{"ann@example.org", "cy@example.net"};
    player.play(joinedScript(joinedScript(ehloOpening(), envelopeOneByOne("bob@example.net")),
                             {says("250 queued 1\r\n")}));
    EXPECT_EQ(d.state(), SmtpState::Idle);
}

} // namespace velmora::delivery

namespace velmora::delivery {

namespace {

SmtpDialogueSetup oauthSetup(SmtpAuthMechanism mechanism, std::string token = "tok-1") {
    SmtpDialogueSetup setup = setupFor("ann@example.org", "", SmtpSecurity::Tls);
    setup.mechanism = mechanism;
    setup.accessToken = std::move(token);
    setup.serverName = "smtp.example.net";
    setup.serverPort = 465;
    return setup;
}

std::vector<ScriptStep> oauthGreeting(const char* offered) {
    return {says("220 hi\r\n"), expects("EHLO client.example"),
            says("250-mail.example.net\r\n250 " + std::string(offered) + "\r\n")};
}

} // namespace

TEST(SmtpDialogueOAuth, TheInitialResponsesHaveTheExactBytes) {
    EXPECT_EQ(xoauth2Response("ann@example.org", "ya29.x"),
              std::string("user=ann@example.org\x01"
                          "auth=Bearer ya29.x\x01\x01"));
    EXPECT_EQ(oauthBearerResponse("ann@example.org", "smtp.example.net", 587, "ya29.x"),
              std::string("n,a=ann@example.org,\x01host=smtp.example.net\x01port=587\x01"
                          "auth=Bearer ya29.x\x01\x01"));
    // A comma in the login must not end the field.
    EXPECT_EQ(oauthBearerResponse("a,b=c", "h", 1, "t").substr(0, 14), "n,a=a=2Cb=3Dc,");
}

TEST(SmtpDialogueOAuth, TheMechanismIsChosenFromTheSettingTheTokenAndTheOffer) {
    struct Case {
        SmtpAuthMechanism mechanism;
        std::string token;
        const char* offered;
        std::string command; // the AUTH command's first word pair, or the failure
    };
    const Case cases[] = {
        {SmtpAuthMechanism::Auto, "tok-1", "AUTH PLAIN XOAUTH2 OAUTHBEARER", "AUTH OAUTHBEARER "},
        {SmtpAuthMechanism::Auto, "tok-1", "AUTH PLAIN LOGIN XOAUTH2", "AUTH XOAUTH2 "},
        {SmtpAuthMechanism::Auto, "", "AUTH PLAIN XOAUTH2", "AUTH PLAIN "},
        {SmtpAuthMechanism::XOAuth2, "tok-1", "AUTH XOAUTH2 OAUTHBEARER", "AUTH XOAUTH2 "},
        {SmtpAuthMechanism::Plain, "tok-1", "AUTH PLAIN XOAUTH2", "AUTH PLAIN "},
        {SmtpAuthMechanism::Auto, "tok-1", "AUTH PLAIN LOGIN",
         "The server does not offer the login method OAUTHBEARER or XOAUTH2; it offers: PLAIN "
         "LOGIN."},
        {SmtpAuthMechanism::OAuthBearer, "", "AUTH OAUTHBEARER", kNotSignedInText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.offered) + " / " + std::to_string(int(c.mechanism)));
        SmtpDialogue d(oauthSetup(c.mechanism, c.token));
        d.received("220 hi\r\n");
        const SmtpStep step =
            d.received("250-mail.example.net\r\n250 " + std::string(c.offered) + "\r\n");
        if (c.command.starts_with("AUTH")) {
            EXPECT_TRUE(step.toWrite.starts_with(c.command)) << step.toWrite;
        } else {
            EXPECT_EQ(step.toWrite, "QUIT\r\n");
            EXPECT_EQ(d.outcome().reason, c.command);
        }
    }
}

TEST(SmtpDialogueOAuth, ARefusedTokenIsRenewedOnceAndTheSignInTriedAgain) {
    SmtpDialogue d(oauthSetup(SmtpAuthMechanism::XOAuth2));
    ScriptPlayer player(d);
    player.freshTokens = {"tok-2"};
    player.play(joinedScript(
        joinedScript(
            oauthGreeting("AUTH XOAUTH2"),
            {expects("AUTH XOAUTH2 " + base64String(xoauth2Response("ann@example.org", "tok-1"))),
             says("334 eyJzdGF0dXMiOiI0MDEifQ==\r\n"), expects(""),
             says("535 5.7.8 Username and Password not accepted\r\n"),
             expects("AUTH XOAUTH2 " + base64String(xoauth2Response("ann@example.org", "tok-2"))),
             says("235 2.7.0 Accepted\r\n")}),
        envelopeAndMessage()));
    EXPECT_EQ(player.tokenRequests, 1);
    EXPECT_EQ(d.outcome().result, SmtpResult::Delivered);
    EXPECT_TRUE(d.loggedIn());
}

TEST(SmtpDialogueOAuth, ASecondRefusalOrNoFreshTokenFailsInPlainWords) {
    // {"status":"401","schemes":"bearer","scope":"https://mail.google.com/"}
    const std::string challenge = "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJo"
                                  "dHRwczovL21haWwuZ29vZ2xlLmNvbS8ifQ==\r\n";
    const std::string firstAuth =
        "AUTH OAUTHBEARER " +
        base64String(oauthBearerResponse("ann@example.org", "smtp.example.net", 465, "tok-1"));
    {
        SmtpDialogue d(oauthSetup(SmtpAuthMechanism::OAuthBearer));
        ScriptPlayer player(d);
        player.freshTokens = {"tok-2"};
        player.play(joinedScript(
            oauthGreeting("AUTH OAUTHBEARER"),
            {expects(firstAuth), says(challenge), expects("AQ=="), says("535 5.7.8 no\r\n"),
             expects("AUTH OAUTHBEARER " +
                     base64String(
                         oauthBearerResponse("ann@example.org", "smtp.example.net", 465, "tok-2"))),
             says(challenge), expects("AQ=="), says("535 5.7.8 no\r\n"), expects("QUIT"),
             says("221 bye\r\n")}));
        EXPECT_EQ(player.tokenRequests, 1);
        EXPECT_EQ(d.outcome().result, SmtpResult::Failed);
        EXPECT_EQ(d.outcome().reason,
                  "The server refused the sign-in token (status 401; it needs the permission "
                  "https://mail.google.com/) even after it was renewed. Sign in again.");
    }
    {
        SmtpDialogue d(oauthSetup(SmtpAuthMechanism::OAuthBearer));
        ScriptPlayer player(d);
        player.play(
            joinedScript(oauthGreeting("AUTH OAUTHBEARER"),
                         {expects(firstAuth), says("535 5.7.3 Authentication unsuccessful\r\n"),
                          expects("QUIT"), says("221 bye\r\n")}));
        EXPECT_EQ(d.outcome().reason, "The sign-in has ended: sign in again.");
    }
    {
        // Not a refused token: no renewal.
        SmtpDialogue d(oauthSetup(SmtpAuthMechanism::OAuthBearer));
        ScriptPlayer player(d);
        player.play(joinedScript(oauthGreeting("AUTH OAUTHBEARER"),
                                 {expects(firstAuth), says("504 5.5.4 Unrecognized\r\n"),
                                  expects("QUIT"), says("221 bye\r\n")}));
        EXPECT_EQ(player.tokenRequests, 0);
        EXPECT_EQ(d.outcome().reason, "The server refused the login: 504 5.5.4 Unrecognized");
    }
}

} // namespace velmora::delivery
