#pragma once

#include "store/codes.h"
#include "store/compact_string.h"
#include "store/extension_settings.h"

#include <cstdint>
#include <limits>
#include <string>

namespace velmora::store {

// A counter one higher, staying at the int32 maximum the file can hold.
constexpr std::int32_t countedOnceMore(std::int32_t count) {
    return count < std::numeric_limits<std::int32_t>::max() ? count + 1 : count;
}

// One contact. The Mailtray and the send list hold records of the same type,
// where `id` is the slot of the contact the entry was taken from.
struct Contact {
    std::int32_t id = 0;
    CompactString email;
    CompactString name;
    CompactString address;
    CompactString telephone;
    CompactString company;
    CompactString lastContacted; // "%mm/%dd/%yyyy" or "never"
    CompactString dateAdded;     // "%mm/%dd/%yyyy"
    std::int32_t timesContacted = 0;
    CompactString notes;
    std::int32_t groupIndex = 0; // slot of the group, not its id
    std::int32_t status = 0;     // ContactStatus code
    std::int32_t previousStatus = 0;
    std::int32_t tag = 0; // ContactTag code

    bool isDeleted() const { return status == code(ContactStatus::Deleted); }
    friend bool operator==(const Contact&, const Contact&) = default;
};

struct CampaignGroup {
    std::int32_t id = 0;
    std::string name;
    std::string description;
    friend bool operator==(const CampaignGroup&, const CampaignGroup&) = default;
};

inline constexpr const char* kDefaultClientParameters = "-compose \"to='%from%',bcc='%mailtray%'\"";

struct SessionSettings {
    std::int32_t editorFormat = code(EditorFormat::Html);
    std::int32_t deliveryMethod = code(DeliveryMethod::SmtpServer);
    std::string clientPath;
    std::string clientParameters = kDefaultClientParameters;
    std::string smtpServer;
    std::int32_t smtpPort = 25;
    std::int32_t timeoutSeconds = 15;
    std::int32_t requiresAuth = 0;
    std::string userName;
    std::string password;
    std::string fromAddress;
    std::string replyTo;
    std::string signature;
    std::int32_t includeSignature = 0;
    // Settings kept in the file's optional extension block.
    ExtensionSettings extensions;
    friend bool operator==(const SessionSettings&, const SessionSettings&) = default;
};

inline constexpr const char* kUntitled = "<untitled>";
inline constexpr const char* kNever = "never";

} // namespace velmora::store
