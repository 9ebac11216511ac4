#include "platform/qt_images.h"
#include "support/qt_app.h"
#include "views/contact_list_model.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::views {

namespace {

class ContactListModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::qtApp();
        ASSERT_TRUE(images.load());
        session.resetToNew();
        add("ann@example.org", "Ann", code(store::ContactStatus::Customers),
            code(store::ContactTag::Star), "first\r\nsecond");
        add("bob@example.org", "Bob", code(store::ContactStatus::Prospects),
            code(store::ContactTag::None), "");
        add("cy@example.org", "Cy", code(store::ContactStatus::Customers),
            code(store::ContactTag::None), "");
    }
    std::int32_t add(const std::string& email, const std::string& name, std::int32_t status,
                     std::int32_t tag, const std::string& notes) {
        store::NewContact c;
        c.email = email;
        c.name = name;
        c.status = status;
        c.notes = notes;
        const std::int32_t slot = session.createContact(c, "12/07/2026");
        session.modifyContact(slot, [tag](store::Contact& contact) { contact.tag = tag; });
        return slot;
    }
    void rebuild(ContactListModel& model, const std::function<void()>& change) {
        model.beginRebuild();
        change();
        model.endRebuild();
    }

    // First, so that the members below find the application object.
    QApplication& app = testing_support::qtApp();
    platform::ProgramImages images;
    store::Session session;
    ContactViews views;
};

QString cell(const ContactListModel& model, int row, ListColumn column) {
    return model.data(model.index(row, static_cast<int>(column))).toString();
}

} // namespace

TEST_F(ContactListModelTest, ShowsTheRowsOfItsListWithSlotsAndIcons) {
    ContactListModel model(session, views, ViewTab::Customers, &images);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(model.rowCount(), 0);
    rebuild(model, [&] { views.refresh(session); });
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 5);
    EXPECT_EQ(cell(model, 0, ListColumn::Email), u"ann@example.org"_s);
    EXPECT_EQ(cell(model, 0, ListColumn::Name), u"Ann"_s);
    EXPECT_EQ(cell(model, 0, ListColumn::LastContacted), u"never"_s);
    EXPECT_EQ(cell(model, 0, ListColumn::Notes), u"first; second"_s);
    EXPECT_EQ(cell(model, 1, ListColumn::Email), u"cy@example.org"_s);
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(model.data(model.index(1, column), ContactListModel::kSlotRole).toInt(), 3);
    }
    EXPECT_EQ(model.slotAt(0), 1);
    EXPECT_EQ(model.slotAt(2), 0);
    // Ann carries the Star tag; Cy has no tag and so no icon.
    const QVariant star = model.data(model.index(0, 0), Qt::DecorationRole);
    ASSERT_TRUE(star.canConvert<QPixmap>());
    EXPECT_EQ(star.value<QPixmap>().toImage(), images.pixmap(9).toImage());
    EXPECT_FALSE(model.data(model.index(1, 0), Qt::DecorationRole).isValid());
    EXPECT_TRUE(cell(model, 0, ListColumn::Icon).isEmpty());
}

TEST_F(ContactListModelTest, HeadersNameTheColumns) {
    ContactListModel model(session, views, ViewTab::AllEntries, &images);
    const QStringList expected{u""_s, u"Email Address"_s, u"Contact Name"_s, u"Last Contacted"_s,
                               u"Notes"_s};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(model.headerData(column, Qt::Horizontal).toString(), expected[column]);
    }
}

TEST_F(ContactListModelTest, FilteringResetsTheModelAndShowsNotesAsStored) {
    ContactListModel model(session, views, ViewTab::AllEntries, &images);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    rebuild(model, [&] { views.refresh(session); });
    EXPECT_EQ(model.rowCount(), 3);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    rebuild(model, [&] { views.applyFilters(session, "ANN", {}); });
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(model.rowCount(), 1);
    // The carriage return is not drawn; the line break stays.
    EXPECT_EQ(cell(model, 0, ListColumn::Notes), u"first\nsecond"_s);
    // Status icon on the filtered list: Customers.
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage(),
              images.pixmap(4).toImage());
}

TEST_F(ContactListModelTest, ASessionThatMovedOnShowsNoStaleContact) {
    ContactListModel model(session, views, ViewTab::AllEntries, &images);
    rebuild(model, [&] { views.refresh(session); });
    session.resetToNew(); // rows now name slots that no longer exist
    EXPECT_FALSE(model.data(model.index(0, 1)).isValid());
    rebuild(model, [&] { views.refresh(session); });
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ContactListModelTest, AListOfItsOwnShowsThreeColumnsOfItsTable) {
    // The Mailtray entry takes slot 1 of its own table, where the contacts
    // table holds Ann: the rows must read the table they were made for.
    store::Contact entry = session.contact(2);
    entry.status = 9; // unknown: the tag's icon (none here) stands in
    const std::int32_t entrySlot = session.addMailtrayEntry(entry);
    ContactListModel model(session, RowTable::Mailtray, &images);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setRowSlots({entrySlot, 77});
    EXPECT_EQ(resets.count(), 1);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), u"Contact Name"_s);
    EXPECT_EQ(cell(model, 0, ListColumn::Email), u"bob@example.org"_s);
    EXPECT_FALSE(model.data(model.index(0, 0), Qt::DecorationRole).isValid());
    // A slot that does not exist shows nothing, not even its number.
    EXPECT_FALSE(model.data(model.index(1, 1)).isValid());
    EXPECT_FALSE(model.data(model.index(1, 1), ContactListModel::kSlotRole).isValid());

    ContactListModel contacts(session, RowTable::Contacts, &images);
    contacts.setRowSlots({entrySlot});
    EXPECT_EQ(cell(contacts, 0, ListColumn::Email), u"ann@example.org"_s);
    // Known status: its icon, whatever the tag.
    EXPECT_EQ(contacts.data(contacts.index(0, 0), Qt::DecorationRole).value<QPixmap>().toImage(),
              images.pixmap(platform::ImageName::StatusCustomers).toImage());
}

TEST(ProgramImagesTest, AllFortyOneImagesDecodeAtTheirSizes) {
    testing_support::qtApp();
    platform::ProgramImages images;
    ASSERT_TRUE(images.load());
    for (int number = 0; number < platform::ProgramImages::kCount; ++number) {
        const QSize expected = number == platform::imageNumber(platform::ImageName::Banner)
                                   ? QSize(420, 35)
                                   : QSize(16, 16);
        EXPECT_EQ(images.pixmap(number).size(), expected) << "image " << number;
    }
    EXPECT_TRUE(images.pixmap(41).isNull());
    EXPECT_TRUE(images.pixmap(-1).isNull());
}

} // namespace velmora::views
