#include "menus/menucolors.h"

#include <QGuiApplication>
#include <QPalette>
#include <cstdlib>
#include <utility>

int KV_MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0) {
        return -1;
    }
    const long long p = static_cast<long long>(number) * numerator;
    const bool negative = (p < 0) != (denominator < 0);
    const long long ap = std::llabs(p);
    const long long ad = std::llabs(static_cast<long long>(denominator));
    const long long q = (ap + ad / 2) / ad;
    return static_cast<int>(negative ? -q : q);
}

KV_COLORREF KV_ToColorRef(const QColor& c)
{
    return KV_RGB(c.red(), c.green(), c.blue());
}

QColor KV_FromColorRef(KV_COLORREF c)
{
    return QColor(KV_GetR(c), KV_GetG(c), KV_GetB(c));
}

KV_COLORREF ShadowColor(KV_COLORREF c)
{
    return KV_RGB(KV_MulDiv(KV_GetR(c), 7, 10), KV_MulDiv(KV_GetG(c), 7, 10),
                  KV_MulDiv(KV_GetB(c) + 55, 7, 10));
}

KV_COLORREF DarkenColor(int amount, KV_COLORREF c)
{
    const int keep = 255 - amount;
    return KV_RGB(KV_MulDiv(KV_GetR(c), keep, 255), KV_MulDiv(KV_GetG(c), keep, 255),
                  KV_MulDiv(KV_GetB(c), keep, 255));
}

KV_COLORREF LightenColor(int amount, KV_COLORREF c)
{
    auto up = [amount](int v) { return v + KV_MulDiv(255 - v, amount, 255); };
    return KV_RGB(up(KV_GetR(c)), up(KV_GetG(c)), up(KV_GetB(c)));
}

static KV_COLORREF Mix(KV_COLORREF a, KV_COLORREF b, int wa, int wb, int total)
{
    auto ch = [=](int x, int y) { return KV_MulDiv(x, wa, total) + KV_MulDiv(y, wb, total); };
    return KV_RGB(ch(KV_GetR(a), KV_GetR(b)), ch(KV_GetG(a), KV_GetG(b)),
                  ch(KV_GetB(a), KV_GetB(b)));
}

KV_COLORREF MixColors86(KV_COLORREF a, KV_COLORREF b)
{
    return Mix(a, b, 86, 14, 100);
}

KV_COLORREF MixColors70(KV_COLORREF a, KV_COLORREF b)
{
    return Mix(a, b, 7, 3, 10);
}

KV_COLORREF GrayColor(KV_COLORREF c)
{
    const int g = (KV_GetR(c) + KV_GetG(c) + KV_GetB(c)) / 3;
    return KV_RGB(g, g, g);
}

KV_COLORREF MenuBarColor()
{
    const QPalette pal = qGuiApp ? QGuiApplication::palette() : QPalette();
    return KV_ToColorRef(pal.color(QPalette::Window));
}

KV_COLORREF PopupMenuColor()
{
    const QPalette pal = qGuiApp ? QGuiApplication::palette() : QPalette();
    return KV_ToColorRef(pal.color(QPalette::Window));
}

namespace {

int g_num_colors = 64000;

struct SysColorRole
{
    int index;
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The fixed stand-ins for the system colours.
constexpr SysColorRole kSysColors[] = {
    {KV_COLOR_MENU, QPalette::Active, QPalette::Window},
    {KV_COLOR_WINDOW, QPalette::Active, QPalette::Base},
    {KV_COLOR_MENUTEXT, QPalette::Active, QPalette::WindowText},
    {KV_COLOR_WINDOWTEXT, QPalette::Active, QPalette::WindowText},
    {KV_COLOR_HIGHLIGHT, QPalette::Active, QPalette::Highlight},
    {KV_COLOR_HIGHLIGHTTEXT, QPalette::Active, QPalette::HighlightedText},
    {KV_COLOR_BTNFACE, QPalette::Active, QPalette::Button},
    {KV_COLOR_BTNSHADOW, QPalette::Active, QPalette::Dark},
    {KV_COLOR_GRAYTEXT, QPalette::Disabled, QPalette::WindowText},
    {KV_COLOR_BTNTEXT, QPalette::Active, QPalette::ButtonText},
    {KV_COLOR_BTNHIGHLIGHT, QPalette::Active, QPalette::Light},
    {KV_COLOR_MENUBAR, QPalette::Active, QPalette::Window},
};

} // namespace

KV_COLORREF KV_GetSysColor(int index)
{
    for (const SysColorRole& entry : kSysColors) {
        if (entry.index == index) {
            const QPalette pal = qGuiApp ? QGuiApplication::palette() : QPalette();
            return KV_ToColorRef(pal.color(entry.group, entry.role));
        }
    }
    return 0;
}

int GetNumColors()
{
    return g_num_colors;
}

int SetNumColors(int count)
{
    return std::exchange(g_num_colors, count);
}

bool IsHighContrast()
{
    return false;
}

KV_COLORREF XPSelectionColor(bool highContrast, int numColors, KV_COLORREF window,
                             KV_COLORREF highlight)
{
    if (highContrast) {
        return highlight;
    }
    if (numColors > 256) {
        return DarkenColor(30, MixColors70(window, highlight));
    }
    return window;
}

KV_COLORREF GetXPSelectionColor()
{
    return XPSelectionColor(IsHighContrast(), GetNumColors(), KV_GetSysColor(KV_COLOR_WINDOW),
                            KV_GetSysColor(KV_COLOR_HIGHLIGHT));
}
