// The compose dialogs, and their commands against the real web engine.
#include "compose/edit_html_dialog.h"
#include "compose/font_style_dialog.h"
#include "compose/hyperlink_dialog.h"
#include "compose/surface/body_editor.h"
#include "engine_waits.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace velmora::compose {

namespace {

class ComposeDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor = std::make_unique<BodyEditor>(store::EditorFormat::Html);
        testing_support::allowEngineColdStart(*editor);
        editor->show();
        ASSERT_EQ(0,
                  editor->loadBodyDocument("<html><body><p>visit our shop now</p></body></html>"));
        ASSERT_EQ(1, editor->setDesignMode("On"));
    }
    void TearDown() override {
        // Dialogs close themselves into deleteLater.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void select(const QString& text) {
        const QString js =
            QStringLiteral("(function (t) { const n = document.body.firstChild.firstChild;"
                           " const at = n.nodeValue.indexOf(t); const r = document.createRange();"
                           " r.setStart(n, at); r.setEnd(n, at + t.length);"
                           " getSelection().removeAllRanges(); getSelection().addRange(r);"
                           " return at >= 0; })('%1')")
                .arg(text);
        ASSERT_TRUE(editor->evaluateScript(js).toBool());
    }
    std::string bodyHtml() {
        return editor->evaluateScript(QStringLiteral("document.body.innerHTML"))
            .toString()
            .toStdString();
    }

    std::unique_ptr<BodyEditor> editor;
};

TEST_F(ComposeDialogsTest, HyperlinkDialogFillsFromSelectionAndInsertsTheLink) {
    select(QStringLiteral("our shop"));
    QPointer<HyperlinkDialog> current;
    HyperlinkDialog* dialog = openHyperlinkDialog(*editor, current);
    ASSERT_EQ(dialog, current.data());
    EXPECT_EQ(QStringLiteral("Insert Hyperlink"), dialog->windowTitle());
    EXPECT_EQ(QSize(329, 90), dialog->size());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(QStringLiteral("our shop"), dialog->linkTextField()->text());
    EXPECT_EQ(QStringLiteral("http://"), dialog->linkLocationField()->text());

    // Opening again replaces the dialog.
    QPointer<HyperlinkDialog> first(dialog);
    dialog = openHyperlinkDialog(*editor, current);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_EQ(dialog, current.data());

    dialog->linkLocationField()->setText(QStringLiteral("  http://shop.example/  "));
    QSignalSpy inserted(dialog, &HyperlinkDialog::insertRequested);
    QTest::mouseClick(dialog->insertButton(), Qt::LeftButton);
    ASSERT_EQ(1, inserted.count());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ("<p>visit <a target=\"_blank\" href=\"http://shop.example/\">our shop</a> now</p>",
              bodyHtml());
}

TEST_F(ComposeDialogsTest, HyperlinkDialogTakesAnAddressAsLocationAndOutlivesTheEditor) {
    ASSERT_EQ(
        0, editor->loadBodyDocument("<html><body><p>at http://x.example today</p></body></html>"));
    ASSERT_EQ(1, editor->setDesignMode("On"));
    select(QStringLiteral("http://x.example"));
    QPointer<HyperlinkDialog> current;
    HyperlinkDialog* dialog = openHyperlinkDialog(*editor, current);
    EXPECT_EQ(QString(), dialog->linkTextField()->text());
    EXPECT_EQ(QStringLiteral("http://x.example"), dialog->linkLocationField()->text());

    // The compose window (and its editor) closes first: the button only closes.
    editor.reset();
    QSignalSpy inserted(dialog, &HyperlinkDialog::insertRequested);
    QTest::mouseClick(dialog->insertButton(), Qt::LeftButton);
    EXPECT_EQ(1, inserted.count());
    EXPECT_FALSE(dialog->isVisible());

    // Cancel closes without inserting.
    HyperlinkDialog other;
    QSignalSpy none(&other, &HyperlinkDialog::insertRequested);
    other.show();
    QTest::mouseClick(other.cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(0, none.count());
}

TEST_F(ComposeDialogsTest, EditHtmlDialogShowsAndAppliesTheSource) {
    QPointer<EditHtmlDialog> current;
    EditHtmlDialog* dialog = openEditHtmlDialog(*editor, current);
    EXPECT_EQ(QStringLiteral("Edit HTML"), dialog->windowTitle());
    EXPECT_EQ(QSize(460, 294), dialog->size());
    EXPECT_EQ(QStringLiteral("<html><head></head><body><p>visit our shop now</p></body></html>"),
              dialog->sourceEditor()->toPlainText());

    dialog->sourceEditor()->setPlainText(
        QStringLiteral("<html><head></head><body><h1>New</h1></body></html>"));
    QTest::mouseClick(dialog->applyButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ("<h1>New</h1>", bodyHtml());
    EXPECT_EQ(
        "on",
        editor->evaluateScript(QStringLiteral("document.designMode")).toString().toStdString());

    // Cancel leaves the document alone.
    dialog = openEditHtmlDialog(*editor, current);
    dialog->sourceEditor()->setPlainText(QStringLiteral("<p>gone</p>"));
    QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    EXPECT_EQ("<h1>New</h1>", bodyHtml());
}

TEST_F(ComposeDialogsTest, FontChooserReportsItsChoiceAndCancelChangesNothing) {
    FontStyleDialog dialog;
    EXPECT_EQ(QString(), dialog.familyField()->currentText());
    EXPECT_EQ(12, dialog.sizeField()->value());
    FontChoice choice = dialog.choice();
    EXPECT_EQ(0, choice.style);
    EXPECT_EQ(0, choice.colour.red + choice.colour.green + choice.colour.blue);

    dialog.familyField()->setEditText(QStringLiteral("Serif"));
    dialog.sizeField()->setValue(14);
    dialog.boldBox()->setChecked(true);
    dialog.italicBox()->setChecked(true);
    dialog.strikeOutBox()->setChecked(true);
    dialog.setColour(QColor(1, 2, 3));
    choice = dialog.choice();
    EXPECT_EQ("Serif", choice.fontName);
    EXPECT_EQ(14, choice.size);
    EXPECT_EQ(kFontStyleBold | kFontStyleItalic | kFontStyleStrikeOut, choice.style);
    EXPECT_EQ(1, choice.colour.red);
    EXPECT_EQ(2, choice.colour.green);
    EXPECT_EQ(3, choice.colour.blue);

    select(QStringLiteral("shop"));
    QTimer::singleShot(0, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            modal->reject();
        }
    });
    chooseFontStyle(*editor, nullptr);
    EXPECT_EQ("<p>visit our shop now</p>", bodyHtml());

    QTimer::singleShot(0, [] {
        if (auto* modal = qobject_cast<FontStyleDialog*>(QApplication::activeModalWidget())) {
            modal->familyField()->setEditText(QStringLiteral("Serif"));
            modal->boldBox()->setChecked(true);
            modal->accept();
        }
    });
    chooseFontStyle(*editor, nullptr);
    EXPECT_EQ("<p>visit our <span style=\"font-family: Serif; font-size: 12pt; color: rgb(0,0,0); "
              "font-weight: bold;\">shop</span> now</p>",
              bodyHtml());
}

} // namespace

} // namespace velmora::compose
