#include "delivery/keyring_password.h"
#include "delivery/windows/delivery_settings_dialog.h"
#include "delivery/windows/relays_window.h"
#include "platform/qt_text.h"
#include "support/test_support.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace velmora::delivery {

using testing_support::FakePrompter;
using testing_support::MemoryKeyring;

namespace {

// The rows of the list, as "number server port login connections weight cap".
std::vector<std::string> rows(const RelayListModel& model) {
    std::vector<std::string> texts;
    for (int row = 0; row < model.rowCount(); ++row) {
        std::string text;
        for (int column = 0; column < model.columnCount(); ++column) {
            text += (column == 0 ? "" : " ") +
                    model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
        }
        texts.push_back(text);
    }
    return texts;
}

void fill(RelayEditDialog& editor, const std::map<std::string, QString>& values) {
    for (const auto& [name, value] : values) {
        editor.field(name)->setText(value);
    }
}

} // namespace

// Add, Edit and Remove change the block the window was given, and the list
// follows; a refused value keeps the editor open and changes nothing.
TEST(RelaysWindow, AddEditAndRemoveChangeTheRelaysAndTheListFollows) {
    store::ExtensionSettings extensions;
    extensions.set("relay.3.server", "third.example.net");
    FakePrompter prompter;
    auto* window = new RelaysWindow(
        extensions, [] { return store::SessionSettings{}; }, prompter);
    QAbstractItemModelTester tester(window->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(rows(*window->model()),
              (std::vector<std::string>{"3 third.example.net 587  1 1 none"}));
    EXPECT_FALSE(window->editButton()->isEnabled());

    window->addButton()->click();
    RelayEditDialog* editor = window->editDialog();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->number(), 2);
    fill(*editor, {{"server", u" relay.example.net "_s},
                   {"security", u"tls"_s},
                   {"login", u"bob"_s},
                   {"password", u"s3cret"_s},
                   {"connections", u"25"_s}});
    editor->okButton()->click();
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              "Bad value \"25\" for relay.2.connections; allowed: a whole number from 1 to 20.");
    EXPECT_EQ(window->model()->rowCount(), 1);
    ASSERT_NE(window->editDialog(), nullptr);

    fill(*editor, {{"connections", u"4"_s}, {"dailyCap", u"500"_s}});
    editor->okButton()->click();
    EXPECT_EQ(rows(*window->model()),
              (std::vector<std::string>{"2 relay.example.net 465 bob 4 1 500",
                                        "3 third.example.net 587  1 1 none"}));
    EXPECT_EQ(extensions.value("relay.2.password"), "s3cret");
    EXPECT_TRUE(window->editButton()->isEnabled()); // the new relay is selected

    window->list()->selectRow(1);
    window->editButton()->click();
    ASSERT_NE(window->editDialog(), nullptr);
    EXPECT_EQ(window->editDialog()->field("server")->text(), u"third.example.net"_s);
    fill(*window->editDialog(), {{"weight", u"3"_s}});
    window->editDialog()->okButton()->click();
    EXPECT_EQ(extensions.integer("relay.3.weight"), 3);

    window->list()->selectRow(0);
    window->removeButton()->click();
    EXPECT_EQ(rows(*window->model()),
              (std::vector<std::string>{"3 third.example.net 587  1 3 none"}));
    EXPECT_EQ(extensions.value("relay.2.password"), "");
    delete window;
}

// The delivery settings dialog reaches the list; what it changes is kept
// only when the dialog's Apply is pressed.
TEST(RelaysWindow, TheSettingsDialogAppliesTheRelaysWithEverythingElse) {
    store::Session session;
    session.resetToNew();
    FakePrompter prompter;
    auto* dialog = new DeliverySettingsDialog(session, prompter);
    dialog->relaysButton()->click();
    RelaysWindow* window = dialog->relaysWindow();
    ASSERT_NE(window, nullptr);
    window->addButton()->click();
    // Nobody listens on port 1: the test ends at once.
    fill(*window->editDialog(), {{"server", u"127.0.0.1"_s}, {"port", u"1"_s}});
    window->editDialog()->okButton()->click();
    EXPECT_EQ(session.settings().extensions.value("relay.2.server"), ""); // not yet
    window->list()->selectRow(0);
    window->testButton()->click();
    ASSERT_NE(window->connectionTestWindow(), nullptr);
    window->connectionTestWindow()->close();
    dialog->advancedField("connections")->setText(u"3"_s);
    dialog->applyButton()->click();
    EXPECT_EQ(session.settings().extensions.value("relay.2.server"), "127.0.0.1");
    EXPECT_EQ(session.settings().extensions.integer("connections"), 3);
}

// "Keep password in the desktop keyring" stores a relay's password there on
// the dialog's Apply; a keyring that refuses says why, and the password
// stays in the file, the old entry untouched.
TEST(RelaysWindow, ARelaysPasswordGoesToTheKeyringOnApplyOrStaysInTheFile) {
    store::Session session;
    session.resetToNew();
    FakePrompter prompter;
    MemoryKeyring keyring;
    const auto editRelay = [&](const std::map<std::string, QString>& values, bool keep) {
        auto* dialog = new DeliverySettingsDialog(session, prompter, nullptr, &keyring);
        dialog->relaysButton()->click();
        RelaysWindow* window = dialog->relaysWindow();
        QAbstractItemModelTester tester(window->model(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        if (window->model()->rowCount() == 0) {
            window->addButton()->click();
        } else {
            window->list()->selectRow(0);
            window->editButton()->click();
        }
        RelayEditDialog* editor = window->editDialog();
        EXPECT_TRUE(editor->keyringBox()->isEnabled());
        fill(*editor, values);
        editor->keyringBox()->setChecked(keep);
        editor->okButton()->click();
        dialog->applyButton()->click();
    };
    editRelay({{"server", u"relay.example.net"_s}, {"login", u"bob"_s}, {"password", u"s3cret"_s}},
              true);
    const std::string account = "smtp://bob@relay.example.net:587";
    EXPECT_EQ(keyring.entries, (std::map<std::string, std::string>{{account, "s3cret"}}));
    EXPECT_TRUE(session.settings().extensions.boolean("relay.2.passwordInKeyring"));
    EXPECT_TRUE(prompter.shown.empty());

    keyring.refusal = "the collection is locked";
    editRelay({{"password", u"n3w"_s}}, true);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, keyringWriteFailedText("relay 2: the collection is locked"));
    EXPECT_FALSE(session.settings().extensions.boolean("relay.2.passwordInKeyring"));
    EXPECT_EQ(session.settings().extensions.value("relay.2.password"), "n3w");
    EXPECT_EQ(keyring.entries.at(account), "s3cret");

    // Unchecked, the keyring forgets it; the file has it.
    keyring.refusal.reset();
    editRelay({{"password", u"n3w"_s}}, true);
    EXPECT_EQ(keyring.entries.at(account), "n3w");
    editRelay({}, false);
    EXPECT_TRUE(keyring.entries.empty());
    EXPECT_EQ(session.settings().extensions.value("relay.2.password"), "n3w");

    // A keyring that cannot be reached: the box is off, with the reason.
    keyring.unavailable = "no session bus";
    store::ExtensionSettings extensions = session.settings().extensions;
    auto* window = new RelaysWindow(
        extensions, [] { return store::SessionSettings{}; }, prompter, nullptr, &keyring);
    window->list()->selectRow(0);
    window->editButton()->click();
    EXPECT_FALSE(window->editDialog()->keyringBox()->isEnabled());
    EXPECT_EQ(window->editDialog()->keyringBox()->toolTip(), u"no session bus"_s);
    delete window;
}

} // namespace velmora::delivery
