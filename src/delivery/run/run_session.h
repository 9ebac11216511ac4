#pragma once

#include "delivery/return_path.h"
#include "delivery/run/send_run.h"
#include "delivery/smtp/smtp_session.h"

namespace velmora::delivery {

// The sessions of a send run (defined with the run's other rules in send_run.cpp).

// What every session of a run shares; the message is each recipient's.
SmtpSessionRequest runRequest(const store::Session& session, const SendRunEnvironment& environment,
                              bool logDialogue);

// Logged when a held connection ended before a message went out.
inline constexpr const char* kReopeningText =
    "The connection ended before this message; sending it over a new one.";

// The connection a run's messages go over: one SMTP session held open for up
// to `messagesPerConnection` messages (QUIT after the last), so that the
// greeting, TLS and login happen once per connection. When the caller names
// the message that follows, its envelope goes out with this message's end of
// data (a server offering PIPELINING), so that each message costs one round
// trip; a send() for any other message then closes the connection first. A held
// connection the server ended before this message's data went out is opened
// again for it; one lost later gives the message its outcome, and the next
// message opens a new connection.
class RunConnection {
public:
    RunConnection(SmtpSessionRequest request, const SendRunEnvironment& environment,
                  RunObserver& observer, std::int64_t messagesPerConnection);
    ~RunConnection();
    RunConnection(const RunConnection&) = delete;
    RunConnection& operator=(const RunConnection&) = delete;

    // One message. International domains go out as A-labels; an address no
    // server could take is refused before any connection is made. An
    // attachment that cannot be read any more leaves the message unfinished
    // (the connection is closed) and fails this recipient only.
    // `nextRecipient`: the address of the message the caller sends next, at
    // once, when it knows it.
    SmtpOutcome send(OutgoingMessage message,
                     const std::optional<std::string>& nextRecipient = std::nullopt);
    // QUIT a held connection (before a long wait, at the end of the run).
    void release();
    // A list run with a bounce address: each message's envelope sender is
    // its recipient's return address.
    void setReturnPath(ReturnPath path) { returnPath_ = std::move(path); }

private:
    SmtpOutcome overHeldConnection();
    SmtpOutcome overNewConnection();
    // MAIL FROM for a message from `sender` to `recipient`.
    std::string envelopeFrom(const std::string& sender, const std::string& recipient) const;

    SmtpSessionRequest request_;
    const SendRunEnvironment& environment_;
    RunObserver& observer_;
    std::int64_t perConnection_;
    std::string attachmentProblem_;
    TextPartMemo memo_;
    MessageEnvironment messageEnvironment_;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<SmtpSession> session_;
    // The address whose envelope went ahead with the last message's end of data.
    std::optional<std::string> announced_;
    ReturnPath returnPath_;
};

} // namespace velmora::delivery
