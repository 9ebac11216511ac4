#include "store/codes.h"

namespace velmora::store {

std::string_view statusCaption(std::int32_t status) {
    switch (status) {
    case code(ContactStatus::Subscribers):
        return "Subscribers";
    case code(ContactStatus::Prospects):
        return "Prospects";
    case code(ContactStatus::Customers):
        return "Customers";
    case code(ContactStatus::DoNotContact):
        return "Do Not Contact";
    default:
        return "";
    }
}

std::string_view tagCaption(std::int32_t tag) {
    switch (tag) {
    case code(ContactTag::None):
        return "--none--";
    case code(ContactTag::Todo):
        return "Todo";
    case code(ContactTag::Important):
        return "Important";
    case code(ContactTag::Irate):
        return "Irate";
    case code(ContactTag::Star):
        return "Star";
    default:
        return "";
    }
}

std::string_view deliveryMethodCaption(std::int32_t method) {
    switch (method) {
    case code(DeliveryMethod::None):
        return "None";
    case code(DeliveryMethod::SmtpServer):
        return "SMTP Server";
    case code(DeliveryMethod::DefaultMailClient):
        return "Default Mail Client";
    case code(DeliveryMethod::CustomMailClient):
        return "Custom Mail Client";
    default:
        return "";
    }
}

} // namespace velmora::store
