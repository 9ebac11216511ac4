#pragma once

#include "store/password_store.h"
#include "store/records.h"
#include "store/session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// A session's relays: relay 1 is the main server of the settings, relays 2
// to store::kMaxRelays are the "relay.N.*" keys of the extension block (a
// relay is there when its server is set). A session with no other relay is
// a pool of one and sends exactly as a single server does.

// One relay as a run, a connection test and the journal see it.
struct Relay {
    int number = 1;
    // The settings with this relay's server, login and limits in the main
    // server's places: what smtpRequestFor and runPolicy read.
    store::SessionSettings settings;
    std::int64_t dailyCap = 0; // 0: no cap
    std::int64_t weight = 1;
    // How the journal names it: "LOGIN@SERVER:PORT", or "SERVER:PORT"
    // without a login; daily caps count by it.
    std::string id;
};

// Whether relay `number` is set (relay 1 always is).
bool relayConfigured(const store::SessionSettings& settings, int number);
// Relay `number`, whether its weight lets it send or not; nothing when it
// is not set.
std::optional<Relay> relayNumbered(const store::SessionSettings& settings, int number);
// The relays a run sends over: every one set with a weight above 0, by number.
std::vector<Relay> relayPool(const store::SessionSettings& settings);
// Relay `number`'s settings (see Relay::settings); `settings` itself for relay 1.
store::SessionSettings relaySettings(const store::SessionSettings& settings, int number);
// "ann@smtp.example.net:587"
std::string relayId(const store::SessionSettings& relaySettings);
// "relay 2 (smtp.example.net)"
std::string relayLabel(const Relay& relay);

// The passwords of relays 2 and up that are kept in the desktop keyring,
// fetched after loading as the main one is (fetchKeyringPassword). The
// messages of those that could not be read.
std::vector<std::string> fetchRelayPasswords(store::Session& session, store::PasswordStore& store);
// Stores the relays' passwords as their passwordInKeyring keys say, as
// applyKeyringChoice does for the main one: a relay whose password cannot
// go to the keyring keeps it in the file. The keyring's reasons, "relay N: "
// before each.
std::vector<std::string> applyRelayKeyringChoices(store::SessionSettings& settings,
                                                  const store::SessionSettings& before,
                                                  store::PasswordStore& store);
// Whether any relay of 2 and up keeps its password in the keyring.
bool relaysUseKeyring(const store::SessionSettings& settings);

} // namespace velmora::delivery
