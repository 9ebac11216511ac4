#pragma once

#include "delivery/smtp_reply_reader.h"

#include <string>
#include <string_view>
#include <vector>

// What the dialogue waits for.
enum class SmtpState {
    AwaitGreeting,          // connected; waits for 220
    AwaitEhloReply,         // "Ehlo " was sent; waits for 250
    AwaitAuthChallenge,     // "AUTH LOGIN" was sent; waits for the first 334
    AwaitPasswordChallenge, // the user name was sent; waits for the second 334
    AwaitAuthResult,        // the password was sent; waits for 235
    AwaitHeloReply,         // "HELO " was sent; waits for 250
    AwaitMailFromReply,     // "MAIL FROM: <...>" was sent; waits for 250
    AwaitRcptReply,         // "RCPT TO: <...>" was sent; waits for 250 or 251
    AwaitDataReply,         // "DATA" was sent; waits for 354
    SendingMessage,         // 354 arrived; the caller writes the message
    AwaitMessageReply,      // the message was written; waits for 250
    Closing,                // "QUIT" was sent after the outcome was settled; waits for 221
    Done,                   // the dialogue is over; the connection is to be closed
};

// How one session ended.
enum class SmtpResult {
    Delivered, // the server took the message (2xx after the data)
    Rejected,  // 4xx/5xx to MAIL FROM, RCPT TO, DATA or the message: this recipient failed
    Failed,    // no dialogue: no connection, greeting/HELO/EHLO/AUTH refused, lost, time-out
    Cancelled, // the user cancelled
};

struct SmtpOutcome {
    SmtpResult result = SmtpResult::Failed;
    std::string replyCode; // the refusing reply's code, when a reply decided
    std::string replyText; // and its text
    std::string reason;    // for the user: why it was not delivered ("" when delivered)
    bool timedOut = false; // Failed because a reply or a write took longer than the time-out
    // A connection to the server was made: a Failed session without one
    // (no connection, an unusable address) says nothing of the next recipient.
    bool connectionOpened = false;
};

// The login and envelope of one session.
struct SmtpDialogueSetup {
    std::string hostName; // our name for HELO/EHLO ("localhost" when empty)
    std::string userName; // empty: "HELO " and no login
    std::string password;
    std::string senderAddress; // MAIL FROM
    std::string recipient;     // RCPT TO
};

// What the caller does after feeding the dialogue.
struct SmtpStep {
    std::vector<SmtpReply> replies; // each complete reply, once, in order (for the log)
    std::string toWrite;            // command bytes to write, CR LF included
    bool writeMessage = false;      // write the message, then call messageWritten()
    std::string problem; // the server sent something that is not SMTP; the dialogue ended
};

// True when an EHLO reply names the extension `keyword` (upper case).
bool offersExtension(const SmtpReply& ehloReply, std::string_view keyword);

// True when `address` can go into MAIL FROM or RCPT TO: no CR, LF, NUL, "<" or ">".
bool isSafeEnvelopeAddress(std::string_view address);

// The SMTP client dialogue without any I/O: received bytes go in, the bytes
// to write and the outcome come out. It acts on each complete reply once; a
// reply split over any number of reads is joined first. Any 4xx or 5xx reply
// settles the outcome and ends the dialogue with QUIT. A positive reply that
// does not fit the state (a 354 before DATA, a 235 without a login) is
// ignored; the caller's time-out ends a dialogue that then hangs.
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
    // The server closed the connection (or it broke: `reason` says how).
    void connectionClosed(const std::string& reason = "Connection closed by the server.");
    // No reply within the time allowed.
    void timedOut();
    void cancelled();

    SmtpState state() const { return state_; }
    bool finished() const { return state_ == SmtpState::Done; }
    // Settled once a reply, the connection, the clock or the user decided it;
    // before that, and when the dialogue ended without a decision, Failed.
    const SmtpOutcome& outcome() const { return outcome_; }
    bool outcomeSettled() const { return settled_; }

private:
    void act(const SmtpReply& reply, SmtpStep& step);
    void process(SmtpStep& step);
    void send(SmtpStep& step, std::string_view command, SmtpState next);
    void sendMailFrom(SmtpStep& step);
    void settle(SmtpResult result, std::string reason, const SmtpReply* reply = nullptr);
    void refuse(SmtpResult result, std::string_view what, const SmtpReply& reply, SmtpStep& step);

    SmtpDialogueSetup setup_;
    SmtpReplyReader reader_;
    SmtpState state_ = SmtpState::AwaitGreeting;
    SmtpOutcome outcome_;
    bool settled_ = false;
    bool smtpUtf8_ = false; // an envelope address needs SMTPUTF8
};

// A caption for the log and for messages, e.g. "AwaitRcptReply".
const char* smtpStateName(SmtpState state);
