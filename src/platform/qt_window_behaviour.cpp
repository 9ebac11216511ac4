#include "platform/qt_window_behaviour.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace velmora::platform {

namespace {

class DialogKeys final : public QObject {
public:
    DialogKeys(QWidget& window, QAbstractButton* closeButton, QAbstractButton* mainButton)
        : QObject(&window), window_(&window), close_(closeButton), main_(mainButton) {}

protected:
    // Sees the keys the focused control left unhandled on their way up.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers =
            key->modifiers() & ~Qt::KeyboardModifiers(Qt::KeypadModifier);
        if (modifiers != Qt::NoModifier) {
            return false;
        }
        if (key->key() == Qt::Key_Escape) {
            if (close_ != nullptr) {
                close_->click();
            } else {
                window_->close();
            }
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            auto* focused = qobject_cast<QPushButton*>(window_->focusWidget());
            if (focused != nullptr && focused->isEnabled()) {
                focused->click();
                return true;
            }
            if (main_ != nullptr && main_->isEnabled() && main_->isVisible()) {
                main_->click();
                return true;
            }
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
    QPointer<QAbstractButton> close_;
    QPointer<QAbstractButton> main_;
};

} // namespace

void installDialogKeys(QWidget& window, QAbstractButton* closeButton, QAbstractButton* mainButton) {
    window.installEventFilter(new DialogKeys(window, closeButton, mainButton));
    if (auto* button = qobject_cast<QPushButton*>(mainButton)) {
        // Shows which button Return presses, as a dialog's default button does.
        button->setDefault(true);
    }
}

void bringToFront(QWidget& window) {
    if (window.isMinimized()) {
        window.showNormal();
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void placeOver(QWidget& window, QWidget* opener) {
    if (opener == nullptr) {
        return;
    }
    QWidget* owner = opener->window();
    if (!window.testAttribute(Qt::WA_Resized)) {
        window.adjustSize(); // the size it will show at, to centre it
    }
    window.move(owner->frameGeometry().center() - window.rect().center());
    // The native windows exist from here on; the tie is made once for good.
    window.winId();
    owner->winId();
    if (QWindow* handle = window.windowHandle()) {
        handle->setTransientParent(owner->windowHandle());
    }
}

int widthForCaption(const QAbstractButton& button, int minimum) {
    return std::max(minimum, button.sizeHint().width() + 8);
}

} // namespace velmora::platform
