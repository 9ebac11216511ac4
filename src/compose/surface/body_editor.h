#pragma once

#include "compose/editing_surface.h"
#include "platform/qt_clipboard.h"
#include "store/codes.h"

#include <QString>
#include <QVariant>
#include <QWidget>
#include <memory>
#include <string>
#include <string_view>

class QEventLoop;
class QPlainTextEdit;
class QTemporaryDir;
class QWebEngineView;

namespace velmora::compose {
class BodyPage;

// Engine commands `runEditCommand` may run.
enum class EditCommand { Delete, Undo, Redo };

// The compose window's body control. In the Html format it is a web engine
// whose document is switched into design mode, and it offers the routines the
// editing commands (editing_commands.h) and the compose window need; in the
// PlainText format it is a plain multi-line text editor and the HTML routines
// return their empty results.
//
// Synchronous answers: the engine answers scripts asynchronously, so each
// routine runs a local event loop until the answer arrives or a time-out
// passes (then it returns its empty result). While it waits, user input is
// held back (delivered after the routine returned) and windows refuse to
// close, so no command handler runs in the middle of another; timers and
// other posted events still run. A caller driven by a timer (an idle update)
// should skip its pass while `isWaiting()` is true.
//
// The temporary document file: every HTML body is loaded from the file
// "temp_file.html" in a folder of this editor's own inside the per-user
// application data folder (owner-only access), never from a shared temporary
// folder. The folder is the editor's alone, so that two running programs (or
// two test processes) cannot load each other's body; it goes with the editor.
class BodyEditor final : public QWidget, public EditingSurface {
    Q_OBJECT

public:
    explicit BodyEditor(store::EditorFormat format, QWidget* parent = nullptr);
    ~BodyEditor() override;

    store::EditorFormat format() const { return format_; }

    // --- Html format -----------------------------------------------------
    // Makes sure a document is shown (navigating to "about:blank" when
    // nothing is) and waits until it finished loading. False when there is
    // no engine or loading did not finish within the document time-out; the
    // routines then go on with whatever the engine shows.
    bool waitForDocument();
    // Writes `html` unchanged (UTF-8 bytes) to the temporary document file
    // and starts loading it; does not wait. 0 on success, -1 when the file
    // cannot be written (the surface keeps showing what it showed).
    int loadBodyDocument(std::string_view html);
    // "On" switches design mode on, "Off" off (any letter case); 1 on
    // success, 0 otherwise. A newly loaded document starts outside design
    // mode, so call it after each `loadBodyDocument`.
    int setDesignMode(std::string_view mode);
    // EditingSurface: see editing_surface.h for the selection semantics.
    std::string selectionProperty(std::string_view propertyName) override;
    std::string selectionParentTag() override;
    void replaceSelection(std::string_view html) override;
    std::string documentSource() override;
    void replaceDocumentSource(std::string_view html) override;
    void focusBody() override;
    // Runs an engine editing command on the current selection; 1 when the
    // engine carried it out, 0 when it refused (silently) or is missing.
    int runEditCommand(EditCommand command);

    // --- Both formats ----------------------------------------------------
    // The message body: the document source (Html) or the editor's text.
    std::string bodyText();
    // PlainText only: replaces the editor's text.
    void setPlainText(std::string_view text);
    // Puts `text` (no markup) in place of the selection, or at the caret.
    void insertText(std::string_view text);
    // Cut, Copy and Paste of the compose window. Html: the selection's HTML
    // source goes to the clipboard as text, and Paste inserts the
    // clipboard's text as HTML. PlainText: the text editor's own functions.
    // All focus the body; enabling the Paste button is the caller's part.
    void cutSelection();
    void copySelection();
    void pasteClipboard();
    // Undo and Redo of the Edit menu: the engine's own history (Html) or
    // the text editor's (PlainText); both focus the body.
    void undo();
    void redo();
    // The clipboard the Html format's Cut, Copy and Paste use: the desktop's
    // unless another is given; `clipboard` must outlive the editor.
    void setClipboard(platform::Clipboard& clipboard) { clipboard_ = &clipboard; }
    const platform::Clipboard& clipboard() const { return *clipboard_; }

    // Whether something (not just a caret) is selected, without asking the
    // engine: it follows `selectionChanged`. An idle update can use this and
    // the signal instead of polling `selectionProperty("htmlText")`; in the
    // Html format a selection of an image alone counts as none here.
    bool hasSelection() const;

    // --- Waiting, diagnostics --------------------------------------------
    bool isWaiting() const { return waitDepth_ > 0; }
    // Time-outs of one script answer and of a document load, in ms.
    void setScriptTimeout(int milliseconds) { scriptTimeoutMs_ = milliseconds; }
    void setDocumentTimeout(int milliseconds) { documentTimeoutMs_ = milliseconds; }
    // How many navigations the page has refused (a drop, a reload, a link).
    int refusedNavigations() const;
    // Runs `script` in the editor's isolated script world, where the helper
    // object `window.__velmoraBody` is defined, and returns its value (an
    // invalid QVariant on time-out or without engine). For tests and tools.
    QVariant evaluateScript(const QString& script);
    QWebEngineView* webView() const { return view_; }
    QPlainTextEdit* textEditor() const { return text_; }

    // Full path of this editor's temporary document file; creates its folder
    // (0700) on first use. Empty in the PlainText format or when the folder
    // cannot be created.
    QString temporaryDocumentPath();

signals:
    // The selection changed (both formats).
    void selectionChanged();
    // The engine's page process ended; the routines return empty results
    // until the next `loadBodyDocument`.
    void engineFailed();
    // The load started by `loadBodyDocument` (or the blank start) ended.
    void loadEnded();

private:
    QVariant callHelper(const QString& call);
    // Runs `loop` (which the awaited answer quits) for at most `timeoutMs`,
    // holding back user input; false when this editor was deleted meanwhile.
    bool runNestedLoop(QEventLoop& loop, int timeoutMs);

    store::EditorFormat format_;
    QWebEngineView* view_ = nullptr;
    BodyPage* page_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    std::unique_ptr<QTemporaryDir> documentFolder_;
    bool loading_ = false;
    bool engineGone_ = false;
    int waitDepth_ = 0;
    int scriptTimeoutMs_ = 5000;
    int documentTimeoutMs_ = 10000;
    platform::QtClipboard desktopClipboard_;
    platform::Clipboard* clipboard_ = &desktopClipboard_;
};

} // namespace velmora::compose
