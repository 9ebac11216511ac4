#pragma once

#include "platform/prompter.h"

#include <QString>

class QWidget;

namespace velmora::platform {

// Message boxes and file requesters on Qt, belonging to the active window of
// the program, else to the given one.
class QtPrompter final : public Prompter {
public:
    explicit QtPrompter(QWidget* parent) : parent_(parent) {}
    PromptAnswer message(const std::string& title, const std::string& text,
                         PromptButtons buttons) override;
    std::optional<std::string> openFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override;
    std::optional<std::string> saveFileName(const std::string& title, const std::string& filter,
                                            const std::string& initialPath) override;

    QWidget* owner() const;

private:
    QWidget* parent_;
};

// "Caption (*.x)|*.x|All files (*.*)|*.*" as a Qt filter list: the captions,
// one per line, since Qt reads the patterns from inside the parentheses.
QString toQtFilter(const std::string& filter);

} // namespace velmora::platform
