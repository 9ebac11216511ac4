#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

// The MIME type registered for a file extension. The core reads the system's
// list (delivery/message/mime_types_file.h); tests and other platforms supply their own.
class ContentTypes {
public:
    virtual ~ContentTypes() = default;
    // `extension` comes without its dot and in any letter case. Never empty:
    // "application/octet-stream" when the extension is unknown.
    virtual std::string contentTypeForExtension(std::string_view extension) const = 0;
};

inline constexpr std::string_view kUnknownContentType = "application/octet-stream";

} // namespace velmora::platform
