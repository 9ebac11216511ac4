#include "delivery/message/personal_fields.h"

#include "delivery/message/html_text.h"
#include "store/text.h"

#include <algorithm>
#include <cctype>

namespace velmora::delivery {

namespace {

struct FieldRef {
    std::size_t begin = 0; // of "{{"
    std::size_t end = 0;   // after "}}"
    std::string name;
    std::optional<std::string> fallback;
};

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// Finds the fields of a text from left to right in time linear in its
// length, however many "{{" it holds: each search goes on from where the
// last one stopped instead of scanning the rest of the text again.
class FieldScanner {
public:
    explicit FieldScanner(std::string_view text) : text_(text) {}

    // The next field at or after `from` (`from` never goes back).
    std::optional<FieldRef> next(std::size_t from) {
        while (true) {
            const std::size_t open = text_.find("{{", from);
            if (open == std::string_view::npos) {
                return std::nullopt;
            }
            const std::size_t inside = open + 2;
            // The first "}}" after the "{{"; one found for an earlier "{{"
            // still is unless this "{{" lies past it.
            if (!closeKnown_ || (close_ != std::string_view::npos && close_ < inside)) {
                close_ = text_.find("}}", inside);
                closeKnown_ = true;
            }
            if (close_ == std::string_view::npos) {
                return std::nullopt;
            }
            // A field holds no other "{{": the nearest one decides, and the
            // search for the next field goes on from there.
            const std::size_t nested = text_.find("{{", inside);
            if (nested == std::string_view::npos || nested + 2 > close_) {
                if (std::optional<FieldRef> ref = fieldAt(open, close_)) {
                    return ref;
                }
            }
            from = open + 1;
        }
    }

private:
    // "{{ name }}" or "{{ name | fallback }}" between `open` and `close`.
    std::optional<FieldRef> fieldAt(std::size_t open, std::size_t close) const {
        std::size_t at = open + 2;
        while (at < close && isBlank(text_[at])) {
            ++at;
        }
        const std::size_t nameBegin = at;
        while (at < close && isNameCharacter(text_[at])) {
            ++at;
        }
        const std::size_t nameEnd = at;
        while (at < close && isBlank(text_[at])) {
            ++at;
        }
        if (nameBegin == nameEnd || (at < close && text_[at] != '|')) {
            return std::nullopt;
        }
        FieldRef ref{open, close + 2, std::string(text_.substr(nameBegin, nameEnd - nameBegin)),
                     std::nullopt};
        if (at < close) {
            ref.fallback = std::string(text_.substr(at + 1, close - at - 1));
        }
        return ref;
    }

    std::string_view text_;
    std::size_t close_ = 0;
    bool closeKnown_ = false;
};

bool sameName(std::string_view a, std::string_view b) {
    return store::equalIgnoringAsciiCase(a, b);
}

std::optional<std::string> valueOf(std::string_view name, const PersonalValues& values) {
    if (sameName(name, "email")) {
        return values.email;
    }
    if (sameName(name, "name")) {
        return values.name;
    }
    if (sameName(name, "firstName")) {
        const std::string_view full = trimBlanks(values.name);
        return std::string(full.substr(0, full.find_first_of(" \t")));
    }
    if (sameName(name, "company")) {
        return values.company;
    }
    if (sameName(name, "address")) {
        return values.address;
    }
    if (sameName(name, "telephone")) {
        return values.telephone;
    }
    if (sameName(name, "notes")) {
        return values.notes;
    }
    if (sameName(name, "unsubscribeUrl")) {
        return values.unsubscribeUrl;
    }
    return std::nullopt;
}

} // namespace

PersonalValues personalValues(const store::Contact& contact) {
    PersonalValues values;
    values.email = contact.email.str();
    values.name = contact.name.str();
    values.company = contact.company.str();
    values.address = contact.address.str();
    values.telephone = contact.telephone.str();
    values.notes = contact.notes.str();
    return values;
}

std::optional<std::string> unknownPersonalField(std::string_view text) {
    const PersonalValues none;
    FieldScanner fields(text);
    for (std::optional<FieldRef> ref = fields.next(0); ref; ref = fields.next(ref->end)) {
        if (!valueOf(ref->name, none)) {
            return ref->name;
        }
    }
    return std::nullopt;
}

std::vector<PersonalFieldUse> personalFieldsIn(std::string_view text) {
    std::vector<PersonalFieldUse> uses;
    FieldScanner fields(text);
    for (std::optional<FieldRef> ref = fields.next(0); ref; ref = fields.next(ref->end)) {
        uses.push_back({ref->name, ref->fallback});
    }
    return uses;
}

std::optional<std::string> personalFieldValue(std::string_view name, const PersonalValues& values) {
    return valueOf(name, values);
}

bool hasPersonalFields(std::string_view text) {
    return FieldScanner(text).next(0).has_value();
}

std::string fillPersonalFields(std::string_view text, const PersonalValues& values,
                               FieldSyntax syntax) {
    std::string out;
    std::size_t copied = 0;
    FieldScanner fields(text);
    for (std::optional<FieldRef> ref = fields.next(0); ref; ref = fields.next(ref->end)) {
        const std::optional<std::string> value = valueOf(ref->name, values);
        if (!value) {
            continue;
        }
        out.append(text.substr(copied, ref->begin - copied));
        if (!trimBlanks(*value).empty()) {
            out += syntax == FieldSyntax::Html ? escapeHtml(*value) : *value;
        } else if (ref->fallback) {
            out += *ref->fallback;
        }
        copied = ref->end;
    }
    out.append(text.substr(copied));
    return out;
}

std::string percentEncoded(std::string_view text) {
    std::string out;
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(ch);
        } else {
            out.push_back('%');
            store::appendHex(out, c, store::HexDigits::Upper);
        }
    }
    return out;
}

std::string unknownFieldProblem(std::string_view name) {
    return "The personal field \"{{" + std::string(name) + "}}\" is unknown.";
}

std::string unknownFieldText(std::string_view name) {
    return unknownFieldProblem(name) + " Nothing was sent.";
}

} // namespace velmora::delivery
