#pragma once

#include "store/password_store.h"

#include <QString>

namespace velmora::platform {

// The desktop keyring through QtKeychain over the Secret Service (GNOME
// Keyring, KWallet's Secret Service). Each call waits for its answer in a
// local event loop; a QCoreApplication is made for callers without one
// (the command-line tool).
class QtKeychainPasswordStore final : public store::PasswordStore {
public:
    // Entries go under `service` in the keyring.
    explicit QtKeychainPasswordStore(QString service = QStringLiteral("velmora-mailtray"));
    std::optional<std::string> unavailableReason() override;
    ReadResult read(const std::string& account) override;
    std::optional<std::string> write(const std::string& account,
                                     const std::string& password) override;
    std::optional<std::string> remove(const std::string& account) override;

private:
    QString service_;
};

// Why no keyring can be reached on this desktop, or nothing when a Secret
// Service is running or can be started on the session bus.
std::optional<std::string> secretServiceUnavailableReason();

} // namespace velmora::platform
