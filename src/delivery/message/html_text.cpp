#include "delivery/message/html_text.h"

#include "store/text.h"
#include "store/text_encoding.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

namespace velmora::delivery {

namespace {

constexpr std::size_t kWrapWidth = 76;

// A character reference's code point; one that names no character is
// written as U+FFFD.
void appendReferenced(std::string& out, unsigned long code) {
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        code = 0xFFFD;
    }
    store::appendUtf8(out, static_cast<char32_t>(code));
}

struct NamedEntity {
    std::string_view name;
    unsigned long code;
};

// The entities an editor writes; others stay as they stand.
constexpr NamedEntity kEntities[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},       {"quot", '"'},     {"apos", '\''},
    {"nbsp", ' '},     {"copy", 0xA9},    {"reg", 0xAE},     {"trade", 0x2122}, {"hellip", 0x2026},
    {"mdash", 0x2014}, {"ndash", 0x2013}, {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C},
    {"rdquo", 0x201D}, {"euro", 0x20AC},  {"pound", 0xA3},   {"yen", 0xA5},     {"sect", 0xA7},
    {"deg", 0xB0},     {"middot", 0xB7},  {"bull", 0x2022},  {"auml", 0xE4},    {"ouml", 0xF6},
    {"uuml", 0xFC},    {"Auml", 0xC4},    {"Ouml", 0xD6},    {"Uuml", 0xDC},    {"szlig", 0xDF},
    {"eacute", 0xE9},  {"egrave", 0xE8},  {"agrave", 0xE0},  {"ccedil", 0xE7},  {"ntilde", 0xF1},
};

// Decodes the entity at `text[i]` == '&'; returns the characters consumed
// (0 when it is no entity).
std::size_t decodeEntity(std::string_view text, std::size_t i, std::string& out) {
    const std::size_t semicolon = text.find(';', i);
    if (semicolon == std::string_view::npos || semicolon - i > 10) {
        return 0;
    }
    const std::string_view name = text.substr(i + 1, semicolon - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) {
            return 0;
        }
        unsigned long code = 0;
        for (char c : digits) {
            const int value = store::hexDigitValue(c);
            const int digit = value >= 0 && (hex || value < 10) ? value : -1;
            if (digit < 0) {
                return 0;
            }
            code = std::min(code * (hex ? 16 : 10) + static_cast<unsigned long>(digit), 0x110000UL);
        }
        appendReferenced(out, code == 0xA0 ? ' ' : code);
        return semicolon - i + 1;
    }
    for (const NamedEntity& entity : kEntities) {
        if (entity.name == name) {
            appendReferenced(out, entity.code);
            return semicolon - i + 1;
        }
    }
    return 0;
}

std::string decodeEntities(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const std::size_t used = decodeEntity(text, i, out);
            if (used > 0) {
                i += used - 1;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

struct Tag {
    std::string name; // lower case, without "/"
    bool closing = false;
    std::string href;
};

// The attribute `wanted` of a tag's inside text (after its name).
std::string attribute(std::string_view inside, std::string_view wanted) {
    std::size_t i = 0;
    while (i < inside.size()) {
        while (i < inside.size() &&
               (std::isspace(static_cast<unsigned char>(inside[i])) || inside[i] == '/')) {
            ++i;
        }
        const std::size_t nameStart = i;
        while (i < inside.size() && inside[i] != '=' &&
               !std::isspace(static_cast<unsigned char>(inside[i])) && inside[i] != '/') {
            ++i;
        }
        const std::string name = store::toLowerAscii(inside.substr(nameStart, i - nameStart));
        while (i < inside.size() && std::isspace(static_cast<unsigned char>(inside[i]))) {
            ++i;
        }
        std::string value;
        if (i < inside.size() && inside[i] == '=') {
            ++i;
            while (i < inside.size() && std::isspace(static_cast<unsigned char>(inside[i]))) {
                ++i;
            }
            if (i < inside.size() && (inside[i] == '"' || inside[i] == '\'')) {
                const char quote = inside[i];
                const std::size_t end = inside.find(quote, i + 1);
                const std::size_t stop = end == std::string_view::npos ? inside.size() : end;
                value = inside.substr(i + 1, stop - i - 1);
                i = stop + 1;
            } else {
                const std::size_t start = i;
                while (i < inside.size() && !std::isspace(static_cast<unsigned char>(inside[i]))) {
                    ++i;
                }
                value = inside.substr(start, i - start);
            }
        }
        if (name == wanted) {
            return decodeEntities(value);
        }
        if (name.empty() && value.empty()) {
            ++i;
        }
    }
    return {};
}

// Collects the text block by block; a block is a paragraph or a line.
class TextWriter {
public:
    void text(std::string_view decoded) {
        for (char c : decoded) {
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                pendingSpace_ = !line_.empty() || !prefix_.empty();
                continue;
            }
            if (pendingSpace_ && !line_.empty()) {
                line_.push_back(' ');
            }
            pendingSpace_ = false;
            line_.push_back(c);
        }
    }
    // The raw text of a pre element: its line breaks and blanks stay.
    void preformatted(std::string_view decoded) {
        for (char c : decoded) {
            if (c == '\r') {
                continue;
            }
            if (c == '\n') {
                endLine(true);
            } else {
                line_.push_back(c);
            }
        }
    }
    void lineBreak() { endLine(true); }
    // Ends the current line unless it is empty.
    void newLine() { endLine(false); }
    void paragraph() {
        endLine(false);
        if (!lines_.empty() && !lines_.back().empty()) {
            lines_.emplace_back();
        }
    }
    void startListItem() {
        endLine(false);
        prefix_ = "- ";
    }
    // Text after a word, one blank apart (a link's address).
    void appendWord(std::string_view text) {
        if (!line_.empty()) {
            line_.push_back(' ');
        }
        pendingSpace_ = false;
        line_.append(text);
    }

    std::string finish() {
        endLine(false);
        while (!lines_.empty() && lines_.back().empty()) {
            lines_.pop_back();
        }
        std::string out;
        for (const std::string& line : lines_) {
            wrap(line, out);
        }
        return out;
    }

private:
    void endLine(bool evenEmpty) {
        pendingSpace_ = false;
        if (line_.empty() && !evenEmpty) {
            return;
        }
        lines_.push_back(prefix_ + line_);
        line_.clear();
        prefix_.clear();
    }

    static void wrap(const std::string& line, std::string& out) {
        const std::size_t indent = line.starts_with("- ") ? 2 : 0;
        std::size_t start = 0;
        bool first = true;
        while (true) {
            const std::size_t room = kWrapWidth - (first ? 0 : indent);
            if (line.size() - start <= room) {
                break;
            }
            std::size_t cut = line.rfind(' ', start + room);
            if (cut == std::string::npos || cut <= start + (first ? indent : 0)) {
                cut = line.find(' ', start + room);
                if (cut == std::string::npos) {
                    break;
                }
            }
            out.append(first ? 0 : indent, ' ');
            out.append(line, start, cut - start);
            out.push_back('\n');
            start = cut + 1;
            first = false;
        }
        out.append(first ? 0 : indent, ' ');
        out.append(line, start);
        out.push_back('\n');
    }

    std::vector<std::string> lines_;
    std::string line_;
    std::string prefix_;
    bool pendingSpace_ = false;
};

bool isParagraphTag(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "p",     "h1", "h2",         "h3",  "h4", "h5",      "h6",   "ul",       "ol",
        "table", "hr", "blockquote", "pre", "dl", "address", "form", "fieldset", "figure"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

bool isLineTag(std::string_view name) {
    static constexpr std::string_view kNames[] = {"div",     "tr",      "dt",     "dd",
                                                  "section", "article", "header", "footer",
                                                  "nav",     "center",  "caption"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

} // namespace

std::string escapeHtml(std::string_view text, HtmlEscaping escaping) {
    const bool doubleQuote = escaping != HtmlEscaping::Text;
    const bool singleQuote = escaping == HtmlEscaping::AttributeValue;
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += doubleQuote ? "&quot;" : "\"";
            break;
        case '\'':
            out += singleQuote ? "&#39;" : "'";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string plainTextFromHtml(std::string_view html) {
    TextWriter writer;
    std::string href;         // of the open link
    std::string linkTextSeen; // the link's text, to leave out an address it repeats
    bool inLink = false;
    int preDepth = 0;
    std::size_t i = 0;
    while (i < html.size()) {
        if (html[i] != '<') {
            const std::size_t next = std::min(html.find('<', i), html.size());
            const std::string decoded = decodeEntities(html.substr(i, next - i));
            if (preDepth > 0) {
                writer.preformatted(decoded);
            } else {
                writer.text(decoded);
            }
            if (inLink) {
                linkTextSeen += decoded;
            }
            i = next;
            continue;
        }
        if (html.substr(i, 4) == "<!--") {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const std::size_t close = html.find('>', i);
        if (close == std::string_view::npos) {
            writer.text(decodeEntities(html.substr(i)));
            break;
        }
        std::string_view inside = html.substr(i + 1, close - i - 1);
        i = close + 1;
        Tag tag;
        if (!inside.empty() && inside.front() == '/') {
            tag.closing = true;
            inside.remove_prefix(1);
        }
        std::size_t nameEnd = 0;
        while (
            nameEnd < inside.size() &&
            (std::isalnum(static_cast<unsigned char>(inside[nameEnd])) || inside[nameEnd] == '!')) {
            ++nameEnd;
        }
        tag.name = store::toLowerAscii(inside.substr(0, nameEnd));
        if (tag.name == "script" || tag.name == "style" || tag.name == "head" ||
            tag.name == "title") {
            if (!tag.closing) {
                // Their content is not text for the reader.
                const std::string end = "</" + tag.name;
                std::size_t at = i;
                while (at < html.size() &&
                       store::toLowerAscii(html.substr(at, end.size())) != end) {
                    at = std::min(html.find('<', at + 1), html.size());
                }
                const std::size_t after = html.find('>', at);
                i = after == std::string_view::npos ? html.size() : after + 1;
            }
            continue;
        }
        if (tag.name == "br") {
            writer.lineBreak();
        } else if (tag.name == "li") {
            if (!tag.closing) {
                writer.startListItem();
            } else {
                writer.newLine();
            }
        } else if (tag.name == "pre") {
            writer.paragraph();
            preDepth = std::max(0, preDepth + (tag.closing ? -1 : 1));
        } else if (isParagraphTag(tag.name)) {
            writer.paragraph();
        } else if (isLineTag(tag.name)) {
            writer.newLine();
        } else if (tag.name == "td" || tag.name == "th") {
            if (!tag.closing) {
                writer.text(" ");
            }
        } else if (tag.name == "img" && !tag.closing) {
            const std::string alt = attribute(inside.substr(nameEnd), "alt");
            if (!alt.empty()) {
                writer.text(alt);
            }
        } else if (tag.name == "a") {
            if (!tag.closing) {
                href = attribute(inside.substr(nameEnd), "href");
                linkTextSeen.clear();
                inLink = true;
            } else if (inLink) {
                inLink = false;
                std::string shown = href;
                if (shown.starts_with("mailto:")) {
                    shown.erase(0, 7);
                }
                const bool repeats = linkTextSeen.find(shown) != std::string::npos;
                if (!shown.empty() && !href.starts_with("#") && !repeats) {
                    writer.appendWord("(" + shown + ")");
                }
                href.clear();
            }
        }
    }
    return writer.finish();
}

HtmlReferences htmlReferences(std::string_view html) {
    HtmlReferences found;
    std::optional<std::size_t> openLink; // index into found.links
    std::size_t i = 0;
    while (i < html.size()) {
        if (html[i] != '<') {
            const std::size_t next = std::min(html.find('<', i), html.size());
            if (openLink) {
                found.links[*openLink].text += decodeEntities(html.substr(i, next - i));
            }
            i = next;
            continue;
        }
        if (html.substr(i, 4) == "<!--") {
            const std::size_t end = html.find("-->", i + 4);
            i = end == std::string_view::npos ? html.size() : end + 3;
            continue;
        }
        const std::size_t close = html.find('>', i);
        if (close == std::string_view::npos) {
            break;
        }
        std::string_view inside = html.substr(i + 1, close - i - 1);
        i = close + 1;
        const bool closing = !inside.empty() && inside.front() == '/';
        if (closing) {
            inside.remove_prefix(1);
        }
        std::size_t nameEnd = 0;
        while (nameEnd < inside.size() &&
               std::isalnum(static_cast<unsigned char>(inside[nameEnd]))) {
            ++nameEnd;
        }
        const std::string name = store::toLowerAscii(inside.substr(0, nameEnd));
        if ((name == "script" || name == "style") && !closing) {
            const std::string end = "</" + name;
            std::size_t at = i;
            while (at < html.size() && store::toLowerAscii(html.substr(at, end.size())) != end) {
                at = std::min(html.find('<', at + 1), html.size());
            }
            i = at;
            continue;
        }
        if (name == "a") {
            if (closing) {
                openLink.reset();
            } else {
                found.links.push_back({attribute(inside.substr(nameEnd), "href"), ""});
                openLink = found.links.size() - 1;
            }
        } else if (name == "img" && !closing) {
            const std::string_view attributes = inside.substr(nameEnd);
            found.images.push_back({attribute(attributes, "src"), attribute(attributes, "alt")});
        }
    }
    for (HtmlLink& link : found.links) {
        std::string text;
        for (char c : link.text) {
            const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
            if (!blank) {
                text.push_back(c);
            } else if (!text.empty() && text.back() != ' ') {
                text.push_back(' ');
            }
        }
        link.text = std::string(store::trimSpaces(text));
    }
    return found;
}

} // namespace velmora::delivery
