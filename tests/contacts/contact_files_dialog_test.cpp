#include "contacts/contact_dialog.h"
#include "contacts/contact_export.h"
#include "contacts/export_contacts_dialog.h"
#include "contacts/gui_fakes.h"
#include "contacts/import_contacts_dialog.h"
#include "store/session_file.h"
#include "support/test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using namespace testing_support;

namespace {

struct ContactFilesDialogTest : ::testing::Test {
    store::Session session;
    FakeViews views;
    FakePrompter prompter;
    store::FixedClock clock{march5()};
    TempDir dir;
};

} // namespace

TEST_F(ContactFilesDialogTest, ImportShowsDetectionPreviewAndMappingThenTheReport) {
    fillSession(session, {"Two"}, {"known@x.org"});
    writeFileBytes(dir.file("in.csv"), "\xEF\xBB\xBF"
                                       "Correo;Name;Notes\r\n"
                                       "a@x.org;Ann;\"two\r\nlines\"\r\n"
                                       "known@x.org;K;\r\n");
    QPointer<ImportContactsDialog> dialog =
        new ImportContactsDialog(session, views, clock, dir.file("in.csv"));
    dialog->show();
    EXPECT_EQ(dialog->encodingDropDown()->itemText(0), u"Detected: UTF-8 with byte order mark"_s);
    EXPECT_EQ(dialog->delimiterDropDown()->itemText(0), u"Detected: semicolon"_s);
    ASSERT_EQ(dialog->preview()->columnCount(), 3);
    ASSERT_EQ(dialog->preview()->rowCount(), 2);
    EXPECT_EQ(dialog->preview()->horizontalHeaderItem(0)->text(), u"Correo"_s);
    EXPECT_EQ(dialog->preview()->item(0, 2)->text(), u"two / lines"_s);
    ASSERT_EQ(dialog->fieldDropDowns().size(), 3u);
    EXPECT_EQ(dialog->fieldDropDowns()[0]->currentText(), u"(ignored)"_s);
    EXPECT_EQ(dialog->fieldDropDowns()[1]->currentText(), u"Contact Name"_s);
    // No address column yet: Import waits for one.
    EXPECT_FALSE(dialog->importButton()->isEnabled());
    EXPECT_EQ(dialog->problemLabel()->text(),
              u"Choose the column that holds the e-mail addresses."_s);
    dialog->fieldDropDowns()[0]->setCurrentText(u"Email Address"_s);
    EXPECT_TRUE(dialog->importButton()->isEnabled());
    dialog->groupDropDown()->setCurrentIndex(1);
    dialog->statusChoices()->setStatus(code(store::ContactStatus::Customers));

    dialog->importButton()->click();
    ASSERT_EQ(session.contactCount(), 2);
    const store::Contact& added = session.contact(2);
    EXPECT_EQ(added.email, "a@x.org");
    EXPECT_EQ(added.notes, "two\r\nlines");
    EXPECT_EQ(added.groupIndex, 2);
    EXPECT_EQ(added.status, code(store::ContactStatus::Customers));
    EXPECT_EQ(dialog->reportArea()->toPlainText(),
              u"Added 1, updated 0, skipped 1 as duplicates, refused 0 as invalid.\n"_s
              u"Line 4: skipped known@x.org: already known\n"_s);
    EXPECT_EQ(dialog->cancelButton()->text(), u"Close"_s);
    EXPECT_EQ(views.refreshes, 1);
    dialog->cancelButton()->click();
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(ContactFilesDialogTest, CancellingARunningImportChangesNothing) {
    fillSession(session, {}, {"known@x.org"});
    session.markSaved();
    const std::string before = encodeSession(session);
    std::string csv = "Email,Group\n";
    for (int i = 0; i < 60000; ++i) {
        csv += "p" + std::to_string(i) + "@x.org,New group\n";
    }
    writeFileBytes(dir.file("big.csv"), csv);
    QPointer<ImportContactsDialog> dialog =
        new ImportContactsDialog(session, views, clock, dir.file("big.csv"));
    dialog->show();
    bool sawRunning = false;
    QObject::connect(dialog->progressBar(), &QProgressBar::valueChanged, [&] {
        sawRunning = sawRunning || dialog->importing();
        dialog->cancelButton()->click();
    });
    dialog->importButton()->click();
    EXPECT_TRUE(sawRunning);
    EXPECT_EQ(encodeSession(session), before);
    EXPECT_FALSE(session.hasUnsavedChanges());
    EXPECT_EQ(dialog->reportArea()->toPlainText(), u"Import cancelled; nothing was changed.\n"_s);
    dialog->close();
    flushDeletes();
}

TEST_F(ContactFilesDialogTest, ExportWritesTheChosenListWhereTheUserSays) {
    fillSession(session, {"Two"}, {"a@x.org", "b@x.org", "c@x.org"});
    session.modifyContact(2, [](store::Contact& c) { c.groupIndex = 2; });
    ShownLists lists;
    lists.currentCaption = "All Entries";
    lists.currentRows = {3, 1};
    // The requester starts beside the session, in the home folder while it is untitled.
    EXPECT_EQ(exportStartPath(session, "/home/ann/"), "/home/ann/contacts.csv");
    session.sessionFileName = dir.file("s.qmz");
    const std::string start = exportStartPath(session, "/home/ann/");
    EXPECT_EQ(start, dir.file("contacts.csv"));
    QPointer<ExportContactsDialog> dialog =
        new ExportContactsDialog(session, lists, prompter, start);
    dialog->show();
    EXPECT_TRUE(dialog->currentChoice()->isChecked());
    EXPECT_EQ(dialog->currentChoice()->text(), u"Current list: All Entries"_s);
    EXPECT_FALSE(dialog->filteredChoice()->isEnabled());

    // Cancelled file requester: nothing written, the dialog stays. A name
    // without an extension gets ".csv".
    prompter.files = {std::nullopt, dir.file("list"), dir.file("group.csv")};
    dialog->exportButton()->click();
    EXPECT_FALSE(dialog.isNull());
    dialog->byteOrderMarkBox()->setChecked(false);
    dialog->exportButton()->click();
    EXPECT_EQ(prompter.fileRequests.at(0).title, "Export Contacts...");
    EXPECT_EQ(prompter.fileRequests.at(0).initialPath, start);
    const std::string list = readFileBytes(dir.file("list.csv"));
    EXPECT_TRUE(list.starts_with("Email Address,"));
    EXPECT_LT(list.find("c@x.org"), list.find("a@x.org"));
    EXPECT_EQ(list.find("b@x.org"), std::string::npos);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Exported 2 contacts to " + dir.file("list.csv") + ".");
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());

    dialog = new ExportContactsDialog(session, lists, prompter, start);
    dialog->groupChoice()->setChecked(true);
    dialog->groupDropDown()->setCurrentIndex(1);
    dialog->exportButton()->click();
    const std::string group = readFileBytes(dir.file("group.csv"));
    EXPECT_TRUE(group.starts_with("\xEF\xBB\xBF"));
    EXPECT_NE(group.find("b@x.org"), std::string::npos);
    EXPECT_EQ(group.find("a@x.org"), std::string::npos);
    flushDeletes();
}

} // namespace velmora::contacts
