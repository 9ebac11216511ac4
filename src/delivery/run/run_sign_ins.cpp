#include "delivery/run/run_sign_ins.h"

namespace velmora::delivery {

RunSignIns::RunSignIns(const store::SessionSettings& settings, store::PasswordStore* keyring,
                       const std::function<long long()>& nowSeconds)
    : settings_(settings), tokens_(settings_, keyring, nowSeconds),
      relays_(settings, keyring, nowSeconds), usesOAuth_(usesOAuth(settings)) {}

bool RunSignIns::ready(std::string& error) {
    // Renewed here when it ends soon, and by the SMTP sessions when the
    // server refuses it.
    return !usesOAuth_ || !tokens_.current(error).empty();
}

void RunSignIns::fill(SendRunEnvironment& environment) {
    environment.tokens = usesOAuth_ ? &tokens_ : nullptr;
    environment.relaySignIns = &relays_;
}

void RunSignIns::setCancelled(const std::function<bool()>& cancelled) {
    tokens_.setCancelled(cancelled);
}

bool RunSignIns::keepRenewed(store::SessionSettings& settings) const {
    const bool relays = relays_.keepRenewed(settings);
    if (tokens_.changed()) {
        copyOAuthTokens(settings_, settings);
    }
    return relays || tokens_.changed();
}

} // namespace velmora::delivery
