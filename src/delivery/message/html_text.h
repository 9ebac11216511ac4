#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora::delivery {

// The plain-text rendering of an HTML body that goes beside it as the
// text/plain alternative: no tags, entities decoded, paragraphs and line
// breaks kept (a blank line between blocks), list items as "- ", links as
// "text (address)", script and style contents dropped, and lines wrapped at
// blanks below 78 characters where a word allows. Lines end with "\n".
std::string plainTextFromHtml(std::string_view html);

// A link of an HTML body: its target and the text the reader sees
// (entities decoded, tags left out, runs of blanks as one).
struct HtmlLink {
    std::string href;
    std::string text;
};
// An image of an HTML body; `alt` is "" when it has none.
struct HtmlImage {
    std::string src;
    std::string alt;
};
struct HtmlReferences {
    std::vector<HtmlLink> links;
    std::vector<HtmlImage> images;
};
// The links and images of an HTML body, in the order they stand (comments,
// scripts and styles left out).
HtmlReferences htmlReferences(std::string_view html);

// Which characters `escapeHtml` writes as entities besides "&", "<" and ">".
enum class HtmlEscaping {
    Text,           // element content only
    TextAndQuotes,  // also the double quote: safe in content and "..." values
    AttributeValue, // also both quotes: safe in any attribute value
};
std::string escapeHtml(std::string_view text, HtmlEscaping escaping = HtmlEscaping::TextAndQuotes);

} // namespace velmora::delivery
