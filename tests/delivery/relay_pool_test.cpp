#include "delivery/keyring_password.h"
#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "delivery/settings_by_name.h"
#include "delivery/smtp/smtp_request.h"
#include "store/extension_settings.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

using testing_support::MemoryKeyring;

namespace {

store::SessionSettings mainServer() {
    store::Session fresh;
    fresh.resetToNew();
    store::SessionSettings s = fresh.settings();
    s.smtpServer = "main.example.net";
    s.smtpPort = 2525;
    s.requiresAuth = 1;
    s.userName = "ann";
    s.password = "main-secret";
    s.extensions.set("tlsPinSha256", std::string(64, 'a'));
    s.extensions.set("ratePerMinute", "60");
    return s;
}

void set(store::SessionSettings& s, const std::string& name, const std::string& value) {
    const auto refusal = setSettingByName(s, name, value);
    ASSERT_FALSE(refusal) << refusal->message;
}

} // namespace

// The keys `settings set` takes per relay, and those it refuses.
TEST(RelayPool, RelayKeysAreTakenForRelaysTwoToNineAndRelayOneOnlyForCapAndWeight) {
    struct Case {
        const char* name;
        const char* value;
        bool accepted;
    };
    const Case cases[] = {
        {"relay.2.server", "relay.example.net", true},
        {"relay.9.connections", "20", true},
        {"relay.9.connections", "21", false},
        {"relay.3.security", "TLS", true},
        {"relay.3.security", "ssl", false},
        {"relay.4.authMechanism", "xoauth2", true},
        {"relay.1.dailyCap", "500", true},
        {"relay.1.weight", "3", true},
        {"relay.1.server", "x.example", false}, // relay 1 is smtpServer
        {"relay.10.server", "x.example", false},
        {"relay.0.server", "x.example", false},
        {"relay.02.server", "x.example", false},
        {"relay.2.colour", "red", false},
        {"relay.2.weight", "-1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        store::SessionSettings s;
        EXPECT_EQ(!setSettingByName(s, c.name, c.value), c.accepted);
    }
}

// A relay is the main settings with its own server, login and limits; what
// belongs to the main server (its pin, its OAuth sign-in) does not carry over.
TEST(RelayPool, ARelaysSettingsReplaceTheMainServersWhereItHasItsOwn) {
    store::SessionSettings s = mainServer();
    set(s, "relay.2.server", "relay.example.net");
    set(s, "relay.2.security", "tls");
    set(s, "relay.2.login", "bob");
    set(s, "relay.2.password", "bob-secret");
    set(s, "relay.2.ratePerHour", "100");
    set(s, "relay.2.connections", "4");
    set(s, "relay.2.dailyCap", "300");
    set(s, "relay.2.weight", "2");
    set(s, "relay.3.server", "open.example.net");
    set(s, "relay.3.security", "none");
    set(s, "relay.5.server", "spare.example.net");
    set(s, "relay.5.weight", "0");

    const std::vector<Relay> pool = relayPool(s);
    ASSERT_EQ(pool.size(), 3u); // relay 5 has weight 0
    EXPECT_EQ(pool[0].settings, s);
    EXPECT_EQ(pool[0].id, "ann@main.example.net:2525");

    const Relay& two = pool[1];
    EXPECT_EQ(two.number, 2);
    EXPECT_EQ(relayLabel(two), "relay 2 (relay.example.net)");
    EXPECT_EQ(two.id, "bob@relay.example.net:465");
    EXPECT_EQ(two.dailyCap, 300);
    EXPECT_EQ(two.weight, 2);
    const SmtpSessionRequest request = smtpRequestFor(two.settings, "client.example");
    EXPECT_EQ(request.server, "relay.example.net");
    EXPECT_EQ(request.port, 465);
    EXPECT_EQ(request.security, SmtpSecurity::Tls);
    EXPECT_EQ(request.userName, "bob");
    EXPECT_EQ(request.password, "bob-secret");
    EXPECT_EQ(request.tlsPinSha256, "");
    EXPECT_EQ(two.settings.extensions.integer("ratePerHour"), 100);
    EXPECT_EQ(two.settings.extensions.integer("ratePerMinute"), 0);
    EXPECT_EQ(two.settings.extensions.integer("connections"), 4);

    const Relay& three = pool[2];
    EXPECT_EQ(three.id, "open.example.net:25");
    EXPECT_EQ(smtpRequestFor(three.settings, "c").userName, "");
    EXPECT_FALSE(relayNumbered(s, 4));
    EXPECT_TRUE(relayNumbered(s, 5));
}

// A relay's password is scrambled in the file as the main one is, and one
// kept in the keyring is not in the file at all.
TEST(RelayPool, RelayPasswordsTravelScrambledOrStayInTheKeyring) {
    store::Session session;
    session.resetToNew();
    store::SessionSettings s = mainServer();
    set(s, "relay.2.server", "relay.example.net");
    set(s, "relay.2.login", "bob");
    set(s, "relay.2.password", "Bob-Secret");
    set(s, "relay.3.server", "other.example.net");
    set(s, "relay.3.login", "cy");
    set(s, "relay.3.password", "cy-secret");
    set(s, "relay.3.passwordInKeyring", "1");
    session.setSettings(s);

    const std::string bytes = encodeSession(session);
    EXPECT_EQ(bytes.find("Bob-Secret"), std::string::npos);
    EXPECT_NE(bytes.find("Obo-Frperg"), std::string::npos);
    EXPECT_EQ(bytes.find("cy-secret"), std::string::npos);
    EXPECT_EQ(bytes.find("pl-frperg"), std::string::npos);

    store::SessionReadResult read = store::readSessionBytes(bytes);
    ASSERT_EQ(read.status, store::SessionReadStatus::Loaded);
    const store::SessionSettings loaded = read.session.settings();
    EXPECT_EQ(loaded.extensions.value("relay.2.password"), "Bob-Secret");
    EXPECT_EQ(loaded.extensions.value("relay.3.password"), "");

    // The keyring takes relay 3's password when it is set, and gives it back
    // after loading without making the session changed.
    MemoryKeyring keyring;
    store::SessionSettings applied = s;
    EXPECT_TRUE(applyRelayKeyringChoices(applied, store::SessionSettings{}, keyring).empty());
    EXPECT_EQ(keyring.entries.at("smtp://cy@other.example.net:587"), "cy-secret");
    EXPECT_EQ(keyring.entries.size(), 1u);

    store::Session reloaded;
    reloaded.resetToNew();
    reloaded.setSettings(loaded);
    reloaded.markSaved();
    EXPECT_TRUE(fetchRelayPasswords(reloaded, keyring).empty());
    EXPECT_EQ(reloaded.settings().extensions.value("relay.3.password"), "cy-secret");
    EXPECT_FALSE(reloaded.hasUnsavedChanges());

    // A keyring that refuses: the password stays in the file, and the user is told.
    MemoryKeyring refusing;
    refusing.refusal = "locked";
    store::SessionSettings fallback = s;
    const std::vector<std::string> problems =
        applyRelayKeyringChoices(fallback, store::SessionSettings{}, refusing);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], "relay 3: locked");
    EXPECT_FALSE(fallback.extensions.boolean("relay.3.passwordInKeyring"));
    session.setSettings(fallback);
    EXPECT_NE(encodeSession(session).find("pl-frperg"), std::string::npos);
}

// Which sign-in a relay's copy of the settings carries: its own account's
// keys and tokens in the main keys' places, the session's, or none.
TEST(RelayPool, ARelaySignsInWithItsOwnAccountTheSessionsOrNone) {
    struct Case {
        const char* mechanism;
        bool ownAccount;
        const char* clientId; // in the copy
        const char* token;    // the copy's access token, scrambled as stored
        bool usesOAuth;
    };
    const Case cases[] = {
        {"xoauth2", true, "relay-client", "relay-token", true},
        {"auto", true, "relay-client", "relay-token", true},
        {"plain", true, "relay-client", "relay-token", false},
        {"xoauth2", false, "main-client", "main-token", true},
        {"oauthbearer", false, "main-client", "main-token", true},
        {"auto", false, "main-client", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mechanism) + (c.ownAccount ? " own" : " shared"));
        store::SessionSettings s = mainServer();
        set(s, "oauthProvider", "custom");
        set(s, "oauthClientId", "main-client");
        set(s, "oauthTokenUrl", "https://auth.example/token");
        set(s, "oauthLogin", "ann@example.org");
        s.extensions.set(kOAuthAccessTokenKey, "main-token");
        s.extensions.set(kOAuthExpiresAtKey, "100");
        set(s, "relay.2.server", "relay.example.net");
        set(s, "relay.2.authMechanism", c.mechanism);
        if (c.ownAccount) {
            set(s, "relay.2.oauthProvider", "custom");
            set(s, "relay.2.oauthClientId", "relay-client");
            // The same account and provider as the session's: only the
            // keyring entry's name tells the two apart.
            set(s, "relay.2.oauthTokenUrl", "https://auth.example/token");
            set(s, "relay.2.oauthLogin", "ann@example.org");
            s.extensions.set("relay.2.oauthAccessToken", "relay-token");
        }
        EXPECT_EQ(relayHasOwnSignIn(s, 2), c.ownAccount);
        const store::SessionSettings relay = relaySettings(s, 2);
        EXPECT_EQ(relay.extensions.value(kOAuthClientIdKey), c.clientId);
        EXPECT_EQ(relay.extensions.value(kOAuthAccessTokenKey), c.token);
        EXPECT_EQ(usesOAuth(relay), c.usesOAuth);
        EXPECT_EQ(oauthKeyringAccount(relay) == oauthKeyringAccount(s), !c.ownAccount);

        // A renewal for the relay goes back to its own keys, or to the
        // session's when it shares them; nothing else changes.
        store::SessionSettings renewed = relay;
        renewed.extensions.set(kOAuthAccessTokenKey, "renewed");
        renewed.extensions.set(kOAuthExpiresAtKey, "200");
        store::SessionSettings kept = s;
        keepRelaySignIn(kept, 2, renewed);
        const std::string prefix = c.ownAccount ? "relay.2." : "";
        EXPECT_EQ(kept.extensions.value(prefix + kOAuthAccessTokenKey), "renewed");
        EXPECT_EQ(kept.extensions.value(prefix + kOAuthExpiresAtKey), "200");
        EXPECT_EQ(kept.extensions.value(kOAuthAccessTokenKey),
                  c.ownAccount ? "main-token" : "renewed");
        EXPECT_EQ(kept.extensions.value(kOAuthRelayKey), "");
        kept.extensions = s.extensions;
        EXPECT_EQ(kept, s);
    }
    // Removing a relay forgets its tokens with its settings.
    store::SessionSettings s = mainServer();
    set(s, "relay.2.server", "relay.example.net");
    set(s, "relay.2.oauthProvider", "google");
    s.extensions.set("relay.2.oauthRefreshToken", "refresh");
    removeRelay(s.extensions, 2);
    EXPECT_EQ(s.extensions, mainServer().extensions);
}

} // namespace velmora::delivery
