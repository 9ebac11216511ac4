#pragma once

#include <cstdint>
#include <string_view>

namespace velmora::store {

// The numeric values are stored in session files and must never change.
enum class ContactStatus : std::int32_t {
    Subscribers = 0,
    Prospects = 1,
    Customers = 2,
    DoNotContact = -1,
    Deleted = -999,
};

enum class ContactTag : std::int32_t {
    None = 0,
    Todo = 1,
    Important = 2,
    Irate = 3,
    Star = 4,
};

enum class DeliveryMethod : std::int32_t {
    None = 0,
    SmtpServer = 1,
    DefaultMailClient = 2,
    CustomMailClient = 3,
};

enum class EditorFormat : std::int32_t {
    PlainText = 0,
    Html = 1,
};

constexpr std::int32_t code(ContactStatus value) {
    return static_cast<std::int32_t>(value);
}
constexpr std::int32_t code(ContactTag value) {
    return static_cast<std::int32_t>(value);
}
constexpr std::int32_t code(DeliveryMethod value) {
    return static_cast<std::int32_t>(value);
}
constexpr std::int32_t code(EditorFormat value) {
    return static_cast<std::int32_t>(value);
}

// Captions as shown on tabs, in the filter tree, dialogs and messages. An
// unknown code (a session file may hold any number) has an empty caption.
std::string_view statusCaption(std::int32_t status);
std::string_view tagCaption(std::int32_t tag);
std::string_view deliveryMethodCaption(std::int32_t method);

// The four statuses a user can give, in tab order.
inline constexpr ContactStatus kVisibleStatuses[] = {
    ContactStatus::Subscribers, ContactStatus::Prospects, ContactStatus::Customers,
    ContactStatus::DoNotContact};

} // namespace velmora::store
