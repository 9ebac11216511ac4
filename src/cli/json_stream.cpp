#include "cli/json_stream.h"

#include "store/text.h"
#include "store/text_encoding.h"

#include <charconv>
#include <ostream>

namespace velmora::cli {

namespace {

constexpr std::size_t kFlushSize = 1 << 16;

// Bytes that a JSON string cannot hold as they are, or that need the UTF-8
// check.
bool needsCare(unsigned char c) {
    return c < 0x20 || c == '"' || c == '\\' || c >= 0x80;
}

} // namespace

JsonStreamWriter::JsonStreamWriter(std::ostream& out) : out_(out) {
    buffer_.reserve(kFlushSize + 4096);
}

JsonStreamWriter::~JsonStreamWriter() {
    flush();
}

void JsonStreamWriter::indent(std::size_t depth) {
    buffer_.append(depth * 2, ' ');
}

void JsonStreamWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    Level& level = levels_.back();
    buffer_.append(level.empty ? "\n" : ",\n");
    level.empty = false;
    indent(levels_.size());
}

void JsonStreamWriter::beginObject() {
    beforeValue();
    buffer_.push_back('{');
    levels_.push_back({false, true});
}

void JsonStreamWriter::beginArray() {
    beforeValue();
    buffer_.push_back('[');
    levels_.push_back({true, true});
}

void JsonStreamWriter::endObject() {
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty) {
        buffer_.push_back('\n');
        indent(levels_.size());
    }
    buffer_.push_back('}');
    flushIfLarge();
}

void JsonStreamWriter::endArray() {
    const bool empty = levels_.back().empty;
    levels_.pop_back();
    if (!empty) {
        buffer_.push_back('\n');
        indent(levels_.size());
    }
    buffer_.push_back(']');
    flushIfLarge();
}

void JsonStreamWriter::key(std::string_view name) {
    beforeValue();
    writeString(name);
    buffer_.append(": ");
    afterKey_ = true;
}

void JsonStreamWriter::value(std::string_view text) {
    beforeValue();
    writeString(text);
}

void JsonStreamWriter::value(std::int64_t number) {
    beforeValue();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    buffer_.append(digits, end);
}

void JsonStreamWriter::null() {
    beforeValue();
    buffer_.append("null");
}

void JsonStreamWriter::value(const nlohmann::json& document) {
    switch (document.type()) {
    case nlohmann::json::value_t::object:
        beginObject();
        for (auto item = document.begin(); item != document.end(); ++item) {
            key(item.key());
            value(*item);
        }
        endObject();
        return;
    case nlohmann::json::value_t::array:
        beginArray();
        for (const auto& item : document) {
            value(item);
        }
        endArray();
        return;
    case nlohmann::json::value_t::string:
        value(std::string_view(document.get_ref<const std::string&>()));
        return;
    default:
        // Numbers, booleans and null: nlohmann's own spelling.
        beforeValue();
        buffer_.append(document.dump());
        return;
    }
}

void JsonStreamWriter::writeString(std::string_view text) {
    std::size_t plain = 0;
    while (plain < text.size() && !needsCare(static_cast<unsigned char>(text[plain]))) {
        ++plain;
    }
    if (plain == text.size()) {
        buffer_.push_back('"');
        buffer_.append(text);
        buffer_.push_back('"');
        return;
    }
    if (!store::isValidUtf8(text.substr(plain))) {
        // Rare (texts read from files are valid UTF-8): nlohmann's own
        // replacement of the broken sequences.
        buffer_.append(nlohmann::json(std::string(text))
                           .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        return;
    }
    buffer_.push_back('"');
    buffer_.append(text.substr(0, plain));
    for (std::size_t i = plain; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '\b':
            buffer_.append("\\b");
            break;
        case '\t':
            buffer_.append("\\t");
            break;
        case '\n':
            buffer_.append("\\n");
            break;
        case '\f':
            buffer_.append("\\f");
            break;
        case '\r':
            buffer_.append("\\r");
            break;
        case '"':
            buffer_.append("\\\"");
            break;
        case '\\':
            buffer_.append("\\\\");
            break;
        default:
            if (c < 0x20) {
                buffer_.append("\\u00");
                store::appendHex(buffer_, c);
            } else {
                buffer_.push_back(static_cast<char>(c));
            }
        }
    }
    buffer_.push_back('"');
}

void JsonStreamWriter::finish() {
    buffer_.push_back('\n');
    flush();
    out_.flush();
}

void JsonStreamWriter::flushIfLarge() {
    if (buffer_.size() >= kFlushSize) {
        flush();
    }
}

void JsonStreamWriter::flush() {
    if (!buffer_.empty()) {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }
}

} // namespace velmora::cli
