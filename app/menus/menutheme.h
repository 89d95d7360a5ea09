#ifndef KIVREL_MENUS_MENUTHEME_H
#define KIVREL_MENUS_MENUTHEME_H

// The drawing styles of the menu library. A theme names the functions of
// CNewMenu that measure and draw items, and paints the popup windows
// themselves: their background, and for the flat-bordered themes (even ids)
// their border, their own shadow where the system draws none, and the join
// with the open menu-bar item. Rectangles in the Windows manner (KV_Rect:
// right and bottom exclusive) keep the pixel arithmetic of the looks exact.
// User-interface thread only.

#include "menus/menucolors.h"

#include <QMargins>
#include <QRect>
#include <QSize>
#include <cstdint>

class CNewMenu;
class QPainter;
class QWidget;
struct KV_MenuItemPaint;

struct KV_Rect
{
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static KV_Rect From(const QRect& r)
    {
        return {r.left(), r.top(), r.right() + 1, r.bottom() + 1};
    }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    KV_Rect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
    KV_Rect Inflate(int dx, int dy) const { return {left - dx, top - dy, right + dx, bottom + dy}; }
};

// Fills r with c (nothing for an empty rectangle).
void KV_FillRect(QPainter* p, const KV_Rect& r, KV_COLORREF c);
// A 3D rectangle: top and left edges in topLeft, bottom and right in
// bottomRight, one pixel wide.
void KV_Draw3dRect(QPainter* p, const KV_Rect& r, KV_COLORREF topLeft, KV_COLORREF bottomRight);
void KV_SetPixel(QPainter* p, int x, int y, KV_COLORREF c);

// Whether the system draws drop shadows under popups; on for this program,
// so the flat-bordered themes draw no shadow of their own.
bool IsDropShadowEnabled();

class CMenuTheme
{
public:
    using MeasureFn = QSize (CNewMenu::*)(const KV_MenuItemPaint&, bool menuBar);
    using DrawFn = void (CNewMenu::*)(const KV_MenuItemPaint&, bool menuBar);

    // flags bit 0: the theme paints its own flat border. systemShadows fixes
    // the right and bottom borders: 2 with the system's shadows, 5 and 6
    // (room for an own shadow) without.
    CMenuTheme(int id, MeasureFn measure, DrawFn draw, uint32_t flags, bool systemShadows);
    virtual ~CMenuTheme() = default;
    CMenuTheme(const CMenuTheme&) = delete;
    CMenuTheme& operator=(const CMenuTheme&) = delete;

    int Id() const { return id_; }
    bool IsFlatBorder() const { return (flags_ & 1) != 0; }
    MeasureFn Measure() const { return measure_; }
    DrawFn Draw() const { return draw_; }
    QMargins Borders() const { return {left_, top_, right_, bottom_}; }

    // The client area of a popup window: less the borders for a flat
    // theme, the whole window for the others.
    KV_Rect CalcClientRect(const KV_Rect& window) const;
    // Where a flat theme puts a popup window: 1 pixel up, and 2 pixels
    // larger each way (own shadow) or smaller (system shadow). The others
    // leave it.
    KV_Rect AdjustWindowPos(const KV_Rect& window) const;
    // The part of the window the system paints: less 2 at the left and top
    // and 3 (system shadow) or 7 (own shadow) at the right and bottom for a
    // flat theme; the whole window for the others.
    KV_Rect GetContentRect(const KV_Rect& window) const;

    // Fills the background of a popup window (rect: the window).
    virtual void EraseBackground(QPainter* p, const QRect& rect) const;
    // Paints the flat border of a popup window of that size (window
    // coordinates), its own shadow over the menu colour where the system
    // draws none, and, for a popup of the menu bar, the join with its open
    // item (menu: the popup, may be null). False, with nothing painted, for
    // a theme without a flat border.
    virtual bool DrawBorder(QPainter* p, const QWidget* menu, const QSize& size,
                            bool afterDefault) const;

protected:
    // The strips between outer and the client area, in one colour.
    void FillBorderBands(QPainter* p, const KV_Rect& outer, const KV_Rect& client,
                         KV_COLORREF c) const;
    // The 4-pixel shadow at the right and bottom of the window, darkening
    // the colour under it.
    void DrawShadow(QPainter* p, const QSize& size, KV_COLORREF under) const;
    bool SystemShadows() const { return right_ == 2; }

private:
    int id_;
    uint32_t flags_;
    MeasureFn measure_;
    DrawFn draw_;
    int left_ = 2;
    int top_ = 2;
    int right_;
    int bottom_;
};

class CMenuThemeXP : public CMenuTheme
{
public:
    using CMenuTheme::CMenuTheme;

    void EraseBackground(QPainter* p, const QRect& rect) const override;
    bool DrawBorder(QPainter* p, const QWidget* menu, const QSize& size,
                    bool afterDefault) const override;

    // The popup of an open menu-bar item shows no border where it touches
    // the item: that part, less one pixel at each end, in the bar's colour.
    void DrawMenuBarJoin(QPainter* p, const QWidget* menu) const;
};

#endif
