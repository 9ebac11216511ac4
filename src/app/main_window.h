#pragma once

#include "app/file_commands.h"
#include "app/main_commands.h"
#include "app/recent_sessions.h"
#include "compose/compose_window.h"
#include "contacts/view_access.h"
#include "delivery/message/mime_types_file.h"
#include "platform/clipboard.h"
#include "platform/launcher.h"
#include "platform/prompter.h"
#include "store/clock.h"
#include "store/password_store.h"
#include "store/session.h"
#include "store/session_commands.h"
#include "views/contact_views.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QToolButton;
class QTreeWidget;

namespace velmora::platform {
class ProgramImages;
}

namespace velmora::views {
class ContactListModel;
}

namespace velmora::app {

// What the main window uses of the world outside the session: message boxes
// and requesters, the desktop's document opener, and where files live.
struct MainWindowServices {
    platform::Prompter& prompter;
    platform::Launcher& launcher;
    // The user's home folder with a trailing separator: file requesters start here.
    std::string profileDirectory;
    // Copies of the manual outside the start folder, tried in order.
    std::vector<std::string> installedManuals;
    // "Today" for every date the commands stamp.
    const store::Clock& clock;
    platform::Clipboard& clipboard;
    // File > Recent Sessions; none kept when null.
    platform::RecentSessionStore* recentSessions;
    // The desktop keyring for sessions that keep their password there;
    // null where there is none.
    store::PasswordStore* passwords;
};

// The main window: menu bar, image buttons, search field, filter tree, the
// five contact lists and the status line. Every command, from menu or
// button, goes through `runCommand` to its one handler.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(store::Session& session, const platform::ProgramImages& images,
               MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The one entry point of every command.
    void runCommand(MainCommand command);
    // Opens a session file named on the command line or in Recent Sessions,
    // with Open Session..'s checks and messages. True when it was loaded.
    bool openSessionFile(const std::string& path);

    // The views (after every change to contacts, groups or the Mailtray).
    void refreshViews();
    void updateStatusLine();
    void applyFilters();
    void clearFilters();

    // Slots of the selected rows of the list on the current tab, in row
    // order, read now.
    std::vector<std::int32_t> selectedRows() const;
    // Every row of the "All Entries" list, filtered or not.
    const std::vector<std::int32_t>& filteredResults() const;
    // Item number of the filter tree's selected item, 0 when none.
    std::int32_t selectedTreeItemNumber() const;

    store::Session& session() { return session_; }
    store::SessionHooks& sessionHooks() { return hooks_; }
    platform::Prompter& prompter() { return services_.prompter; }
    platform::Launcher& launcher() { return services_.launcher; }
    const platform::ProgramImages& images() const { return images_; }
    const views::ContactViews& views() const { return views_; }

    // Controls, for the tests.
    QLineEdit* searchField() const { return searchField_; }
    QPushButton* clearFiltersButton() const { return clearButton_; }
    QPushButton* applyFiltersButton() const { return applyButton_; }
    QTreeWidget* filterTree() const { return filterTree_; }
    QTabWidget* tabs() const { return tabs_; }
    QTableView* listView(views::ViewTab tab) const;
    views::ContactListModel* listModel(views::ViewTab tab) const;
    QLabel* logo() const { return logo_; }
    QLabel* statusField() const { return statusField_; }
    const std::vector<QToolButton*>& imageButtonWidgets() const { return imageButtons_; }
    QAction* action(MainCommand command) const;
    QMenu* recentSessionsMenu() const { return recentMenu_; }
    // The open compose window, if any.
    compose::ComposeWindow* composeWindow() const { return composeWindow_; }
    // Every open top-level window this window opened (for the tests).
    std::vector<QWidget*> openWindows() const;

signals:
    // Emitted as a command starts, whichever control sent it.
    void commandStarted(MainCommand command);
    // The window closed for good: the program should end.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The session commands' hooks and the views as the contact and Mailtray
    // windows see them.
    class WindowHooks final : public contacts::ViewAccess {
    public:
        explicit WindowHooks(MainWindow& window) : window_(window) {}
        void refreshViews() override { window_.refreshViews(); }
        void setWindowTitle(const std::string& title) override;
        void updateStatusLine() override { window_.updateStatusLine(); }
        std::vector<std::int32_t> selectedRows() const override { return window_.selectedRows(); }
        std::vector<std::int32_t> filteredRows() const override {
            return window_.filteredResults();
        }
        std::int32_t selectedTreeItemNumber() const override {
            return window_.selectedTreeItemNumber();
        }

    private:
        MainWindow& window_;
    };

    void buildMenus();
    void buildControls();
    void rebuildFilterTree();
    std::vector<std::int32_t> checkedTreeNumbers() const;
    void setSearchFieldText(const QString& text, bool placeholder);
    void fileCommand(MainCommand command);
    FileCommandContext fileContext();
    void rememberSessionFile(const std::string& before);
    // The title and Save follow whether the session is open read-only.
    void showSessionFileState();
    void rebuildRecentSessionsMenu();
    void fetchPasswordAfterLoad();
    void compose();
    void showHelp();
    void showAbout();

    // Commands of the contact and Mailtray windows, the delivery settings and
    // the composer; each is the single place its feature plugs in.
    void openAddContactDialog();
    void openAddEmailListDialog();
    void openImportContactsDialog();
    void openExportContactsDialog();
    void openEditEntriesDialog();
    void deleteSelectedEntries();
    void removeDuplicates();
    void openSelectionDialog(int kind);
    void openSetGroupDialog();
    void openSetStatusDialog();
    void openSetTagDialog();
    void openAddCampaignGroupDialog();
    void removeCampaignGroup();
    void openMailtrayWindow();
    void openDeliverySettingsDialog();
    void openFeedbackWindow();
    void openComposeWindow(std::int32_t editorFormat);
    // With an interrupted send run in the session's journal: asks whether to
    // resume it and does. True when the user said Yes.
    bool offerResume();
    delivery::SendRunEnvironment deliveryEnvironment();
    void handOffToMailClient();
    void showHandoffStamps();

    store::Session& session_;
    const platform::ProgramImages& images_;
    MainWindowServices services_;
    WindowHooks hooks_;
    // The open session file's lock and stamp.
    OpenSessionFile sessionFile_;
    views::ContactViews views_;

    QLineEdit* searchField_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QTreeWidget* filterTree_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* logo_ = nullptr;
    QLabel* statusField_ = nullptr;
    std::array<QTableView*, views::kTabCount> lists_{};
    std::array<views::ContactListModel*, views::kTabCount> models_{};
    std::vector<QToolButton*> imageButtons_;
    std::map<MainCommand, QAction*> actions_;
    QMenu* recentMenu_ = nullptr;
    QPointer<compose::ComposeWindow> composeWindow_;
    // The one open window of each kind that opens only once.
    enum class SingleWindow {
        AddContact,
        AddEmailList,
        AddCampaignGroup,
        SetGroup,
        SetStatus,
        SetTag,
        Mailtray,
        DeliverySettings,
        RemoveDuplicates,
        Feedback,
    };
    std::map<SingleWindow, QPointer<QWidget>> singleWindows_;
    // Brings the open window of `kind` to the front and returns true, or
    // returns false when none is open.
    bool raiseSingleWindow(SingleWindow kind);
    void showSingleWindow(SingleWindow kind, QWidget* window);
    // Attachment types for the compose window's send runs.
    delivery::MimeTypesFile contentTypes_;
};

} // namespace velmora::app
