#include "delivery/message_builder.h"

#include "delivery/mime_text.h"
#include "store/file_reading.h"

#include <cstdio>
#include <sys/stat.h>

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

// A header as one line, or folded into encoded words when it holds non-ASCII
// text or would be too long for a line. `suffix` follows the value as it stands.
void writeHeader(StuffingSink& out, std::string_view name, std::string_view value,
                 std::string_view suffix = {}) {
    const std::string safe = headerSafe(value);
    std::string line(name);
    if (isAscii(safe) && name.size() + safe.size() + suffix.size() <= kMaxLineOctets) {
        line += safe;
        line += suffix;
        out.line(line);
        return;
    }
    const std::vector<std::string> words = encodedWords(safe);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            out.line(line);
            line = " ";
        }
        line += words[i];
    }
    line += suffix;
    out.line(line);
}

// A display name that holds RFC 5322 specials is quoted, so that a comma in
// "Lee, Ann" does not turn one sender into two.
std::string displayName(std::string_view name) {
    if (!isAscii(name)) {
        return std::string(name);
    }
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
    const std::string boundaryLine = "--" + std::string(kBoundary);
    for (std::string_view line : lines) {
        if (line.size() > kMaxLineOctets || line.substr(0, boundaryLine.size()) == boundaryLine ||
            !isAscii(line) || line.find('\0') != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

void writeTextPart(StuffingSink& out, const OutgoingMessage& message) {
    const bool html = message.format == code(EditorFormat::Html);
    const std::vector<std::string_view> lines = splitLines(message.body);
    const bool encode = needsQuotedPrintable(lines);
    std::string type = html ? "Content-Type: text/html; " : "Content-Type: text/plain; ";
    type += encode ? "charset=utf-8" : "charset=us-ascii";
    out.line("--" + std::string(kBoundary));
    out.line(type);
    out.line(encode ? "Content-Transfer-Encoding: quoted-printable"
                    : "Content-Transfer-Encoding: 7bit");
    out.line("");
    for (std::string_view line : lines) {
        if (!encode) {
            out.line(line);
            continue;
        }
        for (const std::string& piece : quotedPrintableLines(line)) {
            out.line(piece);
        }
    }
}

bool writeBase64File(StuffingSink& out, std::FILE* file) {
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
        if (got == 0) {
            break;
        }
        encoded.clear();
        appendBase64(encoded, std::string_view(block.data(), got));
        for (std::size_t i = 0; i < encoded.size(); i += kBase64LineLength) {
            if (!out.line(std::string_view(encoded).substr(i, kBase64LineLength))) {
                return false;
            }
        }
        if (got < kBlock) {
            break;
        }
    }
    return out.ok();
}

bool writeParts(StuffingSink& out, const std::vector<std::string>& paths,
                const MessageEnvironment& environment) {
    for (const std::string& path : paths) {
        out.line("");
        // Opened without blocking: a FIFO or a device is left out like a
        // missing file instead of holding the send.
        ReadableFile readable;
        if (!readable.open(path)) {
            continue;
        }
        std::FILE* file = readable.stream();
        if (file == nullptr) {
            continue;
        }
        if (environment.attachmentOpened) {
            environment.attachmentOpened(path);
        }
        if (readable.stamp().size == 0) {
            continue;
        }
        const std::string name = headerSafe(attachmentFileName(path));
        const std::string type =
            headerSafe(environment.contentTypes.contentTypeForExtension(attachmentExtension(path)));
        out.line("--" + std::string(kBoundary));
        if (isAscii(name)) {
            out.line("Content-Type: " + type + "; name=\"" + name + "\"");
            out.line("Content-Transfer-Encoding: base64");
            out.line("Content-Disposition: Attachment; filename=\"" + name + "\"");
        } else {
            const std::string value = rfc2231Value(name);
            out.line("Content-Type: " + type + "; name*=" + value);
            out.line("Content-Transfer-Encoding: base64");
            out.line("Content-Disposition: Attachment; filename*=" + value);
        }
        out.line("");
        if (!writeBase64File(out, file)) {
            return false;
        }
    }
    return out.ok();
}

} // namespace

std::string attachmentFileName(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (!name.empty() && name.front() == '"') {
        name.remove_prefix(1);
    }
    return std::string(name.substr(0, name.find('"')));
}

std::string attachmentExtension(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return {};
    }
    return std::string(path.substr(dot + 1));
}

bool writeAttachmentParts(const std::vector<std::string>& paths,
                          const MessageEnvironment& environment, LineSink& sink) {
    StuffingSink out(sink);
    return writeParts(out, paths, environment);
}

bool writeMessage(const OutgoingMessage& message, const MessageEnvironment& environment,
                  LineSink& sink) {
    StuffingSink out(sink);
    const std::string address = headerSafe(message.senderAddress);
    out.line(kMailerHeader);
    // Addresses are never encoded words: they go out as they stand, made safe.
    out.line("To: " + headerSafe(message.recipient));
    writeHeader(out, "From: ", displayName(message.senderName), " <" + address + ">");
    out.line("Reply-To: " + address);
    out.line("Date: " + rfc5322Date(environment.clock.now()));
    writeHeader(out, "Subject: ", message.subject);
    out.line("MIME-Version: 1.0");
    out.line("Content-Type: multipart/mixed; boundary=\"" + std::string(kBoundary) + "\"");
    out.line("");
    writeTextPart(out, message);
    if (!writeParts(out, message.attachments, environment)) {
        return false;
    }
    out.line("--" + std::string(kBoundary) + "--");
    // The end-of-data line goes out unstuffed.
    return out.ok() && sink.writeLine(".");
}
