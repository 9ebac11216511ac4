// Any line of a delivery journal must parse or be refused without a crash;
// an object that parses must write back to a line that parses to the same
// fields, and any text must survive being written and read back.
#include "delivery/json_line.h"
#include "store/text_encoding.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::string rewrite(const JsonObject& object) {
    JsonLineWriter writer;
    for (const auto& [key, value] : object.fields) {
        switch (value.kind) {
        case JsonValue::Kind::String:
            writer.add(key, std::string_view(value.text));
            break;
        case JsonValue::Kind::Integer:
            writer.add(key, value.integer);
            break;
        case JsonValue::Kind::Boolean:
            writer.add(key, value.boolean);
            break;
        case JsonValue::Kind::Null:
            break;
        }
    }
    return writer.line();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::optional<JsonObject> object = parseJsonLine(bytes)) {
        const std::string line = rewrite(*object);
        const std::optional<JsonObject> again = parseJsonLine(line);
        if (!again || rewrite(*again) != line) {
            std::abort();
        }
    }
    // Valid UTF-8 text comes back unchanged from a written line.
    if (isValidUtf8(bytes)) {
        const std::optional<JsonObject> text =
            parseJsonLine(JsonLineWriter().add("t", bytes).line());
        if (!text || text->text("t") != bytes) {
            std::abort();
        }
    }
    return 0;
}
