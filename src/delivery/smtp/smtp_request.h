#pragma once

#include "delivery/run_observer.h"
#include "delivery/smtp/connection.h"
#include "delivery/smtp/smtp_session.h"
#include "store/clock.h"
#include "store/records.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::delivery {

// The session request the settings describe: server, port, time-out, login
// (when requiresAuth), Security, login method, pin and greeting name
// (heloName, else `hostName`). The message is left to the caller.
SmtpSessionRequest smtpRequestFor(const store::SessionSettings& settings,
                                  const std::string& hostName);

// "Test Connection": connects with the settings, does TLS and the login as
// a delivery would, then says QUIT without sending anything.
SmtpSessionReport testSmtpConnection(const store::SessionSettings& settings,
                                     const std::string& hostName, Connection& connection,
                                     RunObserver& observer, const store::Clock& clock,
                                     AccessTokens* tokens = nullptr);

// True when the test reached the server (and logged in, when a login is set).
bool connectionTestPassed(const SmtpSessionReport& report);

// The tlsPinSha256 value that would accept the certificate the test
// refused, when it was refused only for want of an authority this computer
// trusts (self-signed or an unknown issuer); nothing otherwise.
std::optional<std::string> certificatePinToTrust(const SmtpSessionReport& report);

// What the test found, one line each: greeting, capabilities, encryption,
// certificate, login and the result. Every server text is safe to show.
std::vector<std::string> connectionTestLines(const SmtpSessionRequest& request,
                                             const SmtpSessionReport& report);

} // namespace velmora::delivery
