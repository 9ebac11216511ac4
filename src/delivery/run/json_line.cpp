#include "delivery/run/json_line.h"

#include "store/text.h"
#include "store/text_encoding.h"

#include <charconv>

namespace velmora::delivery {

namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
        return 1;
    }
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) {
        return 0;
    }
    std::uint32_t cp = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

class Parser {
public:
    // `answer`: a server's answer (parseJsonAnswer).
    Parser(std::string_view text, bool answer) : s_(text), answer_(answer) {}

    std::optional<JsonObject> object() {
        JsonObject result;
        blanks();
        if (!take('{')) {
            return std::nullopt;
        }
        blanks();
        if (!take('}')) {
            do {
                blanks();
                std::string key;
                if (!string(key)) {
                    return std::nullopt;
                }
                blanks();
                if (!take(':')) {
                    return std::nullopt;
                }
                blanks();
                if (answer_ && i_ < s_.size() && (s_[i_] == '{' || s_[i_] == '[')) {
                    if (!skipNested()) {
                        return std::nullopt;
                    }
                    blanks();
                    continue;
                }
                JsonValue value;
                if (!scalar(value)) {
                    return std::nullopt;
                }
                result.fields.emplace_back(std::move(key), std::move(value));
                blanks();
            } while (take(','));
            if (!take('}')) {
                return std::nullopt;
            }
        }
        blanks();
        if (i_ != s_.size()) {
            return std::nullopt;
        }
        return result;
    }

private:
    bool take(char c) {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) == w) {
            i_ += w.size();
            return true;
        }
        return false;
    }
    void blanks() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) {
            ++i_;
        }
    }
    bool hex4(std::uint32_t& out) {
        if (i_ + 4 > s_.size()) {
            return false;
        }
        unsigned value = 0;
        const auto [ptr, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, value, 16);
        if (ec != std::errc() || ptr != s_.data() + i_ + 4) {
            return false;
        }
        i_ += 4;
        out = value;
        return true;
    }
    bool string(std::string& out) {
        if (!take('"')) {
            return false;
        }
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (i_ >= s_.size()) {
                return false;
            }
            const char e = s_[i_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out.push_back(e);
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'u': {
                std::uint32_t cp = 0;
                if (!hex4(cp)) {
                    return false;
                }
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                        return false;
                    }
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                }
                store::appendUtf8(out, static_cast<char32_t>(cp));
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool scalar(JsonValue& value) {
        if (i_ < s_.size() && s_[i_] == '"') {
            value.kind = JsonValue::Kind::String;
            return string(value.text);
        }
        if (word("true")) {
            value.kind = JsonValue::Kind::Boolean;
            value.boolean = true;
            return true;
        }
        if (word("false")) {
            value.kind = JsonValue::Kind::Boolean;
            return true;
        }
        if (word("null")) {
            value.kind = JsonValue::Kind::Null;
            return true;
        }
        const auto [ptr, ec] =
            std::from_chars(s_.data() + i_, s_.data() + s_.size(), value.integer);
        if (answer_) {
            // The whole number, whatever its form; an integer when it is one.
            std::size_t end = i_;
            while (end < s_.size() &&
                   std::string_view("+-.0123456789eE").find(s_[end]) != std::string_view::npos) {
                ++end;
            }
            if (ec == std::errc() && ptr == s_.data() + end) {
                value.kind = JsonValue::Kind::Integer;
            } else if (end > i_ && (s_[i_] == '-' || (s_[i_] >= '0' && s_[i_] <= '9'))) {
                value.kind = JsonValue::Kind::Number;
                value.text = std::string(s_.substr(i_, end - i_));
            } else {
                return false;
            }
            i_ = end;
            return true;
        }
        if (ec != std::errc()) {
            return false;
        }
        i_ = static_cast<std::size_t>(ptr - s_.data());
        value.kind = JsonValue::Kind::Integer;
        return true;
    }
    // Past one object or array, strings inside it included.
    bool skipNested() {
        int depth = 0;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == '"') {
                std::string ignored;
                if (!string(ignored)) {
                    return false;
                }
                continue;
            }
            ++i_;
            if (c == '{' || c == '[') {
                ++depth;
            } else if ((c == '}' || c == ']') && --depth == 0) {
                return true;
            }
        }
        return false;
    }

    std::string_view s_;
    bool answer_;
    std::size_t i_ = 0;
};

} // namespace

std::string jsonQuoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            store::appendHex(out, c);
        } else if (c >= 0x80) {
            const std::size_t n = utf8Length(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            out.push_back(static_cast<char>(c));
        }
        ++i;
    }
    out.push_back('"');
    return out;
}

void JsonLineWriter::key(std::string_view name) {
    text_.push_back(text_.empty() ? '{' : ',');
    text_ += jsonQuoted(name);
    text_.push_back(':');
}

JsonLineWriter& JsonLineWriter::add(std::string_view name, std::string_view value) {
    key(name);
    text_ += jsonQuoted(value);
    return *this;
}

JsonLineWriter& JsonLineWriter::add(std::string_view name, std::int64_t value) {
    key(name);
    text_ += std::to_string(value);
    return *this;
}

JsonLineWriter& JsonLineWriter::add(std::string_view name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
    return *this;
}

std::string JsonLineWriter::line() const {
    return (text_.empty() ? std::string("{") : text_) + "}\n";
}

const JsonValue* JsonObject::find(std::string_view key) const {
    for (const Field& field : fields) {
        if (field.first == key) {
            return &field.second;
        }
    }
    return nullptr;
}

std::string JsonObject::text(std::string_view key, std::string_view fallback) const {
    const JsonValue* v = find(key);
    return v != nullptr && v->kind == JsonValue::Kind::String ? v->text : std::string(fallback);
}

std::int64_t JsonObject::integer(std::string_view key, std::int64_t fallback) const {
    const JsonValue* v = find(key);
    return v != nullptr && v->kind == JsonValue::Kind::Integer ? v->integer : fallback;
}

bool JsonObject::boolean(std::string_view key, bool fallback) const {
    const JsonValue* v = find(key);
    return v != nullptr && v->kind == JsonValue::Kind::Boolean ? v->boolean : fallback;
}

std::optional<JsonObject> parseJsonLine(std::string_view line) {
    return Parser(line, false).object();
}

std::optional<JsonObject> parseJsonAnswer(std::string_view text) {
    return Parser(text, true).object();
}

} // namespace velmora::delivery
