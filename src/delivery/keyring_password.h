#pragma once

#include "store/password_store.h"
#include "store/session.h"

#include <optional>
#include <string>

namespace velmora::delivery {

// A session may keep its SMTP password in the desktop keyring instead of its
// file: the extension key `passwordInKeyring` marks it, and the file's
// password field stays empty (the session file writer leaves it out).
inline constexpr const char* kPasswordInKeyringKey = "passwordInKeyring";

bool keepsPasswordInKeyring(const store::SessionSettings& settings);

// The keyring entry of a session's password: the login it belongs to, so
// that a moved or copied session file still finds it.
std::string keyringAccount(const store::SessionSettings& settings);

// After loading: a session whose password is in the keyring gets it from
// `store` in memory (the session stays as saved). Nothing when there was
// nothing to fetch or it was fetched; else the message to show.
std::optional<std::string> fetchKeyringPassword(store::Session& session,
                                                store::PasswordStore& store);

// The delivery settings' choice: `keep` stores `settings.password` in the
// keyring under the settings' login and sets the marker; turning it off
// clears the marker so the password goes back into the file, and removes
// the keyring entry. On failure `settings` keeps the password in the file
// (marker off) and the keyring's reason is returned.
std::optional<std::string> applyKeyringChoice(store::SessionSettings& settings, bool keep,
                                              const store::SessionSettings& before,
                                              store::PasswordStore& store);

// What the keyring says when it has no login collection (or it is locked)
// is a D-Bus object path; the user gets words instead.
inline constexpr const char* kNoLoginKeyringText =
    "the desktop keyring has no login collection, or it is locked; create or unlock the "
    "login keyring and try again.";
// `reason` as the keyring gave it, in the user's words where they are known.
std::string keyringReasonText(const std::string& reason);

inline constexpr const char* kNoKeyringInThisBuildText =
    "The SMTP password is kept in the desktop keyring, which this build cannot reach.";
std::string keyringReadFailedText(const std::string& reason);
std::string keyringWriteFailedText(const std::string& reason);

} // namespace velmora::delivery
