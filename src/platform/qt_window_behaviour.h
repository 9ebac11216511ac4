#pragma once

class QAbstractButton;
class QWidget;

namespace velmora::platform {

// The keys every dialog answers to, for windows that are plain widgets:
// Escape clicks `closeButton` (Cancel or Close; closes the window when
// null), Return and Enter click the focused push button, else
// `mainButton` (Add, Apply, OK, Insert) when there is one and it is
// enabled. Keys a control uses itself (Return in a text area, Escape in an
// open drop-down) stay with the control.
void installDialogKeys(QWidget& window, QAbstractButton* closeButton,
                       QAbstractButton* mainButton = nullptr);

// Raises and focuses an open window, restoring it when minimised: what a
// command does when its window is open already.
void bringToFront(QWidget& window);

// Puts `window` (a top-level window not shown yet) over the window of
// `opener`, centred on it, and makes that window its transient parent, so
// that the window manager keeps it in front of it as its dialog rather than
// as a window of another program. Nothing happens without an opener.
void placeOver(QWidget& window, QWidget* opener);

// A button width of at least `minimum` that leaves its caption room to
// breathe in this style and font.
int widthForCaption(const QAbstractButton& button, int minimum);

} // namespace velmora::platform
