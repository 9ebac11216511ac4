#pragma once

#include "delivery/delivery_texts.h"
#include "delivery/smtp/smtp_reply_reader.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// What the dialogue waits for.
enum class SmtpState {
    AwaitGreeting,          // connected; waits for 220
    AwaitEhloReply,         // "EHLO " was sent; waits for 250
    AwaitStartTlsReply,     // "STARTTLS" was sent; waits for 220
    AwaitTls,               // the runner does the TLS handshake; tlsStarted() or tlsFailed()
    AwaitAuthChallenge,     // "AUTH LOGIN" was sent; waits for the first 334
    AwaitPasswordChallenge, // the user name was sent; waits for the second 334
    AwaitAuthResult,        // the password was sent; waits for 235
    AwaitOAuthResult,       // "AUTH XOAUTH2/OAUTHBEARER" was sent; waits for 235, 334 or 535
    AwaitOAuthRefusal,      // the error challenge was answered; waits for the 535
    AwaitFreshToken,        // the token was refused once: tokenRefreshed() or tokenRefreshFailed()
    AwaitHeloReply,         // "HELO " was sent; waits for 250
    AwaitRsetReply,         // "RSET" was sent after a failed transaction; waits for 250
    AwaitMailFromReply,     // "MAIL FROM: <...>" was sent; waits for 250
    AwaitRcptReply,         // "RCPT TO: <...>" was sent; waits for 250 or 251
    AwaitDataReply,         // "DATA" was sent; waits for 354
    SendingMessage,         // 354 arrived; the caller writes the message
    AwaitMessageReply,      // the message was written; waits for 250
    // A refusal settled the outcome; the replies to the rest of a pipelined
    // group are read (and a 354 answered with an empty message) before
    // anything else is written.
    Draining,
    Idle, // the outcome is settled and the connection is held for another message
    // The outcome is settled, and the next message's envelope went out with
    // this message's end of data: its replies wait for nextMessage().
    NextEnvelopeSent,
    Closing, // "QUIT" was sent after the outcome was settled; waits for 221
    Done,    // the dialogue is over; the connection is to be closed
};

// How one session ended.
enum class SmtpResult {
    // The server took the message (2xx after the data); for a connection
    // test: the session got as far as naming a sender would be.
    Delivered,
    Rejected,  // 4xx/5xx to RCPT TO, DATA or the message: this recipient failed
    Failed,    // the session failed for every recipient: no connection, TLS, greeting,
               // HELO/EHLO, login, a refused sender, 421 or 530, lost, time-out
    Cancelled, // the user cancelled
};

struct SmtpOutcome {
    SmtpResult result = SmtpResult::Failed;
    std::string messageId; // the Message-ID the message went out with
    std::string replyCode; // the refusing reply's code, when a reply decided
    std::string replyText; // and its text, safe to show
    std::string reason;    // for the user: why it was not delivered ("" when delivered)
    bool timedOut = false; // Failed because a reply or a write took longer than the time-out
    // A connection to the server was made: a Failed session without one
    // (no connection, an unusable address) says nothing of the next recipient.
    bool connectionOpened = false;
    // The server closed the connection, or it broke, before the outcome was settled.
    bool connectionLost = false;
    // The connection had carried an earlier message: losing it says little
    // of the next one (servers close connections that served enough).
    bool reusedConnection = false;
    // The message's data was written in full (only its reply may be missing).
    bool messageWritten = false;
    // The deciding reply refused MAIL FROM: a 4xx there is the server asking
    // the whole run to wait (a rate limit), not a fault of this recipient.
    bool senderRefused = false;
};

// How the session protects itself (the smtpSecurity setting).
enum class SmtpSecurity {
    Auto,     // STARTTLS when offered; never a login without it
    StartTls, // STARTTLS or nothing
    Tls,      // TLS from the moment of connecting
    None,     // no TLS: HELO without login, "Ehlo" and AUTH LOGIN with it
};
// How the session logs in (the smtpAuthMechanism setting).
// Auto signs in with OAuth (OAUTHBEARER, else XOAUTH2) when an access token is given.
enum class SmtpAuthMechanism { Auto, Plain, Login, XOAuth2, OAuthBearer };

// The setting's text ("auto", "starttls", ...) as a mode; Auto for anything else.
SmtpSecurity smtpSecurityNamed(std::string_view name);
SmtpAuthMechanism smtpAuthMechanismNamed(std::string_view name);

// The login and envelope of one session.
struct SmtpDialogueSetup {
    std::string hostName; // our name for HELO/EHLO ("localhost" when empty)
    std::string userName; // empty: no login
    std::string password;
    // Signed in with OAuth: the access token stands in for the password.
    std::string accessToken;
    // The server as the user named it, for OAUTHBEARER's host and port.
    std::string serverName;
    int serverPort = 0;
    std::string senderAddress; // MAIL FROM
    std::string recipient;     // RCPT TO
    SmtpSecurity security = SmtpSecurity::None;
    SmtpAuthMechanism mechanism = SmtpAuthMechanism::Auto;
    // A connection test: end with QUIT where MAIL FROM would come.
    bool probeOnly = false;
    // Hold the connection after an outcome that leaves it usable (a delivery,
    // a refused recipient or message) for nextMessage() instead of QUIT.
    bool keepOpen = false;
    // Write MAIL FROM, RCPT TO and DATA (and RSET before them) as one group
    // when the server's EHLO offers PIPELINING.
    bool pipelining = false;
};

// The sender and recipient of one message.
struct SmtpEnvelope {
    std::string senderAddress;
    std::string recipient;
    friend bool operator==(const SmtpEnvelope&, const SmtpEnvelope&) = default;
};

// What the caller does after feeding the dialogue.
struct SmtpStep {
    std::vector<SmtpReply> replies; // each complete reply, once, in order (for the log)
    std::string toWrite;            // command bytes to write, CR LF included
    bool writeMessage = false;      // write the message, then call messageWritten()
    // Do the TLS handshake now (after toWrite, which is then empty), then
    // call tlsStarted() or tlsFailed().
    bool startTls = false;
    std::string problem; // the server sent something that is not SMTP; the dialogue ended
    // The server refused the access token: get a fresh one, then call
    // tokenRefreshed() or tokenRefreshFailed().
    bool refreshToken = false;
};

// The initial responses of the two OAuth mechanisms, before Base64.
std::string xoauth2Response(std::string_view login, std::string_view token);
std::string oauthBearerResponse(std::string_view login, std::string_view host, int port,
                                std::string_view token);
// Plain words for a refused token: the status and scope from the server's
// error challenge (Base64 JSON; may be empty) or else its reply.
std::string oauthRefusedText(std::string_view challenge, const SmtpReply& reply);

// True when `address` can go into MAIL FROM or RCPT TO: no control character, "<" or ">".
bool isSafeEnvelopeAddress(std::string_view address);

// Texts of the security and login rules.
inline constexpr const char* kNoEncryptionText =
    "The server offers no encryption, so the password was not sent. Choose Security \"None\" in "
    "the delivery settings to send it unencrypted.";
inline constexpr const char* kNoStartTlsText = "The server does not offer STARTTLS.";
inline constexpr const char* kEarlyReplyText =
    "The server replied before the message was sent in full (a protocol error); the message is "
    "not counted as delivered.";
inline constexpr const char* kNotSignedInText =
    "The login method needs an OAuth sign-in, and this session is not signed in: sign in first.";

// The SMTP client dialogue without any I/O: received bytes go in, the bytes
// to write and the outcome come out. It acts on each complete reply once; a
// reply split over any number of reads is joined first. Any 4xx or 5xx reply
// settles the outcome and ends the dialogue with QUIT (with keepOpen, a
// refused recipient or message leaves it idle instead). A positive reply that
// does not fit the state (a 354 before DATA, a 235 without a login) is
// ignored; the caller's time-out ends a dialogue that then hangs. A reply
// that comes with the 354 or while the message is written cannot answer the
// message: the dialogue fails at once (kEarlyReplyText), and so does one whose
// greeting is a TLS record (kPortExpectsTlsText).
//
// With Security Tls the caller has done the handshake before the greeting.
// For STARTTLS the dialogue asks for the handshake (SmtpStep::startTls); the
// bytes that came with or after the server's 220 were sent before TLS and
// are dropped unread, and the capabilities heard before TLS are forgotten.
class SmtpDialogue {
public:
    // An envelope address that is not safe ends the dialogue before it begins
    // (Failed; nothing is to be written).
    explicit SmtpDialogue(SmtpDialogueSetup setup);

    // Bytes as they were read. Replies that arrive while the message is being
    // written wait until messageWritten().
    SmtpStep received(std::string_view bytes);
    // The whole message, end-of-data line included, was written.
    SmtpStep messageWritten();
    // The handshake asked for by SmtpStep::startTls is done: EHLO again.
    SmtpStep tlsStarted();
    // It failed: `reason` says why, for the user. The dialogue ends without QUIT.
    void tlsFailed(const std::string& reason);
    // The server closed the connection (or it broke: `reason` says how).
    void connectionClosed(const std::string& reason = kConnectionClosedText);
    // No reply within the time allowed.
    void timedOut();
    void cancelled();
    // While idle: the next message, from `senderAddress` to `recipient`, on
    // the same connection (RSET first only when the last transaction failed
    // before its end of data: a completed one has reset the server). An
    // address that cannot go to this server is settled at once and nothing is
    // written; the dialogue stays idle. After nextEnvelopeAhead() the envelope
    // must be that one: its replies, read already or still due, are acted on
    // now. Any other envelope ends the dialogue as a lost connection, nothing
    // of it written.
    SmtpStep nextMessage(std::string senderAddress, std::string recipient);
    // While the message is written (a held connection, PIPELINING offered):
    // MAIL FROM, RCPT TO and DATA of the next message, to be written right
    // after this message's end of data in the same write, so that a message
    // costs one round trip (RFC 2920). Empty when the envelope cannot go
    // ahead (no pipelining, a failed transaction to reset first, an address
    // this server cannot take): then nextMessage() starts it as usual.
    std::string nextEnvelopeAhead(const SmtpEnvelope& next);
    // While idle: QUIT. With the next envelope sent, a QUIT could become that
    // message's text: the dialogue ends without a word instead.
    SmtpStep quit();
    // After SmtpStep::refreshToken: sign in again with `token`, once.
    SmtpStep tokenRefreshed(std::string token);
    // No fresh token: `reason` says why, for the user; the dialogue ends with QUIT.
    SmtpStep tokenRefreshFailed(const std::string& reason);

    SmtpState state() const { return state_; }
    bool finished() const { return state_ == SmtpState::Done; }
    // The outcome is settled and the connection held for nextMessage().
    bool idle() const { return state_ == SmtpState::Idle || state_ == SmtpState::NextEnvelopeSent; }
    // Settled once a reply, the connection, the clock or the user decided it;
    // before that, and when the dialogue ended without a decision, Failed.
    const SmtpOutcome& outcome() const { return outcome_; }
    bool outcomeSettled() const { return settled_; }

    // What a connection test shows (raw server text: make it safe to show).
    const std::string& greeting() const { return greeting_; }
    // The EHLO reply's lines after the first (the last EHLO's, so after TLS).
    const std::vector<std::string>& capabilities() const { return capabilities_; }
    // What the server offered in plain text before STARTTLS (empty without it):
    // all a test can show when the handshake then fails.
    const std::vector<std::string>& capabilitiesBeforeTls() const { return capabilitiesBeforeTls_; }
    bool encrypted() const { return encrypted_; }
    bool loggedIn() const { return loggedIn_; }
    // The login method that was tried ("PLAIN", "LOGIN", "XOAUTH2",
    // "OAUTHBEARER"); empty without one.
    const std::string& authMechanism() const { return authMechanism_; }

private:
    void act(const SmtpReply& reply, SmtpStep& step);
    void refused(const SmtpReply& reply, SmtpStep& step);
    void greeted(SmtpStep& step);
    void ehloAccepted(const SmtpReply& reply, SmtpStep& step);
    void startLogin(SmtpStep& step);
    void loginDone(SmtpStep& step);
    void sendOAuth(SmtpStep& step);
    void oauthRefused(const SmtpReply& reply, SmtpStep& step);
    // Notes whether the addresses need SMTPUTF8; false (settled as failed)
    // when one of them could end the command line.
    bool acceptEnvelope();
    bool envelopeRefusedHere();
    void startTransaction(SmtpStep& step, bool reset);
    void endTransaction(SmtpStep& step, bool quit);
    void advance(SmtpState next);
    void drain(const SmtpReply& reply, SmtpStep& step);
    void process(SmtpStep& step);
    void send(SmtpStep& step, std::string_view command, SmtpState next);
    void settle(SmtpResult result, std::string reason, const SmtpReply* reply = nullptr);
    void refuse(SmtpResult result, std::string_view what, const SmtpReply& reply, SmtpStep& step);
    void fail(std::string reason, SmtpStep& step);
    // Ends the dialogue on bytes that are not SMTP at this point, without QUIT.
    void protocolError(const std::string& reason, SmtpStep& step);
    bool greetedWithTls(std::string_view bytes);
    bool offers(std::string_view keyword) const;
    bool login() const { return !setup_.userName.empty(); }

    SmtpDialogueSetup setup_;
    SmtpReplyReader reader_;
    SmtpState state_ = SmtpState::AwaitGreeting;
    SmtpOutcome outcome_;
    bool settled_ = false;
    bool encrypted_ = false;
    bool loggedIn_ = false;
    bool smtpUtf8_ = false;  // an envelope address needs SMTPUTF8
    bool pipelined_ = false; // the current transaction went as one group
    int outstanding_ = 0;    // replies of the group still due after the awaited one
    bool quitAfterDrain_ = false;
    // MAIL FROM went out and no reply to an end of data closed the
    // transaction since: the next message needs RSET first.
    bool transactionOpen_ = false;
    std::optional<SmtpEnvelope> ahead_; // the next envelope, sent with the end of data
    std::string firstBytes_; // the first two bytes heard, to tell a TLS record from a greeting
    std::string greeting_;
    std::vector<std::string> capabilities_;
    std::vector<std::string> capabilitiesBeforeTls_;
    std::vector<std::string> authMechanisms_; // as offered, upper case
    std::string authMechanism_;
    std::string oauthChallenge_; // the error challenge's Base64 text
    bool tokenRefreshed_ = false;
};

} // namespace velmora::delivery
