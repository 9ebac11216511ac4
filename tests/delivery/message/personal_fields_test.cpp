// Personal fields, the text rendering of HTML bodies and international domains.
#include "delivery/international_address.h"
#include "delivery/message/html_text.h"
#include "delivery/message/personal_fields.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

namespace {

PersonalValues annLee() {
    PersonalValues v;
    v.email = "ann@example.org";
    v.name = "Ann Marie Lee";
    v.company = "Lee & Sons <Ltd>";
    v.address = "1 High St";
    v.telephone = "+44 20 7946 0000";
    v.notes = "";
    v.unsubscribeUrl = "https://example.org/u?e=ann%40example.org";
    return v;
}

} // namespace

TEST(PersonalFields, FillTable) {
    const PersonalValues ann = annLee();
    PersonalValues blank;
    blank.email = "typed@example.net";
    const struct {
        const char* text;
        const PersonalValues& values;
        FieldSyntax syntax;
        const char* expected;
    } cases[] = {
        {"Dear {{name}},", ann, FieldSyntax::PlainText, "Dear Ann Marie Lee,"},
        {"Hi {{firstName}}!", ann, FieldSyntax::PlainText, "Hi Ann!"},
        {"{{email}} {{company}} {{address}} {{telephone}}", ann, FieldSyntax::PlainText,
         "ann@example.org Lee & Sons <Ltd> 1 High St +44 20 7946 0000"},
        {"{{company}}", ann, FieldSyntax::Html, "Lee &amp; Sons &lt;Ltd&gt;"},
        {"<a href=\"{{unsubscribeUrl}}\">out</a>", ann, FieldSyntax::Html,
         "<a href=\"https://example.org/u?e=ann%40example.org\">out</a>"},
        // Fallbacks: used when the value is empty, taken as they stand.
        {"{{notes|none}}", ann, FieldSyntax::PlainText, "none"},
        {"Dear {{name|Customer}},", blank, FieldSyntax::PlainText, "Dear Customer,"},
        {"Dear {{firstName|<b>friend</b>}},", blank, FieldSyntax::Html, "Dear <b>friend</b>,"},
        {"{{name|}}|{{company}}|", blank, FieldSyntax::PlainText, "||"},
        {"{{email}}", blank, FieldSyntax::PlainText, "typed@example.net"},
        // Spacing and letter case of the name do not matter.
        {"{{ Name | x }}", ann, FieldSyntax::PlainText, "Ann Marie Lee"},
        {"{{FIRSTNAME}}", ann, FieldSyntax::PlainText, "Ann"},
        // Not fields: left as they are.
        {"{{ not a field }} {{}} {{ {{name}}", ann, FieldSyntax::PlainText,
         "{{ not a field }} {{}} {{ Ann Marie Lee"},
        {"open {{name", ann, FieldSyntax::PlainText, "open {{name"},
        {"{{name}}{{name}}", ann, FieldSyntax::PlainText, "Ann Marie LeeAnn Marie Lee"},
        {"{{{name}}}}", ann, FieldSyntax::PlainText, "{Ann Marie Lee}}"},
        {"{{name|a {{b}} c}} {{name}}", ann, FieldSyntax::PlainText,
         "{{name|a {{b}} c}} Ann Marie Lee"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fillPersonalFields(c.text, c.values, c.syntax), c.expected) << c.text;
    }
}

TEST(PersonalFields, UnknownFieldsAreNamed) {
    EXPECT_EQ(unknownPersonalField("Dear {{name|x}} of {{company}}"), std::nullopt);
    EXPECT_EQ(unknownPersonalField("{{email}} {{surname|x}} {{city}}"), "surname");
    EXPECT_EQ(unknownPersonalField("{{ not a field }}"), std::nullopt);
    EXPECT_EQ(unknownFieldText("surname"),
              "The personal field \"{{surname}}\" is unknown. Nothing was sent.");
    for (std::string_view name : kPersonalFieldNames) {
        EXPECT_EQ(unknownPersonalField("{{" + std::string(name) + "}}"), std::nullopt);
    }
    EXPECT_EQ(percentEncoded("jürgen+a b@x.org"), "j%C3%BCrgen%2Ba%20b%40x.org");
}

TEST(HtmlText, RendersTheBodyAsReadableText) {
    const struct {
        const char* html;
        const char* text;
    } cases[] = {
        {"<p>One</p><p>Two</p>", "One\n\nTwo\n"},
        {"<html><head><title>T</title><style>p{color:red}</style></head><body>Hi<br>there"
         "</body></html>",
         "Hi\nthere\n"},
        {"<ul><li>one</li><li>two</li></ul>after", "- one\n- two\n\nafter\n"},
        {"See <a href=\"https://example.org/x\">the offer</a>.",
         "See the offer (https://example.org/x).\n"},
        {"<a href=\"https://example.org\">https://example.org</a>", "https://example.org\n"},
        {"<a href=\"mailto:ann@example.org\">ann@example.org</a>", "ann@example.org\n"},
        {"<a href=\"#top\">top</a>", "top\n"},
        {"Fish &amp; chips &lt;3 &quot;hot&quot; &euro;5 &#228;&#xFC; &nbsp;x &bogus;",
         "Fish & chips <3 \"hot\" \xE2\x82\xAC"
         "5 \xC3\xA4\xC3\xBC x &bogus;\n"},
        {"  lots   of\n\n  blanks  ", "lots of blanks\n"},
        {"<div>a</div><div>b</div><!-- <p>hidden</p> --><script>x()</script>", "a\nb\n"},
        {"<pre>keep\n  this</pre>", "keep\n  this\n"},
        {"<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>", "a b\nc\n"},
        {"<img src=\"x.png\" alt=\"Logo\"> text", "Logo text\n"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plainTextFromHtml(c.html), c.text) << c.html;
    }
}

TEST(HtmlText, WrapsLongLinesBelow78WhereAWordAllows) {
    std::string paragraph;
    for (int i = 0; i < 40; ++i) {
        paragraph += "word" + std::to_string(i) + " ";
    }
    const std::string url = "https://example.org/" + std::string(100, 'x');
    const std::string text =
        plainTextFromHtml("<p>" + paragraph + "</p><ul><li>" + paragraph + "</li></ul>" + url);
    std::size_t start = 0;
    std::string joined;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        if (line != url) {
            EXPECT_LT(line.size(), 78u) << line;
        }
        joined += line + " ";
        start = end + 1;
    }
    // Nothing is lost in the wrapping; list lines go on indented.
    EXPECT_NE(text.find("\n  word"), std::string::npos);
    EXPECT_NE(joined.find("word38 word39"), std::string::npos);
    EXPECT_NE(text.find(url), std::string::npos);
}

TEST(InternationalAddress, DomainsBecomeALabels) {
    const struct {
        const char* in;
        const char* out;
        bool ok;
    } cases[] = {
        {"bob@example.net", "bob@example.net", true},
        {"bob@Example.NET", "bob@Example.NET", true}, // ASCII stays as typed
        {"bob@bücher.example", "bob@xn--bcher-kva.example", true},
        {"jürgen@müller.de", "jürgen@xn--mller-kva.de", true},
        {"no-at-sign", "no-at-sign", true},
        {"bob@-dö.de", "bob@-dö.de", false},
        {"bob@xn--dömain.de", "bob@xn--dömain.de", false},
    };
    for (const auto& c : cases) {
        const AsciiDomainAddress a = withAsciiDomain(c.in);
        EXPECT_EQ(a.address, c.out) << c.in;
        EXPECT_EQ(a.ok(), c.ok) << c.in << ": " << a.error;
    }
    EXPECT_TRUE(needsSmtpUtf8("jürgen@example.org"));
    EXPECT_FALSE(needsSmtpUtf8("bob@bücher.example"));
    EXPECT_EQ(addressDomain("a@b@c.org"), "c.org");
}

TEST(HtmlText, EscapingWritesOnlyWhatEachPlaceNeeds) {
    const std::string_view text = "a<b> & \"c\" 'd'";
    EXPECT_EQ(escapeHtml(text, HtmlEscaping::Text), "a&lt;b&gt; &amp; \"c\" 'd'");
    EXPECT_EQ(escapeHtml(text), "a&lt;b&gt; &amp; &quot;c&quot; 'd'");
    EXPECT_EQ(escapeHtml(text, HtmlEscaping::AttributeValue),
              "a&lt;b&gt; &amp; &quot;c&quot; &#39;d&#39;");
    EXPECT_EQ(escapeHtml("Grüße", HtmlEscaping::AttributeValue), "Grüße");
}

} // namespace velmora::delivery
