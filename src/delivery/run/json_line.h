#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::delivery {

// One flat JSON object on one line: the run journal's record form. Values
// are strings, integers or booleans; nothing nests, so a person can read a
// journal with any text tool and the core needs no JSON library.
class JsonLineWriter {
public:
    JsonLineWriter& add(std::string_view key, std::string_view value);
    JsonLineWriter& add(std::string_view key, const char* value) {
        return add(key, std::string_view(value));
    }
    JsonLineWriter& add(std::string_view key, std::int64_t value);
    JsonLineWriter& add(std::string_view key, std::int32_t value) {
        return add(key, static_cast<std::int64_t>(value));
    }
    JsonLineWriter& add(std::string_view key, bool value);
    // The object, closed, with a line feed.
    std::string line() const;

private:
    void key(std::string_view name);
    std::string text_;
};

// A JSON string literal of `text`, quotes included. Bytes that are not
// valid UTF-8 become U+FFFD so that the line stays valid JSON.
std::string jsonQuoted(std::string_view text);

struct JsonValue {
    // Number: a number that is no integer (a server's answer only), its text in `text`.
    enum class Kind { String, Integer, Number, Boolean, Null };
    Kind kind = Kind::Null;
    std::string text;
    std::int64_t integer = 0;
    bool boolean = false;
};

class JsonObject {
public:
    using Field = std::pair<std::string, JsonValue>;
    std::vector<Field> fields;

    const JsonValue* find(std::string_view key) const;
    // The field's value, or `fallback` when it is absent or of another kind.
    std::string text(std::string_view key, std::string_view fallback = "") const;
    std::int64_t integer(std::string_view key, std::int64_t fallback = 0) const;
    bool boolean(std::string_view key, bool fallback = false) const;
};

// Parses one flat object (surrounding blanks allowed); nothing when the line
// is not one: torn, nested or not JSON.
std::optional<JsonObject> parseJsonLine(std::string_view line);
// A server's answer (a token endpoint's, a token's claims): one object read
// as parseJsonLine reads it, except that nested objects and arrays are
// skipped and numbers may have fractions or exponents.
std::optional<JsonObject> parseJsonAnswer(std::string_view text);

} // namespace velmora::delivery
