#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::cli {

// Writes JSON as it goes, in exactly the layout of nlohmann's dump with an
// indent of 2 (invalid UTF-8 replaced), so a command can print a million
// records without first building them all as one document. Object keys are
// written in the order given: callers give them sorted, as nlohmann keeps them.
class JsonStreamWriter {
public:
    explicit JsonStreamWriter(std::ostream& out);
    ~JsonStreamWriter();
    JsonStreamWriter(const JsonStreamWriter&) = delete;
    JsonStreamWriter& operator=(const JsonStreamWriter&) = delete;

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The name of the next value in the open object.
    void key(std::string_view name);

    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void value(const std::string& text) { value(std::string_view(text)); }
    void value(std::int64_t number);
    void value(std::int32_t number) { value(static_cast<std::int64_t>(number)); }
    void null();
    // A whole nlohmann value, laid out at the current depth.
    void value(const nlohmann::json& document);

    // Ends the document with a line break and hands everything to the stream.
    void finish();

private:
    void beforeValue();
    void writeString(std::string_view text);
    void indent(std::size_t depth);
    void flushIfLarge();
    void flush();

    struct Level {
        bool isArray;
        bool empty;
    };
    std::ostream& out_;
    std::string buffer_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

} // namespace velmora::cli
