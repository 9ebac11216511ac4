#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// One complete server reply.
struct SmtpReply {
    std::string code;               // the three digits, e.g. "250"
    std::vector<std::string> lines; // the text of each line, after "ddd-" or "ddd "
    // The texts of all lines joined by a blank.
    std::string text() const;
    // "<" + code + " " + text: the reply as the dialogue log shows it.
    std::string logLine() const;
    // 2 for "250", 5 for "550"; 0 when the code is not three digits.
    int category() const { return code.empty() ? 0 : code[0] - '0'; }
    friend bool operator==(const SmtpReply&, const SmtpReply&) = default;
};

// Turns the received byte stream into replies, however the bytes were cut
// into reads. A line ends with LF (a CR before it is dropped); "ddd-" lines
// continue a reply, a "ddd " or "ddd" line completes it.
class SmtpReplyReader {
public:
    // Bounds that keep a misbehaving server from growing the buffer forever.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxReplyLines = 1000;

    void feed(std::string_view bytes);
    // The next complete reply, if one has arrived. After a malformed line the
    // reader stops: `failed()` is set and nothing more is returned.
    std::optional<SmtpReply> next();

    bool failed() const { return !error_.empty(); }
    // What was wrong with the server's bytes, for the user.
    const std::string& error() const { return error_; }
    // Bytes received that are not yet part of a complete reply.
    bool hasPartialReply() const;

private:
    void fail(std::string reason);

    std::string buffer_;
    std::size_t scanned_ = 0; // bytes of buffer_ already searched for LF
    SmtpReply partial_;
    std::string error_;
};

} // namespace velmora::delivery
