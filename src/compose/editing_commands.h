#pragma once

#include "compose/editing_surface.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::compose {

// The composer's formatting commands for an HTML body. None of them lets the
// engine format: each reads the selection's HTML, builds new HTML as a string
// and puts it in place of the selection. Wrapping commands toggle: when the
// selection already lies in the element they would add, they take that
// element's tags out instead. All of them end by focusing the body, except
// the block format (the focus stays on the paragraph-style list).

// Bold "b", Italic "i", lists "ul"/"ol", both indent buttons "blockquote".
void toggleTag(EditingSurface& surface, std::string_view tagWord);

// "left", "center", "justify" or "right". A selection that is exactly one
// alignment block written by this command loses it when the same alignment
// is chosen again, and gets the new one instead of a nested block otherwise.
void alignSelection(EditingSurface& surface, std::string_view align);

// The paragraph-style list, by index.
inline constexpr std::array<std::string_view, 9> kBlockFormatCaptions = {
    "Body Text", "Paragraph", "Heading 1", "Heading 2", "Heading 3",
    "Heading 4", "Heading 5", "Heading 6", "Preformat"};
// Tag written for a list index ("p", "h1".."h6", "pre"); empty when out of range.
std::string_view blockFormatTag(int index);
// Takes every p, h1..h6 and pre tag out of the selection and wraps it in the
// tag of `index`. Nothing happens with only a caret or an unknown index.
void applyBlockFormat(EditingSurface& surface, int index);
// The list's handler: applies `index` only when it differs from
// `lastBlockFormat`, then remembers it (also with only a caret). Returns
// whether the format was applied.
bool chooseBlockFormat(EditingSurface& surface, std::int32_t& lastBlockFormat, int index);

// Bits of FontChoice::style.
inline constexpr std::int32_t kFontStyleBold = 256;
inline constexpr std::int32_t kFontStyleItalic = 512;
inline constexpr std::int32_t kFontStyleUnderline = 4;
inline constexpr std::int32_t kFontStyleStrikeOut = 8;

struct RgbColour {
    int red = 0;
    int green = 0;
    int blue = 0;
};

// What the font chooser reports.
struct FontChoice {
    RgbColour colour;
    std::string fontName;
    std::int32_t size = 12; // points
    std::int32_t style = 0; // fontStyle* bits
};

// "font-family: Arial; font-size: 12pt; color: rgb(255,0,0); font-weight: bold;"
std::string fontStyleCss(const FontChoice& font);
// Wraps the selection in a span with that CSS; toggles off when the selection
// is exactly such a span, and restyles (instead of nesting) a span of another
// font choice written by this command.
void applyFontStyle(EditingSurface& surface, const FontChoice& font);

// Initial fields of the hyperlink dialog for the selected plain text: a text
// containing "http://" becomes the location, any other the link text.
struct HyperlinkFields {
    std::string linkText;
    std::string linkLocation = "http://";
};
HyperlinkFields hyperlinkFieldsFor(std::string_view selectedText);
// <a target='_blank' href='LOCATION'>TEXT</a> from the trimmed fields; the
// text is escaped as HTML text and the location as an attribute value, so
// that a selected "a<b" stays text and a quote cannot end the attribute.
std::string hyperlinkHtml(std::string_view linkText, std::string_view linkLocation);
void insertHyperlink(EditingSurface& surface, std::string_view linkText,
                     std::string_view linkLocation);

void insertHorizontalLine(EditingSurface& surface);

// The Edit HTML dialog's "Apply Changes".
void applyHtmlEdit(EditingSurface& surface, std::string_view source);

// Cut and Copy in the HTML format: they return the text to put on the
// clipboard (the selection's HTML source, empty with only a caret). Paste
// hands the clipboard's text to the body as HTML source.
std::string cutSelection(EditingSurface& surface);
std::string copySelection(EditingSurface& surface);
void pasteClipboard(EditingSurface& surface, std::string_view clipboardText);

// Removes every occurrence of `what`, ignoring ASCII letter case.
std::string removeAnyCase(std::string_view text, std::string_view what);
// Replaces every occurrence of `what` by `with`, ignoring ASCII letter case.
std::string replaceAnyCase(std::string_view text, std::string_view what, std::string_view with);

} // namespace velmora::compose
