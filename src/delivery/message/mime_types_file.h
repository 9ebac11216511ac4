#pragma once

#include "platform/content_types.h"

#include <string>
#include <unordered_map>

namespace velmora::delivery {

inline constexpr const char* kSystemMimeTypesPath = "/etc/mime.types";

// Content types from a file in the format of /etc/mime.types: one type per
// line followed by its extensions, "#" starting a comment. A missing or
// unreadable file leaves every extension unknown.
class MimeTypesFile final : public platform::ContentTypes {
public:
    explicit MimeTypesFile(const std::string& path = kSystemMimeTypesPath);
    std::string contentTypeForExtension(std::string_view extension) const override;
    bool loaded() const { return loaded_; }

private:
    std::unordered_map<std::string, std::string> types_; // lower-case extension -> type
    bool loaded_ = false;
};

} // namespace velmora::delivery
