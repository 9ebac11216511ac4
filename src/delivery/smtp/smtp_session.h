#pragma once

#include "delivery/delivery_texts.h"
#include "delivery/message/message_builder.h"
#include "delivery/run_observer.h"
#include "delivery/smtp/connection.h"
#include "delivery/smtp/smtp_dialogue.h"
#include "delivery/smtp/tls_connection.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// Where a session signed in with OAuth gets its access token. Tokens
// never go to the log or an error text.
class AccessTokens {
public:
    virtual ~AccessTokens() = default;
    // The token to sign in with (renewed first when it is about to expire);
    // empty, with `error` for the user, when there is none.
    virtual std::string current(std::string& error) = 0;
    // A new token after the server refused the current one; empty with `error`.
    virtual std::string renewed(std::string& error) = 0;
};

// One message to one recipient through one SMTP server.
struct SmtpSessionRequest {
    std::string server;
    int port = 25;
    int timeoutSeconds = 15; // the longest wait for any reply, and for a stalled write
    std::string userName;    // empty: no login (the settings' userName when requiresAuth)
    std::string password;
    // Signed in with OAuth (then userName is the account signed in).
    AccessTokens* tokens = nullptr;
    // Our name for HELO/EHLO (heloName, else localHostName()); empty: the
    // address literal of the connection's local end.
    std::string hostName;
    SmtpSecurity security = SmtpSecurity::None;
    SmtpAuthMechanism mechanism = SmtpAuthMechanism::Auto;
    std::string tlsPinSha256; // see TlsSettings::pinSha256
    OutgoingMessage message;
    // Write the dialogue to the log: the status lines, every server reply
    // as "<" + code + " " + text, and the attachments as they are opened.
    // "Timeout reached.", "Cancelled." and failures are logged regardless.
    bool logDialogue = false;
    // A connection test: greeting, TLS and login, then QUIT; no mail.
    bool probeOnly = false;
    // Hold the connection after a message for next() (see SmtpDialogueSetup).
    bool keepOpen = false;
    // Use PIPELINING when the server offers it.
    bool pipelining = false;
    // The envelope of the message that will follow this one on the held
    // connection: with PIPELINING it goes out with this message's end of
    // data (see SmtpDialogue::nextEnvelopeAhead), and next() must then be
    // called for it, or quit() (which then closes without QUIT).
    std::optional<SmtpEnvelope> nextEnvelope;
};

// "Opening SMTP connection to " + server + " (port " + port + ")"
std::string openingConnectionText(const std::string& server, int port);

// What a session learnt of the server (what a connection test shows).
struct SmtpSessionReport {
    SmtpOutcome outcome;
    std::string greeting;                  // safe to show
    std::vector<std::string> capabilities; // safe to show
    // What the server offered before STARTTLS, safe to show (empty without it).
    std::vector<std::string> capabilitiesBeforeTls;
    bool encrypted = false;
    TlsDetails tls;            // when encrypted, or what a refused certificate showed
    std::string authMechanism; // the login method tried; empty without a login
    bool loggedIn = false;
};

// One SMTP session: connect, TLS (from the start or after STARTTLS), the
// dialogue, stop. The connection is closed again before run() returns,
// unless keepOpen holds it for next() (then quit() or the next failure
// closes it). The wait for each reply is bounded by the time-out (measured
// with `environment.clock`), counted from when the command or the message
// was fully written. Cancel (asked through the observer) and the time-out
// close the connection without QUIT; any 4xx or 5xx reply ends the session
// with QUIT.
class SmtpSession {
public:
    SmtpSession(const SmtpSessionRequest& request, Connection& connection, RunObserver& observer,
                const MessageEnvironment& environment);
    SmtpSession(const SmtpSession&) = delete;
    SmtpSession& operator=(const SmtpSession&) = delete;

    SmtpOutcome run();
    const SmtpSessionReport& report() const { return report_; }

    // With keepOpen: the connection is open and waits for another message.
    bool held() const { return dialogue_ && dialogue_->idle(); }
    // While held: the request's message (as it is now) over the same
    // connection; the connection stays held when the outcome allows.
    SmtpOutcome next();
    // While held: QUIT, then close.
    void quit();
    // Messages begun on this connection.
    int messages() const { return messages_; }

private:
    enum class Stop { None, Cancelled, TimedOut, Broken };
    class DataSink;

    bool connect();
    bool startTls();
    void exchange(SmtpStep step);
    void stop();
    SmtpOutcome messageOutcome();

    void log(const std::string& line);
    long long now() const;
    bool waitForCancel();
    Stop writeAll(std::string_view bytes);
    void stopped(Stop stop);
    void logStep(SmtpStep& step);
    SmtpOutcome finished(SmtpResult result, std::string reason);

    const SmtpSessionRequest& request_;
    Connection& tcp_;
    Connection* connection_; // tcp_, or tls_ once it is up
    std::unique_ptr<TlsConnection> tls_;
    RunObserver& observer_;
    const MessageEnvironment& environment_;
    std::unique_ptr<SmtpDialogue> dialogue_;
    long long timeoutMs_ = 0;
    int messages_ = 0;
    SmtpSessionReport report_;
};

// One session as above; the outcome says what happened.
SmtpOutcome runSmtpSession(const SmtpSessionRequest& request, Connection& connection,
                           RunObserver& observer, const MessageEnvironment& environment);

} // namespace velmora::delivery
