#pragma once

#include "delivery/oauth/oauth_sign_in.h"
#include "delivery/relay_pool.h"
#include "delivery/run/send_run.h"
#include "store/password_store.h"
#include "store/records.h"

#include <functional>
#include <string>

namespace velmora::delivery {

// What a send run signs in with: the session's OAuth tokens (when it signs
// in with them) and the tokens of the relays with an account of their own.
// Every send of the command line and the desktop sets its run up with one.
// It works on a copy of the settings, so the run never changes the session
// by itself: keepRenewed writes the renewed tokens back (then save). The
// run's environment points into it, so it must outlive the run.
class RunSignIns {
public:
    RunSignIns(const store::SessionSettings& settings, store::PasswordStore* keyring,
               const std::function<long long()>& nowSeconds);
    RunSignIns(const RunSignIns&) = delete;
    RunSignIns& operator=(const RunSignIns&) = delete;

    // Gets the session's token now (renewed when it has ended; this waits
    // for the provider). False, with why in plain words, when a signed-in
    // session has no usable token: then the run must not start.
    bool ready(std::string& error);
    // Points the environment's tokens and relay sign-ins here.
    void fill(SendRunEnvironment& environment);
    // Asked while a renewal waits for the provider; true stops it.
    void setCancelled(const std::function<bool()>& cancelled);
    // Writes the renewed tokens (the session's and the relays') into
    // `settings`; whether there were any.
    bool keepRenewed(store::SessionSettings& settings) const;

private:
    store::SessionSettings settings_; // the session's tokens renew into it
    SessionAccessTokens tokens_;
    RelaySignIns relays_;
    bool usesOAuth_;
};

} // namespace velmora::delivery
