#pragma once

#include "delivery/message/message_draft.h"
#include "delivery/random_source.h"
#include "platform/content_types.h"
#include "store/clock.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// Receives the message one line at a time, without its CR LF. Returning
// false stops the message (the connection failed or the run was cancelled).
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual bool writeLine(std::string_view line) = 0;
};

// What writing message after message of one body can reuse: the text
// rendering of an HTML body and the encoded lines of each text part. A run
// sends the same text to thousands; encoding it once per connection rather
// than once per message saves most of the work of writing it. Kept by one
// connection, never shared between threads.
class TextPartMemo {
public:
    struct Encoded {
        bool quotedPrintable = false;
        std::vector<std::string> lines; // encoded, not yet dot-stuffed
    };
    // plainTextFromHtml(html) without its last line break.
    const std::string& plainText(std::string_view html);
    const Encoded& encoded(std::string_view text);

private:
    std::optional<std::string> html_;
    std::string plain_;
    struct Entry {
        std::string text;
        Encoded encoded;
    };
    std::vector<Entry> entries_; // a message has at most two text parts
    std::size_t nextSlot_ = 0;
};

// What the message text depends on besides the message itself.
struct MessageEnvironment {
    const store::Clock& clock;                  // the Date header
    const platform::ContentTypes& contentTypes; // attachment types by extension
    // Told the full path of each attachment file that could be opened (the
    // send window lists them while the dialogue is being logged); may be empty.
    std::function<void(const std::string& path)> attachmentOpened;
    // Empty: the system's random source.
    RandomBytes randomBytes = {};
    // Told why an attachment could not be read while the message was being
    // written (the message then stops unfinished); may be empty.
    std::function<void(const std::string& reason)> attachmentFailed = {};
    // Reused from the previous message when its texts are the same; null: none.
    TextPartMemo* memo = nullptr;
};

inline constexpr std::string_view kMailerHeader = "X-Mailer: VelmoraMail101";
// Every boundary starts with this: "=" never appears unencoded in
// quoted-printable text and "_" never in Base64, and a 7bit part that holds
// it is sent quoted-printable, so no content can contain a boundary.
inline constexpr std::string_view kBoundaryMark = "=_";
inline constexpr std::size_t kBase64LineLength = 60;
// The longest line SMTP allows, without its CR LF.
inline constexpr std::size_t kMaxLineOctets = 998;

// Writes the whole message as it goes over the wire after the 354 reply:
// headers (a new Message-ID each time, folded to 78 characters where they
// can be), the text part (an HTML body as multipart/alternative with a
// text/plain rendering first, when the message asks for it), the attachment
// parts, the closing boundary and the end-of-data line ".". Every line that
// starts with "." is stuffed with a second "."; the body's line breaks (CR
// LF, LF or a lone CR) become line ends. Returns false when the sink stopped
// it or an attachment could not be read (the message is then unfinished and
// must not be completed).
bool writeMessage(const OutgoingMessage& message, const MessageEnvironment& environment,
                  LineSink& sink);

// "<" + 32 hex digits of random + "@" + the sender's domain + ">".
std::string messageId(std::string_view senderAddress, const RandomBytes& randomBytes);

// Opens every attachment and reads it to its end before anything is sent;
// the first that cannot be read gives "Attachment "PATH" cannot be read -
// reason. Nothing was sent."
std::optional<std::string> checkAttachments(const std::vector<std::string>& paths);
// Every attachment of `paths` that cannot be read to its end, as
// "Attachment "PATH" cannot be read - reason." (all of them, in order).
std::vector<std::string> unreadableAttachments(const std::vector<std::string>& paths);

// The extension of the path's file name, without its dot; "" when none.
std::string attachmentExtension(std::string_view path);

} // namespace velmora::delivery
