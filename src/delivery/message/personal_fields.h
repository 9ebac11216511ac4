#pragma once

#include "store/records.h"

#include <optional>
#include <string>
#include <string_view>

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

// "The personal field "{{NAME}}" is unknown. Nothing was sent."
std::string unknownFieldText(std::string_view name);

} // namespace velmora::delivery
