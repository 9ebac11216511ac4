#pragma once

#include "delivery/oauth/oauth_provider.h"
#include "delivery/oauth/token_client.h"
#include "delivery/smtp/smtp_session.h"
#include "platform/launcher.h"
#include "store/password_store.h"
#include "store/records.h"

#include <functional>
#include <string>
#include <string_view>

namespace velmora::delivery {

// Where a session keeps what a sign-in gave: the refresh token in the
// desktop keyring (oauthTokenInKeyring) or scrambled in the session file,
// the access token scrambled with its end. None of them is a setting: they
// are never listed, set by name, shown or logged.
inline constexpr const char* kOAuthTokenInKeyringKey = "oauthTokenInKeyring";
inline constexpr const char* kOAuthRefreshTokenKey = "oauthRefreshToken";
inline constexpr const char* kOAuthAccessTokenKey = "oauthAccessToken";
inline constexpr const char* kOAuthExpiresAtKey = "oauthExpiresAt"; // seconds since 1970, UTC

// Only in a copy of the settings made for a relay with a sign-in of its own
// (relaySettings): the relay's number, which keeps its keyring entry apart
// from the session's even for the same account.
inline constexpr const char* kOAuthRelayKey = "oauthRelay";

// True for the keys above that hold a token (never to be shown).
bool isOAuthTokenKey(std::string_view name);

// The keyring entry of the refresh token.
std::string oauthKeyringAccount(const store::SessionSettings& settings);

bool signedInWithOAuth(const store::SessionSettings& settings);
// The account the sign-in is for: oauthLogin, else the user name, else the From address.
std::string oauthLogin(const store::SessionSettings& settings);
// "Signed in as NAME (until TIME)" (TIME in UTC) or "Not signed in with OAuth."
std::string oauthStatusText(const store::SessionSettings& settings);

inline constexpr const char* kSignInAgainText =
    "The provider no longer accepts this sign-in: sign in again.";

// What a sign-in tells its user and asks whether to stop.
class SignInFeedback {
public:
    virtual ~SignInFeedback() = default;
    virtual void show(const std::string& line) = 0;
    virtual bool cancelled() = 0;
};

struct SignInRequest {
    bool device = false;     // device authorization instead of the browser
    bool openBrowser = true; // false: only show the address to open
    // Opens the address (the platform launcher's document handler, or a
    // given program); empty: only show it.
    std::function<bool(const std::string& url)> openUrl;
    long long timeoutSeconds = 300;
    long long nowSeconds = 0; // the time of day, for the token's end
};

struct SignInResult {
    bool ok = false;
    std::string message; // "Signed in as ..." or why not; never a token
};

// Signs in with the session's provider and keeps the tokens in `settings`
// (and `keyring` when it can be used; null: none).
SignInResult signIn(store::SessionSettings& settings, const SignInRequest& request,
                    SignInFeedback& feedback, store::PasswordStore* keyring);

// Whether the session's SMTP sessions sign in with its tokens: it is
// signed in, and its login method is not a password one (plain, login).
bool usesOAuth(const store::SessionSettings& settings);
// The request signs in as the OAuth login with `tokens`, without a password.
void signInWithTokens(SmtpSessionRequest& request, const store::SessionSettings& settings,
                      AccessTokens& tokens);
// Copies what a sign-in or renewal keeps (the token keys) from one settings to another.
void copyOAuthTokens(const store::SessionSettings& from, store::SessionSettings& to);

// Forgets the tokens (and the keyring entry).
void signOut(store::SessionSettings& settings, store::PasswordStore* keyring);

// The access tokens of a signed-in session for its SMTP sessions: the
// stored one while it lasts, else renewed with the refresh token; a
// renewed token is kept in `settings` (changed() says so: save the session).
class SessionAccessTokens final : public AccessTokens {
public:
    SessionAccessTokens(store::SessionSettings& settings, store::PasswordStore* keyring,
                        std::function<long long()> nowSeconds);
    std::string current(std::string& error) override;
    std::string renewed(std::string& error) override;
    bool changed() const { return changed_; }
    // Asked while a renewal waits for the provider; true stops it.
    void setCancelled(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }

private:
    store::SessionSettings& settings_;
    store::PasswordStore* keyring_;
    std::function<long long()> now_;
    std::function<bool()> cancelled_;
    bool changed_ = false;
};

} // namespace velmora::delivery
