// Any line of a delivery journal must parse or be refused without a crash;
// an object that parses must write back to a line that parses to the same
// fields, and any text must survive being written and read back.
#include "delivery/run/json_line.h"
#include "store/text_encoding.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::string rewrite(const velmora::delivery::JsonObject& object) {
    velmora::delivery::JsonLineWriter writer;
    for (const auto& [key, value] : object.fields) {
        switch (value.kind) {
        case velmora::delivery::JsonValue::Kind::String:
            writer.add(key, std::string_view(value.text));
            break;
        case velmora::delivery::JsonValue::Kind::Integer:
            writer.add(key, value.integer);
            break;
        case velmora::delivery::JsonValue::Kind::Boolean:
            writer.add(key, value.boolean);
            break;
        case velmora::delivery::JsonValue::Kind::Null:
            break;
        case velmora::delivery::JsonValue::Kind::Number:
            std::abort(); // only a server's answer may hold one, never a journal line
        }
    }
    return writer.line();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const std::optional<velmora::delivery::JsonObject> object =
            velmora::delivery::parseJsonLine(bytes)) {
        const std::string line = rewrite(*object);
        const std::optional<velmora::delivery::JsonObject> again =
            velmora::delivery::parseJsonLine(line);
        if (!again || rewrite(*again) != line) {
            std::abort();
        }
    }
    // Valid UTF-8 text comes back unchanged from a written line.
    if (velmora::store::isValidUtf8(bytes)) {
        const std::optional<velmora::delivery::JsonObject> text = velmora::delivery::parseJsonLine(
            velmora::delivery::JsonLineWriter().add("t", bytes).line());
        if (!text || text->text("t") != bytes) {
            std::abort();
        }
    }
    return 0;
}
