// The looks of the menu library: measuring items and drawing them in the
// classic, flat-bar, gradient and XP manners, and the glyphs they share.
#include "menus/menutheme.h"
#include "menus/newmenu.h"
#include "menus/newmenuicons.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionMenuItem>

namespace {

const char* const kItemProperty = "kv_item_data";

KV_COLORREF Sys(int index)
{
    return KV_GetSysColor(index);
}

bool IsSystemCommand(quintptr id)
{
    const auto low = static_cast<uint32_t>(id & 0xFFFFu);
    return low >= 0xF000 && low <= 0xF150;
}

// What one drawing call is about.
struct ItemContext
{
    QPainter* p = nullptr;
    KV_Rect rc;
    uint32_t state = 0;
    QString caption;
    QString accel;
    bool hasAccel = false;
    bool separator = false;
    bool submenu = false;
    bool radio = false;
    QFont font;
    int textFlags = Qt::TextShowMnemonic;
    const CNewMenuItemData* data = nullptr;
    quintptr id = 0;
    const QWidget* widget = nullptr;

    bool HasIcon() const
    {
        return data != nullptr && data->icons != nullptr && data->icon_index >= 0;
    }
};

// The action an item call is about: by the item's place when drawing, by
// its text when measuring (Qt gives no place then).
const QAction* ActionOf(const QWidget* widget, const QStyleOptionMenuItem* opt, bool drawing)
{
    if (widget == nullptr) {
        return nullptr;
    }
    if (drawing) {
        if (const auto* menu = qobject_cast<const QMenu*>(widget)) {
            return menu->actionAt(opt->rect.center());
        }
        if (const auto* bar = qobject_cast<const QMenuBar*>(widget)) {
            return bar->actionAt(opt->rect.center());
        }
        return nullptr;
    }
    const bool separator = opt->menuItemType == QStyleOptionMenuItem::Separator;
    for (const QAction* action : widget->actions()) {
        if (separator) {
            if (action->isSeparator()) {
                return action;
            }
            continue;
        }
        if (action->isSeparator()) {
            continue;
        }
        const QString text = action->text();
        if (text == opt->text || opt->text.startsWith(text + QLatin1Char('\t'))) {
            return action;
        }
    }
    return nullptr;
}

const CNewMenuItemData* DataOf(const QAction* action, const QList<CNewMenuItemData*>& items)
{
    if (action == nullptr) {
        return nullptr;
    }
    auto* data =
        reinterpret_cast<CNewMenuItemData*>(action->property(kItemProperty).value<quintptr>());
    return items.contains(data) ? data : nullptr;
}

void SplitText(const QString& text, QString& caption, QString& accel, bool& hasAccel)
{
    const qsizetype first = text.indexOf(QLatin1Char('\t'));
    hasAccel = first >= 0;
    caption = hasAccel ? text.left(first) : text;
    accel = hasAccel ? text.mid(text.lastIndexOf(QLatin1Char('\t')) + 1) : QString();
}

ItemContext MakeContext(const KV_MenuItemPaint& paint, bool menuBar,
                        const QList<CNewMenuItemData*>& items)
{
    ItemContext c;
    const auto* opt = qstyleoption_cast<const QStyleOptionMenuItem*>(paint.option);
    c.p = paint.painter;
    c.widget = paint.widget;
    if (opt == nullptr) {
        return c;
    }
    c.rc = KV_Rect::From(opt->rect);
    const QAction* action = ActionOf(paint.widget, opt, true);
    c.data = DataOf(action, items);
    c.id = c.data != nullptr ? c.data->id : 0;
    c.separator = opt->menuItemType == QStyleOptionMenuItem::Separator;
    c.submenu = opt->menuItemType == QStyleOptionMenuItem::SubMenu;
    c.radio = opt->checkType == QStyleOptionMenuItem::Exclusive;
    SplitText(opt->text, c.caption, c.accel, c.hasAccel);
    c.font = menuBar && paint.widget != nullptr ? paint.widget->font() : opt->font;
    if ((opt->state & QStyle::State_Selected) != 0) {
        c.state |= KV_ODS_SELECTED;
    }
    if ((opt->state & QStyle::State_Enabled) == 0) {
        c.state |= KV_ODS_GRAYED | KV_ODS_DISABLED;
    }
    if (opt->checkType != QStyleOptionMenuItem::NotCheckable && opt->checked) {
        c.state |= KV_ODS_CHECKED;
    }
    if (opt->menuItemType == QStyleOptionMenuItem::DefaultItem) {
        c.state |= KV_ODS_DEFAULT;
    }
    if (menuBar && paint.widget != nullptr && !paint.widget->isActiveWindow()) {
        c.state |= KV_ODS_INACTIVE;
    }
    if (paint.base != nullptr &&
        paint.base->styleHint(QStyle::SH_UnderlineShortcut, opt, paint.widget) == 0) {
        c.textFlags = Qt::TextHideMnemonic;
    }
    return c;
}

void DrawText(const ItemContext& c, const KV_Rect& r, const QString& text, int align,
              KV_COLORREF colour, bool bold)
{
    QFont font = c.font;
    font.setBold(bold);
    c.p->setFont(font);
    c.p->setPen(KV_FromColorRef(colour));
    c.p->drawText(r.ToQRect(), align | Qt::TextSingleLine | c.textFlags, text);
}

// The caption at the left and the accelerator at the right of r.
void DrawCaptionAndAccel(const ItemContext& c, const KV_Rect& r, KV_COLORREF colour)
{
    const bool bold = (c.state & KV_ODS_DEFAULT) != 0;
    DrawText(c, r, c.caption, Qt::AlignLeft | Qt::AlignVCenter, colour, bold);
    if (c.hasAccel) {
        DrawText(c, r, c.accel, Qt::AlignRight | Qt::AlignVCenter, colour, bold);
    }
}

QImage Silhouette(const QImage& icon, KV_COLORREF colour)
{
    QImage img = icon.convertToFormat(QImage::Format_ARGB32);
    const QRgb rgb = qRgb(KV_GetR(colour), KV_GetG(colour), KV_GetB(colour));
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (qAlpha(line[x]) != 0) {
                line[x] = (rgb & 0x00FFFFFFu) | (static_cast<QRgb>(qAlpha(line[x])) << 24);
            }
        }
    }
    return img;
}

// The system's picture of a disabled icon: embossed, its shape in the
// highlight colour one pixel down and right, then in the shadow colour.
void DrawEmbossed(QPainter* p, int x, int y, const QImage& icon)
{
    p->drawImage(x + 1, y + 1, Silhouette(icon, Sys(KV_COLOR_BTNHIGHLIGHT)));
    p->drawImage(x, y, Silhouette(icon, Sys(KV_COLOR_BTNSHADOW)));
}

// The submenu arrow, which the system drew beside an owner-drawn item.
void DrawSubmenuArrow(const ItemContext& c, KV_COLORREF colour)
{
    const int mid = (c.rc.top + c.rc.bottom) / 2;
    CNewMenu::DrawSymbol(c.p, {c.rc.right - 15, mid - 7, c.rc.right, mid + 8}, '8', false, colour);
}

// A vertical (or horizontal) gradient in bands 2 pixels wide.
void DrawGradient(QPainter* p, const KV_Rect& r, KV_COLORREF start, KV_COLORREF end,
                  bool horizontal)
{
    KV_FillRect(p, r, end);
    const int span = (horizontal ? r.Width() : r.Height()) - 2;
    if (span <= 0) {
        return;
    }
    for (int offset = 0; offset <= span; offset += 2) {
        auto ch = [&](int s, int e) { return (s + KV_MulDiv(e - s, offset, span)) & 0xFF; };
        const KV_COLORREF c =
            KV_RGB(ch(KV_GetR(start), KV_GetR(end)), ch(KV_GetG(start), KV_GetG(end)),
                   ch(KV_GetB(start), KV_GetB(end)));
        if (horizontal) {
            KV_FillRect(
                p, {r.left + offset, r.top, std::min(r.left + offset + 2, r.right), r.bottom}, c);
        } else {
            KV_FillRect(
                p, {r.left, r.top + offset, r.right, std::min(r.top + offset + 2, r.bottom)}, c);
        }
    }
}

// An etched line along the top of r.
void DrawEtchedTop(QPainter* p, const KV_Rect& r)
{
    KV_FillRect(p, {r.left, r.top, r.right, r.top + 1}, Sys(KV_COLOR_BTNSHADOW));
    KV_FillRect(p, {r.left, r.top + 1, r.right, r.top + 2}, Sys(KV_COLOR_BTNHIGHLIGHT));
}

QPainterPath GlyphPath(char ch)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    switch (ch) {
    case 'b': // check
        path.addPolygon(QPolygonF(
            {{0.23, 0.42}, {0.40, 0.59}, {0.75, 0.24}, {0.75, 0.42}, {0.40, 0.77}, {0.23, 0.60}}));
        break;
    case 'i': // bullet
        path.addEllipse(QPointF(0.5, 0.5), 0.17, 0.17);
        break;
    case 'r': // close
        path.setFillRule(Qt::WindingFill);
        path.addPolygon(QPolygonF({{0.22, 0.30}, {0.30, 0.22}, {0.78, 0.70}, {0.70, 0.78}}));
        path.addPolygon(QPolygonF({{0.70, 0.22}, {0.78, 0.30}, {0.30, 0.78}, {0.22, 0.70}}));
        break;
    case '0': // minimise
        path.addRect(QRectF(0.22, 0.68, 0.46, 0.13));
        break;
    case '1': // maximise
        path.addRect(QRectF(0.18, 0.18, 0.64, 0.64));
        path.addRect(QRectF(0.25, 0.32, 0.50, 0.43));
        break;
    case '2': // restore
        path.setFillRule(Qt::WindingFill);
        {
            QPainterPath back;
            back.setFillRule(Qt::OddEvenFill);
            back.addRect(QRectF(0.36, 0.16, 0.46, 0.46));
            back.addRect(QRectF(0.43, 0.30, 0.32, 0.25));
            QPainterPath front;
            front.setFillRule(Qt::OddEvenFill);
            front.addRect(QRectF(0.18, 0.38, 0.46, 0.46));
            front.addRect(QRectF(0.25, 0.52, 0.32, 0.25));
            QPainterPath hole;
            hole.addRect(QRectF(0.18, 0.38, 0.46, 0.46));
            path = back.subtracted(hole).united(front);
        }
        break;
    case '8': // submenu arrow
        path.addPolygon(QPolygonF({{0.38, 0.24}, {0.64, 0.5}, {0.38, 0.76}}));
        break;
    default:
        break;
    }
    return path;
}

} // namespace

QSize KV_MeasureMenuItem(KV_MeasureLook look, const KV_ItemMeasure& item)
{
    if (item.separator) {
        return {0, 3};
    }
    int width = 0;
    if (item.menuBar) {
        width = item.text.width() - (look == KV_MeasureLook::XP ? 6 : KV_SM_CXMENUCHECK / 2);
    } else {
        width = item.text.width() + 2 * item.iconBox.width() + 2;
    }
    if (item.hasTab) {
        width += 15;
    }
    const int box = item.iconBox.height();
    int height = 0;
    switch (look) {
    case KV_MeasureLook::Classic:
        height = std::max(KV_SM_CYMENU, box + 4);
        break;
    case KV_MeasureLook::Gradient:
        height = std::max(KV_SM_CYMENU, box + 6);
        break;
    case KV_MeasureLook::XP:
        height = KV_SM_CYMENU > box + 8 ? KV_SM_CYMENU : box + 7;
        break;
    }
    return {width, std::max(height, item.text.height())};
}

namespace {

// The size of one item: the look's, plus what the system added to an
// owner-drawn item (two average characters across; a bar item as high as
// the menu bar).
QSize MeasureText(KV_MeasureLook look, const QString& text, const QFont& font, bool bold,
                  bool menuBar, QSize iconBox)
{
    QFont f = font;
    f.setBold(bold);
    const QFontMetrics fm(f);
    KV_ItemMeasure item;
    item.menuBar = menuBar;
    item.hasTab = text.contains(QLatin1Char('\t'));
    // Qt adds the widest accelerator to the popup's width itself.
    const QString caption = text.left(text.indexOf(QLatin1Char('\t')));
    item.text = QSize(fm.horizontalAdvance(item.hasTab ? caption : text), fm.height());
    item.iconBox = iconBox;
    QSize size = KV_MeasureMenuItem(look, item);
    size.rwidth() += 2 * fm.averageCharWidth();
    if (menuBar) {
        size.setHeight(std::max(KV_SM_CYMENU, fm.height()));
    }
    return size;
}

QSize Measure(KV_MeasureLook look, const KV_MenuItemPaint& paint, bool menuBar, QSize iconBox,
              const QList<CNewMenuItemData*>& items)
{
    const auto* opt = qstyleoption_cast<const QStyleOptionMenuItem*>(paint.option);
    if (opt == nullptr) {
        return paint.contents;
    }
    if (opt->menuItemType == QStyleOptionMenuItem::Separator) {
        KV_ItemMeasure item;
        item.separator = true;
        // Qt leaves out an item without width; the width is the menu's.
        return KV_MeasureMenuItem(look, item).expandedTo(QSize(1, 0));
    }
    const CNewMenuItemData* data = DataOf(ActionOf(paint.widget, opt, false), items);
    const QFont font = menuBar && paint.widget != nullptr ? paint.widget->font() : opt->font;
    const bool bold = data != nullptr && (data->flags & 0x20) != 0;
    QSize size = MeasureText(look, opt->text, font, bold, menuBar, iconBox);
    if (data != nullptr && IsSystemCommand(data->id & 0xFFF0u)) {
        // As wide as the next item with an id: the system's commands take
        // the width of the menu they were added to.
        size.setHeight(KV_SM_CYMENU);
        for (qsizetype i = items.indexOf(data) + 1; i < items.size(); ++i) {
            const CNewMenuItemData* next = items[i];
            if (next->id == 0) {
                continue;
            }
            const QSize other =
                MeasureText(look, next->text, font, (next->flags & 0x20) != 0, menuBar, iconBox);
            size.setWidth(std::max(size.width(), other.width()));
            if (!IsSystemCommand(next->id & 0xFFF0u)) {
                break;
            }
        }
    }
    return size;
}

} // namespace

QSize CNewMenu::MeasureItemClassic(const KV_MenuItemPaint& paint, bool menuBar)
{
    return Measure(KV_MeasureLook::Classic, paint, menuBar, icon_box_, items_);
}

QSize CNewMenu::MeasureItemXP(const KV_MenuItemPaint& paint, bool menuBar)
{
    return Measure(KV_MeasureLook::XP, paint, menuBar, icon_box_, items_);
}

QSize CNewMenu::MeasureItemGradient(const KV_MenuItemPaint& paint, bool menuBar)
{
    return Measure(KV_MeasureLook::Gradient, paint, menuBar, icon_box_, items_);
}

void CNewMenu::DrawSymbol(QPainter* p, const KV_Rect& rect, char ch, bool bold, KV_COLORREF c)
{
    const KV_Rect r = rect.Inflate(-2, -2);
    const int em = r.Height();
    if (em <= 0 || r.Width() <= 0) {
        return;
    }
    const QPainterPath glyph = GlyphPath(ch);
    if (glyph.isEmpty()) {
        return;
    }
    p->save();
    p->setRenderHint(QPainter::Antialiasing, true);
    p->translate(r.left + (r.Width() - em) / 2.0, r.top);
    p->scale(em, em);
    p->setPen(bold ? QPen(KV_FromColorRef(c), 1.5 / em) : QPen(Qt::NoPen));
    p->setBrush(KV_FromColorRef(c));
    p->drawPath(glyph);
    p->restore();
}

void CNewMenu::DrawMenuGlyph(QPainter* p, const KV_Rect& rect, char ch, uint32_t state)
{
    const bool grey = (state & (KV_ODS_GRAYED | KV_ODS_INACTIVE)) != 0;
    DrawSymbol(p, rect, ch, (state & KV_ODS_DEFAULT) != 0,
               Sys(grey ? KV_COLOR_GRAYTEXT : KV_COLOR_MENUTEXT));
}

void CNewMenu::DrawCheckGlyph(QPainter* p, const KV_Rect& rect, bool radio, uint32_t state)
{
    const KV_Rect box = rect.Inflate(-1, -1);
    if (GetWinVersionClass() >= 2) {
        KV_Draw3dRect(p, box, Sys(KV_COLOR_BTNSHADOW), Sys(KV_COLOR_BTNHIGHLIGHT));
    }
    const KV_Rect glyph = box.Inflate(2, 2);
    if (radio) {
        DrawMenuGlyph(p, glyph, 'i', state);
    } else {
        DrawMenuGlyph(p, glyph.Offset(1, 2), 'b', state);
    }
}

namespace {

char SystemGlyph(quintptr id)
{
    switch (id & 0xFFF0u) {
    case 0xF060:
        return 'r';
    case 0xF020:
        return '0';
    case 0xF030:
        return '1';
    case 0xF120:
        return '2';
    default:
        return 0;
    }
}

} // namespace

void CNewMenu::DrawSystemGlyph(QPainter* p, const KV_Rect& rect, quintptr id, uint32_t state)
{
    const char ch = SystemGlyph(id);
    if (ch == 0) {
        return;
    }
    int colour = KV_COLOR_MENUTEXT;
    if ((state & (KV_ODS_GRAYED | KV_ODS_INACTIVE)) != 0) {
        colour = KV_COLOR_GRAYTEXT;
    } else if ((state & KV_ODS_SELECTED) != 0) {
        colour = KV_COLOR_HIGHLIGHTTEXT;
    }
    DrawSymbol(p, rect, ch, (state & KV_ODS_DEFAULT) != 0, Sys(colour));
}

void CNewMenu::DrawSystemGlyphXP(QPainter* p, const KV_Rect& rect, quintptr id,
                                 uint32_t state) const
{
    const char ch = SystemGlyph(id);
    if (ch == 0) {
        return;
    }
    const int grow = (icon_box_.height() - rect.Height()) / 2;
    const KV_Rect r = rect.Inflate(0, grow);
    const bool bold = (state & KV_ODS_DEFAULT) != 0;
    if ((state & (KV_ODS_GRAYED | KV_ODS_INACTIVE)) != 0) {
        DrawSymbol(p, r, ch, bold, Sys(KV_COLOR_GRAYTEXT));
    } else if ((state & KV_ODS_SELECTED) != 0) {
        DrawSymbol(p, r.Offset(1, 1), ch, bold, ShadowColor(GetXPSelectionColor()));
        DrawSymbol(p, r.Offset(-1, -1), ch, bold, Sys(KV_COLOR_MENUTEXT));
    } else {
        DrawSymbol(p, r, ch, bold, Sys(KV_COLOR_MENUTEXT));
    }
}

void CNewMenu::DrawItemXP(const KV_MenuItemPaint& paint, bool menuBar)
{
    ItemContext c = MakeContext(paint, menuBar, items_);
    QPainter* p = c.p;
    if (p == nullptr) {
        return;
    }
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    const bool few = GetNumColors() <= 256;
    const bool hc = IsHighContrast();
    const KV_COLORREF window = Sys(KV_COLOR_WINDOW);
    const KV_COLORREF bar = MenuBarColor();
    const KV_COLORREF menu = menuBar ? bar : PopupMenuColor();
    KV_COLORREF background = MixColors86(window, menu);
    KV_COLORREF column = few ? Sys(KV_COLOR_BTNFACE) : MixColors86(bar, window);
    KV_COLORREF selection = GetXPSelectionColor();
    KV_COLORREF pen = Sys(hc ? KV_COLOR_BTNTEXT : KV_COLOR_HIGHLIGHT);
    if (background == column) {
        background = window;
        column = menu;
    }
    uint32_t state = c.state;
    if (menuBar) {
        if (open_popups_ == 0 && (state & KV_ODS_SELECTED) != 0) {
            state = (state & ~KV_ODS_SELECTED) | KV_ODS_HOTLIGHT;
        }
        if ((state & KV_ODS_HOTLIGHT) == 0) {
            selection = column;
        }
        background = menu;
    }

    KV_Rect col = c.rc;
    KV_Rect text = c.rc;
    KV_Rect sel = c.rc;
    if (!menuBar) {
        col.right = col.left + icon_box_.width() + 8;
        text.left = col.right;
        KV_FillRect(p, col, column);
    } else {
        sel.right -= 4;
    }
    KV_FillRect(p, text, background);
    if (!menuBar) {
        text.left += 4;
        text.right -= 15;
    }
    if ((state & (KV_ODS_HOTLIGHT | KV_ODS_INACTIVE)) != 0) {
        state |= KV_ODS_SELECTED;
    }

    if (menuBar && (state & KV_ODS_SELECTED) != 0 && (state & KV_ODS_INACTIVE) == 0) {
        const QPoint origin = c.widget != nullptr ? c.widget->mapToGlobal(QPoint(0, 0)) : QPoint();
        SetMenuBarItemRect(c.rc.Offset(origin.x(), origin.y()));
        if ((state & KV_ODS_HOTLIGHT) == 0) {
            // Open: joined to its popup, with a shadow at its right.
            pen = hc ? Sys(KV_COLOR_BTNTEXT) : DarkenColor(128, bar);
            const int h = text.Height();
            for (int i = 1; i <= 4; ++i) {
                const int x = text.right - i;
                for (int row = 0; row < h; ++row) {
                    const int y = text.top + row;
                    if (few) {
                        if (i >= 3 && row >= 4) {
                            KV_SetPixel(p, x, y, Sys(KV_COLOR_BTNSHADOW));
                        }
                    } else if (row < 4) {
                        KV_SetPixel(p, x, y, bar);
                    } else if (row < 8) {
                        KV_SetPixel(p, x, y, DarkenColor(i * 6 * (row - 3), bar));
                    } else {
                        KV_SetPixel(p, x, y, DarkenColor(i * 30, bar));
                    }
                }
            }
        }
    }

    if (c.separator) {
        const int y = (text.top + text.bottom) / 2;
        KV_FillRect(p, {text.left, y, c.rc.right, y + 1}, Sys(KV_COLOR_GRAYTEXT));
        p->restore();
        return;
    }

    if ((state & KV_ODS_SELECTED) != 0 && (state & KV_ODS_INACTIVE) == 0) {
        KV_FillRect(p, sel, selection);
        KV_Draw3dRect(p, sel, pen, pen);
    }

    if (!c.caption.isEmpty()) {
        KV_COLORREF colour = Sys(KV_COLOR_MENUTEXT);
        if ((state & KV_ODS_GRAYED) != 0 || (menuBar && (state & KV_ODS_INACTIVE) != 0)) {
            colour = Sys(KV_COLOR_GRAYTEXT);
        } else if (!menuBar && (state & KV_ODS_SELECTED) == 0 && hc) {
            colour = Sys(KV_COLOR_WINDOWTEXT);
        }
        if (menuBar) {
            DrawText(c, sel, c.caption, Qt::AlignCenter, colour, (state & KV_ODS_DEFAULT) != 0);
        } else {
            DrawCaptionAndAccel(c, text, colour);
        }
    }

    if (!menuBar) {
        const bool checked = (state & KV_ODS_CHECKED) != 0;
        const bool selected = (state & KV_ODS_SELECTED) != 0;
        auto checkBox = [&] {
            const KV_Rect box{col.left + 1, col.top + 1, col.right - 2, col.bottom - 1};
            KV_COLORREF fill = MixColors86(column, Sys(KV_COLOR_HIGHLIGHT));
            if (selected) {
                fill = few ? selection : MixColors86(selection, Sys(KV_COLOR_HIGHLIGHT));
            }
            KV_FillRect(p, box, fill);
            KV_Draw3dRect(p, box, pen, pen);
        };
        if (c.HasIcon()) {
            const CNewMenuIcons* icons = c.data->icons;
            const int index = c.data->icon_index;
            const QSize size = icons->IconSize();
            const int y = col.top + ((col.Height() - size.height()) >> 1);
            int x = col.left + 3;
            if (size.width() < icon_box_.width()) {
                x += (icon_box_.width() - size.width()) >> 1;
            }
            if (checked) {
                checkBox();
            }
            const int look = GetSelectionMode();
            if ((state & KV_ODS_DISABLED) != 0) {
                if (look == 0) {
                    p->drawImage(x, y, Silhouette(icons->Image(index), DarkenColor(70, column)));
                } else {
                    p->drawImage(x, y, icons->Image(index + 2));
                }
            } else if (!selected) {
                p->drawImage(x, y, icons->Image(look == 0 ? index : index + 1));
            } else if (!checked) {
                p->drawImage(x + 1, y + 1, Silhouette(icons->Image(index), ShadowColor(selection)));
                p->drawImage(x - 1, y - 1, icons->Image(index));
            } else {
                p->drawImage(x, y, icons->Image(index));
            }
        } else if (checked) {
            checkBox();
            const int grow = ((icon_box_.height() - col.Height()) >> 1) + 2;
            DrawMenuGlyph(p, col.Inflate(2, grow), c.radio ? 'i' : 'b', state);
        } else if (IsSystemCommand(c.id)) {
            DrawSystemGlyphXP(p, col, c.id, state);
        }
        if (c.submenu) {
            DrawSubmenuArrow(
                c, Sys((state & KV_ODS_GRAYED) != 0 ? KV_COLOR_GRAYTEXT : KV_COLOR_MENUTEXT));
        }
    }
    p->restore();
}

namespace {

// The colours in which the classic and gradient looks differ.
struct ClassicColours
{
    bool gradient = false;
    KV_COLORREF shadowEdge = 0;   // S
    KV_COLORREF lightEdge = 0;    // L
    KV_COLORREF inactiveText = 0; // D
    KV_COLORREF disabledGrey = 0; // G
};

ClassicColours ColoursFor(bool gradient)
{
    ClassicColours k;
    k.gradient = gradient;
    const KV_COLORREF m = PopupMenuColor();
    if (!gradient) {
        k.shadowEdge = Sys(KV_COLOR_BTNSHADOW);
        k.lightEdge = Sys(KV_COLOR_BTNHIGHLIGHT);
        k.inactiveText = Sys(KV_COLOR_GRAYTEXT);
        k.disabledGrey = Sys(KV_COLOR_GRAYTEXT);
        return k;
    }
    k.shadowEdge = DarkenColor(60, m);
    k.lightEdge = LightenColor(60, m);
    k.inactiveText = DarkenColor(100, m);
    k.disabledGrey = DarkenColor(70, k.shadowEdge);
    if (IsHighContrast()) {
        k.shadowEdge = k.lightEdge = Sys(KV_COLOR_BTNTEXT);
        k.disabledGrey = Sys(KV_COLOR_BTNSHADOW);
    }
    return k;
}

void FillGradientOf(QPainter* p, const KV_Rect& r, KV_COLORREF c)
{
    if (IsHighContrast()) {
        KV_FillRect(p, r, c);
    } else {
        DrawGradient(p, r, LightenColor(30, c), DarkenColor(30, c), false);
    }
}

} // namespace

// The classic look, and with gradient colours the gradient look.
static void DrawClassicLike(CNewMenu* menu, const KV_MenuItemPaint& paint, bool menuBar,
                            const ClassicColours& k, const QList<CNewMenuItemData*>& items)
{
    ItemContext c = MakeContext(paint, menuBar, items);
    QPainter* p = c.p;
    if (p == nullptr) {
        return;
    }
    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    const KV_COLORREF back =
        menuBar ? MenuBarColor() : (k.gradient ? PopupMenuColor() : Sys(KV_COLOR_MENU));
    const int boxW = menu->IconBoxWidth();
    const int boxH = menu->IconBoxHeight();
    KV_Rect r = c.rc;
    if (menuBar) {
        r.right -= 2;
        r = r.Offset(1, -1);
    }
    uint32_t state = c.state;
    if (menuBar) {
        if (menu->OpenPopupCount() == 0 && (state & KV_ODS_SELECTED) != 0) {
            state = (state & ~KV_ODS_SELECTED) | KV_ODS_HOTLIGHT;
        }
        if ((state & (KV_ODS_SELECTED | KV_ODS_HOTLIGHT)) != 0) {
            const QPoint origin =
                c.widget != nullptr ? c.widget->mapToGlobal(QPoint(0, 0)) : QPoint();
            menu->SetMenuBarItemRect(r.Offset(origin.x(), origin.y()));
        }
    }
    if (c.separator) {
        KV_Rect line = c.rc;
        line.left += 1;
        if (k.gradient) {
            line.right -= 1;
            KV_FillRect(p, line, k.lightEdge);
        } else {
            KV_FillRect(p, line, back);
        }
        DrawEtchedTop(p, line);
        p->restore();
        return;
    }
    const bool selected = (state & KV_ODS_SELECTED) != 0;
    const bool hot = (state & KV_ODS_HOTLIGHT) != 0;
    const bool inactive = (state & KV_ODS_INACTIVE) != 0;
    const bool checked = (state & KV_ODS_CHECKED) != 0;
    const bool grayed = (state & KV_ODS_GRAYED) != 0;
    const bool hasIcon = c.HasIcon();

    if (!menuBar) {
        if (k.gradient) {
            FillGradientOf(p, r, back);
        } else {
            KV_FillRect(p, r, back);
        }
    } else {
        const KV_Rect under = r.Offset(-1, 1);
        if (k.gradient && !inactive && (hot || selected) && !IsHighContrast()) {
            FillGradientOf(p, under, PopupMenuColor());
        } else {
            KV_FillRect(p, under, back);
        }
    }

    if (!selected) {
        if (menuBar && hot && !inactive) {
            KV_Draw3dRect(p, r, k.lightEdge, k.shadowEdge);
        }
    } else if (!menuBar) {
        KV_Rect fill = r;
        if (hasIcon || checked) {
            fill.left = r.left + boxW + 6;
        }
        if (k.gradient) {
            FillGradientOf(p, fill, Sys(KV_COLOR_HIGHLIGHT));
            KV_Draw3dRect(p, fill, k.shadowEdge, k.lightEdge);
        } else {
            KV_FillRect(p, fill, Sys(KV_COLOR_HIGHLIGHT));
        }
    } else {
        KV_Draw3dRect(p, r, k.shadowEdge, k.lightEdge);
    }

    if (!menuBar) {
        const int top = r.top + (r.Height() - boxH) / 2;
        const KV_Rect box{r.left + 3, top, r.left + 3 + boxW, top + boxH};
        const KV_Rect frame = box.Inflate(2, 2);
        if (hasIcon) {
            if (GetWinVersionClass() >= 2) {
                if (checked) {
                    KV_Draw3dRect(p, frame, k.shadowEdge, k.lightEdge);
                } else if (selected && !grayed) {
                    KV_Draw3dRect(p, frame, k.lightEdge, k.shadowEdge);
                }
            }
            const CNewMenuIcons* icons = c.data->icons;
            const QSize size = icons->IconSize();
            const int x = box.left + std::max(0, (boxW - size.width()) / 2);
            const int y = box.top + std::max(0, (boxH - size.height()) / 2);
            const QImage icon = icons->Image(c.data->icon_index);
            if ((state & KV_ODS_DISABLED) == 0) {
                p->drawImage(x, y, icon);
            } else if (k.gradient) {
                p->drawImage(x, y, Silhouette(icon, k.disabledGrey));
            } else {
                DrawEmbossed(p, x, y, icon);
            }
        } else if (checked) {
            CNewMenu::DrawCheckGlyph(p, frame, c.radio, state);
        } else if (IsSystemCommand(c.id)) {
            CNewMenu::DrawSystemGlyph(p, frame, c.id, state);
        }
    }

    if (!c.caption.isEmpty()) {
        KV_COLORREF colour = Sys(KV_COLOR_MENUTEXT);
        KV_Rect t = r.Offset(0, -1);
        int align = Qt::AlignLeft | Qt::AlignVCenter;
        if (menuBar) {
            t = r.Offset(-1, -1);
            if (selected) {
                t = t.Offset(1, 1);
            }
            t.left += 6;
            align = Qt::AlignCenter;
            if (inactive) {
                colour = k.inactiveText;
            }
        } else {
            t.left = r.left + 12 + boxW;
            if (c.hasAccel) {
                t.right -= boxW;
            }
            if (selected) {
                colour = Sys(KV_COLOR_HIGHLIGHTTEXT);
            }
        }
        auto draw = [&](const KV_Rect& at, KV_COLORREF ink) {
            if (menuBar) {
                DrawText(c, at, c.caption, align, ink, (state & KV_ODS_DEFAULT) != 0);
            } else {
                DrawCaptionAndAccel(c, at, ink);
            }
        };
        if (!grayed) {
            draw(t, colour);
        } else if (selected) {
            draw(t, back);
        } else if (k.gradient) {
            draw(t, k.disabledGrey);
        } else {
            draw(t.Offset(1, 1), Sys(KV_COLOR_BTNHIGHLIGHT));
            draw(t, Sys(KV_COLOR_GRAYTEXT));
        }
    }
    if (!menuBar && c.submenu) {
        int colour = selected ? KV_COLOR_HIGHLIGHTTEXT : KV_COLOR_MENUTEXT;
        if (grayed) {
            colour = KV_COLOR_GRAYTEXT;
        }
        DrawSubmenuArrow(c, Sys(colour));
    }
    p->restore();
}

void CNewMenu::DrawItemClassic(const KV_MenuItemPaint& paint, bool menuBar)
{
    DrawClassicLike(this, paint, menuBar, ColoursFor(false), items_);
}

void CNewMenu::DrawItemGradient(const KV_MenuItemPaint& paint, bool menuBar)
{
    DrawClassicLike(this, paint, menuBar, ColoursFor(true), items_);
}

void CNewMenu::DrawItemFlatBar(const KV_MenuItemPaint& paint, bool menuBar)
{
    if (!menuBar) {
        DrawItemClassic(paint, menuBar);
        return;
    }
    ItemContext c = MakeContext(paint, menuBar, items_);
    QPainter* p = c.p;
    if (p == nullptr) {
        return;
    }
    p->save();
    const uint32_t state = c.state;
    const bool lit = (state & (KV_ODS_SELECTED | KV_ODS_HOTLIGHT)) != 0;
    if (lit) {
        KV_FillRect(p, c.rc, Sys(KV_COLOR_HIGHLIGHT));
        const QPoint origin = c.widget != nullptr ? c.widget->mapToGlobal(QPoint(0, 0)) : QPoint();
        SetMenuBarItemRect(c.rc.Offset(origin.x(), origin.y()));
    } else {
        KV_FillRect(p, c.rc, MenuBarColor());
    }
    int colour = KV_COLOR_MENUTEXT;
    if ((state & KV_ODS_GRAYED) != 0) {
        colour = KV_COLOR_GRAYTEXT;
    } else if (lit) {
        colour = KV_COLOR_HIGHLIGHTTEXT;
    }
    DrawText(c, c.rc, c.caption, Qt::AlignCenter, Sys(colour), false);
    p->restore();
}
