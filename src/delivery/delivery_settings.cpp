#include "delivery/delivery_settings.h"

#include "store/text.h"

#include <limits>

namespace velmora::delivery {

namespace {

template <std::size_t N>
std::int32_t positionOf(const char* const (&values)[N], std::string_view value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (value == values[i]) {
            return static_cast<std::int32_t>(i);
        }
    }
    return 0;
}

template <std::size_t N>
const char* valueAt(const char* const (&values)[N], std::int32_t position) {
    return position >= 0 && static_cast<std::size_t>(position) < N ? values[position] : values[0];
}

} // namespace

int suggestedPort(std::int32_t securityPosition) {
    switch (securityPosition) {
    case 2:
        return 465;
    case 3:
        return 25;
    default:
        return 587;
    }
}

std::string portTextForSecurity(std::int32_t securityPosition, std::string_view portText) {
    const std::string_view trimmed = [&] {
        std::string_view t = portText;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) {
            t.remove_prefix(1);
        }
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) {
            t.remove_suffix(1);
        }
        return t;
    }();
    if (trimmed.empty() || trimmed == "25" || trimmed == "465" || trimmed == "587") {
        return std::to_string(suggestedPort(securityPosition));
    }
    return std::string(portText);
}

std::int32_t parseIntegerText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit + 1) {
            value = limit + 1;
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return static_cast<std::int32_t>(value > limit ? limit : value);
}

DeliveryControlStates deliveryControlStates(std::int32_t method, bool requiresAuth) {
    DeliveryControlStates states;
    if (method == code(store::DeliveryMethod::SmtpServer)) {
        states.serverFields = true;
        states.loginFields = requiresAuth;
    } else if (method == code(store::DeliveryMethod::CustomMailClient)) {
        states.clientFields = true;
    }
    return states;
}

DeliverySettingsForm deliverySettingsForm(const store::SessionSettings& s) {
    DeliverySettingsForm f;
    f.html = s.editorFormat == code(store::EditorFormat::Html);
    f.methodPosition = s.deliveryMethod;
    f.clientPath = s.clientPath;
    f.clientParameters = s.clientParameters;
    f.smtpServer = s.smtpServer;
    f.portText = std::to_string(s.smtpPort);
    f.timeoutText = std::to_string(s.timeoutSeconds);
    f.requiresAuth = s.requiresAuth == 1;
    f.userName = s.userName;
    f.password = s.password;
    f.fromAddress = s.fromAddress;
    f.replyTo = s.replyTo;
    f.signature = s.signature;
    f.includeSignature = s.includeSignature == 1;
    f.securityPosition = positionOf(kSecurityValues, s.extensions.value("smtpSecurity"));
    f.loginMethodPosition = positionOf(kLoginMethodValues, s.extensions.value("smtpAuthMechanism"));
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        f.advanced[i] = s.extensions.value(kAdvancedSettings[i].name);
    }
    f.extensions = s.extensions;
    return f;
}

store::SessionSettings applyDeliverySettings(const DeliverySettingsForm& f) {
    store::SessionSettings s;
    s.editorFormat =
        f.html ? code(store::EditorFormat::Html) : code(store::EditorFormat::PlainText);
    s.deliveryMethod = f.methodPosition;
    s.clientPath = f.clientPath;
    s.clientParameters = f.clientParameters;
    s.smtpServer = f.smtpServer;
    s.smtpPort = parseIntegerText(f.portText);
    s.timeoutSeconds = parseIntegerText(f.timeoutText);
    s.requiresAuth = f.requiresAuth ? 1 : 0;
    s.userName = f.userName;
    s.password = f.password;
    s.fromAddress = f.fromAddress;
    s.replyTo = f.replyTo;
    s.signature = f.signature;
    s.includeSignature = f.includeSignature ? 1 : 0;
    // Settings the dialog does not show (and keys of newer builds) stay.
    s.extensions = f.extensions;
    s.extensions.set("smtpSecurity", valueAt(kSecurityValues, f.securityPosition));
    s.extensions.set("smtpAuthMechanism", valueAt(kLoginMethodValues, f.loginMethodPosition));
    return s;
}

std::optional<SettingRefusal> applyAdvancedSettings(const DeliverySettingsForm& form,
                                                    store::SessionSettings& settings) {
    for (std::size_t i = 0; i < kAdvancedSettingCount; ++i) {
        if (auto refusal = setSettingByName(settings, kAdvancedSettings[i].name,
                                            std::string(store::trimSpaces(form.advanced[i])))) {
            return refusal;
        }
    }
    return std::nullopt;
}

} // namespace velmora::delivery
