#pragma once

#include "platform/clipboard.h"

namespace velmora::platform {

// Clipboard on QGuiApplication's clipboard (needs the application object).
class QtClipboard final : public Clipboard {
public:
    std::string text() const override;
    void setText(const std::string& text) override;
};

} // namespace velmora::platform
