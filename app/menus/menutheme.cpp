#include "menus/menutheme.h"

#include "menus/newmenu.h"

#include <QMenu>
#include <QPainter>

void KV_FillRect(QPainter* p, const KV_Rect& r, KV_COLORREF c)
{
    if (!r.IsEmpty()) {
        p->fillRect(r.ToQRect(), KV_FromColorRef(c));
    }
}

void KV_Draw3dRect(QPainter* p, const KV_Rect& r, KV_COLORREF topLeft, KV_COLORREF bottomRight)
{
    const int w = r.Width();
    const int h = r.Height();
    KV_FillRect(p, {r.left, r.top, r.left + w - 1, r.top + 1}, topLeft);
    KV_FillRect(p, {r.left, r.top, r.left + 1, r.top + h - 1}, topLeft);
    KV_FillRect(p, {r.right - 1, r.top, r.right, r.bottom}, bottomRight);
    KV_FillRect(p, {r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
}

void KV_SetPixel(QPainter* p, int x, int y, KV_COLORREF c)
{
    p->fillRect(QRect(x, y, 1, 1), KV_FromColorRef(c));
}

bool IsDropShadowEnabled()
{
    return true;
}

CMenuTheme::CMenuTheme(int id, MeasureFn measure, DrawFn draw, uint32_t flags, bool systemShadows)
    : id_(id), flags_(flags), measure_(measure), draw_(draw), right_(systemShadows ? 2 : 5),
      bottom_(systemShadows ? 2 : 6)
{
}

KV_Rect CMenuTheme::CalcClientRect(const KV_Rect& window) const
{
    if (!IsFlatBorder()) {
        return window;
    }
    return {window.left + left_, window.top + top_, window.right - right_, window.bottom - bottom_};
}

KV_Rect CMenuTheme::AdjustWindowPos(const KV_Rect& window) const
{
    if (!IsFlatBorder()) {
        return window;
    }
    const int grow = SystemShadows() ? -2 : 2;
    return {window.left, window.top - 1, window.right + grow, window.bottom - 1 + grow};
}

KV_Rect CMenuTheme::GetContentRect(const KV_Rect& window) const
{
    if (!IsFlatBorder()) {
        return window;
    }
    const int far = SystemShadows() ? 3 : 7;
    return {window.left + 2, window.top + 2, window.right - far, window.bottom - far};
}

void CMenuTheme::EraseBackground(QPainter* p, const QRect& rect) const
{
    p->fillRect(rect, KV_FromColorRef(KV_GetSysColor(KV_COLOR_MENU)));
}

void CMenuTheme::FillBorderBands(QPainter* p, const KV_Rect& outer, const KV_Rect& q,
                                 KV_COLORREF c) const
{
    KV_FillRect(p, {outer.left, outer.top, outer.right, q.top}, c);
    KV_FillRect(p, {outer.left, q.bottom, outer.right, outer.bottom}, c);
    KV_FillRect(p, {outer.left, outer.top, q.left, outer.bottom}, c);
    KV_FillRect(p, {q.right - 1, outer.top, outer.right, outer.bottom}, c);
}

void CMenuTheme::DrawShadow(QPainter* p, const QSize& size, KV_COLORREF under) const
{
    if (SystemShadows()) {
        return;
    }
    const int w = size.width();
    const int h = size.height();
    if (GetNumColors() > 256) {
        for (int i = 1; i <= 4; ++i) {
            const int x = w - i;
            for (int row = 0; row < h; ++row) {
                int amount = 0;
                if (row >= 4 && row <= 7) {
                    amount = 6 * i * (row - 3);
                } else if (row >= 8 && row <= h - 5) {
                    amount = 30 * i;
                } else if (row >= h - 4) {
                    amount = 6 * i * (h - row);
                }
                KV_SetPixel(p, x, row, DarkenColor(amount, under));
            }
        }
        for (int j = 1; j <= 4; ++j) {
            const int y = h - j;
            for (int col = 0; col <= w - 5; ++col) {
                int amount = 0;
                if (col >= 4 && col <= 7) {
                    amount = 6 * j * (col - 3);
                } else if (col >= 8) {
                    amount = 30 * j;
                }
                KV_SetPixel(p, col, y, DarkenColor(amount, under));
            }
        }
        return;
    }
    const KV_COLORREF shadow = KV_GetSysColor(KV_COLOR_BTNSHADOW);
    KV_FillRect(p, {w - 2, 0, w, h}, under);
    KV_FillRect(p, {0, h - 2, w, h}, under);
    KV_FillRect(p, {w - 4, 0, w - 2, 4}, under);
    KV_FillRect(p, {w - 4, 4, w - 2, h - 2}, shadow);
    KV_FillRect(p, {0, h - 4, 4, h - 2}, under);
    KV_FillRect(p, {4, h - 4, w - 4, h - 2}, shadow);
}

bool CMenuTheme::DrawBorder(QPainter* p, const QWidget*, const QSize& size, bool afterDefault) const
{
    if (!IsFlatBorder()) {
        return false;
    }
    const int w = size.width();
    const int h = size.height();
    const KV_Rect client = CalcClientRect({0, 0, w, h});
    const KV_COLORREF m = PopupMenuColor();
    const KV_COLORREF line =
        KV_GetSysColor(IsHighContrast() ? KV_COLOR_BTNTEXT : KV_COLOR_HIGHLIGHT);
    if (!SystemShadows()) {
        if (!afterDefault) {
            FillBorderBands(p, {1, 1, w - 5, h - 5}, client, m);
        }
        KV_Draw3dRect(p, {0, 0, w - 4, h - 4}, line, line);
        if (!IsHighContrast()) {
            DrawShadow(p, size, m);
        }
    } else {
        FillBorderBands(p, {1, 1, w - 1, h - 1}, client, m);
        KV_Draw3dRect(p, {0, 0, w, h}, line, line);
    }
    return true;
}

void CMenuThemeXP::EraseBackground(QPainter* p, const QRect& rect) const
{
    p->fillRect(rect, KV_FromColorRef(PopupMenuColor()));
}

bool CMenuThemeXP::DrawBorder(QPainter* p, const QWidget* menu, const QSize& size,
                              bool afterDefault) const
{
    if (!IsFlatBorder()) {
        return false;
    }
    const int w = size.width();
    const int h = size.height();
    const KV_Rect client = CalcClientRect({0, 0, w, h});
    const KV_COLORREF bar = MenuBarColor();
    const KV_COLORREF window = KV_GetSysColor(KV_COLOR_WINDOW);
    KV_COLORREF inner = MixColors86(window, bar);
    const KV_COLORREF frame = DarkenColor(128, bar);
    KV_COLORREF strip =
        GetNumColors() > 256 ? MixColors86(bar, window) : KV_GetSysColor(KV_COLOR_BTNFACE);
    if (inner == strip) {
        inner = window;
        strip = bar;
    }
    // With the system's shadow the border reaches the window's edges; an
    // own shadow takes the last 4 pixels at the right and bottom.
    const int far = SystemShadows() ? 0 : 4;
    const KV_Rect outer{1, 1, w - 1 - far, h - 1 - far};
    if (!afterDefault) {
        FillBorderBands(p, outer, client, inner);
    }
    if (IsHighContrast()) {
        const KV_COLORREF line = KV_GetSysColor(KV_COLOR_BTNTEXT);
        KV_Draw3dRect(p, {0, 0, w - far, h - far}, line, line);
    } else {
        KV_Draw3dRect(p, outer, inner, inner);
        KV_FillRect(p, {1, 2, 2, 2 + h - 4 - far}, strip);
        KV_Draw3dRect(p, {0, 0, w - far, h - far}, frame, frame);
        DrawShadow(p, size, PopupMenuColor());
    }
    if (menu != nullptr) {
        DrawMenuBarJoin(p, menu);
    }
    return true;
}

void CMenuThemeXP::DrawMenuBarJoin(QPainter* p, const QWidget* menu) const
{
    const CNewMenu* popup = CNewMenu::FromHandle(menu);
    const CNewMenu* parent =
        popup != nullptr ? CNewMenu::FromHandle(popup->GetParentMenu()) : nullptr;
    if (parent == nullptr || !parent->IsMenuBarObject()) {
        return;
    }
    const QPoint first = CNewMenuHook::FirstPosition(menu);
    const KV_Rect window{first.x(), first.y(), first.x() + menu->width(),
                         first.y() + menu->height()};
    const KV_Rect item = parent->GetMenuBarItemRect();
    KV_Rect cut{std::max(window.left, item.left), std::max(window.top, item.top),
                std::min(window.right, item.right), std::min(window.bottom, item.bottom)};
    if (cut.IsEmpty()) {
        return;
    }
    if (cut.Width() <= cut.Height()) {
        cut.top += 1;
        cut.bottom -= 1;
    } else {
        cut.left += 1;
        cut.right -= 1;
    }
    const KV_COLORREF fill = GetNumColors() > 256
                                 ? MixColors86(MenuBarColor(), KV_GetSysColor(KV_COLOR_WINDOW))
                                 : KV_GetSysColor(KV_COLOR_BTNFACE);
    KV_FillRect(p, cut.Offset(-first.x(), -first.y()), fill);
}
