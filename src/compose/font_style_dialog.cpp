#include "compose/font_style_dialog.h"

#include "compose/surface/body_editor.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace velmora::compose {

FontStyleDialog::FontStyleDialog(QWidget* parent) : QDialog(parent), colour_(Qt::black) {
    setWindowTitle(QStringLiteral("Font"));

    family_ = new QFontComboBox(this);
    family_->setCurrentIndex(-1);
    family_->setEditText(QString());
    size_ = new QSpinBox(this);
    size_->setRange(1, 999);
    size_->setValue(12);
    size_->setSuffix(QStringLiteral(" pt"));
    bold_ = new QCheckBox(QStringLiteral("Bold"), this);
    italic_ = new QCheckBox(QStringLiteral("Italic"), this);
    underline_ = new QCheckBox(QStringLiteral("Underline"), this);
    strikeOut_ = new QCheckBox(QStringLiteral("Strike-out"), this);
    colourButton_ = new QPushButton(this);
    setColour(colour_);
    connect(colourButton_, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(colour_, this, QStringLiteral("Colour"));
        if (chosen.isValid()) {
            setColour(chosen);
        }
    });

    auto* style = new QHBoxLayout;
    style->addWidget(bold_);
    style->addWidget(italic_);
    auto* effects = new QHBoxLayout;
    effects->addWidget(underline_);
    effects->addWidget(strikeOut_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Font"), family_);
    form->addRow(QStringLiteral("Size"), size_);
    form->addRow(QStringLiteral("Style"), style);
    form->addRow(QStringLiteral("Effects"), effects);
    form->addRow(QStringLiteral("Colour"), colourButton_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void FontStyleDialog::setColour(const QColor& colour) {
    colour_ = colour;
    colourButton_->setText(colour.name());
    QPixmap swatch(16, 16);
    swatch.fill(colour);
    colourButton_->setIcon(QIcon(swatch));
}

FontChoice FontStyleDialog::choice() const {
    FontChoice choice;
    choice.colour = RgbColour{colour_.red(), colour_.green(), colour_.blue()};
    choice.fontName = family_->currentText().toStdString();
    choice.size = size_->value();
    choice.style = (bold_->isChecked() ? kFontStyleBold : 0) |
                   (italic_->isChecked() ? kFontStyleItalic : 0) |
                   (underline_->isChecked() ? kFontStyleUnderline : 0) |
                   (strikeOut_->isChecked() ? kFontStyleStrikeOut : 0);
    return choice;
}

std::optional<FontChoice> chooseFont(QWidget* parent) {
    FontStyleDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.choice();
}

void chooseFontStyle(BodyEditor& editor, QWidget* parent) {
    QPointer<BodyEditor> target(&editor);
    const std::optional<FontChoice> choice = chooseFont(parent);
    if (choice && target) {
        applyFontStyle(*target, *choice);
    }
}

} // namespace velmora::compose
