#include "delivery/keyring_password.h"

namespace velmora::delivery {

bool keepsPasswordInKeyring(const store::SessionSettings& settings) {
    return settings.extensions.boolean(kPasswordInKeyringKey);
}

std::string keyringAccount(const store::SessionSettings& settings) {
    return "smtp://" + settings.userName + "@" + settings.smtpServer + ":" +
           std::to_string(settings.smtpPort);
}

std::string keyringReasonText(const std::string& reason) {
    // "Object does not exist at path “/org/freedesktop/secrets/collection/login”",
    // or the same for the default alias; a locked one refuses new items.
    const bool missing = reason.find("does not exist") != std::string::npos &&
                         reason.find("/org/freedesktop/secrets/") != std::string::npos;
    const bool locked = reason.find("locked collection") != std::string::npos;
    return missing || locked ? kNoLoginKeyringText : reason;
}

std::string keyringReadFailedText(const std::string& reason) {
    return "The SMTP password could not be read from the desktop keyring: " + reason;
}

std::string keyringWriteFailedText(const std::string& reason) {
    return "The SMTP password could not be stored in the desktop keyring, so it stays in the "
           "session file: " +
           reason;
}

std::optional<std::string> fetchKeyringPassword(store::Session& session,
                                                store::PasswordStore& store) {
    const store::SessionSettings& current = session.settings();
    if (!keepsPasswordInKeyring(current) || !current.password.empty()) {
        return std::nullopt;
    }
    if (const auto reason = store.unavailableReason()) {
        return keyringReadFailedText(*reason);
    }
    store::PasswordStore::ReadResult read = store.read(keyringAccount(current));
    if (!read.password) {
        return keyringReadFailedText(keyringReasonText(read.error));
    }
    // Filling in what the file left out is no change to save.
    const bool wasSaved = !session.hasUnsavedChanges();
    store::SessionSettings settings = current;
    settings.password = std::move(*read.password);
    session.setSettings(std::move(settings));
    if (wasSaved) {
        session.markSaved();
    }
    return std::nullopt;
}

std::optional<std::string> applyKeyringChoice(store::SessionSettings& settings, bool keep,
                                              const store::SessionSettings& before,
                                              store::PasswordStore& store) {
    const bool was = keepsPasswordInKeyring(before);
    if (!keep) {
        settings.extensions.set(kPasswordInKeyringKey, "0");
        if (was) {
            // Best effort: the password is back in the file either way.
            store.remove(keyringAccount(before));
        }
        return std::nullopt;
    }
    // Nothing new to store: a password the keyring could not give at load
    // time (empty here) must not overwrite the one it holds.
    if (was && settings.password == before.password &&
        keyringAccount(settings) == keyringAccount(before)) {
        settings.extensions.set(kPasswordInKeyringKey, "1");
        return std::nullopt;
    }
    std::optional<std::string> failure = store.unavailableReason();
    if (!failure) {
        failure = store.write(keyringAccount(settings), settings.password);
    }
    if (failure) {
        settings.extensions.set(kPasswordInKeyringKey, "0");
        return keyringReasonText(*failure);
    }
    settings.extensions.set(kPasswordInKeyringKey, "1");
    // A changed login leaves no stale entry behind.
    if (was && keyringAccount(before) != keyringAccount(settings)) {
        store.remove(keyringAccount(before));
    }
    return std::nullopt;
}

} // namespace velmora::delivery
