#pragma once

#include <optional>
#include <string>

namespace velmora::store {

// A place outside the session file for the SMTP password: the desktop
// keyring in the programs, a map in the tests. Calls block until answered.
class PasswordStore {
public:
    virtual ~PasswordStore() = default;
    // Nothing when the store can be used; else why not, in a sentence the
    // user can act on.
    virtual std::optional<std::string> unavailableReason() = 0;
    struct ReadResult {
        std::optional<std::string> password; // none when not found or failed
        std::string error;                   // why, when there is no password
    };
    virtual ReadResult read(const std::string& account) = 0;
    // Nothing on success, else the reason.
    virtual std::optional<std::string> write(const std::string& account,
                                             const std::string& password) = 0;
    virtual std::optional<std::string> remove(const std::string& account) = 0;
};

} // namespace velmora::store
