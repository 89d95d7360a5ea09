#ifndef KIVREL_SHELL_WNDUTIL_H
#define KIVREL_SHELL_WNDUTIL_H

// Helpers that the windows and dialogs of the program share: a window's
// place on the screen kept in the settings, byte amounts and speeds as text,
// the height of wrapped text, and two focus tests for the edit commands.
// User-interface thread only (FormatByteAmount and LoadWndPos with an
// explicit screen size also elsewhere).

#include <QRect>
#include <QSize>
#include <QString>

class QFont;
class QSettings;
class QWidget;

// Writes the normal (not maximized, not minimized) geometry of the window
// `wnd` into the group `section` of `settings` as "ScreenX", "ScreenY",
// "ScreenCX" and "ScreenCY". False when `wnd` is null or no window, or the
// settings cannot be written.
bool SaveWndPlacement(QSettings& settings, const QString& section, const QWidget* wnd);

// Reads the placement of `section` into `rect` when all four values are
// there and none is negative, and returns whether they were. The top-left
// corner is moved so that at least 30 pixels of the window stay on a screen
// of size `screen`; a saved width or height below 30 pixels keeps the
// caller's value from `rect`. Without a saved placement `rect` is unchanged.
bool LoadWndPos(QSettings& settings, const QString& section, QRect& rect, const QSize& screen);
// The same on the primary screen.
bool LoadWndPos(QSettings& settings, const QString& section, QRect& rect);

// Gives the window `wnd` (not shown yet) its saved placement, as LoadWndPos
// on the primary screen with the window's geometry as the default. The
// window manager may refuse the position (Wayland always does).
bool LoadWndPlacement(QSettings& settings, const QString& section, QWidget* wnd);

// `amount` bytes (bytes per second when `speed`) with two decimals and the
// largest unit of 1024 steps in which it is still more than 1: "1.00 MB",
// "1024.00 byte(s)", "0.00 b/s". With `variable_decimals` a speed below 10
// has two decimals, below 100 one, else none.
QString FormatByteAmount(double amount, bool speed, bool variable_decimals);

// Height of `text` drawn in `width` pixels with `flags` (Qt::AlignmentFlag |
// Qt::TextFlag, such as Qt::TextWordWrap), in `font`, or when null in the
// font of `wnd`, or when that is null too in the application's font.
int CalcTextHeight(const QWidget* wnd, const QFont* font, const QString& text, int width,
                   int flags);

// Whether the keyboard focus is `wnd` or inside it.
bool IsFocusIn(const QWidget* wnd);
// Whether `wnd` is a text edit field (single or multi-line, also inside a
// spin box or an editable combo box). False for null.
bool IsEditControl(const QWidget* wnd);

// `text` with each line end ("\r\n", or a lone "\r") as one "\n". Qt
// widgets break a line at "\r" and again at "\n", so the line ends of the
// engine's and stored texts would show as an empty line each.
QString OneLineBreaks(const QString& text);

// `text` as a tooltip that shows it as it is: Qt takes a tooltip that looks
// like markup for rich text, so such a text comes back escaped in a block
// that keeps its line breaks; any other text comes back unchanged.
QString PlainToolTip(const QString& text);

#endif
