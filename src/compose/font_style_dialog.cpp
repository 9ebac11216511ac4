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

using namespace Qt::StringLiterals;

namespace velmora::compose {

FontStyleDialog::FontStyleDialog(QWidget* parent) : QDialog(parent), colour_(Qt::black) {
    setWindowTitle(u"Font"_s);

    family_ = new QFontComboBox(this);
    family_->setCurrentIndex(-1);
    family_->setEditText(QString());
    size_ = new QSpinBox(this);
    size_->setRange(1, 999);
    size_->setValue(12);
    size_->setSuffix(u" pt"_s);
    bold_ = new QCheckBox(u"Bold"_s, this);
    italic_ = new QCheckBox(u"Italic"_s, this);
    underline_ = new QCheckBox(u"Underline"_s, this);
    strikeOut_ = new QCheckBox(u"Strike-out"_s, this);
    colourButton_ = new QPushButton(this);
    setColour(colour_);
    connect(colourButton_, &QPushButton::clicked, this, [this] {
        const QColor chosen = QColorDialog::getColor(colour_, this, u"Colour"_s);
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
    form->addRow(u"Font"_s, family_);
    form->addRow(u"Size"_s, size_);
    form->addRow(u"Style"_s, style);
    form->addRow(u"Effects"_s, effects);
    form->addRow(u"Colour"_s, colourButton_);
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
