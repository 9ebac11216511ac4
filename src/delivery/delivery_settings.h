#pragma once

#include "delivery/settings_by_name.h"
#include "store/records.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
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

// The "Advanced" part of the dialog: extension settings of the runs and the
// certificate, each a text field under its caption.
struct AdvancedSetting {
    const char* name;
    const char* caption;
};
inline constexpr AdvancedSetting kAdvancedSettings[] = {
    {"tlsPinSha256", "Certificate pin (tlsPinSha256)"},
    {"deferredRetries", "Retries of a deferred recipient"},
    {"ratePerMinute", "Messages per minute (0: no limit)"},
    {"ratePerHour", "Messages per hour (0: no limit)"},
    {"maxPauseMinutes", "Pauses at the server's request (minutes in all)"},
    {"messagesPerConnection", "Messages per connection"},
    {"connections", "Connections at once (1 to 20)"},
    {"bounceAddress", "Return address of list runs (empty: the From address)"},
};
inline constexpr std::size_t kAdvancedSettingCount = std::size(kAdvancedSettings);

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
    // The texts of the advanced settings, in the order of kAdvancedSettings.
    std::array<std::string, kAdvancedSettingCount> advanced;
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
// The advanced texts of `form` set into `settings` by the rules of
// `settings set` (spaces around a text dropped). The refusal of the first
// that is not acceptable; `settings` must then not be applied.
std::optional<SettingRefusal> applyAdvancedSettings(const DeliverySettingsForm& form,
                                                    store::SessionSettings& settings);

} // namespace velmora::delivery
