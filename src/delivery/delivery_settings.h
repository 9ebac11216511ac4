#pragma once

#include "store/records.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::delivery {

// The integer value of a text field: leading blanks and tabs skipped, an
// optional sign, then decimal digits up to the first other character; 0
// when there are none. Values beyond the int32 range stop at its bounds.
std::int32_t parseIntegerText(std::string_view text);

// Which controls of the delivery settings dialog are enabled for the chosen
// method (drop-down position) and the "Requires Authentication" box.
struct DeliveryControlStates {
    bool clientFields = false; // "Client Path", "Parameters", ">>"
    bool serverFields = false; // "Requires Authentication", server, port, time-out
    bool loginFields = false;  // "Username", "Password"
    friend bool operator==(const DeliveryControlStates&, const DeliveryControlStates&) = default;
};
DeliveryControlStates deliveryControlStates(std::int32_t method, bool requiresAuth);

// The dialog's controls as they stand when "Apply" is pressed.
struct DeliverySettingsForm {
    bool html = true;
    std::int32_t methodPosition = 1;
    std::string clientPath, clientParameters, smtpServer;
    std::string portText, timeoutText;
    bool requiresAuth = false;
    std::string userName, password, fromAddress, replyTo, signature;
    bool includeSignature = false;
    std::int32_t securityPosition = 0;    // kSecurityCaptions
    std::int32_t loginMethodPosition = 0; // kLoginMethodCaptions
    // The session's other extension settings, kept as they are.
    store::ExtensionSettings extensions;
};

// The "Security" drop-down's items, in order, and the smtpSecurity value of each.
inline constexpr const char* kSecurityCaptions[] = {"Auto", "STARTTLS", "TLS", "None"};
inline constexpr const char* kSecurityValues[] = {"auto", "starttls", "tls", "none"};
// The "Login method" drop-down's items and their smtpAuthMechanism values.
inline constexpr const char* kLoginMethodCaptions[] = {"Auto", "PLAIN", "LOGIN", "XOAUTH2",
                                                       "OAUTHBEARER"};
inline constexpr const char* kLoginMethodValues[] = {"auto", "plain", "login", "xoauth2",
                                                     "oauthbearer"};

// The port each Security item suggests (587, 587, 465, 25).
int suggestedPort(std::int32_t securityPosition);
// The port text after the Security drop-down moved to `securityPosition`:
// the new suggestion when the field is blank or still holds a suggestion
// (25, 465 or 587), else the text the user typed, unchanged.
std::string portTextForSecurity(std::int32_t securityPosition, std::string_view portText);

DeliverySettingsForm deliverySettingsForm(const store::SessionSettings& settings);
// Every control copied at once; texts exactly as they stand, nothing validated.
store::SessionSettings applyDeliverySettings(const DeliverySettingsForm& form);

} // namespace velmora::delivery
