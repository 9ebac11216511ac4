#include "delivery/settings_by_name.h"

#include "delivery/return_path.h"
#include "store/extension_settings.h"

#include <array>
#include <charconv>

namespace velmora::delivery {

namespace {

enum class FieldKind { Line, Text, Boolean, Number, Method, Format };

struct Field {
    std::string_view name;
    FieldKind kind;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
};

constexpr std::array kFields = {
    Field{"editorFormat", FieldKind::Format},
    Field{"deliveryMethod", FieldKind::Method},
    Field{"clientPath", FieldKind::Line},
    Field{"clientParameters", FieldKind::Line},
    Field{"smtpServer", FieldKind::Line},
    Field{"smtpPort", FieldKind::Number, 0, 65535},
    Field{"timeoutSeconds", FieldKind::Number, 0, 86400},
    Field{"requiresAuth", FieldKind::Boolean},
    Field{"userName", FieldKind::Line},
    Field{"password", FieldKind::Line},
    Field{"fromAddress", FieldKind::Line},
    Field{"replyTo", FieldKind::Line},
    Field{"signature", FieldKind::Text},
    Field{"includeSignature", FieldKind::Boolean},
};

constexpr std::array<std::string_view, 4> kMethodNames = {"none", "smtp", "default-client",
                                                          "custom-client"};
constexpr std::array<std::string_view, 2> kFormatNames = {"plain", "html"};

std::optional<std::int64_t> parseDecimal(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

// The position of `value` among `names`, or its code when it is one.
template <std::size_t N>
std::optional<std::int32_t> namedCode(const std::array<std::string_view, N>& names,
                                      std::string_view value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == value) {
            return static_cast<std::int32_t>(i);
        }
    }
    const auto number = parseDecimal(value);
    if (number && *number >= 0 && *number < static_cast<std::int64_t>(N)) {
        return static_cast<std::int32_t>(*number);
    }
    return std::nullopt;
}

template <std::size_t N> std::string joinedNames(const std::array<std::string_view, N>& names) {
    std::string out;
    for (std::string_view name : names) {
        out += out.empty() ? "" : "|";
        out += name;
    }
    return out;
}

std::string* textField(store::SessionSettings& s, std::string_view name) {
    if (name == "clientPath") {
        return &s.clientPath;
    }
    if (name == "clientParameters") {
        return &s.clientParameters;
    }
    if (name == "smtpServer") {
        return &s.smtpServer;
    }
    if (name == "userName") {
        return &s.userName;
    }
    if (name == "password") {
        return &s.password;
    }
    if (name == "fromAddress") {
        return &s.fromAddress;
    }
    if (name == "replyTo") {
        return &s.replyTo;
    }
    if (name == "signature") {
        return &s.signature;
    }
    return nullptr;
}

std::int32_t* numberField(store::SessionSettings& s, std::string_view name) {
    if (name == "smtpPort") {
        return &s.smtpPort;
    }
    if (name == "timeoutSeconds") {
        return &s.timeoutSeconds;
    }
    if (name == "requiresAuth") {
        return &s.requiresAuth;
    }
    if (name == "includeSignature") {
        return &s.includeSignature;
    }
    if (name == "deliveryMethod") {
        return &s.deliveryMethod;
    }
    if (name == "editorFormat") {
        return &s.editorFormat;
    }
    return nullptr;
}

SettingRefusal badValue(std::string_view name, std::string_view value, std::string_view allowed) {
    // A refused password is not repeated on the terminal.
    const auto relay = store::relayKeyName(name);
    const bool secret = name == "password" || (relay && relay->field == "password");
    const std::string shown = secret ? "********" : std::string(value);
    return {"Bad value \"" + shown + "\" for " + std::string(name) +
            "; allowed: " + std::string(allowed) + "."};
}

} // namespace

std::vector<std::string> settingNames() {
    std::vector<std::string> names;
    for (const Field& field : kFields) {
        names.emplace_back(field.name);
    }
    for (const store::ExtensionKey& key : store::extensionKeys()) {
        names.emplace_back(key.name);
    }
    // Relays 3 to 9 take the keys of relay 2.
    for (int relay = 1; relay <= 2; ++relay) {
        for (std::string& name : store::relayKeyNames(relay)) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::optional<SettingRefusal> setSettingByName(store::SessionSettings& settings,
                                               std::string_view name, std::string value) {
    if (const store::ExtensionKey* key = store::findExtensionKey(name)) {
        if (const auto why = validateExtensionValue(*key, value)) {
            return badValue(name, value, *why);
        }
        settings.extensions.set(name, std::move(value));
        // The key is made with the address, so that it is saved before a
        // run sends anything that needs it.
        ensureBounceKey(settings.extensions, systemRandomBytes);
        return std::nullopt;
    }
    const Field* field = nullptr;
    for (const Field& candidate : kFields) {
        if (candidate.name == name) {
            field = &candidate;
        }
    }
    if (field == nullptr) {
        std::string all;
        for (const std::string& known : settingNames()) {
            all += all.empty() ? "" : ", ";
            all += known;
        }
        return SettingRefusal{"Unknown setting \"" + std::string(name) +
                              "\"; the settings are: " + all + " (relays 3 to " +
                              std::to_string(store::kMaxRelays) + " as relay 2)."};
    }
    switch (field->kind) {
    case FieldKind::Line:
    case FieldKind::Text: {
        const bool lineBreak = value.find_first_of("\r\n") != std::string::npos;
        if (value.find('\0') != std::string::npos ||
            (field->kind == FieldKind::Line && lineBreak)) {
            return badValue(name, value,
                            field->kind == FieldKind::Line ? "a single line of text"
                                                           : "text without NUL characters");
        }
        *textField(settings, name) = std::move(value);
        return std::nullopt;
    }
    case FieldKind::Boolean:
        if (value != "0" && value != "1") {
            return badValue(name, value, "0|1");
        }
        *numberField(settings, name) = value == "1" ? 1 : 0;
        return std::nullopt;
    case FieldKind::Number: {
        const auto number = parseDecimal(value);
        if (!number || *number < field->minimum || *number > field->maximum) {
            return badValue(name, value,
                            "a whole number from " + std::to_string(field->minimum) + " to " +
                                std::to_string(field->maximum));
        }
        *numberField(settings, name) = static_cast<std::int32_t>(*number);
        return std::nullopt;
    }
    case FieldKind::Method: {
        const auto method = namedCode(kMethodNames, value);
        if (!method) {
            return badValue(name, value, joinedNames(kMethodNames));
        }
        settings.deliveryMethod = *method;
        return std::nullopt;
    }
    case FieldKind::Format: {
        // The file's codes: 0 plain text, 1 HTML.
        const auto format = namedCode(kFormatNames, value);
        if (!format) {
            return badValue(name, value, joinedNames(kFormatNames));
        }
        settings.editorFormat = *format;
        return std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace velmora::delivery
