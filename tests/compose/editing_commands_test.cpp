#include "compose/editing_commands.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmora::compose {

namespace {

// A selection with fixed answers that records what the commands put back.
class FakeSurface final : public EditingSurface {
public:
    FakeSurface(std::string html, std::string parent, std::string text = {})
        : htmlText(std::move(html)), parentTag(std::move(parent)), text(std::move(text)) {}

    std::string selectionProperty(std::string_view name) override {
        if (name == "htmlText") {
            return htmlText;
        }
        return name == "text" ? text : std::string();
    }
    std::string selectionParentTag() override { return parentTag; }
    void replaceSelection(std::string_view html) override { replaced.emplace_back(html); }
    std::string documentSource() override { return source; }
    void replaceDocumentSource(std::string_view html) override { source = html; }
    void focusBody() override { ++focused; }

    std::string htmlText;
    std::string parentTag;
    std::string text;
    std::string source;
    std::vector<std::string> replaced;
    int focused = 0;
};

std::vector<std::string> one(std::string html) {
    return {std::move(html)};
}

TEST(AnyCaseTextTest, RemovesAndReplacesRegardlessOfLetterCase) {
    EXPECT_EQ("a</b>bc</B>", removeAnyCase("<B>a</b>b<b>c</B>", "<b>"));
    EXPECT_EQ("<li>x</li><li>y</li>",
              replaceAnyCase(replaceAnyCase("<P>x</p><p>y</P>", "<p>", "<li>"), "</p>", "</li>"));
    EXPECT_EQ("aaa", replaceAnyCase("aaa", "", "x"));
    EXPECT_EQ("", removeAnyCase("", "<b>"));
    // Occurrences do not overlap and the search goes on after a replacement.
    EXPECT_EQ("xa", replaceAnyCase("aaa", "aa", "x"));
}

TEST(ToggleTagTest, WrapsOrUnwrapsByTheParentTag) {
    FakeSurface bold("<B>abc</B>", "B");
    toggleTag(bold, "b");
    EXPECT_EQ(one("abc"), bold.replaced);
    EXPECT_EQ(1, bold.focused);

    FakeSurface plain("abc", "P");
    toggleTag(plain, " B ");
    EXPECT_EQ(one("<b>abc</b>"), plain.replaced);

    // A b tag with attributes is not one the command wrote: it stays.
    FakeSurface styled("<b class=\"x\">a</b><b>c</b>", "b");
    toggleTag(styled, "b");
    EXPECT_EQ(one("<b class=\"x\">ac"), styled.replaced);

    // Only a caret: nothing changes, the body gets the focus all the same.
    FakeSurface caret("", "P");
    toggleTag(caret, "i");
    EXPECT_TRUE(caret.replaced.empty());
    EXPECT_EQ(1, caret.focused);
}

TEST(ToggleTagTest, ListsTurnParagraphsIntoItemsAndIndentToggles) {
    FakeSurface paragraphs("<P>one</P><P>two</P>", "P");
    toggleTag(paragraphs, "ul");
    EXPECT_EQ(one("<ul><li>one</li><li>two</li></ul>"), paragraphs.replaced);

    FakeSurface ordered("<p>one</p>", "BODY");
    toggleTag(ordered, "OL");
    EXPECT_EQ(one("<ol><li>one</li></ol>"), ordered.replaced);

    FakeSurface list("<ul><li>one</li></ul>", "UL");
    toggleTag(list, "ul");
    EXPECT_EQ(one("<li>one</li>"), list.replaced);

    // Both indent buttons run the same toggle.
    FakeSurface outside("<p>text</p>", "P");
    toggleTag(outside, "blockquote");
    EXPECT_EQ(one("<blockquote><p>text</p></blockquote>"), outside.replaced);
    FakeSurface inside("<blockquote><p>text</p></blockquote>", "BLOCKQUOTE");
    toggleTag(inside, "blockquote");
    EXPECT_EQ(one("<p>text</p>"), inside.replaced);
}

TEST(AlignSelectionTest, WrapsTogglesAndRealigns) {
    FakeSurface text("abc", "P");
    alignSelection(text, " Center ");
    EXPECT_EQ(one("<div style='text-align: center;'>abc</div>"), text.replaced);
    EXPECT_EQ(1, text.focused);

    // The engine gives the wrapper back in double quotes.
    FakeSurface centred("<div style=\"text-align: center;\"><p>a</p><div>b</div></div>", "DIV");
    alignSelection(centred, "center");
    EXPECT_EQ(one("<p>a</p><div>b"), centred.replaced);

    // Another alignment replaces the block instead of nesting a new one in it.
    FakeSurface left("<div style=\"text-align: left;\">a<div>b</div></div>", "DIV");
    alignSelection(left, "right");
    EXPECT_EQ(one("<div style='text-align: right;'>a<div>b</div></div>"), left.replaced);

    // Two blocks are not one: the selection is wrapped as it stands.
    const std::string two = "<div style=\"text-align: left;\">a</div><div>b</div>";
    FakeSurface blocks(two, "BODY");
    alignSelection(blocks, "justify");
    EXPECT_EQ(one("<div style='text-align: justify;'>" + two + "</div>"), blocks.replaced);

    FakeSurface caret("", "P");
    alignSelection(caret, "left");
    EXPECT_TRUE(caret.replaced.empty());
    EXPECT_EQ(1, caret.focused);
}

TEST(BlockFormatTest, ReplacesBlockTagsByTheChosenOne) {
    FakeSurface heading("<h2>Title</h2>", "BODY");
    applyBlockFormat(heading, 2);
    EXPECT_EQ(one("<h1>Title</h1>"), heading.replaced);

    FakeSurface mixed("<P>a</P><PRE>b</PRE><h6>c</h6>", "BODY");
    applyBlockFormat(mixed, 8);
    EXPECT_EQ(one("<pre>abc</pre>"), mixed.replaced);

    for (int index : {0, 1}) {
        FakeSurface body("text", "P");
        applyBlockFormat(body, index);
        EXPECT_EQ(one("<p>text</p>"), body.replaced) << index;
    }
    FakeSurface unknown("text", "P");
    applyBlockFormat(unknown, 9);
    EXPECT_TRUE(unknown.replaced.empty());
    // The focus stays on the list.
    EXPECT_EQ(0, heading.focused);
}

TEST(BlockFormatTest, TheListAppliesOnlyAChangedChoice) {
    FakeSurface surface("Title", "P");
    std::int32_t last = 0;
    EXPECT_TRUE(chooseBlockFormat(surface, last, 3));
    EXPECT_FALSE(chooseBlockFormat(surface, last, 3));
    EXPECT_EQ(one("<h2>Title</h2>"), surface.replaced);
    EXPECT_EQ(3, last);
    EXPECT_FALSE(chooseBlockFormat(surface, last, 3));

    // With only a caret the choice is remembered and the body stays.
    FakeSurface caret("", "P");
    std::int32_t caretLast = 0;
    EXPECT_TRUE(chooseBlockFormat(caret, caretLast, 2));
    EXPECT_EQ(2, caretLast);
    EXPECT_TRUE(caret.replaced.empty());
}

TEST(FontStyleTest, CssCarriesFamilySizeColourAndStyleBits) {
    FontChoice font{{255, 0, 0}, "Arial", 12, kFontStyleBold};
    EXPECT_EQ("font-family: Arial; font-size: 12pt; color: rgb(255,0,0); font-weight: bold;",
              fontStyleCss(font));
    font = {{0, 128, 255}, "DejaVu Sans", 9, kFontStyleItalic};
    EXPECT_EQ(
        "font-family: DejaVu Sans; font-size: 9pt; color: rgb(0,128,255); font-style: italic;",
        fontStyleCss(font));
    font.style = 0;
    EXPECT_EQ("font-family: DejaVu Sans; font-size: 9pt; color: rgb(0,128,255);",
              fontStyleCss(font));
    // Bold and italic together give both, and the effects are honoured.
    font.style = kFontStyleBold | kFontStyleItalic | kFontStyleUnderline;
    EXPECT_EQ("font-family: DejaVu Sans; font-size: 9pt; color: rgb(0,128,255); "
              "font-weight: bold; font-style: italic; text-decoration: underline;",
              fontStyleCss(font));
    font.style = kFontStyleUnderline | kFontStyleStrikeOut;
    EXPECT_NE(std::string::npos,
              fontStyleCss(font).find("text-decoration: underline line-through;"));
    // A name cannot end the style attribute it is written into.
    font = {{}, "Evil' onmouseover='x", 12, 0};
    EXPECT_EQ("font-family: Evil onmouseover=x; font-size: 12pt; color: rgb(0,0,0);",
              fontStyleCss(font));
}

TEST(FontStyleTest, WrapsTogglesAndRestyles) {
    const FontChoice font{{255, 0, 0}, "Arial", 12, kFontStyleBold};
    const std::string css = fontStyleCss(font);

    FakeSurface text("abc", "P");
    applyFontStyle(text, font);
    EXPECT_EQ(one("<span style='" + css + "'>abc</span>"), text.replaced);
    EXPECT_EQ(1, text.focused);

    FakeSurface same("<span style=\"" + css + "\">abc</span>", "SPAN");
    applyFontStyle(same, font);
    EXPECT_EQ(one("abc"), same.replaced);

    const FontChoice other{{0, 0, 255}, "Courier", 10, 0};
    FakeSurface restyle("<span style=\"" + css + "\">a<span>b</span></span>", "SPAN");
    applyFontStyle(restyle, other);
    EXPECT_EQ(one("<span style='" + fontStyleCss(other) + "'>a<span>b</span></span>"),
              restyle.replaced);

    FakeSurface caret("", "P");
    applyFontStyle(caret, font);
    EXPECT_TRUE(caret.replaced.empty());
}

TEST(HyperlinkTest, FieldsFromTheSelectedText) {
    const HyperlinkFields link = hyperlinkFieldsFor("see http://example.org");
    EXPECT_EQ("", link.linkText);
    EXPECT_EQ("see http://example.org", link.linkLocation);
    const HyperlinkFields text = hyperlinkFieldsFor("our shop");
    EXPECT_EQ("our shop", text.linkText);
    EXPECT_EQ("http://", text.linkLocation);
    // Exact case only.
    EXPECT_EQ("HTTP://x", hyperlinkFieldsFor("HTTP://x").linkText);
}

TEST(HyperlinkTest, InsertsATrimmedEscapedLink) {
    FakeSurface surface("our shop", "P");
    insertHyperlink(surface, "  our shop ", " http://example.org/?a=1&b=2  ");
    EXPECT_EQ(one("<a target='_blank' href='http://example.org/?a=1&amp;b=2'>our shop</a>"),
              surface.replaced);
    EXPECT_EQ(1, surface.focused);
    // Nothing validated: empty fields give an empty link.
    EXPECT_EQ("<a target='_blank' href=''></a>", hyperlinkHtml("", ""));
    // Selected text stays text; a quote cannot end the address.
    EXPECT_EQ("<a target='_blank' href='x&#39; onclick=&#39;y'>a&lt;b&gt; &amp; c</a>",
              hyperlinkHtml("a<b> & c", "x' onclick='y"));
}

TEST(ClipboardCommandsTest, CutCopyAndPasteWorkOnHtmlSource) {
    FakeSurface surface("<i>a</i>", "P");
    EXPECT_EQ("<i>a</i>", copySelection(surface));
    EXPECT_TRUE(surface.replaced.empty());
    EXPECT_EQ("<i>a</i>", cutSelection(surface));
    EXPECT_EQ(one(""), surface.replaced);

    FakeSurface caret("", "P");
    EXPECT_EQ("", cutSelection(caret));

    FakeSurface paste("", "P");
    pasteClipboard(paste, "<i>a</i>");
    EXPECT_EQ(one("<i>a</i>"), paste.replaced);
    EXPECT_EQ(1, paste.focused);
}

TEST(DocumentCommandsTest, HorizontalLineAndHtmlEdit) {
    FakeSurface surface("", "P");
    insertHorizontalLine(surface);
    EXPECT_EQ(one("<hr>"), surface.replaced);
    applyHtmlEdit(surface, "<html><body>new</body></html>");
    EXPECT_EQ("<html><body>new</body></html>", surface.source);
    EXPECT_EQ(2, surface.focused);
}

} // namespace

} // namespace velmora::compose
