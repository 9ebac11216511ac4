#pragma once

#include "store/records.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// The session's settings by name, as scripts read and change them: the
// file's fixed fields under their record names, then every extension key.

// Every name `setSettingByName` takes, in the order they are listed.
std::vector<std::string> settingNames();

// A refused name or value: the message says what is allowed.
struct SettingRefusal {
    std::string message;
};

// Sets one setting from its text. Numbers in decimal; booleans 0|1;
// deliveryMethod none|smtp|default-client|custom-client (or its code);
// editorFormat plain|html (or its code). Nothing changes when it is refused.
std::optional<SettingRefusal> setSettingByName(store::SessionSettings& settings,
                                               std::string_view name, std::string value);

} // namespace velmora::delivery
