#include "contacts/add_group_dialog.h"
#include "contacts/duplicates_window.h"
#include "contacts/gui_fakes.h"
#include "contacts/selection_dialog.h"
#include "platform/qt_images.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringListModel>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::contacts {

using namespace testing_support;

namespace {

QStringList column(const QAbstractItemModel& model, int col) {
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row) {
        values << model.data(model.index(row, col)).toString();
    }
    return values;
}

struct SelectionTest : ::testing::Test {
    store::Session session;
    FakeViews views;
    FakePrompter prompter;
};

} // namespace

TEST_F(SelectionTest, EachKindHasItsCaptionsAndListsTheLiveSelectedContacts) {
    fillSession(session, {"Two", ""}, {"a@x", "b@x", "c@x"});
    session.deleteContact(2);
    // A status code the program does not know: the row shows the tag instead.
    session.modifyContact(3, [](store::Contact& c) {
        c.tag = code(store::ContactTag::Star);
        c.status = 9;
    });
    views.selected = {3, 2, 1};
    platform::ProgramImages images;
    ASSERT_TRUE(images.load());
    const auto iconOf = [](const QAbstractItemModel& model, int row) {
        return model.data(model.index(row, 0), Qt::DecorationRole).value<QPixmap>().toImage();
    };
    struct Expected {
        SelectionDialog::Kind kind;
        QString title;
        QString label;
        QStringList items;
    };
    const Expected all[] = {
        {SelectionDialog::Kind::Tag,
         u"Set Selection Tags"_s,
         u"Tag Entries"_s,
         {u"--none--"_s, u"Todo"_s, u"Important"_s, u"Irate"_s, u"Star"_s}},
        {SelectionDialog::Kind::Group,
         u"Move Selection to Group"_s,
         u"Campaign Group"_s,
         {u"Main (Default)"_s, u"Two"_s, u""_s}},
        {SelectionDialog::Kind::Status,
         u"Set Selection Status"_s,
         u"Set Status"_s,
         {u"Subscribers"_s, u"Prospects"_s, u"Customers"_s, u"Do Not Contact"_s}},
    };
    for (const Expected& e : all) {
        SelectionDialog dialog(e.kind, session, views, prompter, &images);
        QAbstractItemModelTester tester(dialog.listModel(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        EXPECT_EQ(dialog.windowTitle(), e.title);
        EXPECT_EQ(dialog.label()->text(), e.label);
        EXPECT_EQ(comboItems(*dialog.dropDown()), e.items);
        EXPECT_EQ(dialog.dropDown()->currentIndex(), 0);
        EXPECT_EQ(dialog.cancelButton()->text(), u"Cancel"_s);
        EXPECT_EQ(dialog.applyButton()->text(), u"Apply >>"_s);
        const QAbstractItemModel& model = *dialog.list()->model();
        EXPECT_EQ(column(model, 1), QStringList({u"c@x"_s, u"a@x"_s}));
        EXPECT_EQ(column(model, 2), QStringList({u"Name of c@x"_s, u"Name of a@x"_s}));
        EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), u"Email Address"_s);
        EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), u"Contact Name"_s);
        EXPECT_EQ(model.columnCount(), 3);
        EXPECT_EQ(model.data(model.index(1, 0), views::ContactListModel::kSlotRole).toInt(), 1);
        EXPECT_EQ(dialog.list()->columnWidth(0), 24);
        EXPECT_EQ(dialog.list()->columnWidth(1), 180);
        EXPECT_EQ(dialog.list()->columnWidth(2), 160);
        EXPECT_EQ(iconOf(model, 0), images.pixmap(platform::ImageName::TagStar).toImage());
        EXPECT_EQ(iconOf(model, 1),
                  images.pixmap(platform::ImageName::StatusSubscribers).toImage());
    }
}

TEST_F(SelectionTest, ApplyActsOnTheSelectionOfTheMomentAndTellsWhatItDid) {
    fillSession(session, {"Two"}, {"a@x", "b@x", "c@x"});
    views.selected = {1};

    QPointer<SelectionDialog> tag =
        new SelectionDialog(SelectionDialog::Kind::Tag, session, views, prompter);
    views.selected = {2, 3};
    tag->dropDown()->setCurrentIndex(2);
    tag->applyButton()->click();
    EXPECT_EQ(session.contact(1).tag, 0);
    EXPECT_EQ(session.contact(2).tag, 2);
    EXPECT_EQ(session.contact(3).tag, 2);

    auto* group = new SelectionDialog(SelectionDialog::Kind::Group, session, views, prompter);
    group->dropDown()->setCurrentIndex(1);
    group->applyButton()->click();
    EXPECT_EQ(session.contact(3).groupIndex, 2);

    session.modifyContact(
        2, [](store::Contact& c) { c.status = code(store::ContactStatus::Customers); });
    auto* status = new SelectionDialog(SelectionDialog::Kind::Status, session, views, prompter);
    status->dropDown()->setCurrentIndex(3);
    status->applyButton()->click();
    EXPECT_EQ(session.contact(2).status, -1);
    EXPECT_EQ(session.contact(2).previousStatus, 0);

    // With nothing selected the caption is taken from no row.
    views.selected.clear();
    auto* none = new SelectionDialog(SelectionDialog::Kind::Status, session, views, prompter);
    EXPECT_EQ(none->listModel()->rowCount(), 0);
    none->applyButton()->click();

    ASSERT_EQ(prompter.shown.size(), 4u);
    for (const auto& shown : prompter.shown) {
        EXPECT_EQ(shown.title, "Information");
        EXPECT_EQ(shown.buttons, platform::PromptButtons::Ok);
    }
    EXPECT_EQ(prompter.shown[0].text, "The selected entries have been tagged as \"Important\"");
    EXPECT_EQ(prompter.shown[1].text,
              "The selected entries have been moved to Campaign Group \"Two\"");
    EXPECT_EQ(prompter.shown[2].text,
              "The selected entries have been assigned the status \"Do Not Contact\"");
    EXPECT_EQ(prompter.shown[3].text, "The selected entries have been assigned the status \"\"");
    EXPECT_EQ(views.refreshes, 4);
    flushDeletes();
    EXPECT_TRUE(tag.isNull());
}

TEST_F(SelectionTest, CancelChangesNothing) {
    fillSession(session, {}, {"a@x"});
    views.selected = {1};
    QPointer<SelectionDialog> dialog =
        new SelectionDialog(SelectionDialog::Kind::Tag, session, views, prompter);
    dialog->dropDown()->setCurrentIndex(4);
    dialog->cancelButton()->click();
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());
    EXPECT_EQ(session.contact(1).tag, 0);
    EXPECT_EQ(views.refreshes, 0);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(SelectionTest, AddGroupKeepsBlanksAroundTheNameAndRefusesABlankName) {
    fillSession(session, {}, {});
    QPointer<AddGroupDialog> dialog = new AddGroupDialog(session, views);
    EXPECT_EQ(dialog->windowTitle(), u"Add New Campaign Group"_s);
    EXPECT_EQ(dialog->cancelButton()->text(), u"Cancel"_s);
    EXPECT_EQ(dialog->addButton()->text(), u"Add Group >>"_s);
    EXPECT_TRUE(dialog->nameField()->text().isEmpty());
    dialog->nameField()->setText(u" Spring "_s);
    dialog->descriptionField()->setPlainText(u"two\nlines"_s);
    dialog->addButton()->click();
    ASSERT_EQ(session.groupCount(), 2);
    EXPECT_EQ(session.group(2).name, " Spring ");
    EXPECT_EQ(session.group(2).description, "two\r\nlines"); // the file's line breaks
    EXPECT_EQ(session.group(2).id, 2);
    EXPECT_EQ(views.refreshes, 1);
    flushDeletes();
    EXPECT_TRUE(dialog.isNull());

    QPointer<AddGroupDialog> blank = new AddGroupDialog(session, views);
    blank->nameField()->setText(u"   "_s);
    blank->addButton()->click();
    flushDeletes();
    EXPECT_TRUE(blank.isNull());
    EXPECT_EQ(session.groupCount(), 2);
    EXPECT_EQ(views.refreshes, 1);

    auto* cancelled = new AddGroupDialog(session, views);
    cancelled->nameField()->setText(u"Autumn"_s);
    cancelled->cancelButton()->click();
    flushDeletes();
    EXPECT_EQ(session.groupCount(), 2);
}

TEST_F(SelectionTest, DuplicatesWindowListsRemovedAddressesAndTheSummary) {
    fillSession(
        session, {},
        {"one@x", "Same@X", "two@x", "three@x", "same@x", "four@x", "five@x", "six@x", "SAME@x"});
    // Blanks around an address stay as stored but do not make it another one.
    session.modifyContact(5, [](store::Contact& c) { c.email = " same@x"; });
    session.modifyContact(9, [](store::Contact& c) { c.email = "SAME@x  "; });
    QPointer<DuplicatesWindow> window = new DuplicatesWindow(session, views);
    EXPECT_EQ(window->windowTitle(), u"Removing Duplicates..."_s);
    EXPECT_EQ(window->stateLabel()->text(), u"Working..."_s);
    EXPECT_EQ(window->closeButton()->text(), u"Close"_s);
    window->run();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->stateLabel()->text(), u"Finished."_s);
    EXPECT_EQ(window->recordsModel()->stringList(),
              QStringList({u" same@x"_s, u"SAME@x  "_s, u"Removed 2 duplicate records."_s}));
    EXPECT_EQ(window->progressBar()->value(), window->progressBar()->maximum());
    EXPECT_FALSE(session.contact(2).isDeleted());
    EXPECT_TRUE(session.contact(5).isDeleted());
    EXPECT_TRUE(session.contact(9).isDeleted());
    EXPECT_EQ(views.refreshes, 1);
    EXPECT_EQ(views.statusLines, 1);
    window->closeButton()->click();
    flushDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST_F(SelectionTest, DuplicatesWindowOnAnEmptyTableFindsNone) {
    fillSession(session, {}, {});
    auto* window = new DuplicatesWindow(session, views);
    window->run();
    EXPECT_EQ(window->stateLabel()->text(), u"Finished."_s);
    EXPECT_EQ(window->recordsModel()->stringList(), QStringList({u"No duplicates found."_s}));
    window->close();
    flushDeletes();
}

TEST_F(SelectionTest, DuplicatesWindowMovesItsBarDuringTheWorkAndHoldsManyLines) {
    // Every address three times: two thirds of the table are removed.
    session.resetToNew();
    const int distinct = 40000;
    session.reserveContacts(3 * distinct);
    for (int copy = 0; copy < 3; ++copy) {
        for (int i = 0; i < distinct; ++i) {
            store::NewContact c;
            c.email = "user" + std::to_string(i) + (copy == 1 ? "@X.ORG" : "@x.org");
            session.createContact(c, "01/01/2026");
        }
    }
    auto* window = new DuplicatesWindow(session, views);
    QSignalSpy moves(window->progressBar(), &QProgressBar::valueChanged);
    bool refusedWhileWorking = true;
    QObject::connect(window->progressBar(), &QProgressBar::valueChanged, [&] {
        // The close box does nothing while the work holds the window.
        refusedWhileWorking = refusedWhileWorking && !window->close();
    });
    window->run();
    EXPECT_GT(moves.count(), 5);
    EXPECT_TRUE(refusedWhileWorking);
    EXPECT_EQ(window->stateLabel()->text(), u"Finished."_s);
    const QStringList lines = window->recordsModel()->stringList();
    ASSERT_EQ(lines.size(), 2 * distinct + 1);
    EXPECT_EQ(lines[0], u"user0@X.ORG"_s);
    EXPECT_EQ(lines[1], u"user0@x.org"_s);
    EXPECT_EQ(lines.back(), u"Removed 80000 duplicate records."_s);
    EXPECT_EQ(window->recordsList()->model()->rowCount(), 2 * distinct + 1);
    EXPECT_TRUE(window->close());
    flushDeletes();
}

} // namespace velmora::contacts
