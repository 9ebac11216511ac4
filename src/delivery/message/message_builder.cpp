#include "delivery/message/message_builder.h"

#include "delivery/international_address.h"
#include "delivery/message/html_text.h"
#include "delivery/message/mime_text.h"
#include "store/file_names.h"
#include "store/file_reading.h"
#include "store/text.h"
#include "store/text_encoding.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::delivery {

namespace {

// Stuffs the lines that start with "." before they reach the sink.
class StuffingSink {
public:
    explicit StuffingSink(LineSink& sink) : sink_(sink) {}
    bool line(std::string_view text) {
        if (!ok_) {
            return false;
        }
        if (!text.empty() && text.front() == '.') {
            scratch_.assign(1, '.');
            scratch_.append(text);
            ok_ = sink_.writeLine(scratch_);
        } else {
            ok_ = sink_.writeLine(text);
        }
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    LineSink& sink_;
    std::string scratch_;
    bool ok_ = true;
};

void writeLines(StuffingSink& out, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        out.line(line);
    }
}

// An unstructured header (Subject): words folded at blanks, or encoded
// words when the text needs them.
void writeTextHeader(StuffingSink& out, std::string_view start, std::string_view value) {
    const std::string safe = headerSafe(value);
    writeLines(out, foldHeader(start, textTokens(safe, start.size())));
}

// A display name that holds RFC 5322 specials is quoted, so that a comma in
// "Lee, Ann" does not turn one sender into two.
std::string quotedDisplayName(std::string_view name) {
    constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";
    if (name.find_first_of(kSpecials) == std::string_view::npos) {
        return std::string(name);
    }
    std::string quoted = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') {
            quoted.push_back('\\');
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

// "Name <address>" as tokens: the name as words or encoded words.
std::vector<std::string> mailboxTokens(std::string_view name, const std::string& address,
                                       std::size_t startWidth) {
    const std::string safeName = headerSafe(name);
    std::vector<std::string> tokens = isAscii(safeName)
                                          ? textTokens(quotedDisplayName(safeName), startWidth)
                                          : textTokens(safeName, startWidth);
    tokens.push_back("<" + address + ">");
    return tokens;
}

// The address as it goes into a header: its domain as A-labels.
std::string headerAddress(std::string_view address) {
    return headerSafe(withAsciiDomain(address).address);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    lines.push_back(text.substr(start));
    return lines;
}

bool needsQuotedPrintable(const std::vector<std::string_view>& lines) {
    for (std::string_view line : lines) {
        if (line.size() > kMaxLineOctets || line.find(kBoundaryMark) != std::string_view::npos ||
            !isAscii(line) || line.find('\0') != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

TextPartMemo::Encoded encodeText(std::string_view text) {
    const std::vector<std::string_view> lines = splitLines(text);
    TextPartMemo::Encoded encoded;
    encoded.quotedPrintable = needsQuotedPrintable(lines);
    encoded.lines.reserve(lines.size());
    for (std::string_view line : lines) {
        if (!encoded.quotedPrintable) {
            encoded.lines.emplace_back(line);
            continue;
        }
        for (std::string& piece : quotedPrintableLines(line)) {
            encoded.lines.push_back(std::move(piece));
        }
    }
    return encoded;
}

std::string plainTextOf(std::string_view html) {
    std::string text = plainTextFromHtml(html);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// One text part after its boundary line: headers, an empty line, the text.
void writeTextPart(StuffingSink& out, std::string_view boundary, std::string_view mediaType,
                   std::string_view text, TextPartMemo* memo) {
    TextPartMemo::Encoded own;
    if (memo == nullptr) {
        own = encodeText(text);
    }
    const TextPartMemo::Encoded& encoded = memo != nullptr ? memo->encoded(text) : own;
    const bool encode = encoded.quotedPrintable;
    out.line("--" + std::string(boundary));
    out.line("Content-Type: " + std::string(mediaType) +
             (encode ? "; charset=utf-8" : "; charset=us-ascii"));
    out.line(encode ? "Content-Transfer-Encoding: quoted-printable"
                    : "Content-Transfer-Encoding: 7bit");
    out.line("");
    for (const std::string& line : encoded.lines) {
        out.line(line);
    }
}

struct Boundaries {
    std::string mixed;
    std::string alternative;
};

std::string randomHex(const RandomBytes& randomBytes, std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (randomBytes) {
        randomBytes(bytes.data(), bytes.size());
    } else {
        systemRandomBytes(bytes.data(), bytes.size());
    }
    return store::toHex({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

void writeBody(StuffingSink& out, const OutgoingMessage& message, const Boundaries& boundaries,
               TextPartMemo* memo) {
    const bool html = message.format == code(store::EditorFormat::Html);
    if (!html || !message.textAlternative) {
        writeTextPart(out, boundaries.mixed, html ? "text/html" : "text/plain", message.body, memo);
        return;
    }
    out.line("--" + boundaries.mixed);
    out.line("Content-Type: multipart/alternative;");
    out.line(" boundary=\"" + boundaries.alternative + "\"");
    out.line("");
    std::string own;
    if (memo == nullptr) {
        own = plainTextOf(message.body);
    }
    const std::string& text = memo != nullptr ? memo->plainText(message.body) : own;
    writeTextPart(out, boundaries.alternative, "text/plain", text, memo);
    writeTextPart(out, boundaries.alternative, "text/html", message.body, memo);
    out.line("--" + boundaries.alternative + "--");
}

std::string readFailure(const std::string& path, const std::string& reason) {
    return "Attachment \"" + path + "\" cannot be read - " + reason + ".";
}

// Opens an attachment as a regular file; fills `reason` when it cannot.
// The open does not block, so a FIFO or a device cannot hold the run.
std::FILE* openAttachment(const std::string& path, std::string& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int code = errno;
        struct stat info {};
        const bool socket =
            code == ENXIO && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
        reason = socket ? store::kNotRegularFileReason : store::systemErrorText(code);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        reason = store::systemErrorText(errno);
        ::close(fd);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        reason =
            S_ISDIR(info.st_mode) ? store::systemErrorText(EISDIR) : store::kNotRegularFileReason;
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        reason = store::systemErrorText(errno);
        ::close(fd);
    }
    return file;
}

enum class PartResult { Written, SinkStopped, ReadFailed };

PartResult writeBase64File(StuffingSink& out, std::FILE* file) {
    // A multiple of 45 bytes encodes to whole 60-character lines.
    constexpr std::size_t kBlock = 45 * 1024;
    std::string block(kBlock, '\0');
    std::string encoded;
    for (;;) {
        std::size_t got = 0;
        while (got < kBlock) {
            const std::size_t n = std::fread(block.data() + got, 1, kBlock - got, file);
            if (n == 0) {
                break;
            }
            got += n;
        }
        if (std::ferror(file)) {
            return PartResult::ReadFailed;
        }
        if (got == 0) {
            break;
        }
        encoded.clear();
        appendBase64(encoded, std::string_view(block.data(), got));
        for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
            if (!out.line(std::string_view(encoded).substr(i, kBase64LineLength))) {
                return PartResult::SinkStopped;
            }
        }
        if (got < kBlock) {
            break;
        }
    }
    return out.ok() ? PartResult::Written : PartResult::SinkStopped;
}

// Whether `file` holds valid UTF-8 from where it stands to its end; it is
// read through and rewound. A read error says no (the writing that follows
// meets it again and reports it).
bool fileIsUtf8(std::FILE* file) {
    constexpr std::size_t kBlock = 64 * 1024;
    std::string buffer;
    std::string block(kBlock, '\0');
    bool valid = true;
    while (valid) {
        const std::size_t n = std::fread(block.data(), 1, kBlock, file);
        if (n == 0) {
            break;
        }
        buffer.append(block.data(), n);
        // A character cut by the block's end waits for the next block.
        std::size_t cut = buffer.size();
        for (std::size_t back = 1; back <= 3 && back <= buffer.size(); ++back) {
            const auto c = static_cast<unsigned char>(buffer[buffer.size() - back]);
            if ((c & 0xC0) == 0x80) {
                continue;
            }
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back) {
                cut = buffer.size() - back;
            }
            break;
        }
        valid = store::isValidUtf8(std::string_view(buffer).substr(0, cut));
        buffer.erase(0, cut);
    }
    valid = valid && !std::ferror(file) && store::isValidUtf8(buffer);
    std::rewind(file);
    return valid;
}

bool isTextType(std::string_view type) {
    return type.size() > 5 && store::equalIgnoringCase(type.substr(0, 5), "text/") &&
           type.find(';') == std::string_view::npos;
}

// The attachment headers: the file name as an RFC 2231 parameter and, for
// readers that know only that, as RFC 2047 encoded words too. A text file
// in UTF-8 says so; any other text gets no charset, as a reader's guess
// does better than a wrong one.
void writeAttachmentHeaders(StuffingSink& out, const std::string& type, bool utf8,
                            const std::string& name) {
    std::vector<std::string> typeTokens{type + ";"};
    if (utf8) {
        typeTokens.emplace_back("charset=utf-8;");
    }
    if (isAscii(name) && name.find(kBoundaryMark) == std::string::npos) {
        std::string quoted;
        for (char c : name) {
            if (c == '"' || c == '\\') {
                quoted.push_back('\\');
            }
            quoted.push_back(c);
        }
        typeTokens.push_back("name=\"" + quoted + "\"");
        writeLines(out, foldHeader("Content-Type: ", typeTokens));
        out.line("Content-Transfer-Encoding: base64");
        writeLines(out, foldHeader("Content-Disposition: ",
                                   {"attachment;", "filename=\"" + quoted + "\""}));
        return;
    }
    const std::vector<std::string> words = encodedWords(name, kFoldWidth - 8);
    for (std::size_t i = 0; i < words.size(); ++i) {
        typeTokens.push_back((i == 0 ? "name=\"" : "") + words[i] +
                             (i + 1 == words.size() ? "\"" : ""));
    }
    writeLines(out, foldHeader("Content-Type: ", typeTokens));
    out.line("Content-Transfer-Encoding: base64");
    std::vector<std::string> dispositionTokens{"attachment;"};
    const std::vector<std::string> sections = rfc2231Parameter("filename", name);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        dispositionTokens.push_back(sections[i] + (i + 1 == sections.size() ? "" : ";"));
    }
    writeLines(out, foldHeader("Content-Disposition: ", dispositionTokens));
}

bool writeParts(StuffingSink& out, const std::vector<std::string>& paths,
                const MessageEnvironment& environment, std::string_view boundary) {
    for (const std::string& path : paths) {
        out.line("");
        std::string reason;
        std::FILE* file = openAttachment(path, reason);
        if (file == nullptr) {
            // Checked before the run began: it went away since. The message
            // stops here rather than going out without it.
            if (environment.attachmentFailed) {
                environment.attachmentFailed(readFailure(path, reason));
            }
            return false;
        }
        if (environment.attachmentOpened) {
            environment.attachmentOpened(path);
        }
        const std::string name = headerSafe(store::fileNamePart(path));
        const std::string type =
            headerSafe(environment.contentTypes.contentTypeForExtension(attachmentExtension(path)));
        out.line("--" + std::string(boundary));
        writeAttachmentHeaders(out, type, isTextType(type) && fileIsUtf8(file), name);
        out.line("");
        const PartResult result = writeBase64File(out, file);
        const int readError = errno;
        std::fclose(file);
        if (result == PartResult::ReadFailed) {
            if (environment.attachmentFailed) {
                environment.attachmentFailed(readFailure(path, store::systemErrorText(readError)));
            }
            return false;
        }
        if (result == PartResult::SinkStopped) {
            return false;
        }
    }
    return out.ok();
}

} // namespace

std::string attachmentExtension(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return std::string(path.substr(dot + 1));
}

void systemRandomBytes(unsigned char* bytes, std::size_t count) {
    static thread_local std::random_device device;
    for (std::size_t i = 0; i < count; i += sizeof(unsigned)) {
        const unsigned value = device();
        std::memcpy(bytes + i, &value, std::min(sizeof value, count - i));
    }
}

std::string messageId(std::string_view senderAddress, const RandomBytes& randomBytes) {
    const std::string address = withAsciiDomain(senderAddress).address;
    std::string domain;
    for (char c : addressDomain(address)) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') {
            domain.push_back(c);
        }
    }
    if (domain.empty() || domain.size() != addressDomain(address).size()) {
        domain = "localhost.localdomain";
    }
    return "<" + randomHex(randomBytes, 16) + "@" + domain + ">";
}

std::vector<std::string> unreadableAttachments(const std::vector<std::string>& paths) {
    std::vector<std::string> problems;
    std::string block(64 * 1024, '\0');
    for (const std::string& path : paths) {
        std::string reason;
        std::FILE* file = openAttachment(path, reason);
        if (file != nullptr) {
            while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
            }
            if (std::ferror(file)) {
                reason = store::systemErrorText(errno);
            }
            std::fclose(file);
        }
        if (!reason.empty()) {
            problems.push_back(readFailure(path, reason));
        }
    }
    return problems;
}

std::optional<std::string> checkAttachments(const std::vector<std::string>& paths) {
    const std::vector<std::string> problems = unreadableAttachments(paths);
    if (problems.empty()) {
        return std::nullopt;
    }
    return problems.front() + " Nothing was sent.";
}

bool writeMessage(const OutgoingMessage& message, const MessageEnvironment& environment,
                  LineSink& sink) {
    StuffingSink out(sink);
    const std::string sender = headerAddress(message.senderAddress);
    out.line(kMailerHeader);
    out.line("Message-ID: " + (message.messageId.empty()
                                   ? messageId(message.senderAddress, environment.randomBytes)
                                   : message.messageId));
    // Addresses are never encoded words: they go out as they stand, made safe.
    writeLines(out, foldHeader("To: ", {headerAddress(message.recipient)}));
    writeLines(out, foldHeader("From: ", mailboxTokens(message.senderName, sender, 6)));
    writeLines(out, foldHeader("Reply-To: ", {sender}));
    out.line("Date: " + rfc5322Date(environment.clock.now()));
    writeTextHeader(out, "Subject: ", message.subject);
    if (!message.listId.empty()) {
        writeLines(out, foldHeader("List-Id: ", {"<" + headerSafe(message.listId) + ">"}));
    }
    if (!message.listUnsubscribe.empty()) {
        std::vector<std::string> tokens;
        const std::string value = headerSafe(message.listUnsubscribe);
        for (std::size_t start = 0; start < value.size();) {
            std::size_t comma = value.find(">,", start);
            comma = comma == std::string::npos ? value.size() : comma + 2;
            tokens.emplace_back(
                store::trimSpaces(std::string_view(value).substr(start, comma - start)));
            start = comma;
        }
        writeLines(out, foldHeader("List-Unsubscribe: ", tokens));
        if (message.oneClickUnsubscribe) {
            out.line("List-Unsubscribe-Post: List-Unsubscribe=One-Click");
        }
    }
    out.line("MIME-Version: 1.0");
    const std::string hex = randomHex(environment.randomBytes, 12);
    const Boundaries boundaries{std::string(kBoundaryMark) + "M" + hex,
                                std::string(kBoundaryMark) + "A" + hex};
    out.line("Content-Type: multipart/mixed;");
    out.line(" boundary=\"" + boundaries.mixed + "\"");
    out.line("");
    writeBody(out, message, boundaries, environment.memo);
    if (!writeParts(out, message.attachments, environment, boundaries.mixed)) {
        return false;
    }
    out.line("--" + boundaries.mixed + "--");
    // The end-of-data line goes out unstuffed.
    return out.ok() && sink.writeLine(".");
}

const std::string& TextPartMemo::plainText(std::string_view html) {
    if (!html_ || *html_ != html) {
        plain_ = plainTextOf(html);
        html_ = std::string(html);
    }
    return plain_;
}

const TextPartMemo::Encoded& TextPartMemo::encoded(std::string_view text) {
    for (const Entry& entry : entries_) {
        if (entry.text == text) {
            return entry.encoded;
        }
    }
    constexpr std::size_t kEntries = 2;
    if (entries_.size() < kEntries) {
        entries_.push_back({std::string(text), encodeText(text)});
        return entries_.back().encoded;
    }
    Entry& slot = entries_[nextSlot_];
    nextSlot_ = (nextSlot_ + 1) % kEntries;
    slot = {std::string(text), encodeText(text)};
    return slot.encoded;
}

} // namespace velmora::delivery
