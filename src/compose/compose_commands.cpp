#include "compose/compose_commands.h"

namespace velmora::compose {

const std::vector<ComposeMenuEntry>& composeMenu() {
    using K = ComposeMenuEntry::Kind;
    using C = ComposeCommand;
    static const std::vector<ComposeMenuEntry> entries{
        {K::Item, "&File", "", "&New", C::New, ""},
        {K::Item, "&File", "", "&Open..", C::Open, ""},
        {K::Item, "&File", "", "&Save..", C::Save, ""},
        {K::Separator, "&File", "", "", C::Help, ""},
        {K::Item, "&File", "", "Send &Email", C::SendEmail, ""},
        {K::Separator, "&File", "", "", C::Help, ""},
        {K::Item, "&File", "", "&Close", C::Close, ""},
        {K::Item, "&Edit", "", "&Undo", C::Undo, ""},
        {K::Item, "&Edit", "", "&Redo", C::Redo, ""},
        {K::Separator, "&Edit", "", "", C::Help, ""},
        {K::Item, "&Edit", "", "Cu&t", C::Cut, ""},
        {K::Item, "&Edit", "", "&Copy", C::Copy, ""},
        {K::Item, "&Edit", "", "&Paste", C::Paste, ""},
        {K::Separator, "&Edit", "", "", C::Help, ""},
        {K::Item, "&Edit", "&Insert", "&Hyperlink..", C::InsertHyperlink, ""},
        {K::Item, "&Edit", "&Insert", "&Attachment..", C::AttachFile, ""},
        {K::Item, "&Edit", "&Insert", "Horizontal &Line", C::InsertHorizontalLine, ""},
        {K::PersonalFields, "&Edit", "Insert &Field", "", C::Help, ""},
        {K::Separator, "&Edit", "", "", C::Help, ""},
        {K::Item, "&Edit", "", "C&lear Attachments", C::ClearAttachments, ""},
        {K::Item, "&Tools", "", "&Font Style..", C::FontStyle, ""},
        {K::Item, "&Tools", "", "&Edit HTML", C::EditHtml, ""},
        {K::Separator, "&Tools", "", "", C::Help, ""},
        {K::Item, "&Tools", "", "Send &Preview", C::SendPreview, ""},
        {K::Item, "&Tools", "", "&Check Message", C::CheckMessage, ""},
        {K::Item, "&Tools", "", "Send &Test...", C::SendTest, ""},
        {K::Item, "&Tools", "", "Send &Later...", C::SendLater, ""},
        {K::Item, "&Help", "", "&Help...", C::Help, "F1"},
        {K::Separator, "&Help", "", "", C::Help, ""},
        {K::Item, "&Help", "", "&About", C::About, ""},
    };
    return entries;
}

const std::array<ComposeButton, 21>& composeButtons() {
    using C = ComposeCommand;
    using I = platform::ImageName;
    constexpr ButtonRow top = ButtonRow::Message;
    constexpr ButtonRow format = ButtonRow::Formatting;
    // Gaps of 8 pixels between the groups of the top row; the formatting row
    // leaves room for the paragraph style list after its first button.
    static const std::array<ComposeButton, 21> buttons{{
        {top, 0, "Send email", I::SendEmail, C::SendEmailNow, false},
        {top, 32, "Save draft", I::SaveDraft, C::Save, false},
        {top, 64, "Preview", I::Preview, C::SendPreview, false},
        {top, 104, "Cut", I::Cut, C::Cut, true},
        {top, 136, "Copy", I::Copy, C::Copy, true},
        {top, 168, "Paste", I::Paste, C::Paste, false},
        {top, 208, "Attach a file", I::AttachFile, C::AttachFile, false},
        {format, 5, "Font-style", I::FontStyle, C::FontStyle, true},
        {format, 205, "Bold", I::Bold, C::Bold, true},
        {format, 230, "Italic", I::Italic, C::Italic, true},
        {format, 260, "Unordered-list", I::UnorderedList, C::UnorderedList, true},
        {format, 285, "Ordered-list", I::OrderedList, C::OrderedList, true},
        {format, 315, "Align-left", I::AlignLeft, C::AlignLeft, true},
        {format, 340, "Align-center", I::AlignCenter, C::AlignCenter, true},
        {format, 365, "Align-justify", I::AlignJustify, C::AlignJustify, true},
        {format, 390, "Align-right", I::AlignRight, C::AlignRight, true},
        {format, 420, "Increase indent", I::IndentMore, C::IncreaseIndent, true},
        {format, 445, "Decrease indent", I::IndentLess, C::DecreaseIndent, true},
        {format, 470, "Insert horizontal-line", I::HorizontalLine, C::InsertHorizontalLine, false},
        {format, 500, "Insert hyperlink", I::Hyperlink, C::InsertHyperlink, false},
        {format, 525, "Edit HTML", I::EditHtml, C::EditHtml, false},
    }};
    return buttons;
}

} // namespace velmora::compose
