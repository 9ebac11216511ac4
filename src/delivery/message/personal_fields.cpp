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

bool isFieldName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0;
    });
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// The next field at or after `from`.
std::optional<FieldRef> nextField(std::string_view text, std::size_t from) {
    while (true) {
        const std::size_t open = text.find("{{", from);
        if (open == std::string_view::npos) {
            return std::nullopt;
        }
        const std::size_t close = text.find("}}", open + 2);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view inside = text.substr(open + 2, close - open - 2);
        const std::size_t bar = inside.find('|');
        const std::string_view name = trimBlanks(inside.substr(0, bar));
        if (isFieldName(name) && inside.find("{{") == std::string_view::npos) {
            FieldRef ref{open, close + 2, std::string(name), std::nullopt};
            if (bar != std::string_view::npos) {
                ref.fallback = std::string(inside.substr(bar + 1));
            }
            return ref;
        }
        from = open + 1;
    }
}

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
    for (std::optional<FieldRef> ref = nextField(text, 0); ref; ref = nextField(text, ref->end)) {
        if (!valueOf(ref->name, none)) {
            return ref->name;
        }
    }
    return std::nullopt;
}

std::string fillPersonalFields(std::string_view text, const PersonalValues& values,
                               FieldSyntax syntax) {
    std::string out;
    std::size_t copied = 0;
    for (std::optional<FieldRef> ref = nextField(text, 0); ref; ref = nextField(text, ref->end)) {
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

std::string unknownFieldText(std::string_view name) {
    return "The personal field \"{{" + std::string(name) + "}}\" is unknown. Nothing was sent.";
}

} // namespace velmora::delivery
