#pragma once

#include <QPointer>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace velmora::compose {

class BodyEditor;

// "Edit HTML": a separate window with the document source in a text editor.
// "Apply Changes" closes it and emits `applyRequested` with the edited text.
class EditHtmlDialog final : public QWidget {
    Q_OBJECT

public:
    explicit EditHtmlDialog(QWidget* parent = nullptr);

    void setSource(const QString& source);
    QString source() const;

    QPlainTextEdit* sourceEditor() const { return editor_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    void applyRequested(const QString& source);

private:
    QPlainTextEdit* editor_;
    QPushButton* apply_;
    QPushButton* cancel_;
};

// The "Edit HTML" command: replaces the dialog held in `current` (at most one
// exists) by a new one showing `editor`'s document source. "Apply Changes"
// replaces the document with the edited text and focuses the body; when the
// editor is gone by then, the button only closes the dialog.
EditHtmlDialog* openEditHtmlDialog(BodyEditor& editor, QPointer<EditHtmlDialog>& current);

} // namespace velmora::compose
