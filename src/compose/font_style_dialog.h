#pragma once

#include "compose/editing_commands.h"

#include <QColor>
#include <QDialog>
#include <optional>

class QCheckBox;
class QFontComboBox;
class QPushButton;
class QSpinBox;

namespace velmora::compose {

class BodyEditor;

// The font chooser: family, size in points, bold, italic, and the effects
// colour, underline and strike-out. It opens with an empty family, size 12
// and black.
class FontStyleDialog final : public QDialog {
    Q_OBJECT

public:
    explicit FontStyleDialog(QWidget* parent = nullptr);

    // What the user chose, as the font-style command takes it.
    FontChoice choice() const;
    void setColour(const QColor& colour);
    QColor colour() const { return colour_; }

    QFontComboBox* familyField() const { return family_; }
    QSpinBox* sizeField() const { return size_; }
    QCheckBox* boldBox() const { return bold_; }
    QCheckBox* italicBox() const { return italic_; }
    QCheckBox* underlineBox() const { return underline_; }
    QCheckBox* strikeOutBox() const { return strikeOut_; }
    QPushButton* colourButton() const { return colourButton_; }

private:
    QFontComboBox* family_;
    QSpinBox* size_;
    QCheckBox* bold_;
    QCheckBox* italic_;
    QCheckBox* underline_;
    QCheckBox* strikeOut_;
    QPushButton* colourButton_;
    QColor colour_;
};

// Shows the chooser modally; nothing when the user cancels.
std::optional<FontChoice> chooseFont(QWidget* parent);

// The "Font-style" command: the chooser, then the font style on the
// editor's selection; cancelling leaves the body unchanged.
void chooseFontStyle(BodyEditor& editor, QWidget* parent);

} // namespace velmora::compose
