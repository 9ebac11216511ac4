#pragma once

#include <optional>
#include <string>

namespace velmora::platform {

// YesNoDefaultNo: Return answers No (questions whose Yes cannot be undone).
enum class PromptButtons { Ok, YesNo, YesNoCancel, YesNoDefaultNo };
enum class PromptAnswer { Ok, Yes, No, Cancel };

// Message boxes and file requesters, as the core asks for them. The GUI
// answers with real dialogs; the command-line tool and the tests with fakes.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A modal box titled `title` ("Confirm", "Information", "Error", ...).
    virtual PromptAnswer message(const std::string& title, const std::string& text,
                                 PromptButtons buttons = PromptButtons::Ok) = 0;
    // `filter` lists caption and pattern pairs separated by vertical bars,
    // e.g. "Session files (*.qmz)|*.qmz|All files (*.*)|*.*". Empty when
    // cancelled.
    virtual std::optional<std::string> openFileName(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& initialPath) = 0;
    virtual std::optional<std::string> saveFileName(const std::string& title,
                                                    const std::string& filter,
                                                    const std::string& initialPath) = 0;
};

} // namespace velmora::platform
