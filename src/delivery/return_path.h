#pragma once

#include "delivery/random_source.h"
#include "store/extension_settings.h"

#include <string>
#include <string_view>

// Per-recipient return addresses: with bounceAddress set, each message of a
// list run goes out with an envelope sender of its own
// ("bounces+TOKEN@example.org"), so that a bounce names the contact by the
// address it came back to, even when its text names nobody. The token is a
// keyed hash of the recipient's address and the run, so no one without the
// session's key can make one that points at another contact; the run's
// journal turns it back into the contact.
namespace velmora::delivery {

inline constexpr const char* kBounceAddressKey = "bounceAddress";
// The session's own random key for the tokens (64 hex digits), made when a
// bounce address is first set.
inline constexpr const char* kBounceKeyKey = "bounceKey";

// Characters in a token (lower case, so that a relay that lower-cases
// local parts keeps it whole).
inline constexpr std::size_t kReturnTokenLength = 10;

// Makes the key when a bounce address is set and the session has none;
// true when it made one (the session changed).
bool ensureBounceKey(store::ExtensionSettings& extensions, const RandomBytes& randomBytes);

// One run's return addresses. Off (the plain sender) without a bounce
// address, a key or a run to name.
struct ReturnPath {
    std::string bounceAddress;
    std::string key;
    std::string runId;
    bool on() const { return !bounceAddress.empty() && !key.empty() && !runId.empty(); }
};
ReturnPath returnPath(const store::ExtensionSettings& extensions, std::string runId);

// The token of `recipient` in the run: letters a-z and digits 2-7.
std::string returnToken(std::string_view key, std::string_view runId, std::string_view recipient);
// The envelope sender of the message to `recipient`: the bounce address
// with the token after a "+", or `sender` when the path is off.
std::string envelopeSender(const ReturnPath& path, std::string_view sender,
                           std::string_view recipient);
// The token an address carries after the last "+" of its local part, in
// lower case; "" when it carries none.
std::string returnTokenIn(std::string_view address);

} // namespace velmora::delivery
