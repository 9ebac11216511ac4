#pragma once

#include <string>
#include <string_view>
#include <vector>

// What a message that came back to the sender is: a bounce (per recipient,
// hard or soft), a complaint, an unsubscribe request, an auto-reply or
// anything else, with what it says about whom.
namespace velmora::delivery {

enum class FeedbackKind { Bounce, Complaint, Unsubscribe, AutoReply, Other };
// "bounce", "complaint", "unsubscribe", "auto-reply", "other".
const char* feedbackKindName(FeedbackKind kind);

struct FeedbackRecipient {
    std::string address;
    std::string status;     // enhanced status code ("5.1.1"), empty when none was given
    bool hard = false;      // the address is gone for good
    std::string diagnostic; // what the server said, one line
    // A short reason for a note: "5.1.1 user unknown".
    std::string reason() const;
};

struct FeedbackReport {
    FeedbackKind kind = FeedbackKind::Other;
    std::vector<FeedbackRecipient> recipients; // bounces and complaints: whom it is about
    // The Message-ID of the message we sent, where the report quotes it or
    // answers it.
    std::string originalMessageId;
    // The addresses the report itself came to (Delivered-To, X-Original-To,
    // To), where a per-recipient return address shows.
    std::vector<std::string> returnedTo;
    // A bounce whose text names nobody: what it says about the message
    // (status, hard or soft), for a contact found by the address it came
    // back to. Its address is empty.
    FeedbackRecipient unnamed;
    std::string from;         // the report's sender
    std::string subject;      // decoded
    std::string messageId;    // the report's own Message-ID
    std::string feedbackType; // complaints: "abuse", ...
};

struct ClassifyOptions {
    // The address that List-Unsubscribe names (mail to it asks to unsubscribe).
    std::string unsubscribeAddress;
};

// How many of each kind a scan found.
struct FeedbackCounts {
    int bounces = 0;
    int complaints = 0;
    int unsubscribes = 0;
    int autoReplies = 0;
    int other = 0;
    // Reports that name nobody we could find, and messages of no known kind.
    int notUnderstood = 0;
    void add(const FeedbackReport& report);
    int total() const { return bounces + complaints + unsubscribes + autoReplies + other; }
};
// "Bounces 3, complaints 1, unsubscribe requests 0, auto-replies 2, other 1; not understood 1."
std::string feedbackCountsText(const FeedbackCounts& counts);

// Reads one whole message (RFC 5322 bytes) and says what it is. Never
// fails: what cannot be parsed is "other".
FeedbackReport classifyMessage(std::string_view bytes, const ClassifyOptions& options = {});

} // namespace velmora::delivery
