#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::store {

// Settings the fixed session layout has no field for. They travel in the
// file's optional extension block as key/value text pairs, so a build that
// does not know a key keeps it and writes it back unchanged.

enum class ExtensionKind {
    Choice,  // one of `choices`
    Integer, // decimal within [minimum, maximum]
    Boolean, // "0" or "1"
    Text,    // any single-line text, checked by `check` when it has one
};

struct ExtensionKey {
    std::string_view name;
    std::string_view defaultValue;
    ExtensionKind kind = ExtensionKind::Text;
    std::span<const std::string_view> choices;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
    // For Text keys: returns an explanation when `value` is not acceptable.
    std::optional<std::string> (*check)(std::string_view value) = nullptr;
};

// Every key this build knows, in the order settings are listed.
std::span<const ExtensionKey> extensionKeys();
const ExtensionKey* findExtensionKey(std::string_view name);

// A pool of relays: relay 1 is the main server (its fields above), relays 2
// to kMaxRelays are keys "relay.N.FIELD" (server, port, security, login,
// password, passwordInKeyring, authMechanism, connections, ratePerMinute,
// ratePerHour, dailyCap, weight, and the sign-in keys oauthProvider to
// oauthTokenInKeyring as the main server has them). Relay 1 takes
// "relay.1.dailyCap" and "relay.1.weight" only. findExtensionKey knows every
// one of them; a relay's tokens are kept under "relay.N." too, but are no settings.
inline constexpr int kMaxRelays = 9;
struct RelayKeyName {
    int relay = 0;
    std::string_view field;
};
// The relay and field of a "relay.N.FIELD" name (the field not checked).
std::optional<RelayKeyName> relayKeyName(std::string_view name);
std::string relayKey(int relay, std::string_view field);
// The keys relay `relay` takes, in the order they are listed.
std::vector<std::string> relayKeyNames(int relay);

// Checks a value for a known key; returns the reason it is refused (naming
// the allowed values) or nothing when it is fine. The value is normalised in
// place (Choice and Boolean values are taken in any letter case).
std::optional<std::string> validateExtensionValue(const ExtensionKey& key, std::string& value);

class ExtensionSettings {
public:
    using Entry = std::pair<std::string, std::string>;

    // The value stored for `name`, or the key's default when none is.
    std::string value(std::string_view name) const;
    std::int64_t integer(std::string_view name) const;
    bool boolean(std::string_view name) const;

    // Stores the value; a known key set to its default is dropped, so a
    // session that never changed a setting writes no block.
    void set(std::string_view name, std::string value);
    void remove(std::string_view name);

    // Entries as read from or to be written to the file, in file order.
    const std::vector<Entry>& entries() const { return entries_; }
    bool empty() const { return entries_.empty(); }

    friend bool operator==(const ExtensionSettings&, const ExtensionSettings&) = default;

private:
    std::vector<Entry> entries_;
};

} // namespace velmora::store
