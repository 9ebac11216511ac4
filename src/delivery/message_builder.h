#pragma once

#include "delivery/message_draft.h"
#include "platform/content_types.h"
#include "store/clock.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Receives the message one line at a time, without its CR LF. Returning
// false stops the message (the connection failed or the run was cancelled).
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual bool writeLine(std::string_view line) = 0;
};

// What the message text depends on besides the message itself.
struct MessageEnvironment {
    const Clock& clock;               // the Date header
    const ContentTypes& contentTypes; // attachment types by extension
    // Told the full path of each attachment file that could be opened (the
    // send window lists them while the dialogue is being logged); may be empty.
    std::function<void(const std::string& path)> attachmentOpened;
};

inline constexpr std::string_view kMailerHeader = "X-Mailer: VelmoraMail101";
inline constexpr std::string_view kBoundary = "Boundary";
inline constexpr std::size_t kBase64LineLength = 60;
// The longest line SMTP allows, without its CR LF.
inline constexpr std::size_t kMaxLineOctets = 998;

// Writes the whole message as it goes over the wire after the 354 reply:
// headers, the text part, the attachment parts, the closing boundary and the
// end-of-data line ".". Every line that starts with "." is stuffed with a
// second "."; the body's line breaks (CR LF, LF or a lone CR) become line
// ends. Returns false when the sink stopped it.
bool writeMessage(const OutgoingMessage& message, const MessageEnvironment& environment,
                  LineSink& sink);

// The attachment parts alone (already stuffed; Base64 lines never start
// with "."). Each entry yields an empty line; a file that cannot be opened
// or is empty yields nothing more.
bool writeAttachmentParts(const std::vector<std::string>& paths,
                          const MessageEnvironment& environment, LineSink& sink);

// The file name of an attachment path: after the last "/" or "\", without a
// leading double quote and cut at a following one.
std::string attachmentFileName(std::string_view path);
// The extension of the path's file name, without its dot; "" when none.
std::string attachmentExtension(std::string_view path);
