#include "delivery/smtp/smtp_reply_reader.h"

#include "store/untrusted_text.h"

namespace velmora::delivery {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Shows a server line in an error message without control characters.
std::string printable(std::string_view line) {
    return store::printableText(line.substr(0, 80));
}

} // namespace

std::string SmtpReply::text() const {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            joined.push_back(' ');
        }
        joined += lines[i];
    }
    return joined;
}

std::string SmtpReply::logLine() const {
    return "<" + code + " " + store::printableText(text());
}

void SmtpReplyReader::feed(std::string_view bytes) {
    if (!failed()) {
        buffer_.append(bytes);
    }
}

bool SmtpReplyReader::hasPartialReply() const {
    return !buffer_.empty() || !partial_.lines.empty();
}

void SmtpReplyReader::fail(std::string reason) {
    error_ = std::move(reason);
    buffer_.clear();
    scanned_ = 0;
    partial_ = {};
}

std::optional<SmtpReply> SmtpReplyReader::next() {
    std::size_t start = 0;
    std::optional<SmtpReply> complete;
    while (!failed() && !complete) {
        const std::size_t end = buffer_.find('\n', scanned_);
        if (end == std::string::npos) {
            scanned_ = buffer_.size();
            if (buffer_.size() - start > kMaxLineBytes) {
                fail("The server sent a line longer than " + std::to_string(kMaxLineBytes) +
                     " bytes.");
                return std::nullopt;
            }
            break;
        }
        std::string_view line(buffer_.data() + start, end - start);
        start = end + 1;
        scanned_ = start;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > kMaxLineBytes) {
            fail("The server sent a line longer than " + std::to_string(kMaxLineBytes) + " bytes.");
            return std::nullopt;
        }
        const bool coded = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) &&
                           isDigit(line[2]) &&
                           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        if (!coded) {
            fail("The server sent a line that is not an SMTP reply: \"" + printable(line) + "\".");
            return std::nullopt;
        }
        if (partial_.lines.size() >= kMaxReplyLines) {
            fail("The server sent a reply of more than " + std::to_string(kMaxReplyLines) +
                 " lines.");
            return std::nullopt;
        }
        partial_.code = std::string(line.substr(0, 3));
        partial_.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
        if (line.size() == 3 || line[3] == ' ') {
            complete = std::move(partial_);
            partial_ = {};
        }
    }
    if (start > 0) {
        buffer_.erase(0, start);
        scanned_ -= start;
    }
    return complete;
}

} // namespace velmora::delivery
