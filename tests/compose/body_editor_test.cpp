// The body editor on the real web engine, offscreen.
#include "compose/editing_commands.h"
#include "compose/surface/body_editor.h"
#include "engine_waits.h"
#include "platform/qt_text.h"
#include "support/test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWebEngineView>
#include <gtest/gtest.h>
#include <memory>

namespace velmora::compose {

using platform::toQString;

namespace {

const std::string styleHead =
    "<html><head><STYLE type='text/css'>BODY {margin: 0px; padding: 2px;} "
    "P {margin: 0px,0px,4px,2px; padding: 0px;}</STYLE></head><body>";

std::string documentWith(const std::string& body) {
    return styleHead + body + "</body></html>";
}

class BodyEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor = std::make_unique<BodyEditor>(store::EditorFormat::Html);
        testing_support::allowEngineColdStart(*editor);
        editor->resize(545, 215);
        editor->show();
    }

    void load(const std::string& body) {
        ASSERT_EQ(0, editor->loadBodyDocument(documentWith(body)));
        ASSERT_EQ(1, editor->setDesignMode("On"));
    }

    std::string script(const QString& js) {
        return editor->evaluateScript(js).toString().toStdString();
    }
    std::string bodyHtml() { return script(QStringLiteral("document.body.innerHTML")); }

    // Selects the `occurrence`-th appearance of `text` within one text node.
    bool selectText(const std::string& text, int occurrence = 0) {
        const QString js = QStringLiteral(R"JS((function (text, occurrence) {
            const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
            let seen = 0;
            for (let node = walker.nextNode(); node; node = walker.nextNode()) {
                for (let at = node.nodeValue.indexOf(text); at >= 0; at = node.nodeValue.indexOf(text, at + 1)) {
                    if (seen++ === occurrence) {
                        const range = document.createRange();
                        range.setStart(node, at);
                        range.setEnd(node, at + text.length);
                        getSelection().removeAllRanges();
                        getSelection().addRange(range);
                        return true;
                    }
                }
            }
            return false;
        })(%1, %2))JS")
                               .arg(toQString("\"" + text + "\""))
                               .arg(occurrence);
        return editor->evaluateScript(js).toBool();
    }

    // Selects from the start of the text `from` to the end of the text `to`.
    bool selectSpan(const std::string& from, const std::string& to) {
        const QString js = QStringLiteral(R"JS((function (from, to) {
            const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
            const range = document.createRange();
            let started = false;
            for (let node = walker.nextNode(); node; node = walker.nextNode()) {
                if (!started && node.nodeValue.indexOf(from) >= 0) {
                    range.setStart(node, node.nodeValue.indexOf(from));
                    started = true;
                }
                if (started && node.nodeValue.indexOf(to) >= 0) {
                    range.setEnd(node, node.nodeValue.indexOf(to) + to.length);
                    getSelection().removeAllRanges();
                    getSelection().addRange(range);
                    return true;
                }
            }
            return false;
        })("%1", "%2"))JS")
                               .arg(toQString(from), toQString(to));
        return editor->evaluateScript(js).toBool();
    }

    void placeCaretIn(const std::string& text, int offset) {
        ASSERT_TRUE(selectText(text));
        script(QStringLiteral("(function () { const r = getSelection().getRangeAt(0); "
                              "r.setStart(r.startContainer, r.startOffset + %1); r.collapse(true); "
                              "getSelection().removeAllRanges(); getSelection().addRange(r); })()")
                   .arg(offset));
    }

    std::unique_ptr<BodyEditor> editor;
};

TEST_F(BodyEditorTest, LoadsThroughPrivateTemporaryFileAndTurnsDesignModeOn) {
    const std::string html = documentWith("<p>Grüße aus Köln</p>");
    ASSERT_EQ(0, editor->loadBodyDocument(html));
    ASSERT_EQ(1, editor->setDesignMode("On"));

    const QString path = editor->temporaryDocumentPath();
    EXPECT_TRUE(path.endsWith(QStringLiteral("/temp_file.html")));
    EXPECT_TRUE(
        path.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)));
    // Never straight in the shared temporary folder, where others could read it.
    EXPECT_NE(QFileInfo(path).absolutePath(), QDir::tempPath());
    EXPECT_EQ(html, testing_support::readFileBytes(path.toStdString()));
    EXPECT_EQ(QFileInfo(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser);
    const QFileInfo folder(QFileInfo(path).absolutePath());
    EXPECT_EQ(folder.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                      QFileDevice::ExeGroup | QFileDevice::ExeOther),
              QFileDevice::Permissions());
    // Each editor has a folder of its own, gone with the editor.
    BodyEditor other(store::EditorFormat::Html);
    EXPECT_NE(path, other.temporaryDocumentPath());
    const QString otherFolder = QFileInfo(other.temporaryDocumentPath()).absolutePath();
    EXPECT_TRUE(QFileInfo::exists(otherFolder));

    EXPECT_EQ(QUrl::fromLocalFile(path).toString().toStdString(),
              editor->webView()->url().toString().toStdString());
    EXPECT_EQ("on", script(QStringLiteral("document.designMode")));
    // The file's UTF-8 bytes are read as UTF-8.
    EXPECT_EQ("Grüße aus Köln", script(QStringLiteral("document.body.innerText")));

    // A second load (a draft) overwrites the same file and leaves design mode.
    const std::string next = documentWith("<p>second</p>");
    ASSERT_EQ(0, editor->loadBodyDocument(next));
    EXPECT_TRUE(editor->waitForDocument());
    EXPECT_EQ(next, testing_support::readFileBytes(path.toStdString()));
    EXPECT_EQ("<p>second</p>", bodyHtml());
    EXPECT_EQ("off", script(QStringLiteral("document.designMode")));
    EXPECT_EQ(1, editor->setDesignMode("on"));
    EXPECT_EQ(0, editor->setDesignMode("sideways"));

    // Navigations the editor did not start (a dropped file, a reload) are
    // refused: they would lose what was typed.
    script(QStringLiteral("document.body.insertAdjacentHTML('beforeend', '<p>typed</p>')"));
    const int refusedBefore = editor->refusedNavigations();
    editor->webView()->reload();
    script(QStringLiteral("location.href = 'file:///etc/hostname'; 'asked'"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->refusedNavigations() == refusedBefore + 2; },
                                testing_support::kEngineWaitMs));
    EXPECT_TRUE(editor->waitForDocument());
    EXPECT_EQ(QUrl::fromLocalFile(path).toString().toStdString(),
              editor->webView()->url().toString().toStdString());
    EXPECT_EQ("<p>second</p><p>typed</p>", bodyHtml());

    editor.reset();
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(BodyEditorTest, ReadsSelectedHtmlTextAndParentTag) {
    load("<p>one <b>word</b> two</p><p>three</p>");

    ASSERT_TRUE(selectText("one"));
    EXPECT_EQ("one", editor->selectionProperty("htmlText"));
    EXPECT_EQ("one", editor->selectionProperty("text"));
    EXPECT_EQ("P", editor->selectionParentTag());

    // Covering a whole element brings its tags along.
    QSignalSpy changed(editor.get(), &BodyEditor::selectionChanged);
    ASSERT_TRUE(selectText("word"));
    EXPECT_EQ("<b>word</b>", editor->selectionProperty("htmlText"));
    EXPECT_EQ("word", editor->selectionProperty("text"));
    EXPECT_EQ("B", editor->selectionParentTag());
    // The widened range is only computed: the selection still starts in the text.
    EXPECT_EQ("3 word",
              script(QStringLiteral(
                  "getSelection().anchorNode.nodeType + ' ' + getSelection().toString()")));
    EXPECT_TRUE(changed.count() > 0 || changed.wait(testing_support::kEngineWaitMs));
    EXPECT_TRUE(editor->hasSelection());

    ASSERT_TRUE(selectText("wor"));
    EXPECT_EQ("wor", editor->selectionProperty("htmlText"));
    EXPECT_EQ("B", editor->selectionParentTag());

    ASSERT_TRUE(selectSpan("one", "three"));
    EXPECT_EQ("<p>one <b>word</b> two</p><p>three</p>", editor->selectionProperty("htmlText"));
    EXPECT_EQ("BODY", editor->selectionParentTag());

    // A partly covered paragraph comes as the engine clones it.
    ASSERT_TRUE(selectSpan("two", "thr"));
    EXPECT_EQ("<p>two</p><p>thr</p>", editor->selectionProperty("htmlText"));

    // A triple click ends at the start of the next paragraph, which does not
    // come along as an empty copy.
    script(QStringLiteral("(function () { const p = document.querySelectorAll('p');"
                          " const r = document.createRange(); r.setStart(p[0].firstChild, 0);"
                          " r.setEnd(p[1], 0); getSelection().removeAllRanges();"
                          " getSelection().addRange(r); })()"));
    EXPECT_EQ("<p>one <b>word</b> two</p>", editor->selectionProperty("htmlText"));
    EXPECT_EQ("P", editor->selectionParentTag());

    EXPECT_EQ("", editor->selectionProperty("outerHTML"));
}

TEST_F(BodyEditorTest, CaretOnlyGivesEmptyTexts) {
    load("<p>one two</p>");
    placeCaretIn("one", 2);
    // The engine reports selection changes asynchronously.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !editor->hasSelection(); }, testing_support::kEngineWaitMs));
    EXPECT_EQ("", editor->selectionProperty("htmlText"));
    EXPECT_EQ("", editor->selectionProperty("text"));
    EXPECT_EQ("P", editor->selectionParentTag());
    // Cut with a caret: empty text to the clipboard, nothing removed.
    QApplication::clipboard()->setText(QStringLiteral("before"));
    editor->cutSelection();
    EXPECT_EQ(QString(), QApplication::clipboard()->text());
    EXPECT_EQ("<p>one two</p>", bodyHtml());
}

TEST_F(BodyEditorTest, BoldOnAndOffAWord) {
    load("<p>one word two</p>");
    ASSERT_TRUE(selectText("word"));
    toggleTag(*editor, "b");
    EXPECT_EQ("<p>one <b>word</b> two</p>", bodyHtml());

    ASSERT_TRUE(selectText("word"));
    toggleTag(*editor, "b");
    EXPECT_EQ("<p>one word two</p>", bodyHtml());
    // The caret sits after the inserted text.
    EXPECT_EQ("", editor->selectionProperty("htmlText"));
}

TEST_F(BodyEditorTest, WholeParagraphTogglesBackToItself) {
    load("<p>alpha</p><p>beta</p>");
    ASSERT_TRUE(selectText("alpha"));
    toggleTag(*editor, "b");
    EXPECT_EQ("<b><p>alpha</p></b><p>beta</p>", bodyHtml());
    ASSERT_TRUE(selectText("alpha"));
    toggleTag(*editor, "b");
    EXPECT_EQ("<p>alpha</p><p>beta</p>", bodyHtml());

    // A paragraph that is all bold loses its bold again.
    load("<p><b>alpha</b></p><p>beta</p>");
    ASSERT_TRUE(selectText("alpha"));
    EXPECT_EQ("<b>alpha</b>", editor->selectionProperty("htmlText"));
    toggleTag(*editor, "b");
    EXPECT_EQ("<p>alpha</p><p>beta</p>", bodyHtml());

    // Indent and take the indent back with the other button.
    ASSERT_TRUE(selectText("beta"));
    toggleTag(*editor, "blockquote");
    EXPECT_EQ("<p>alpha</p><blockquote><p>beta</p></blockquote>", bodyHtml());
    ASSERT_TRUE(selectText("beta"));
    EXPECT_EQ("BLOCKQUOTE", editor->selectionParentTag());
    toggleTag(*editor, "blockquote");
    EXPECT_EQ("<p>alpha</p><p>beta</p>", bodyHtml());

    // Paragraphs become list items.
    ASSERT_TRUE(selectSpan("alpha", "beta"));
    toggleTag(*editor, "ul");
    EXPECT_EQ("<ul><li>alpha</li><li>beta</li></ul>", bodyHtml());
}

TEST_F(BodyEditorTest, ReplacesTheSelectionAndPastesMarkup) {
    load("<p>one word two</p>");
    ASSERT_TRUE(selectText("word"));
    editor->replaceSelection("<i>new</i>");
    EXPECT_EQ("<p>one <i>new</i> two</p>", bodyHtml());

    // Empty HTML only deletes.
    ASSERT_TRUE(selectText("two"));
    editor->replaceSelection("");
    EXPECT_EQ("<p>one <i>new</i> </p>", bodyHtml());

    // Copy puts the selected source on the clipboard; Paste inserts it as HTML.
    ASSERT_TRUE(selectText("new"));
    editor->copySelection();
    EXPECT_EQ(QStringLiteral("<i>new</i>"), QApplication::clipboard()->text());
    placeCaretIn("one", 0);
    QApplication::clipboard()->setText(QStringLiteral("<i>a</i>"));
    editor->pasteClipboard();
    EXPECT_EQ("<p><i>a</i>one <i>new</i> </p>", bodyHtml());

    // Cut takes the source to the clipboard and the selection away.
    ASSERT_TRUE(selectText("new"));
    editor->cutSelection();
    EXPECT_EQ(QStringLiteral("<i>new</i>"), QApplication::clipboard()->text());
    EXPECT_EQ("<p><i>a</i>one  </p>", bodyHtml());

    // The engine's own delete command.
    ASSERT_TRUE(selectText("one"));
    EXPECT_EQ(1, editor->runEditCommand(EditCommand::Delete));
    EXPECT_EQ(std::string::npos, bodyHtml().find("one"));
}

TEST_F(BodyEditorTest, CutCopyAndPasteGoThroughTheGivenClipboard) {
    testing_support::FakeClipboard clipboard;
    editor->setClipboard(clipboard);
    QApplication::clipboard()->setText(QStringLiteral("desktop"));
    load("<p>one word two</p>");

    ASSERT_TRUE(selectText("word"));
    editor->copySelection();
    EXPECT_EQ("word", clipboard.content);
    clipboard.content = "<b>x</b>";
    placeCaretIn("one", 0);
    editor->pasteClipboard();
    EXPECT_EQ("<p><b>x</b>one word two</p>", bodyHtml());
    ASSERT_TRUE(selectText("two"));
    editor->cutSelection();
    EXPECT_EQ("two", clipboard.content);
    // The desktop's clipboard was never touched.
    EXPECT_EQ(QStringLiteral("desktop"), QApplication::clipboard()->text());
}

TEST_F(BodyEditorTest, DocumentSourceRoundTripKeepsEditingAndRunsNoScript) {
    load("<p>first</p>");
    const std::string source = editor->documentSource();
    EXPECT_NE(std::string::npos, source.find("<body><p>first</p></body>"));
    EXPECT_EQ(0u, source.find("<html><head><style type=\"text/css\">"));

    const std::string edited = "<html><head></head><body><p id=\"x\">edited</p>"
                               "<script>document.title = 'ran';</script><img src=\"none.png\" "
                               "onerror=\"document.title='ran'\"></body></html>";
    applyHtmlEdit(*editor, edited);
    EXPECT_EQ(edited, editor->documentSource());
    EXPECT_EQ("on", script(QStringLiteral("document.designMode")));
    EXPECT_NE("ran", script(QStringLiteral("document.title")));

    // Still editable with the commands.
    ASSERT_TRUE(selectText("edited"));
    EXPECT_EQ("<p id=\"x\">edited</p>", editor->selectionProperty("htmlText"));
    toggleTag(*editor, "i");
    EXPECT_NE(std::string::npos, editor->documentSource().find("<i><p id=\"x\">edited</p></i>"));
}

TEST_F(BodyEditorTest, WaitingRefusesClosingAndGivesUpAfterTheTimeOut) {
    load("<p>text</p>");
    const QString busy = QStringLiteral(
        "(function () { const t = Date.now(); while (Date.now() - t < %1) {} return 'done'; })()");

    QWidget other;
    other.show();
    bool waitingSeen = false;
    bool closed = true;
    QTimer::singleShot(0, &other, [&] {
        waitingSeen = editor->isWaiting();
        closed = other.close();
    });
    EXPECT_EQ(QStringLiteral("done"), editor->evaluateScript(busy.arg(300)).toString());
    EXPECT_TRUE(waitingSeen);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(other.isVisible());
    EXPECT_FALSE(editor->isWaiting());
    EXPECT_TRUE(other.close());

    // An answer that comes too late is dropped; the next call is answered.
    editor->setScriptTimeout(50);
    EXPECT_FALSE(editor->evaluateScript(busy.arg(400)).isValid());
    editor->setScriptTimeout(testing_support::kEngineWaitMs);
    EXPECT_EQ("<p>text</p>", bodyHtml());
}

TEST_F(BodyEditorTest, AlignmentFontAndHeadingRoundTripsOnTheEngine) {
    load("<p>one word two</p><p>next</p>");
    ASSERT_TRUE(selectText("word"));
    alignSelection(*editor, "center");
    EXPECT_EQ("<p>one <div style=\"text-align: center;\">word</div> two</p><p>next</p>",
              bodyHtml());
    ASSERT_TRUE(selectText("word"));
    alignSelection(*editor, "right");
    EXPECT_EQ("<p>one <div style=\"text-align: right;\">word</div> two</p><p>next</p>", bodyHtml());
    ASSERT_TRUE(selectText("word"));
    alignSelection(*editor, "right");
    EXPECT_EQ("<p>one word two</p><p>next</p>", bodyHtml());

    const FontChoice font{{255, 0, 0}, "Arial", 12, kFontStyleBold};
    ASSERT_TRUE(selectText("next"));
    applyFontStyle(*editor, font);
    EXPECT_EQ("<p>one word two</p><span style=\"" + fontStyleCss(font) + "\"><p>next</p></span>",
              bodyHtml());
    ASSERT_TRUE(selectText("next"));
    applyFontStyle(*editor, font);
    EXPECT_EQ("<p>one word two</p><p>next</p>", bodyHtml());

    ASSERT_TRUE(selectText("next"));
    std::int32_t last = 0;
    EXPECT_TRUE(chooseBlockFormat(*editor, last, 3));
    EXPECT_EQ("<p>one word two</p><h2>next</h2>", bodyHtml());
    ASSERT_TRUE(selectText("next"));
    EXPECT_TRUE(chooseBlockFormat(*editor, last, 2));
    EXPECT_EQ("<p>one word two</p><h1>next</h1>", bodyHtml());
}

TEST(BodyEditorStart, WaitsForABlankDocumentWhenNothingWasLoaded) {
    BodyEditor editor(store::EditorFormat::Html);
    testing_support::allowEngineColdStart(editor);
    editor.show();
    EXPECT_TRUE(editor.waitForDocument());
    EXPECT_EQ(QStringLiteral("about:blank"), editor.webView()->url().toString());
    // No selection at all: the first element of the document.
    EXPECT_EQ("HTML", editor.selectionParentTag());
    EXPECT_EQ("", editor.selectionProperty("htmlText"));
    EXPECT_EQ(1, editor.setDesignMode("On"));
    // Waiting for a loaded document costs no wait.
    EXPECT_TRUE(editor.waitForDocument());
    EXPECT_FALSE(editor.isWaiting());
}

TEST(BodyEditorPlainText, UsesTheTextEditorAndNoEngine) {
    BodyEditor editor(store::EditorFormat::PlainText);
    ASSERT_NE(nullptr, editor.textEditor());
    EXPECT_EQ(nullptr, editor.webView());
    editor.setPlainText("\n\n\nregards");
    EXPECT_EQ("\n\n\nregards", editor.bodyText());
    EXPECT_EQ(-1, editor.loadBodyDocument("<p>x</p>"));
    EXPECT_EQ("", editor.selectionProperty("htmlText"));
    EXPECT_EQ("", editor.selectionParentTag());
    EXPECT_EQ(0, editor.setDesignMode("On"));

    editor.textEditor()->selectAll();
    editor.copySelection();
    EXPECT_EQ(QStringLiteral("\n\n\nregards"), QApplication::clipboard()->text());
    editor.cutSelection();
    EXPECT_EQ("", editor.bodyText());
    editor.pasteClipboard();
    EXPECT_EQ("\n\n\nregards", editor.bodyText());
}

} // namespace

} // namespace velmora::compose
