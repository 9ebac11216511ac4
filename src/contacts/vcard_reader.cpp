#include "contacts/vcard_reader.h"

#include "store/text.h"
#include "store/text_encoding.h"

namespace velmora::contacts {

namespace {

struct Line {
    std::int64_t number = 0;
    std::string text;
};

bool equalsUpper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != upper[i]) {
            return false;
        }
    }
    return true;
}

bool containsUpper(std::string_view text, std::string_view upper) {
    for (std::size_t i = 0; i + upper.size() <= text.size(); ++i) {
        if (equalsUpper(text.substr(i, upper.size()), upper)) {
            return true;
        }
    }
    return false;
}

// Physical lines (CR LF, LF or CR), each with its number.
std::vector<Line> physicalLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t i = 0;
    std::int64_t number = 1;
    while (i < text.size()) {
        std::size_t end = i;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        lines.push_back({number++, std::string(text.substr(i, end - i))});
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() &&
            text[end + 1] == '\n') {
            ++end;
        }
        i = end + 1;
    }
    return lines;
}

std::string_view propertyHead(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ':' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
}

bool isQuotedPrintable(std::string_view head) {
    return containsUpper(head, "QUOTED-PRINTABLE");
}

// Joins folded lines: a line that starts with a blank continues the one
// before; a quoted-printable value ending in "=" continues on the next line.
std::vector<Line> logicalLines(std::string_view text) {
    std::vector<Line> lines;
    bool softBreak = false;
    for (Line& line : physicalLines(text)) {
        if (!lines.empty() && !line.text.empty() && (line.text[0] == ' ' || line.text[0] == '\t')) {
            lines.back().text.append(line.text, 1);
        } else if (softBreak) {
            lines.back().text.append(line.text);
        } else {
            lines.push_back(std::move(line));
        }
        const std::string& last = lines.back().text;
        softBreak = !last.empty() && last.back() == '=' && isQuotedPrintable(propertyHead(last)) &&
                    propertyHead(last).size() < last.size();
        if (softBreak) {
            lines.back().text.pop_back();
        }
    }
    return lines;
}

std::string decodeQuotedPrintable(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '=' && i + 2 < value.size() && store::hexDigitValue(value[i + 1]) >= 0 &&
            store::hexDigitValue(value[i + 2]) >= 0) {
            out.push_back(static_cast<char>(store::hexDigitValue(value[i + 1]) * 16 +
                                            store::hexDigitValue(value[i + 2])));
            i += 2;
        } else {
            out.push_back(value[i]);
        }
    }
    return out;
}

// Splits at unescaped `separator` and resolves backslash escapes.
std::vector<std::string> splitValue(std::string_view value, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            parts.back().push_back(next == 'n' || next == 'N' ? '\n' : next);
        } else if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

std::string unescapeValue(std::string_view value) {
    return splitValue(value, '\0').front();
}

std::string joinNonEmpty(const std::vector<std::string>& parts, std::string_view separator) {
    std::string joined;
    for (const std::string& part : parts) {
        if (part.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined.append(separator);
        }
        joined.append(part);
    }
    return joined;
}

std::string part(const std::vector<std::string>& parts, std::size_t i) {
    return i < parts.size() ? parts[i] : std::string();
}

// ADR: post office box; extended address; street; locality; region; postal
// code; country. Street lines first, then the town line, then the country.
std::string addressText(std::string_view value) {
    const std::vector<std::string> p = splitValue(value, ';');
    const std::string street = joinNonEmpty({part(p, 0), part(p, 1), part(p, 2)}, ", ");
    const std::string town = joinNonEmpty({part(p, 3), part(p, 4), part(p, 5)}, " ");
    return joinNonEmpty({street, town, part(p, 6)}, "\n");
}

std::string trimmedBlanks(std::string_view text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) {
        ++b;
    }
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) {
        --e;
    }
    return std::string(text.substr(b, e - b));
}

} // namespace

bool looksLikeVCard(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::size_t i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
        ++i;
    }
    return text.size() - i >= 11 && equalsUpper(text.substr(i, 11), "BEGIN:VCARD");
}

std::vector<VCard> readVCards(std::string_view text) {
    std::vector<VCard> cards;
    bool inCard = false;
    int nesting = 0; // an embedded card (AGENT of 2.1) is skipped
    std::string familyGiven;
    for (const Line& line : logicalLines(text)) {
        const std::string_view head = propertyHead(line.text);
        if (head.size() == line.text.size()) {
            continue; // no value: not a property
        }
        std::string_view value = std::string_view(line.text).substr(head.size() + 1);
        std::string_view name = head.substr(0, head.find(';'));
        if (const std::size_t dot = name.rfind('.'); dot != std::string_view::npos) {
            name.remove_prefix(dot + 1); // a group prefix ("item1.EMAIL")
        }
        const std::string upperValue = trimmedBlanks(value);
        if (equalsUpper(name, "BEGIN") && equalsUpper(upperValue, "VCARD")) {
            if (inCard) {
                ++nesting;
            } else {
                inCard = true;
                cards.emplace_back();
                cards.back().line = line.number;
                familyGiven.clear();
            }
            continue;
        }
        if (!inCard) {
            continue;
        }
        if (equalsUpper(name, "END") && equalsUpper(upperValue, "VCARD")) {
            if (nesting > 0) {
                --nesting;
                continue;
            }
            inCard = false;
            if (cards.back().name.empty()) {
                cards.back().name = familyGiven;
            }
            continue;
        }
        if (nesting > 0) {
            continue;
        }
        std::string decoded;
        if (isQuotedPrintable(head)) {
            decoded = store::textFromFileBytes(decodeQuotedPrintable(value));
            value = decoded;
        }
        VCard& card = cards.back();
        if (equalsUpper(name, "FN")) {
            card.name = trimmedBlanks(unescapeValue(value));
        } else if (equalsUpper(name, "N")) {
            const std::vector<std::string> p = splitValue(value, ';');
            familyGiven = joinNonEmpty({trimmedBlanks(part(p, 1)), trimmedBlanks(part(p, 0))}, " ");
        } else if (equalsUpper(name, "EMAIL")) {
            std::string email = trimmedBlanks(unescapeValue(value));
            if (email.size() > 7 && equalsUpper(std::string_view(email).substr(0, 7), "MAILTO:")) {
                email.erase(0, 7); // 4.0 allows a URI
            }
            if (!email.empty()) {
                card.emails.push_back(std::move(email));
            }
        } else if (equalsUpper(name, "ORG") && card.company.empty()) {
            card.company = joinNonEmpty(splitValue(value, ';'), ", ");
        } else if (equalsUpper(name, "TEL") && card.telephone.empty()) {
            std::string tel = trimmedBlanks(unescapeValue(value));
            if (tel.size() > 4 && equalsUpper(std::string_view(tel).substr(0, 4), "TEL:")) {
                tel.erase(0, 4);
            }
            card.telephone = std::move(tel);
        } else if (equalsUpper(name, "ADR") && card.address.empty()) {
            card.address = addressText(value);
        } else if (equalsUpper(name, "NOTE")) {
            card.notes = unescapeValue(value);
        }
    }
    if (inCard && cards.back().name.empty()) {
        cards.back().name = familyGiven;
    }
    return cards;
}

} // namespace velmora::contacts
