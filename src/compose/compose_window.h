#pragma once

#include "compose/compose_commands.h"
#include "compose/compose_rules.h"
#include "compose/edit_html_dialog.h"
#include "compose/hyperlink_dialog.h"
#include "delivery/message/message_draft.h"
#include "delivery/message/spam_score.h"
#include "delivery/run/send_run.h"
#include "platform/clipboard.h"
#include "platform/prompter.h"
#include "store/codes.h"
#include "store/password_store.h"
#include "store/session.h"

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace velmora::platform {
class ProgramImages;
}

namespace velmora::compose {

class BodyEditor;

// What the compose window uses besides its own controls.
struct ComposeServices {
    store::Session& session;
    const platform::ProgramImages& images;
    platform::Prompter& prompter;
    // The rows of the main window's All Entries list, read when asked.
    std::function<std::vector<std::int32_t>()> filteredResults;
    std::function<void()> showHelp;
    std::function<void()> showAbout;
    // Folder the file requesters start in, with a trailing separator.
    std::string profileDirectory;
    // What the send runs and previews are built with.
    delivery::SendRunEnvironment delivery;
    // Cut, Copy and Paste of the HTML body and the Paste button's state use
    // it; the desktop's clipboard when none is given.
    platform::Clipboard* clipboard = nullptr;
    // "Check Message" scores the message with it (SpamAssassin).
    delivery::SpamFilter spamFilter = delivery::spamAssassinScore;
    // Asks for one line of text (title, question, initial text); nothing when
    // the user cancelled. A desktop input box when empty.
    std::function<std::optional<std::string>(const std::string&, const std::string&,
                                             const std::string&)>
        askText = {};
    // The command-line tool a "Send Later..." timer starts.
    std::string mailtrayProgram = "mailtray";
    // The desktop keyring a signed-in session's refresh token may be kept
    // in, for the runs' sign-in (null: none).
    store::PasswordStore* keyring = nullptr;
};

// "Compose Email": the one message of a mailing. Its controls hold the
// `MessageDraft`; the format it was opened with stays its format for the
// body, the commands, the runs and the drafts, whatever the settings say
// meanwhile. It deletes itself when closed; its contents go without asking.
class ComposeWindow final : public QMainWindow {
    Q_OBJECT

public:
    ComposeWindow(store::EditorFormat format, ComposeServices services);
    ~ComposeWindow() override;

    // Loads the initial body (the HTML format waits for the engine).
    void start();

    store::EditorFormat format() const { return format_; }
    // The draft as the controls hold it now (the body read from the editor).
    delivery::MessageDraft draft();
    // Whether the message changed since the window opened, opened a draft
    // or saved one (see messageChanged). An HTML body still loading counts
    // as unchanged.
    bool hasChanges();
    // Whether the body hasChanges compares with is known (for the tests).
    bool unchangedBodyKnown() const { return unchangedBodyKnown_; }

    // Runs a command of the menu or the toolbar.
    void runCommand(ComposeCommand command);
    void attachFile();
    void clearAttachments();
    void saveDraftFile();
    void openDraftCommand();
    // Opens the draft at `path` into this window; a file that cannot be read
    // or is no email draft changes nothing and says nothing.
    void openDraftFile(const std::string& path);
    // "Send Email" asks first, the "Send email" button does not.
    void sendEmail(bool ask);
    // "Send Preview" and "Preview": the From check and the question first.
    void sendPreview();
    // "Check Message": the check's report in a message box.
    void checkMessage();
    // "Send Test...": asks for the address, then sends the first
    // recipient's message there.
    void sendTest();
    void sendLater();
    // The enabling rules: single-address field, selection-dependent
    // controls, Paste. Run on the signals that can change their inputs.
    void composeIdleUpdate();

    // Controls, for the tests.
    QLineEdit* fromField() const { return from_; }
    QComboBox* toList() const { return to_; }
    QLineEdit* singleAddressField() const { return single_; }
    QLineEdit* subjectField() const { return subject_; }
    QComboBox* paragraphStyleList() const { return paragraphStyle_; }
    QLabel* attachmentLabel() const { return attachmentLabel_; }
    BodyEditor* bodyEditor() const { return body_; }
    // The image button or menu item of a command; nullptr where it has none.
    QToolButton* button(ComposeCommand command) const;
    QAction* action(ComposeCommand command) const;
    // The "Insert Field" item of a personal field, e.g. "firstName".
    QAction* fieldAction(std::string_view field) const;

signals:
    // "New": the owner replaces this window with a fresh one of the same format.
    void newRequested();

private:
    void buildMenus();
    void buildControls();
    void buildButtons(ButtonRow row, QWidget* parent);
    // Runs an HTML-only command on the body; nothing in the PlainText format.
    void htmlCommand(const std::function<void(BodyEditor&)>& command);
    void cut();
    void copy();
    void paste();
    // What the window holds now is what it opened with.
    void markUnchanged();

    store::EditorFormat format_;
    ComposeServices services_;
    RecipientCounts counts_;
    // The attachment slots; the other fields live in the controls.
    delivery::MessageDraft attachments_;
    // The message as opened or last saved, and whether its body is known yet
    // (an HTML body is read once the engine loaded it).
    delivery::MessageDraft unchanged_;
    bool unchangedBodyKnown_ = false;
    bool takeUnchangedBodyOnLoad_ = false;
    std::int32_t lastBlockFormat_ = 0;
    ShownState singleShown_;
    ShownState selectionShown_;
    ShownState pasteShown_;

    QLineEdit* from_ = nullptr;
    QComboBox* to_ = nullptr;
    QLineEdit* single_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QComboBox* paragraphStyle_ = nullptr;
    QLabel* attachmentLabel_ = nullptr;
    BodyEditor* body_ = nullptr;
    std::map<ComposeCommand, QToolButton*> buttons_;
    std::map<ComposeCommand, QAction*> actions_;
    std::map<std::string_view, QAction*> fieldActions_;
    QPointer<HyperlinkDialog> hyperlinkDialog_;
    QPointer<EditHtmlDialog> editHtmlDialog_;
};

// The Compose command for the SMTP method: closes the window held in
// `current` and opens a new one in `format`, counting the recipients anew;
// its "New" does the same again. When the open window's message changed,
// the user is asked first; No brings that window to the front and keeps it.
// `services` and `current` must outlive every window opened so.
ComposeWindow* openComposeWindow(store::EditorFormat format, const ComposeServices& services,
                                 QPointer<ComposeWindow>& current);

} // namespace velmora::compose
