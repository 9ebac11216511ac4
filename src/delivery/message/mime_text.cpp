#include "delivery/message/mime_text.h"

#include "store/text.h"

#include <algorithm>
#include <cstdio>

namespace velmora::delivery {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead < 0xF0 ? 3 : 1;
    }
    if (lead >= 0xC0) {
        return 2;
    }
    return 1;
}

void appendEscaped(std::string& out, unsigned char c, char escape) {
    out.push_back(escape);
    store::appendHex(out, c, store::HexDigits::Upper);
}

} // namespace

void appendBase64(std::string& out, std::string_view bytes) {
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        out.push_back(kBase64Alphabet[(v >> 6) & 63]);
        out.push_back(kBase64Alphabet[v & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 0) {
        return;
    }
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) {
        v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    out.push_back(kBase64Alphabet[(v >> 18) & 63]);
    out.push_back(kBase64Alphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
}

std::string base64Decoded(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        const int digit = c >= 'A' && c <= 'Z'   ? c - 'A'
                          : c >= 'a' && c <= 'z' ? c - 'a' + 26
                          : c >= '0' && c <= '9' ? c - '0' + 52
                          : c == '+' || c == '-' ? 62
                          : c == '/' || c == '_' ? 63
                                                 : -1;
        if (digit < 0) {
            break;
        }
        bits = (bits << 6U) | static_cast<unsigned>(digit);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> static_cast<unsigned>(count)) & 0xFFU));
        }
    }
    return out;
}

std::string base64String(std::string_view bytes) {
    std::string out;
    appendBase64(out, bytes);
    return out;
}

std::string rfc5322Date(const store::LocalDateTime& time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int weekday = time.weekday >= 0 && time.weekday < 7 ? time.weekday : 0;
    const int month = time.month >= 1 && time.month <= 12 ? time.month : 1;
    const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[weekday],
                  time.day, kMonths[month - 1], time.year, time.hour, time.minute, time.second,
                  time.utcOffsetMinutes < 0 ? '-' : '+', (offset / 60) % 100, offset % 60);
    return text;
}

std::string headerSafe(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        const bool c1 = c == 0xC2 && i + 1 < value.size() &&
                        static_cast<unsigned char>(value[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(value[i + 1]) <= 0x9F;
        if (c1) {
            ++i; // both bytes of the one character
        }
        out.push_back((c < 0x20 && c != '\t') || c == 0x7F || c1 ? ' ' : value[i]);
    }
    return out;
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> encodedWords(std::string_view utf8, std::size_t firstWordMax) {
    // "=?UTF-8?B?" + "?=" take 12 characters; each 3 bytes take 4 more.
    const auto bytesFor = [](std::size_t width) { return (width - 12) / 4 * 3; };
    std::size_t budget = bytesFor(std::clamp<std::size_t>(firstWordMax, 16, 75));
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = start;
        while (end < utf8.size()) {
            std::size_t next = end + sequenceLength(static_cast<unsigned char>(utf8[end]));
            if (next > utf8.size()) {
                next = utf8.size();
            }
            if (next - start > budget) {
                break;
            }
            end = next;
        }
        if (end > start && end < utf8.size()) {
            // Cut after a blank where one is near, so that a reader that
            // keeps the fold between two encoded words splits no word.
            const std::size_t blank = utf8.rfind(' ', end - 1);
            if (blank != std::string_view::npos && blank >= start &&
                blank + 1 - start >= budget / 2) {
                end = blank + 1;
            }
        }
        if (end == start) {
            // A character wider than the first word's room goes whole into it.
            end = std::min(utf8.size(),
                           start + sequenceLength(static_cast<unsigned char>(utf8[start])));
        }
        std::string word = "=?UTF-8?B?";
        appendBase64(word, utf8.substr(start, end - start));
        word += "?=";
        words.push_back(std::move(word));
        start = end;
        budget = bytesFor(75);
    }
    return words;
}

std::vector<std::string> foldHeader(std::string_view start,
                                    const std::vector<std::string>& tokens) {
    std::vector<std::string> lines;
    std::string line(start);
    bool lineHasToken = false;
    for (const std::string& token : tokens) {
        if (!lineHasToken) {
            line += token;
            lineHasToken = true;
            continue;
        }
        if (line.size() + 1 + token.size() <= kFoldWidth) {
            line += ' ';
            line += token;
            continue;
        }
        lines.push_back(std::move(line));
        line = " " + token;
    }
    lines.push_back(std::move(line));
    return lines;
}

std::vector<std::string> textTokens(std::string_view value, std::size_t startWidth) {
    // The words: a token ends at a blank that follows a non-blank, further
    // blanks stay with the word after them, so that no folded line is blank.
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= value.size(); ++i) {
        if (i == value.size() || (value[i] == ' ' && value[i - 1] != ' ' &&
                                  value.find_first_not_of(' ', i) != std::string_view::npos)) {
            words.push_back(value.substr(start, i - start));
            start = i + 1;
        }
    }
    const auto needsEncoding = [](std::string_view word) {
        return !isAscii(word) || word.find('\t') != std::string_view::npos ||
               word.find("=?") != std::string_view::npos || word.size() > kMaxHeaderLine - 40;
    };
    // Words that need it are encoded, a run of them together (the blank
    // between two encoded words is not part of the text); the others stay
    // as they are, which every reader shows alike.
    std::vector<std::string> tokens;
    std::size_t width = startWidth;
    for (std::size_t i = 0; i < words.size();) {
        if (!needsEncoding(words[i])) {
            tokens.emplace_back(words[i]);
            width += words[i].size() + 1;
            ++i;
            continue;
        }
        std::string run(words[i]);
        for (++i; i < words.size() && needsEncoding(words[i]); ++i) {
            run += ' ';
            run.append(words[i]);
        }
        // A run that must be cut anyway starts a line of its own rather than
        // leave a sliver of a word at the end of this one.
        const std::size_t room = width < kFoldWidth ? kFoldWidth - width : 0;
        const std::size_t whole = 12 + (run.size() + 2) / 3 * 4;
        const std::size_t first = whole <= room || room >= 40 ? room : 75;
        for (std::string& word : encodedWords(run, first < 16 ? 75 : first)) {
            width = word.size() + 1;
            tokens.push_back(std::move(word));
        }
    }
    return tokens;
}

std::vector<std::string> rfc2231Parameter(std::string_view name, std::string_view utf8) {
    const std::string value = rfc2231Value(utf8);
    // " name*12*=" plus ";" leave the section this much room within 78.
    const std::size_t room = kFoldWidth - 1 - name.size() - 6;
    if (value.size() <= room + 2) {
        return {std::string(name) + "*=" + value};
    }
    std::vector<std::string> sections;
    std::size_t start = 0;
    while (start < value.size()) {
        std::size_t end = std::min(value.size(), start + room);
        // A "%XX" escape stays in one section.
        for (std::size_t back = 1; back <= 2 && end < value.size() && end >= back; ++back) {
            if (value[end - back] == '%') {
                end -= back;
                break;
            }
        }
        sections.push_back(std::string(name) + "*" + std::to_string(sections.size()) +
                           "*=" + value.substr(start, end - start));
        start = end;
    }
    return sections;
}

std::vector<std::string> quotedPrintableLines(std::string_view line) {
    constexpr std::size_t kMaxText = 75; // a soft line break adds "="
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        const bool plain = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        const std::size_t width = plain ? 1 : 3;
        const bool fitsAsLast = last && current.size() + width <= kMaxText + 1;
        if (current.size() + width > kMaxText && !fitsAsLast) {
            current.push_back('=');
            lines.push_back(std::move(current));
            current.clear();
        }
        // No output line may start with "." or "-": the first would need
        // stuffing, the second could pass for a boundary.
        if (plain && !(current.empty() && (c == '-' || c == '.'))) {
            current.push_back(static_cast<char>(c));
        } else {
            appendEscaped(current, c, '=');
        }
    }
    lines.push_back(std::move(current));
    return lines;
}

std::string rfc2231Value(std::string_view utf8) {
    std::string out = "UTF-8''";
    for (char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (plain) {
            out.push_back(ch);
        } else {
            appendEscaped(out, c, '%');
        }
    }
    return out;
}

} // namespace velmora::delivery
