#pragma once

#include <string>

namespace velmora::platform {

// Plain text in and out of the desktop's clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual std::string text() const = 0;
    virtual void setText(const std::string& text) = 0;
};

} // namespace velmora::platform
