#ifndef KIVREL_MENUS_MENUCOLORS_H
#define KIVREL_MENUS_MENUCOLORS_H

// Colour arithmetic of the menu library. Colours are 0x00BBGGRR words (red in
// the low byte) as the looks and the stored mask colours use them; every
// channel is worked out by itself and cut to 8 bits.

#include <QColor>
#include <cstdint>

using KV_COLORREF = uint32_t;

constexpr KV_COLORREF KV_RGB(int r, int g, int b)
{
    return static_cast<KV_COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int KV_GetR(KV_COLORREF c)
{
    return static_cast<int>(c & 0xFF);
}
constexpr int KV_GetG(KV_COLORREF c)
{
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int KV_GetB(KV_COLORREF c)
{
    return static_cast<int>((c >> 16) & 0xFF);
}

// "No colour given": the menu takes the mask colour of its icons from the
// top-left pixel of the strip.
constexpr KV_COLORREF KV_CLR_DEFAULT = 0xFF000000u;
// "No mask": every pixel of the strip is opaque.
constexpr KV_COLORREF KV_CLR_NONE = 0xFFFFFFFFu;

// number * numerator / denominator rounded to the nearest integer, halves
// away from zero; -1 for a zero denominator.
int KV_MulDiv(int number, int numerator, int denominator);

KV_COLORREF KV_ToColorRef(const QColor& c);
QColor KV_FromColorRef(KV_COLORREF c);

// red c*7/10, green c*7/10, blue (c+55)*7/10: the shadow under a raised icon.
KV_COLORREF ShadowColor(KV_COLORREF c);
// c * (255 - amount) / 255
KV_COLORREF DarkenColor(int amount, KV_COLORREF c);
// c + (255 - c) * amount / 255
KV_COLORREF LightenColor(int amount, KV_COLORREF c);
// a*86/100 + b*14/100, each product rounded by itself
KV_COLORREF MixColors86(KV_COLORREF a, KV_COLORREF b);
// a*7/10 + b*3/10, each product rounded by itself
KV_COLORREF MixColors70(KV_COLORREF a, KV_COLORREF b);
// (r + g + b) / 3 in all three channels
KV_COLORREF GrayColor(KV_COLORREF c);

// The colour under the menu bar and the colour of a popup's background, from
// the application's palette (the window colour when no application exists).
KV_COLORREF MenuBarColor();
KV_COLORREF PopupMenuColor();

// The system colours the looks name, by their Windows index. Each comes from
// one fixed role of the application's palette (KV_GetSysColor).
enum KV_SysColor : int {
    KV_COLOR_MENU = 4,
    KV_COLOR_WINDOW = 5,
    KV_COLOR_MENUTEXT = 7,
    KV_COLOR_WINDOWTEXT = 8,
    KV_COLOR_HIGHLIGHT = 13,
    KV_COLOR_HIGHLIGHTTEXT = 14,
    KV_COLOR_BTNFACE = 15,
    KV_COLOR_BTNSHADOW = 16,
    KV_COLOR_GRAYTEXT = 17,
    KV_COLOR_BTNTEXT = 18,
    KV_COLOR_BTNHIGHLIGHT = 20,
    KV_COLOR_MENUBAR = 30,
};
// The colour of a system colour index; black for an index the table lacks.
KV_COLORREF KV_GetSysColor(int index);

// The system sizes the looks measure with: the height of a menu bar and the
// width of a check mark, as on the system the menus were drawn for.
constexpr int KV_SM_CYMENU = 19;
constexpr int KV_SM_CXMENUCHECK = 13;

// The number of colours the looks assume the screen shows: 64000 (true
// colour) unless SetNumColors chose another. A count of 256 or less selects
// the looks' few-colour pictures.
int GetNumColors();
// Returns the previous count.
int SetNumColors(int count);
// The system's high-contrast setting. Not read from the desktop yet: always
// off.
bool IsHighContrast();

// The XP look's selection colour: the highlight in high contrast; with more
// than 256 colours darken(30, 70 % window + 30 % highlight); else the window.
KV_COLORREF XPSelectionColor(bool highContrast, int numColors, KV_COLORREF window,
                             KV_COLORREF highlight);
// The same for the current colours and settings.
KV_COLORREF GetXPSelectionColor();

#endif
