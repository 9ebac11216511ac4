#include "compose/edit_html_dialog.h"
#include "compose/font_style_dialog.h"
#include "compose/hyperlink_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

TEST(ComposeDialogsTest, Placeholder) {
    HyperlinkDialog dialog;
    EXPECT_EQ(QStringLiteral("http://"), dialog.linkLocation());
}
