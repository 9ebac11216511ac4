#include "compose/editing_commands.h"

#include "delivery/message/html_text.h"
#include "store/text.h"

#include <optional>

namespace velmora::compose {

namespace {

bool startsWithAnyCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           store::equalIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithAnyCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           store::equalIgnoringAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t findAnyCase(std::string_view text, std::string_view what, std::size_t from) {
    if (what.empty() || text.size() < what.size()) {
        return std::string_view::npos;
    }
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        if (store::equalIgnoringAsciiCase(text.substr(i, what.size()), what)) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::string withDoubleQuotes(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\'') {
            c = '"';
        }
    }
    return out;
}

// The engine serialises attributes in double quotes while the commands write
// single quotes: a wrapper is looked for in both spellings.
std::string removeWrapperAnyCase(std::string_view text, std::string_view wrapper) {
    return removeAnyCase(removeAnyCase(text, wrapper), withDoubleQuotes(wrapper));
}

bool startsWithWrapper(std::string_view text, std::string_view wrapper) {
    return startsWithAnyCase(text, wrapper) || startsWithAnyCase(text, withDoubleQuotes(wrapper));
}

std::string_view trimWhite(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// When `html` is one element `tag` from its first to its last character, the
// content between its opening and closing tags; nested elements of the same
// name are balanced, so "<div>a</div><div>b</div>" is not one element.
std::optional<std::string_view> singleElementContent(std::string_view html, std::string_view tag) {
    const std::string open = "<" + std::string(tag);
    const std::string close = "</" + std::string(tag) + ">";
    if (!startsWithAnyCase(html, open) || !endsWithAnyCase(html, close)) {
        return std::nullopt;
    }
    const auto openEnd = html.find('>');
    if (openEnd == std::string_view::npos) {
        return std::nullopt;
    }
    int depth = 1;
    std::size_t pos = openEnd + 1;
    while (pos < html.size()) {
        const auto nextOpen = findAnyCase(html, open, pos);
        const auto nextClose = findAnyCase(html, close, pos);
        if (nextClose == std::string_view::npos) {
            return std::nullopt;
        }
        if (nextOpen != std::string_view::npos && nextOpen < nextClose) {
            const char after =
                nextOpen + open.size() < html.size() ? html[nextOpen + open.size()] : '\0';
            if (after == '>' || after == ' ' || after == '\t' || after == '\n' || after == '/') {
                ++depth;
            }
            pos = nextOpen + open.size();
            continue;
        }
        if (--depth == 0) {
            if (nextClose + close.size() != html.size()) {
                return std::nullopt;
            }
            return html.substr(openEnd + 1, nextClose - openEnd - 1);
        }
        pos = nextClose + close.size();
    }
    return std::nullopt;
}

// Shared by alignment and font style: `wrapper` + selection + `closing`, with
// the toggle and restyle rules described in the header.
void wrapToggling(EditingSurface& surface, const std::string& wrapper, std::string_view tag,
                  std::string_view ownPrefix) {
    const std::string sel = surface.selectionProperty("htmlText");
    if (sel.empty()) {
        return;
    }
    const std::string closing = "</" + std::string(tag) + ">";
    const std::string_view core = trimWhite(sel);
    if (startsWithWrapper(core, wrapper) && endsWithAnyCase(core, closing)) {
        surface.replaceSelection(removeAnyCase(removeWrapperAnyCase(sel, wrapper), closing));
        return;
    }
    if (startsWithWrapper(core, ownPrefix)) {
        if (const auto content = singleElementContent(core, tag)) {
            surface.replaceSelection(wrapper + std::string(*content) + closing);
            return;
        }
    }
    surface.replaceSelection(wrapper + sel + closing);
}

} // namespace

std::string removeAnyCase(std::string_view text, std::string_view what) {
    return replaceAnyCase(text, what, {});
}

std::string replaceAnyCase(std::string_view text, std::string_view what, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (true) {
        const auto hit = findAnyCase(text, what, pos);
        if (hit == std::string_view::npos) {
            out.append(text.substr(pos));
            return out;
        }
        out.append(text.substr(pos, hit - pos));
        out.append(with);
        pos = hit + what.size();
    }
}

void toggleTag(EditingSurface& surface, std::string_view tagWord) {
    const std::string t = store::toLowerAscii(store::trimSpaces(tagWord));
    std::string sel = surface.selectionProperty("htmlText");
    const std::string parent = store::toLowerAscii(surface.selectionParentTag());
    if (!sel.empty()) {
        if (parent == t) {
            sel = removeAnyCase(sel, "<" + t + ">");
            surface.replaceSelection(removeAnyCase(sel, "</" + t + ">"));
        } else {
            if (t == "ul" || t == "ol") {
                sel = replaceAnyCase(replaceAnyCase(sel, "<p>", "<li>"), "</p>", "</li>");
            }
            surface.replaceSelection("<" + t + ">" + sel + "</" + t + ">");
        }
    }
    surface.focusBody();
}

void alignSelection(EditingSurface& surface, std::string_view align) {
    const std::string a = store::toLowerAscii(store::trimSpaces(align));
    wrapToggling(surface, "<div style='text-align: " + a + ";'>", "div",
                 "<div style='text-align: ");
    surface.focusBody();
}

std::string_view blockFormatTag(int index) {
    static constexpr std::array<std::string_view, 9> tags = {"p",  "p",  "h1", "h2", "h3",
                                                             "h4", "h5", "h6", "pre"};
    if (index < 0 || index >= static_cast<int>(tags.size())) {
        return {};
    }
    return tags[static_cast<std::size_t>(index)];
}

void applyBlockFormat(EditingSurface& surface, int index) {
    const std::string_view tag = blockFormatTag(index);
    std::string sel = surface.selectionProperty("htmlText");
    if (tag.empty() || sel.empty()) {
        return;
    }
    for (std::string_view name : {"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre"}) {
        sel = removeAnyCase(sel, "<" + std::string(name) + ">");
        sel = removeAnyCase(sel, "</" + std::string(name) + ">");
    }
    surface.replaceSelection("<" + std::string(tag) + ">" + sel + "</" + std::string(tag) + ">");
}

bool chooseBlockFormat(EditingSurface& surface, std::int32_t& lastBlockFormat, int index) {
    if (index == lastBlockFormat) {
        return false;
    }
    applyBlockFormat(surface, index);
    lastBlockFormat = index;
    return true;
}

std::string fontStyleCss(const FontChoice& font) {
    // Characters that would end the style attribute or the declaration are
    // left out of the family name.
    std::string family;
    for (char c : font.fontName) {
        if (c != '\'' && c != '"' && c != ';' && c != '<' && c != '>') {
            family += c;
        }
    }
    std::string css = "font-family: " + family + "; font-size: " + std::to_string(font.size) +
                      "pt; color: rgb(" + std::to_string(font.colour.red) + "," +
                      std::to_string(font.colour.green) + "," + std::to_string(font.colour.blue) +
                      ");";
    if ((font.style & kFontStyleBold) != 0) {
        css += " font-weight: bold;";
    }
    if ((font.style & kFontStyleItalic) != 0) {
        css += " font-style: italic;";
    }
    const bool underline = (font.style & kFontStyleUnderline) != 0;
    const bool strikeOut = (font.style & kFontStyleStrikeOut) != 0;
    if (underline && strikeOut) {
        css += " text-decoration: underline line-through;";
    } else if (underline) {
        css += " text-decoration: underline;";
    } else if (strikeOut) {
        css += " text-decoration: line-through;";
    }
    return css;
}

void applyFontStyle(EditingSurface& surface, const FontChoice& font) {
    wrapToggling(surface, "<span style='" + fontStyleCss(font) + "'>", "span",
                 "<span style='font-family: ");
    surface.focusBody();
}

HyperlinkFields hyperlinkFieldsFor(std::string_view selectedText) {
    HyperlinkFields fields;
    if (selectedText.find("http://") != std::string_view::npos) {
        fields.linkLocation = std::string(selectedText);
    } else {
        fields.linkText = std::string(selectedText);
    }
    return fields;
}

std::string hyperlinkHtml(std::string_view linkText, std::string_view linkLocation) {
    std::string html = "<a target='_blank' href='";
    html += delivery::escapeHtml(store::trimSpaces(linkLocation),
                                 delivery::HtmlEscaping::AttributeValue);
    html += "'>";
    html += delivery::escapeHtml(store::trimSpaces(linkText), delivery::HtmlEscaping::Text);
    html += "</a>";
    return html;
}

void insertHyperlink(EditingSurface& surface, std::string_view linkText,
                     std::string_view linkLocation) {
    surface.replaceSelection(hyperlinkHtml(linkText, linkLocation));
    surface.focusBody();
}

void insertHorizontalLine(EditingSurface& surface) {
    surface.replaceSelection("<hr>");
    surface.focusBody();
}

void applyHtmlEdit(EditingSurface& surface, std::string_view source) {
    surface.replaceDocumentSource(source);
    surface.focusBody();
}

std::string cutSelection(EditingSurface& surface) {
    std::string html = surface.selectionProperty("htmlText");
    surface.replaceSelection({});
    surface.focusBody();
    return html;
}

std::string copySelection(EditingSurface& surface) {
    std::string html = surface.selectionProperty("htmlText");
    surface.focusBody();
    return html;
}

void pasteClipboard(EditingSurface& surface, std::string_view clipboardText) {
    surface.replaceSelection(clipboardText);
    surface.focusBody();
}

} // namespace velmora::compose
