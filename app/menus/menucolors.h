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

#endif
