#include "store/extension_settings.h"

#include "store/text.h"

#include <algorithm>
#include <charconv>

namespace velmora::store {

namespace {

constexpr std::string_view kSecurityChoices[] = {"auto", "starttls", "tls", "none"};
constexpr std::string_view kOAuthProviderChoices[] = {"none", "google", "microsoft", "custom"};
constexpr std::string_view kAuthChoices[] = {"auto", "plain", "login", "xoauth2", "oauthbearer"};
constexpr std::string_view kMailboxSecurityChoices[] = {"tls", "starttls", "none"};

std::optional<std::string> checkPin(std::string_view value) {
    if (value.empty()) {
        return std::nullopt;
    }
    const bool hex = std::all_of(value.begin(), value.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
    if (value.size() != 64 || !hex) {
        return "64 hexadecimal digits (the SHA-256 of the server's public key) or empty";
    }
    return std::nullopt;
}

// Our name in EHLO/HELO: a domain, or an address literal such as
// "[192.0.2.1]" or "[IPv6:2001:db8::1]". Anything else a server may refuse.
std::optional<std::string> checkHeloName(std::string_view value) {
    const auto isAlnum = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    bool fine = true;
    if (value.size() >= 2 && value.front() == '[' && value.back() == ']') {
        std::string_view inside = value.substr(1, value.size() - 2);
        if (inside.substr(0, 5) == "IPv6:") {
            inside.remove_prefix(5);
        }
        fine = !inside.empty() && std::all_of(inside.begin(), inside.end(), [&](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                   c == '.' || c == ':';
        });
    } else {
        fine = value.size() <= 255 && std::all_of(value.begin(), value.end(), [&](char c) {
                   return isAlnum(c) || c == '-' || c == '.';
               });
    }
    if (!fine) {
        return "a host name (letters, digits, \"-\" and \".\"), an address literal such as "
               "[192.0.2.1], or empty";
    }
    return std::nullopt;
}

std::optional<std::string> checkHttpsUrl(std::string_view value) {
    if (value.empty() || value.substr(0, 8) == "https://") {
        return std::nullopt;
    }
    return "an https:// address or empty";
}

// The return address of list runs: a plain address, since a token goes
// after a "+" in its local part.
std::optional<std::string> checkBounceAddress(std::string_view value) {
    const std::size_t at = value.rfind('@');
    const bool plain = std::none_of(value.begin(), value.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == 0x7F ||
               std::string_view("<>()[]\\\",;:").find(c) != std::string_view::npos;
    });
    if (value.empty() || (plain && at != std::string_view::npos && at > 0 &&
                          at + 1 < value.size() && value.find('@') == at)) {
        return std::nullopt;
    }
    return "an address such as bounces@example.org, or empty";
}

constexpr std::int64_t kMaxInt32 = 2147483647;

constexpr ExtensionKey choiceKey(std::string_view name, std::string_view def,
                                 std::span<const std::string_view> choices) {
    return {name, def, ExtensionKind::Choice, choices, 0, 0, nullptr};
}
constexpr ExtensionKey integerKey(std::string_view name, std::string_view def, std::int64_t minimum,
                                  std::int64_t maximum) {
    return {name, def, ExtensionKind::Integer, {}, minimum, maximum, nullptr};
}
constexpr ExtensionKey booleanKey(std::string_view name, std::string_view def) {
    return {name, def, ExtensionKind::Boolean, {}, 0, 0, nullptr};
}
constexpr ExtensionKey textKey(std::string_view name,
                               std::optional<std::string> (*check)(std::string_view) = nullptr) {
    return {name, "", ExtensionKind::Text, {}, 0, 0, check};
}
constexpr ExtensionKey textKeyWithDefault(std::string_view name, std::string_view def) {
    return {name, def, ExtensionKind::Text, {}, 0, 0, nullptr};
}

const ExtensionKey kKeys[] = {
    choiceKey("smtpSecurity", "auto", kSecurityChoices),
    choiceKey("smtpAuthMechanism", "auto", kAuthChoices),
    textKey("heloName", checkHeloName),
    textKey("tlsPinSha256", checkPin),
    booleanKey("textAlternative", "1"),
    textKey("unsubscribeMailto"),
    textKey("unsubscribeUrl", checkHttpsUrl),
    integerKey("deferredRetries", "3", 0, 100),
    integerKey("ratePerMinute", "0", 0, kMaxInt32),
    integerKey("ratePerHour", "0", 0, kMaxInt32),
    integerKey("maxPauseMinutes", "30", 0, 100000),
    integerKey("messagesPerConnection", "1", 1, 100000),
    integerKey("connections", "1", 1, 20),
    booleanKey("passwordInKeyring", "0"),
    integerKey("softBounceLimit", "3", 1, 1000),
    // Set: list runs send from a return address per recipient based on it.
    textKey("bounceAddress", checkBounceAddress),
    // The mailbox returned mail is fetched from (IMAP).
    textKey("feedbackServer"),
    integerKey("feedbackPort", "0", 0, 65535), // 0: 993 with tls, else 143
    choiceKey("feedbackSecurity", "tls", kMailboxSecurityChoices),
    textKey("feedbackLogin"), // empty: the SMTP login
    textKeyWithDefault("feedbackFolder", "INBOX"),
    textKey("feedbackDoneFolder"), // empty: handled messages are only marked as seen
    choiceKey("oauthProvider", "none", kOAuthProviderChoices),
    textKey("oauthClientId"),
    textKey("oauthClientSecret"),
    textKey("oauthAuthorizeUrl", checkHttpsUrl),
    textKey("oauthTokenUrl", checkHttpsUrl),
    textKey("oauthDeviceUrl", checkHttpsUrl),
    textKey("oauthScope"),
    textKey("oauthLogin"),
    textKey("oauthPinSha256", checkPin),
    // Where the sign-in's refresh token is kept; the tokens themselves are no settings.
    booleanKey("oauthTokenInKeyring", "0"),
};

// The settings of relays 2 to kMaxRelays, under "relay.N." + the field's
// name; relay 1 is the main server and takes only the fields marked.
struct RelayField {
    ExtensionKey key;
    bool forMainServer;
};
const RelayField kRelayFields[] = {
    {textKey("server"), false},
    {integerKey("port", "0", 0, 65535), false}, // 0: 465 with tls, 25 with none, else 587
    {choiceKey("security", "auto", kSecurityChoices), false},
    {textKey("login"), false}, // empty: no login
    {textKey("password"), false},
    {booleanKey("passwordInKeyring", "0"), false},
    {choiceKey("authMechanism", "auto", kAuthChoices), false},
    {integerKey("connections", "1", 1, 20), false},
    {integerKey("ratePerMinute", "0", 0, kMaxInt32), false},
    {integerKey("ratePerHour", "0", 0, kMaxInt32), false},
    {integerKey("dailyCap", "0", 0, kMaxInt32), true}, // 0: no cap
    {integerKey("weight", "1", 0, 1000), true},        // 0: the relay is not used
    // A sign-in of the relay's own, as the main oauth* keys; with oauthProvider
    // "none" a relay with xoauth2 or oauthbearer signs in as the session does.
    {choiceKey("oauthProvider", "none", kOAuthProviderChoices), false},
    {textKey("oauthClientId"), false},
    {textKey("oauthClientSecret"), false},
    {textKey("oauthAuthorizeUrl", checkHttpsUrl), false},
    {textKey("oauthTokenUrl", checkHttpsUrl), false},
    {textKey("oauthDeviceUrl", checkHttpsUrl), false},
    {textKey("oauthScope"), false},
    {textKey("oauthLogin"), false},
    {textKey("oauthPinSha256", checkPin), false},
    {booleanKey("oauthTokenInKeyring", "0"), false},
};

std::optional<std::int64_t> parseDecimal(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::span<const ExtensionKey> extensionKeys() {
    return kKeys;
}

const ExtensionKey* findExtensionKey(std::string_view name) {
    for (const ExtensionKey& key : kKeys) {
        if (key.name == name) {
            return &key;
        }
    }
    const std::optional<RelayKeyName> relay = relayKeyName(name);
    if (!relay) {
        return nullptr;
    }
    for (const RelayField& field : kRelayFields) {
        if (field.key.name == relay->field && (relay->relay > 1 || field.forMainServer)) {
            return &field.key;
        }
    }
    return nullptr;
}

std::optional<RelayKeyName> relayKeyName(std::string_view name) {
    constexpr std::string_view prefix = "relay.";
    if (name.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    name.remove_prefix(prefix.size());
    const std::size_t dot = name.find('.');
    // One digit, no leading zero: relays 1 to 9.
    if (dot != 1 || name[0] < '1' || name[0] > '0' + kMaxRelays) {
        return std::nullopt;
    }
    return RelayKeyName{name[0] - '0', name.substr(dot + 1)};
}

std::string relayKey(int relay, std::string_view field) {
    return "relay." + std::to_string(relay) + "." + std::string(field);
}

std::vector<std::string> relayKeyNames(int relay) {
    std::vector<std::string> names;
    for (const RelayField& field : kRelayFields) {
        if (relay > 1 || field.forMainServer) {
            names.push_back(relayKey(relay, field.key.name));
        }
    }
    return names;
}

std::optional<std::string> validateExtensionValue(const ExtensionKey& key, std::string& value) {
    switch (key.kind) {
    case ExtensionKind::Choice: {
        const std::string lowered = toLowerAscii(value);
        for (std::string_view choice : key.choices) {
            if (choice == lowered) {
                value = lowered;
                return std::nullopt;
            }
        }
        std::string allowed;
        for (std::string_view choice : key.choices) {
            allowed += allowed.empty() ? "" : "|";
            allowed += choice;
        }
        return allowed;
    }
    case ExtensionKind::Integer: {
        const auto number = parseDecimal(value);
        if (!number || *number < key.minimum || *number > key.maximum) {
            return "a whole number from " + std::to_string(key.minimum) + " to " +
                   std::to_string(key.maximum);
        }
        value = std::to_string(*number);
        return std::nullopt;
    }
    case ExtensionKind::Boolean:
        if (value == "0" || value == "1") {
            return std::nullopt;
        }
        return "0|1";
    case ExtensionKind::Text:
        if (value.find_first_of("\r\n", 0) != std::string::npos ||
            value.find('\0') != std::string::npos) {
            return "a single line of text";
        }
        return key.check != nullptr ? key.check(value) : std::nullopt;
    }
    return std::nullopt;
}

std::string ExtensionSettings::value(std::string_view name) const {
    for (const Entry& entry : entries_) {
        if (entry.first == name) {
            return entry.second;
        }
    }
    const ExtensionKey* key = findExtensionKey(name);
    return key != nullptr ? std::string(key->defaultValue) : std::string();
}

std::int64_t ExtensionSettings::integer(std::string_view name) const {
    const ExtensionKey* key = findExtensionKey(name);
    std::string text = value(name);
    // A hand-edited or foreign value out of range falls back to the default
    // rather than steering a run with a nonsense figure.
    if (key != nullptr && validateExtensionValue(*key, text)) {
        text = std::string(key->defaultValue);
    }
    return parseDecimal(text).value_or(0);
}

bool ExtensionSettings::boolean(std::string_view name) const {
    const std::string text = value(name);
    if (text == "0" || text == "1") {
        return text == "1";
    }
    const ExtensionKey* key = findExtensionKey(name);
    return key != nullptr && key->defaultValue == "1";
}

void ExtensionSettings::set(std::string_view name, std::string value) {
    const ExtensionKey* key = findExtensionKey(name);
    if (key != nullptr && key->defaultValue == value) {
        remove(name);
        return;
    }
    for (Entry& entry : entries_) {
        if (entry.first == name) {
            entry.second = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::string(name), std::move(value));
}

void ExtensionSettings::remove(std::string_view name) {
    std::erase_if(entries_, [&](const Entry& entry) { return entry.first == name; });
}

} // namespace velmora::store
