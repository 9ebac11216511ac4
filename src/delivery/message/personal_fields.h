#pragma once

#include "store/records.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// What the personal fields of one recipient's message are filled with.
struct PersonalValues {
    std::string email;
    std::string name;
    std::string company;
    std::string address;
    std::string telephone;
    std::string notes;
    std::string unsubscribeUrl;
};

// The field names a message may hold, as "{{name}}" or "{{name|fallback}}".
inline constexpr std::string_view kPersonalFieldNames[] = {
    "email", "name", "firstName", "company", "address", "telephone", "notes", "unsubscribeUrl"};

// The values of a contact (its unsubscribe address is the caller's).
PersonalValues personalValues(const store::Contact& contact);

// The name of the first field in `text` that is not one of
// kPersonalFieldNames; nothing when every field is known.
std::optional<std::string> unknownPersonalField(std::string_view text);

// One field as written in a text: "{{company|our friends}}" gives the name
// "company" and the fallback "our friends".
struct PersonalFieldUse {
    std::string name;
    std::optional<std::string> fallback;
};
// Every field of `text`, known or not, in the order they stand.
std::vector<PersonalFieldUse> personalFieldsIn(std::string_view text);
// The value a field takes for `values` (before any fallback); nothing for an
// unknown name.
std::optional<std::string> personalFieldValue(std::string_view name, const PersonalValues& values);
// Whether `text` holds any field at all.
bool hasPersonalFields(std::string_view text);

enum class FieldSyntax {
    PlainText, // values go in as they are
    Html,      // values are HTML-escaped; a fallback is HTML already
};

// `text` with each field replaced by its value, or by its fallback when the
// value is empty ("" without one). Unknown fields stay as they are (a run
// refuses them before it starts). Text between "{{" and "}}" that is no
// field name (letters and digits) is left alone.
std::string fillPersonalFields(std::string_view text, const PersonalValues& values,
                               FieldSyntax syntax);

// The address percent-encoded for a URL's query: "{{email}}" in the
// unsubscribeUrl setting becomes this.
std::string percentEncoded(std::string_view text);

// "The personal field "{{NAME}}" is unknown."
std::string unknownFieldProblem(std::string_view name);
// The same, then " Nothing was sent."
std::string unknownFieldText(std::string_view name);

} // namespace velmora::delivery
