#pragma once

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/settings_by_name.h"
#include "store/extension_settings.h"
#include "store/password_store.h"
#include "store/records.h"
#include "store/session.h"

#include <array>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
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
// "The session has no relay N: set relay.N.server first."
std::string noRelayText(int number);
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

// A relay of 2 and up signs in with an OAuth account of its own when its
// relay.N.oauthProvider is set; relaySettings then puts its relay.N.oauth*
// keys and tokens in the main ones' places, so one sign-in code serves
// every relay. Without one, a relay with xoauth2 or oauthbearer signs in
// with the session's account (what sessions stored before relied on).
bool relayHasOwnSignIn(const store::SessionSettings& settings, int number);
// Keeps what a sign-in or a renewal left in `relay` (relay `number`'s
// settings, from relaySettings) in that relay's keys of `settings`: the
// main keys for relay 1 and for a relay that shares the session's sign-in.
void keepRelaySignIn(store::SessionSettings& settings, int number,
                     const store::SessionSettings& relay);

// Relay `number`'s settings with its own sign-in keys and tokens in the
// main ones' places, whether it has a provider of its own yet or not: what
// the desktop signs the relay in from and shows.
store::SessionSettings relaySignInSettings(const store::SessionSettings& settings, int number);
// Keeps every sign-in key and token of `account` (from relaySignInSettings)
// in relay `number`'s keys (2 and up).
void keepRelayAccount(store::ExtensionSettings& extensions, int number,
                      const store::SessionSettings& account);

// The access tokens of the relays that sign in with an account of their
// own, for a run over the pool: each renews into a copy of its relay's
// settings, written back by keepRenewed (then save the session).
class RelaySignIns {
public:
    RelaySignIns(const store::SessionSettings& settings, store::PasswordStore* keyring,
                 const std::function<long long()>& nowSeconds);
    // Relay `number`'s own tokens; null when it has no sign-in of its own.
    AccessTokens* own(int number);
    // Writes the renewed tokens into their relays' keys; whether there were any.
    bool keepRenewed(store::SessionSettings& settings) const;

private:
    struct Account {
        int number = 0;
        std::unique_ptr<store::SessionSettings> settings; // stays put: the tokens refer to it
        std::unique_ptr<SessionAccessTokens> tokens;
    };
    std::vector<Account> accounts_;
};
// The tokens relay `number`'s connections sign in with: its own (from
// `own`, which may be null) when it has a sign-in of its own, else the
// session's.
AccessTokens* relayTokens(const store::SessionSettings& settings, int number, AccessTokens* session,
                          RelaySignIns* own);

// The desktop's list of relays 2 and up: the fields a relay is edited by,
// with their captions, and the columns of the list.
struct RelayFormField {
    const char* field; // the part after "relay.N."
    const char* caption;
};
inline constexpr RelayFormField kRelayFormFields[] = {
    {"server", "Server"},
    {"port", "Port (0: as Security suggests)"},
    {"security", "Security (auto, starttls, tls, none)"},
    {"login", "Login (empty: none)"},
    {"password", "Password"},
    {"authMechanism", "Login method (auto, plain, login, xoauth2, oauthbearer)"},
    {"connections", "Connections at once (1 to 20)"},
    {"ratePerMinute", "Messages per minute (0: no limit)"},
    {"ratePerHour", "Messages per hour (0: no limit)"},
    {"dailyCap", "Daily cap (0: none)"},
    {"weight", "Weight (0: not used)"},
};
inline constexpr std::size_t kRelayFormFieldCount = std::size(kRelayFormFields);
using RelayForm = std::array<std::string, kRelayFormFieldCount>;

inline constexpr const char* kRelayColumns[] = {"Relay",       "Server", "Port",     "Login",
                                                "Connections", "Weight", "Daily cap"};
inline constexpr std::size_t kRelayColumnCount = std::size(kRelayColumns);

// The numbers of the relays of 2 and up that are set, in order.
std::vector<int> relayNumbers(const store::ExtensionSettings& extensions);
// The texts of a relay's row, by kRelayColumns.
std::array<std::string, kRelayColumnCount> relayRow(const store::ExtensionSettings& extensions,
                                                    int number);
// The lowest number of 2 to store::kMaxRelays that no relay has; 0 when all are taken.
int freeRelayNumber(const store::ExtensionSettings& extensions);
RelayForm relayForm(const store::ExtensionSettings& extensions, int number);
// Sets every field of the relay by the rules of `settings set` (spaces
// around a text dropped), or nothing when one is refused (its refusal
// returned). A server is required. A password typed here goes into the
// file: the keyring is for `settings set` to choose.
std::optional<SettingRefusal> applyRelayForm(store::ExtensionSettings& extensions, int number,
                                             const RelayForm& form);
// Forgets every setting of the relay.
void removeRelay(store::ExtensionSettings& extensions, int number);

} // namespace velmora::delivery
