#include "delivery/delivery_settings.h"

#include <limits>

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
    if (method == code(DeliveryMethod::SmtpServer)) {
        states.serverFields = true;
        states.loginFields = requiresAuth;
    } else if (method == code(DeliveryMethod::CustomMailClient)) {
        states.clientFields = true;
    }
    return states;
}

DeliverySettingsForm deliverySettingsForm(const SessionSettings& s) {
    DeliverySettingsForm f;
    f.html = s.editorFormat == code(EditorFormat::Html);
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
    return f;
}

SessionSettings applyDeliverySettings(const DeliverySettingsForm& f) {
    SessionSettings s;
    s.editorFormat = f.html ? code(EditorFormat::Html) : code(EditorFormat::PlainText);
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
    return s;
}
