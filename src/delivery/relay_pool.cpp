#include "delivery/relay_pool.h"

#include "delivery/keyring_password.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "store/extension_settings.h"
#include "store/text.h"

#include <algorithm>

namespace velmora::delivery {

namespace {

std::string relayValue(const store::SessionSettings& settings, int number, std::string_view field) {
    return settings.extensions.value(store::relayKey(number, field));
}

std::int64_t relayInteger(const store::SessionSettings& settings, int number,
                          std::string_view field) {
    return settings.extensions.integer(store::relayKey(number, field));
}

int portFor(std::int64_t port, std::string_view security) {
    if (port > 0) {
        return static_cast<int>(port);
    }
    if (security == "tls") {
        return 465;
    }
    return security == "none" ? 25 : 587;
}

// What a relay's own sign-in keeps under "relay.N.": its settings, then
// its tokens (no settings).
constexpr const char* kRelaySignInKeys[] = {
    kOAuthProviderKey, kOAuthClientIdKey,       kOAuthClientSecretKey, kOAuthAuthorizeUrlKey,
    kOAuthTokenUrlKey, kOAuthDeviceUrlKey,      kOAuthScopeKey,        kOAuthLoginKey,
    kOAuthPinKey,      kOAuthTokenInKeyringKey, kOAuthRefreshTokenKey, kOAuthAccessTokenKey,
    kOAuthExpiresAtKey};

// An empty value is no value: the key goes.
void setOrRemove(store::ExtensionSettings& extensions, const std::string& key, std::string value) {
    if (value.empty()) {
        extensions.remove(key);
    } else {
        extensions.set(key, std::move(value));
    }
}

} // namespace

bool relayHasOwnSignIn(const store::SessionSettings& settings, int number) {
    return number > 1 && number <= store::kMaxRelays &&
           relayValue(settings, number, kOAuthProviderKey) != "none";
}

void keepRelaySignIn(store::SessionSettings& settings, int number,
                     const store::SessionSettings& relay) {
    if (!relayHasOwnSignIn(settings, number)) {
        copyOAuthTokens(relay, settings);
        return;
    }
    for (const char* key : {kOAuthTokenInKeyringKey, kOAuthRefreshTokenKey, kOAuthAccessTokenKey,
                            kOAuthExpiresAtKey, kOAuthLoginKey}) {
        setOrRemove(settings.extensions, store::relayKey(number, key), relay.extensions.value(key));
    }
}

store::SessionSettings relaySignInSettings(const store::SessionSettings& settings, int number) {
    store::SessionSettings own = settings;
    if (!relayHasOwnSignIn(settings, number)) {
        // Only for the mapping: the relay's own (empty) keys, not the session's.
        own.extensions.set(store::relayKey(number, kOAuthProviderKey), "custom");
    }
    store::SessionSettings account = relaySettings(own, number);
    account.extensions.set(kOAuthProviderKey, relayValue(settings, number, kOAuthProviderKey));
    return account;
}

void keepRelayAccount(store::ExtensionSettings& extensions, int number,
                      const store::SessionSettings& account) {
    for (const char* key : kRelaySignInKeys) {
        setOrRemove(extensions, store::relayKey(number, key), account.extensions.value(key));
    }
}

RelaySignIns::RelaySignIns(const store::SessionSettings& settings, store::PasswordStore* keyring,
                           const std::function<long long()>& nowSeconds) {
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        if (!relayConfigured(settings, number) || !relayHasOwnSignIn(settings, number)) {
            continue;
        }
        Account account;
        account.number = number;
        account.settings =
            std::make_unique<store::SessionSettings>(relaySettings(settings, number));
        account.tokens =
            std::make_unique<SessionAccessTokens>(*account.settings, keyring, nowSeconds);
        accounts_.push_back(std::move(account));
    }
}

AccessTokens* RelaySignIns::own(int number) {
    for (Account& account : accounts_) {
        if (account.number == number) {
            return account.tokens.get();
        }
    }
    return nullptr;
}

bool RelaySignIns::keepRenewed(store::SessionSettings& settings) const {
    bool renewed = false;
    for (const Account& account : accounts_) {
        if (account.tokens->changed()) {
            keepRelaySignIn(settings, account.number, *account.settings);
            renewed = true;
        }
    }
    return renewed;
}

AccessTokens* relayTokens(const store::SessionSettings& settings, int number, AccessTokens* session,
                          RelaySignIns* own) {
    if (!relayHasOwnSignIn(settings, number)) {
        return session;
    }
    return own != nullptr ? own->own(number) : nullptr;
}

bool relayConfigured(const store::SessionSettings& settings, int number) {
    if (number == 1) {
        return true;
    }
    return number > 1 && number <= store::kMaxRelays &&
           !relayValue(settings, number, "server").empty();
}

std::string noRelayText(int number) {
    const std::string n = std::to_string(number);
    return "The session has no relay " + n + ": set relay." + n + ".server first.";
}

store::SessionSettings relaySettings(const store::SessionSettings& settings, int number) {
    if (number <= 1) {
        return settings;
    }
    store::SessionSettings s = settings;
    const std::string security = relayValue(settings, number, "security");
    s.smtpServer = relayValue(settings, number, "server");
    s.smtpPort = portFor(relayInteger(settings, number, "port"), security);
    s.userName = relayValue(settings, number, "login");
    s.requiresAuth = s.userName.empty() ? 0 : 1;
    s.password = relayValue(settings, number, "password");
    store::ExtensionSettings& ext = s.extensions;
    ext.set("smtpSecurity", security);
    const std::string mechanism = relayValue(settings, number, "authMechanism");
    ext.set("smtpAuthMechanism", mechanism);
    // The main server's pin is for its certificate only.
    ext.set("tlsPinSha256", "");
    ext.set(kPasswordInKeyringKey, relayValue(settings, number, "passwordInKeyring"));
    for (const char* field : {"connections", "ratePerMinute", "ratePerHour"}) {
        ext.set(field, relayValue(settings, number, field));
    }
    if (relayHasOwnSignIn(settings, number)) {
        for (const char* key : kRelaySignInKeys) {
            setOrRemove(ext, key, relayValue(settings, number, key));
        }
        ext.set(kOAuthRelayKey, std::to_string(number));
    } else if (mechanism != "xoauth2" && mechanism != "oauthbearer") {
        // Only a relay that asks for it signs in with the session's OAuth
        // sign-in; the others log in with their own password.
        ext.set(kOAuthTokenInKeyringKey, "0");
        ext.remove(kOAuthRefreshTokenKey);
        ext.remove(kOAuthAccessTokenKey);
    }
    return s;
}

std::string relayId(const store::SessionSettings& relaySettings) {
    std::string id = relaySettings.smtpServer + ":" + std::to_string(relaySettings.smtpPort);
    if (relaySettings.requiresAuth == 1 && !relaySettings.userName.empty()) {
        id = relaySettings.userName + "@" + id;
    }
    return id;
}

std::optional<Relay> relayNumbered(const store::SessionSettings& settings, int number) {
    if (!relayConfigured(settings, number)) {
        return std::nullopt;
    }
    Relay relay;
    relay.number = number;
    relay.settings = relaySettings(settings, number);
    relay.dailyCap = relayInteger(settings, number, "dailyCap");
    relay.weight = relayInteger(settings, number, "weight");
    relay.id = relayId(relay.settings);
    return relay;
}

std::vector<Relay> relayPool(const store::SessionSettings& settings) {
    std::vector<Relay> pool;
    for (int number = 1; number <= store::kMaxRelays; ++number) {
        if (std::optional<Relay> relay = relayNumbered(settings, number);
            relay && relay->weight > 0) {
            pool.push_back(std::move(*relay));
        }
    }
    return pool;
}

std::string relayLabel(const Relay& relay) {
    return "relay " + std::to_string(relay.number) + " (" + relay.settings.smtpServer + ")";
}

bool relaysUseKeyring(const store::SessionSettings& settings) {
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        if (relayConfigured(settings, number) &&
            settings.extensions.boolean(store::relayKey(number, "passwordInKeyring"))) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> fetchRelayPasswords(store::Session& session, store::PasswordStore& store) {
    std::vector<std::string> problems;
    const bool wasSaved = !session.hasUnsavedChanges();
    store::SessionSettings settings = session.settings();
    bool fetched = false;
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        const store::SessionSettings relay = relaySettings(settings, number);
        if (!relayConfigured(settings, number) || !keepsPasswordInKeyring(relay) ||
            !relay.password.empty()) {
            continue;
        }
        store::PasswordStore::ReadResult read = store.read(keyringAccount(relay));
        if (!read.password) {
            problems.push_back("Relay " + std::to_string(number) + ": " +
                               keyringReadFailedText(keyringReasonText(read.error)));
            continue;
        }
        settings.extensions.set(store::relayKey(number, "password"), std::move(*read.password));
        fetched = true;
    }
    if (fetched) {
        // Filling in what the file left out is no change to save.
        session.setSettings(std::move(settings));
        if (wasSaved) {
            session.markSaved();
        }
    }
    return problems;
}

std::vector<std::string> applyRelayKeyringChoices(store::SessionSettings& settings,
                                                  const store::SessionSettings& before,
                                                  store::PasswordStore& store) {
    std::vector<std::string> problems;
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        store::SessionSettings relay = relaySettings(settings, number);
        const store::SessionSettings relayBefore = relaySettings(before, number);
        const bool keep = keepsPasswordInKeyring(relay);
        if (!keep && !keepsPasswordInKeyring(relayBefore)) {
            continue;
        }
        if (const auto reason = applyKeyringChoice(relay, keep, relayBefore, store)) {
            problems.push_back("relay " + std::to_string(number) + ": " + *reason);
        }
        settings.extensions.set(store::relayKey(number, "passwordInKeyring"),
                                keepsPasswordInKeyring(relay) ? "1" : "0");
    }
    return problems;
}

namespace {

store::SessionSettings withExtensions(const store::ExtensionSettings& extensions) {
    store::SessionSettings settings;
    settings.extensions = extensions;
    return settings;
}

} // namespace

std::vector<int> relayNumbers(const store::ExtensionSettings& extensions) {
    const store::SessionSettings settings = withExtensions(extensions);
    std::vector<int> numbers;
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        if (relayConfigured(settings, number)) {
            numbers.push_back(number);
        }
    }
    return numbers;
}

std::array<std::string, kRelayColumnCount> relayRow(const store::ExtensionSettings& extensions,
                                                    int number) {
    const store::SessionSettings relay = relaySettings(withExtensions(extensions), number);
    const auto value = [&](const char* field) {
        return extensions.value(store::relayKey(number, field));
    };
    const std::string cap = value("dailyCap");
    return {std::to_string(number),   relay.smtpServer,     std::to_string(relay.smtpPort),
            relay.userName,           value("connections"), value("weight"),
            cap == "0" ? "none" : cap};
}

int freeRelayNumber(const store::ExtensionSettings& extensions) {
    const store::SessionSettings settings = withExtensions(extensions);
    for (int number = 2; number <= store::kMaxRelays; ++number) {
        if (!relayConfigured(settings, number)) {
            return number;
        }
    }
    return 0;
}

RelayForm relayForm(const store::ExtensionSettings& extensions, int number) {
    RelayForm form;
    for (std::size_t i = 0; i < kRelayFormFieldCount; ++i) {
        form[i] = extensions.value(store::relayKey(number, kRelayFormFields[i].field));
    }
    return form;
}

std::optional<SettingRefusal> applyRelayForm(store::ExtensionSettings& extensions, int number,
                                             const RelayForm& form) {
    store::SessionSettings settings = withExtensions(extensions);
    for (std::size_t i = 0; i < kRelayFormFieldCount; ++i) {
        const std::string key = store::relayKey(number, kRelayFormFields[i].field);
        const std::string_view field = kRelayFormFields[i].field;
        std::string value(field == "password" ? std::string_view(form[i])
                                              : store::trimSpaces(form[i]));
        if (field == "server" && value.empty()) {
            return SettingRefusal{"A relay needs a server."};
        }
        if (auto refusal = setSettingByName(settings, key, std::move(value))) {
            return refusal;
        }
    }
    const std::string password = store::relayKey(number, "password");
    if (settings.extensions.value(password) != extensions.value(password)) {
        settings.extensions.set(store::relayKey(number, "passwordInKeyring"), "0");
    }
    extensions = std::move(settings.extensions);
    return std::nullopt;
}

void removeRelay(store::ExtensionSettings& extensions, int number) {
    for (const std::string& key : store::relayKeyNames(number)) {
        extensions.remove(key);
    }
    for (const char* key : {kOAuthRefreshTokenKey, kOAuthAccessTokenKey, kOAuthExpiresAtKey}) {
        extensions.remove(store::relayKey(number, key));
    }
}

} // namespace velmora::delivery
