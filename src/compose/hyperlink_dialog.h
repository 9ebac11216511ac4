#pragma once

#include "compose/editing_commands.h"

#include <QPointer>
#include <QWidget>

class QLineEdit;
class QPushButton;

namespace velmora::compose {

class BodyEditor;

// "Insert Hyperlink": a separate window with the link text and location.
// It only reads its fields; "Insert >>" closes it and emits
// `insertRequested` with the fields as typed (the command trims them).
class HyperlinkDialog final : public QWidget {
    Q_OBJECT

public:
    explicit HyperlinkDialog(QWidget* parent = nullptr);

    void setFields(const HyperlinkFields& fields);
    QString linkText() const;
    QString linkLocation() const;

    QLineEdit* linkTextField() const { return linkText_; }
    QLineEdit* linkLocationField() const { return linkLocation_; }
    QPushButton* insertButton() const { return insert_; }
    QPushButton* cancelButton() const { return cancel_; }

signals:
    void insertRequested(const QString& linkText, const QString& linkLocation);

private:
    QLineEdit* linkText_;
    QLineEdit* linkLocation_;
    QPushButton* insert_;
    QPushButton* cancel_;
};

// The "Insert hyperlink" command: closes the dialog held in `current` (at
// most one exists), opens a new one filled from the selected text of
// `editor` and keeps it in `current`. Its "Insert >>" puts the link in place
// of the editor's selection and focuses the body; when the editor is gone by
// then, the button only closes the dialog.
HyperlinkDialog* openHyperlinkDialog(BodyEditor& editor, QPointer<HyperlinkDialog>& current);

// Puts a top-level window of a fixed inner size in the middle of the screen.
void centreOnScreen(QWidget& window);

} // namespace velmora::compose
