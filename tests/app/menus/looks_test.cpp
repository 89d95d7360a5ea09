// The looks of the menus: measuring, drawing, the popup borders and the
// popup bookkeeping they rely on.
#include "menus/menutheme.h"
#include "menus/newframe.h"
#include "menus/newmenu.h"
#include "menus/newmenuicons.h"

#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Every render uses Fusion under the menu style, Fusion's own palette and
// DejaVu Sans, so that pixels do not depend on the desktop.
class Looks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CMenuStyle::Instance()->setBaseStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(CMenuStyle::Instance()->baseStyle()->standardPalette());
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
        previous_style_ = CNewMenu::SetDrawStyle(3);
        previous_look_ = CNewMenu::SetSelectionMode(0);
    }
    void TearDown() override
    {
        CNewMenu::SetDrawStyle(previous_style_);
        CNewMenu::SetSelectionMode(previous_look_);
        SetNumColors(64000);
    }

    int previous_style_ = 2;
    int previous_look_ = 1;
};

// A bar with one popup: an item with an icon and accelerator, a separator,
// a checked item, a checked radio item, a disabled item with an icon, a
// plain item.
struct Sample
{
    CNewMenu bar;
    CNewMenu* popup = nullptr;
    QMenu* menu = nullptr;
    QList<QImage> images;

    Sample()
    {
        QImage red(16, 15, QImage::Format_ARGB32);
        red.fill(qRgb(200, 40, 40));
        QImage blue(16, 15, QImage::Format_ARGB32);
        blue.fill(qRgb(40, 40, 200));
        images = {red, blue};
        auto* top = new QMenu;
        auto* sub = new QMenu(QStringLiteral("&Pop"), top);
        top->addMenu(sub);
        bar.LoadMenu(top);
        popup = bar.GetSubMenu(0);
        menu = popup->GetSafeHmenu();
        popup->AppendItem(QStringLiteral("&Open\tCtrl+O"), MF_STRING, 41001, &images, 0);
        popup->AppendItem(QString(), MF_SEPARATOR, 0);
        popup->AppendItem(QStringLiteral("&Checked"), MF_CHECKED, 41002);
        popup->AppendItem(QStringLiteral("&Radio"), MF_CHECKED, 41003);
        popup->AppendItem(QStringLiteral("&Disabled"), MF_GRAYED, 41004, &images, 1);
        popup->AppendItem(QStringLiteral("&Plain"), MF_STRING, 41005);
        auto* group = new QActionGroup(menu);
        group->addAction(popup->ItemAction(3));
        menu->resize(menu->sizeHint());
    }
};

KV_COLORREF Px(const QImage& image, int x, int y)
{
    return KV_ToColorRef(QColor(image.pixel(x, y)));
}

KV_COLORREF Sys(int index)
{
    return KV_GetSysColor(index);
}

QImage Grab(QMenu* menu)
{
    menu->resize(menu->sizeHint());
    return menu->grab().toImage();
}

KV_Rect ItemRect(const Sample& s, int pos)
{
    return KV_Rect::From(s.menu->actionGeometry(s.popup->ItemAction(pos)));
}

// Where an item's icon sits in the XP look: 3 pixels into the column,
// centred down the item.
QPoint XPIconAt(const KV_Rect& item)
{
    return {item.left + 3, item.top + ((item.Height() - 15) >> 1)};
}

TEST(LooksMeasure, ItemSizesByLook)
{
    struct Case
    {
        const char* name;
        KV_MeasureLook look;
        KV_ItemMeasure item;
        QSize want;
    };
    const QSize icons(16, 15);
    const Case cases[] = {
        {"classic popup",
         KV_MeasureLook::Classic,
         {false, false, false, {50, 15}, icons},
         {84, 19}},
        {"gradient popup",
         KV_MeasureLook::Gradient,
         {false, false, false, {50, 15}, icons},
         {84, 21}},
        {"xp popup", KV_MeasureLook::XP, {false, false, false, {50, 15}, icons}, {84, 22}},
        {"accelerator", KV_MeasureLook::XP, {false, false, true, {50, 15}, icons}, {99, 22}},
        {"classic bar", KV_MeasureLook::Classic, {true, false, false, {50, 15}, icons}, {44, 19}},
        {"xp bar", KV_MeasureLook::XP, {true, false, false, {50, 15}, icons}, {44, 22}},
        {"classic separator",
         KV_MeasureLook::Classic,
         {false, true, false, {50, 15}, icons},
         {0, 3}},
        {"gradient separator",
         KV_MeasureLook::Gradient,
         {false, true, false, {50, 15}, icons},
         {0, 3}},
        {"xp separator", KV_MeasureLook::XP, {false, true, false, {50, 15}, icons}, {0, 3}},
        // Large icons raise the height; so does a tall font.
        {"classic 24",
         KV_MeasureLook::Classic,
         {false, false, false, {50, 15}, {24, 24}},
         {100, 28}},
        {"gradient 24",
         KV_MeasureLook::Gradient,
         {false, false, false, {50, 15}, {24, 24}},
         {100, 30}},
        {"xp 24", KV_MeasureLook::XP, {false, false, false, {50, 15}, {24, 24}}, {100, 31}},
        {"xp 10", KV_MeasureLook::XP, {false, false, false, {50, 15}, {16, 10}}, {84, 19}},
        {"tall text", KV_MeasureLook::Classic, {false, false, false, {50, 40}, icons}, {84, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(KV_MeasureMenuItem(c.look, c.item), c.want);
    }
}

TEST(LooksTheme, BordersWithAndWithoutSystemShadows)
{
    struct Case
    {
        uint32_t flags;
        bool shadows;
        QMargins borders;
        KV_Rect client;
        KV_Rect placed;
        KV_Rect content;
    };
    const KV_Rect window{100, 50, 300, 250};
    const Case cases[] = {
        {1, true, {2, 2, 2, 2}, {102, 52, 298, 248}, {100, 49, 298, 247}, {102, 52, 297, 247}},
        {1, false, {2, 2, 5, 6}, {102, 52, 295, 244}, {100, 49, 302, 251}, {102, 52, 293, 243}},
        // Without a flat border the window is the system's.
        {0, true, {2, 2, 2, 2}, window, window, window},
        {0, false, {2, 2, 5, 6}, window, window, window},
    };
    auto same = [](const KV_Rect& a, const KV_Rect& b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " shadows " << c.shadows);
        const CMenuTheme theme(0, nullptr, nullptr, c.flags, c.shadows);
        EXPECT_EQ(theme.IsFlatBorder(), c.flags == 1);
        EXPECT_EQ(theme.Borders(), c.borders);
        EXPECT_TRUE(same(theme.CalcClientRect(window), c.client));
        EXPECT_TRUE(same(theme.AdjustWindowPos(window), c.placed));
        EXPECT_TRUE(same(theme.GetContentRect(window), c.content));
    }
}

TEST(LooksColors, XPSelectionColorInItsThreeCases)
{
    const KV_COLORREF window = KV_RGB(255, 255, 255);
    const KV_COLORREF highlight = KV_RGB(49, 106, 197);
    // 70 % white + 30 % highlight = (194, 211, 238), darkened by 30.
    EXPECT_EQ(XPSelectionColor(false, 64000, window, highlight), KV_RGB(171, 186, 210));
    EXPECT_EQ(XPSelectionColor(false, 256, window, highlight), window);
    EXPECT_EQ(XPSelectionColor(true, 64000, window, highlight), highlight);
    EXPECT_EQ(XPSelectionColor(true, 16, window, highlight), highlight);
}

// The flat borders painted into an image: the XP frame and its icon-column
// strip, the classic line, the own shadow where the system draws none.
TEST_F(Looks, FlatBordersAndOwnShadow)
{
    const QSize size(60, 40);
    auto paint = [&](const CMenuTheme& theme, bool* drawn) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        QPainter p(&image);
        *drawn = theme.DrawBorder(&p, nullptr, size, false);
        return image;
    };
    const KV_COLORREF bar = MenuBarColor();
    const KV_COLORREF window = Sys(KV_COLOR_WINDOW);
    const KV_COLORREF menu = PopupMenuColor();
    bool drawn = false;

    const CMenuThemeXP xp(2, nullptr, nullptr, 1, true);
    QImage image = paint(xp, &drawn);
    ASSERT_TRUE(drawn);
    EXPECT_EQ(Px(image, 0, 0), DarkenColor(128, bar));
    EXPECT_EQ(Px(image, 59, 39), DarkenColor(128, bar));
    EXPECT_EQ(Px(image, 1, 20), MixColors86(bar, window)); // continues the icon column
    EXPECT_EQ(Px(image, 30, 1), MixColors86(window, bar));
    EXPECT_EQ(Px(image, 58, 20), MixColors86(window, bar));
    EXPECT_EQ(Px(image, 30, 20), KV_ToColorRef(QColor(Qt::magenta))); // the client is left

    const CMenuThemeXP xpOwn(2, nullptr, nullptr, 1, false);
    image = paint(xpOwn, &drawn);
    EXPECT_EQ(Px(image, 55, 20), DarkenColor(128, bar)); // frame 4 pixels in
    EXPECT_EQ(Px(image, 59, 20), DarkenColor(30, menu));
    EXPECT_EQ(Px(image, 56, 20), DarkenColor(120, menu));
    EXPECT_EQ(Px(image, 56, 5), DarkenColor(48, menu)); // fading in at the top
    EXPECT_EQ(Px(image, 56, 2), menu);
    EXPECT_EQ(Px(image, 30, 39), DarkenColor(30, menu));
    EXPECT_EQ(Px(image, 2, 38), menu);

    SetNumColors(256);
    image = paint(xpOwn, &drawn);
    EXPECT_EQ(Px(image, 56, 20), Sys(KV_COLOR_BTNSHADOW));
    EXPECT_EQ(Px(image, 58, 20), menu);
    EXPECT_EQ(Px(image, 1, 20), Sys(KV_COLOR_BTNFACE));
    SetNumColors(64000);

    const CMenuTheme classic(0, nullptr, nullptr, 1, true);
    image = paint(classic, &drawn);
    EXPECT_EQ(Px(image, 0, 0), Sys(KV_COLOR_HIGHLIGHT));
    EXPECT_EQ(Px(image, 1, 1), menu);
    EXPECT_EQ(Px(image, 59, 20), Sys(KV_COLOR_HIGHLIGHT));

    // Odd ids leave the border to the system.
    const CMenuThemeXP plain(3, nullptr, nullptr, 0, true);
    image = paint(plain, &drawn);
    EXPECT_FALSE(drawn);
    EXPECT_EQ(Px(image, 0, 0), KV_ToColorRef(QColor(Qt::magenta)));
}

TEST_F(Looks, XPPopupColumnSeparatorSelectionAndAccelerator)
{
    Sample s;
    s.menu->setActiveAction(s.popup->ItemAction(5)); // "&Plain"
    const QImage image = Grab(s.menu);
    const KV_COLORREF window = Sys(KV_COLOR_WINDOW);
    const KV_COLORREF column = MixColors86(MenuBarColor(), window);
    const KV_COLORREF background = MixColors86(window, PopupMenuColor());

    const KV_Rect open = ItemRect(s, 0);
    EXPECT_EQ(open.Height(), 22);
    EXPECT_EQ(Px(image, open.left + 1, open.top + 1), column);
    EXPECT_EQ(Px(image, open.left + 23, open.top + 1), column);
    EXPECT_EQ(Px(image, open.left + 24, open.top + 1), background);

    // The separator: one grey line in the middle row, from 4 pixels past
    // the column to the item's right edge.
    const KV_Rect sep = ItemRect(s, 1);
    EXPECT_EQ(sep.Height(), 3);
    const int line = sep.top + 1;
    EXPECT_EQ(Px(image, open.left + 27, line), background);
    EXPECT_EQ(Px(image, open.left + 28, line), Sys(KV_COLOR_GRAYTEXT));
    EXPECT_EQ(Px(image, sep.right - 1, line), Sys(KV_COLOR_GRAYTEXT));
    EXPECT_EQ(Px(image, open.left + 28, sep.top), background);

    // The selection box over the whole item, framed in the highlight.
    const KV_Rect plain = ItemRect(s, 5);
    EXPECT_EQ(Px(image, plain.left, plain.top + 5), Sys(KV_COLOR_HIGHLIGHT));
    EXPECT_EQ(Px(image, plain.right - 1, plain.bottom - 1), Sys(KV_COLOR_HIGHLIGHT));
    EXPECT_EQ(Px(image, plain.left + 2, plain.top + 2), GetXPSelectionColor());
    EXPECT_EQ(Px(image, plain.right - 3, plain.top + 2), GetXPSelectionColor());

    // The caption starts after the column, the accelerator ends 15 pixels
    // before the item's right edge.
    int first = -1;
    int last = -1;
    for (int x = open.left + 24; x < open.right; ++x) {
        for (int y = open.top; y < open.bottom; ++y) {
            if (qGray(image.pixel(x, y)) < 128) {
                first = first < 0 ? x : first;
                last = x;
            }
        }
    }
    EXPECT_GE(first, open.left + 28);
    EXPECT_LE(first, open.left + 30);
    EXPECT_LE(last, open.right - 16);
    EXPECT_GE(last, open.right - 18);
}

TEST_F(Looks, XPIconsBySelectionAndIconLook)
{
    Sample s;
    const CNewMenuItemData* disabled = s.popup->ItemDataList()[4];
    ASSERT_NE(disabled->icons, nullptr);
    const CNewMenuIcons* icons = disabled->icons;
    const QPoint openAt = XPIconAt(ItemRect(s, 0));
    const QPoint offAt = XPIconAt(ItemRect(s, 4));
    const KV_COLORREF column = MixColors86(MenuBarColor(), Sys(KV_COLOR_WINDOW));
    const KV_COLORREF red = KV_RGB(200, 40, 40);

    // Selected: the icon one pixel up and left, its silhouette one pixel
    // down and right in the shadow of the selection colour.
    s.menu->setActiveAction(s.popup->ItemAction(0));
    QImage image = Grab(s.menu);
    EXPECT_EQ(Px(image, openAt.x() - 1, openAt.y() - 1), red);
    EXPECT_EQ(Px(image, openAt.x() + 14, openAt.y() + 13), red);
    EXPECT_EQ(Px(image, openAt.x() + 15, openAt.y() + 14), ShadowColor(GetXPSelectionColor()));

    // Not selected: in place.
    s.menu->setActiveAction(s.popup->ItemAction(5));
    image = Grab(s.menu);
    EXPECT_EQ(Px(image, openAt.x() - 1, openAt.y() - 1), column);
    EXPECT_EQ(Px(image, openAt.x(), openAt.y()), red);
    EXPECT_EQ(Px(image, openAt.x() + 15, openAt.y() + 14), red);
    // Icon look 0: a disabled icon is a silhouette.
    EXPECT_EQ(Px(image, offAt.x() + 5, offAt.y() + 5), DarkenColor(70, column));

    // Icon look 1: the shaded image when not selected, the disabled image
    // when disabled.
    CNewMenu::SetSelectionMode(1);
    image = Grab(s.menu);
    const int open = s.popup->ItemDataList()[0]->icon_index;
    EXPECT_EQ(Px(image, openAt.x() + 5, openAt.y() + 5),
              KV_ToColorRef(QColor(icons->Image(open + 1).pixel(5, 5))));
    EXPECT_EQ(Px(image, offAt.x() + 5, offAt.y() + 5),
              KV_ToColorRef(QColor(icons->Image(disabled->icon_index + 2).pixel(5, 5))));
    EXPECT_NE(icons->Image(open + 1).pixel(5, 5), icons->Image(open).pixel(5, 5));
}

TEST_F(Looks, XPCheckAndBulletGlyphs)
{
    Sample s;
    s.menu->setActiveAction(s.popup->ItemAction(5));
    const QImage image = Grab(s.menu);
    const KV_COLORREF column = MixColors86(MenuBarColor(), Sys(KV_COLOR_WINDOW));
    // The glyph's square: the column less 2 pixels at the top and bottom
    // (for a 22-pixel item), shrunk by 2 on each side, centred across.
    auto ink = [&](int pos, double u, double v) {
        const KV_Rect item = ItemRect(s, pos);
        const int em = item.Height() - 8;
        const int x0 = item.left + (24 - em) / 2;
        const int y0 = item.top + 4;
        return qGray(image.pixel(x0 + static_cast<int>(u * em), y0 + static_cast<int>(v * em)));
    };
    // Both sit in a check box in the highlight frame.
    for (int pos : {2, 3}) {
        SCOPED_TRACE(pos);
        const KV_Rect item = ItemRect(s, pos);
        EXPECT_EQ(Px(image, item.left + 1, item.top + 5), Sys(KV_COLOR_HIGHLIGHT));
        EXPECT_EQ(Px(image, item.left + 3, item.top + 3),
                  MixColors86(column, Sys(KV_COLOR_HIGHLIGHT)));
    }
    // The check's left arm lies where the bullet has nothing.
    EXPECT_LT(ink(2, 0.32, 0.58), 100);
    EXPECT_GT(ink(3, 0.32, 0.58), 150);
    EXPECT_LT(ink(3, 0.5, 0.5), 100);
}

TEST_F(Looks, XPFewColours)
{
    SetNumColors(256);
    Sample s;
    s.menu->setActiveAction(s.popup->ItemAction(5));
    const QImage image = Grab(s.menu);
    const KV_Rect plain = ItemRect(s, 5);
    EXPECT_EQ(Px(image, plain.left + 2, ItemRect(s, 0).top + 2), Sys(KV_COLOR_BTNFACE));
    EXPECT_EQ(Px(image, plain.left + 2, plain.top + 2), Sys(KV_COLOR_WINDOW));
    EXPECT_EQ(Px(image, plain.left, plain.top + 5), Sys(KV_COLOR_HIGHLIGHT));
}

// Pixels of the classic, gradient and flat-bar looks that tell them apart
// from one another and from the system's own pictures.
TEST_F(Looks, ClassicGradientAndFlatBarKeyPixels)
{
    const KV_COLORREF menuColour = Sys(KV_COLOR_MENU);
    const KV_COLORREF highlight = Sys(KV_COLOR_HIGHLIGHT);
    const KV_COLORREF light = Sys(KV_COLOR_BTNHIGHLIGHT);
    const KV_COLORREF shadow = Sys(KV_COLOR_BTNSHADOW);
    {
        SCOPED_TRACE("classic");
        CNewMenu::SetDrawStyle(1);
        Sample s;
        s.menu->setActiveAction(s.popup->ItemAction(0));
        QImage image = Grab(s.menu);
        const KV_Rect open = ItemRect(s, 0);
        EXPECT_EQ(open.Height(), 19);
        // The selection leaves the icon column; the icon gets a raised frame.
        const int mid = open.top + 9;
        EXPECT_EQ(Px(image, open.left + 21, mid), menuColour);
        EXPECT_EQ(Px(image, open.left + 22, mid), highlight);
        EXPECT_EQ(Px(image, open.left + 1, mid), light);
        EXPECT_EQ(Px(image, open.left + 20, mid), shadow);
        // Checked, the frame is sunken.
        QAction* action = s.popup->ItemAction(0);
        action->setCheckable(true);
        action->setChecked(true);
        image = Grab(s.menu);
        EXPECT_EQ(Px(image, open.left + 1, mid), shadow);
        EXPECT_EQ(Px(image, open.left + 20, mid), light);
        // A disabled caption is embossed: highlight under the grey.
        const KV_Rect off = ItemRect(s, 4);
        int grey = 0;
        int lit = 0;
        for (int y = off.top; y < off.bottom; ++y) {
            for (int x = off.left + 28; x < off.right; ++x) {
                grey += Px(image, x, y) == Sys(KV_COLOR_GRAYTEXT) ? 1 : 0;
                lit += Px(image, x, y) == light ? 1 : 0;
            }
        }
        EXPECT_GT(grey, 10);
        EXPECT_GT(lit, 10);
    }
    {
        SCOPED_TRACE("gradient");
        CNewMenu::SetDrawStyle(7);
        Sample s;
        s.menu->setActiveAction(s.popup->ItemAction(0));
        const QImage image = Grab(s.menu);
        const KV_COLORREF m = PopupMenuColor();
        const KV_Rect plain = ItemRect(s, 5);
        EXPECT_EQ(plain.Height(), 21);
        EXPECT_EQ(Px(image, plain.left + 60, plain.top), LightenColor(30, m));
        EXPECT_NE(Px(image, plain.left + 60, plain.bottom - 1), LightenColor(30, m));
        // The separator: one pixel in from the sides, etched, light below.
        const KV_Rect sep = ItemRect(s, 1);
        EXPECT_EQ(Px(image, sep.left + 5, sep.top), shadow);
        EXPECT_EQ(Px(image, sep.left + 5, sep.top + 1), light);
        EXPECT_EQ(Px(image, sep.left + 5, sep.top + 2), LightenColor(60, m));
        EXPECT_EQ(Px(image, sep.left, sep.top + 2), menuColour);
    }
    {
        SCOPED_TRACE("flat bar");
        CNewMenu::SetDrawStyle(5);
        CNewFrameWnd frame;
        ASSERT_TRUE(frame.LoadFrame(109));
        QMenuBar* bar = frame.FrameMenuBar();
        bar->resize(400, bar->sizeHint().height());
        QStyleOptionMenuItem opt;
        opt.initFrom(bar);
        opt.rect = bar->actionGeometry(bar->actions().value(0));
        opt.state = QStyle::State_Enabled | QStyle::State_Selected;
        opt.text = bar->actions().value(0)->text();
        QImage image(bar->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        {
            QPainter p(&image);
            bar->style()->drawControl(QStyle::CE_MenuBarItem, &opt, &p, bar);
        }
        EXPECT_EQ(Px(image, opt.rect.left(), opt.rect.top()), highlight);
        EXPECT_EQ(Px(image, opt.rect.right(), opt.rect.bottom()), highlight);
    }
}

// The system commands' glyphs: close, minimise, maximise and restore, also
// under the ids they carry while a system menu is open; nothing for others.
TEST_F(Looks, SystemCommandGlyphs)
{
    struct Case
    {
        quintptr id;
        bool drawn;
    };
    const Case cases[] = {{0xF060, true}, {0xF061, true}, {0xF020, true},  {0xF030, true},
                          {0xF120, true}, {0xF121, true}, {0xF070, false}, {0xF000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        QImage image(24, 24, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            CNewMenu::DrawSystemGlyph(&p, {0, 0, 24, 24}, c.id, 0);
        }
        int ink = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x) {
                ink += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
            }
        }
        EXPECT_EQ(ink > 10, c.drawn);
    }
}

// The browse window's menu bar shown in an active frame, with the "&Help"
// popup open and its "Wi&zards" popup open below it.
struct OpenFrame
{
    CNewFrameWnd frame;
    QMenuBar* bar = nullptr;
    QAction* helpAction = nullptr;
    CNewMenu* help = nullptr;
    CNewMenu* wizards = nullptr;

    bool Open()
    {
        if (!frame.LoadFrame(109)) {
            return false;
        }
        frame.resize(400, 300);
        frame.show();
        frame.activateWindow();
        if (!QTest::qWaitForWindowActive(&frame)) {
            return false;
        }
        bar = frame.FrameMenuBar();
        helpAction = bar->actions().value(4);
        help = frame.DefaultMenu().GetSubMenu(4);
        wizards = help != nullptr ? help->GetSubMenu(4) : nullptr;
        if (helpAction == nullptr || wizards == nullptr) {
            return false;
        }
        bar->setActiveAction(helpAction);
        if (!QTest::qWaitFor([&] { return help->GetSafeHmenu()->isVisible(); })) {
            return false;
        }
        help->GetSafeHmenu()->setActiveAction(help->ItemAction(4));
        return QTest::qWaitFor([&] { return wizards->GetSafeHmenu()->isVisible(); });
    }

    KV_Rect HelpItem() const { return KV_Rect::From(bar->actionGeometry(helpAction)); }
};

TEST_F(Looks, NestedPopupsCountBackToZeroAndTheBarItemIsOpenOrHot)
{
    OpenFrame f;
    ASSERT_TRUE(f.Open());
    CNewMenu& top = f.frame.DefaultMenu();
    EXPECT_EQ(top.OpenPopupCount(), 1);
    EXPECT_EQ(f.help->OpenPopupCount(), 1);
    EXPECT_EQ(CNewMenuHook::ShowingCount(), 2);
    EXPECT_EQ(CNewMenuHook::LastOpenedPopup(), nullptr); // taken over by its window

    // Open: framed in the darkened bar colour over the icon-column colour,
    // with the shadow at its right.
    const KV_COLORREF barColour = MenuBarColor();
    const KV_COLORREF column = MixColors86(barColour, Sys(KV_COLOR_WINDOW));
    const KV_Rect item = f.HelpItem();
    QImage image = f.bar->grab().toImage();
    EXPECT_EQ(Px(image, item.left, item.top + 5), DarkenColor(128, barColour));
    EXPECT_EQ(Px(image, item.left + 2, item.top + 2), column);
    EXPECT_EQ(Px(image, item.right - 1, item.top + 10), DarkenColor(30, barColour));
    EXPECT_EQ(Px(image, item.right - 4, item.top + 10), DarkenColor(120, barColour));
    EXPECT_EQ(Px(image, item.right - 4, item.top + 5), DarkenColor(48, barColour));
    const QPoint origin = f.bar->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(top.GetMenuBarItemRect().left, item.left + origin.x());
    EXPECT_EQ(top.GetMenuBarItemRect().bottom, item.bottom + origin.y());

    f.wizards->GetSafeHmenu()->hide();
    EXPECT_EQ(f.help->OpenPopupCount(), 0);
    EXPECT_EQ(top.OpenPopupCount(), 1);
    f.help->GetSafeHmenu()->hide();
    EXPECT_EQ(top.OpenPopupCount(), 0);
    EXPECT_EQ(CNewMenuHook::ShowingCount(), 0);

    // Selected with no popup open: hot, in the selection colour framed in
    // the highlight, no shadow.
    QStyleOptionMenuItem opt;
    opt.initFrom(f.bar);
    opt.rect = item.ToQRect();
    opt.state = QStyle::State_Enabled | QStyle::State_Selected;
    opt.menuItemType = QStyleOptionMenuItem::Normal;
    opt.text = f.helpAction->text();
    image = QImage(f.bar->size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    {
        QPainter p(&image);
        f.bar->style()->drawControl(QStyle::CE_MenuBarItem, &opt, &p, f.bar);
    }
    EXPECT_EQ(Px(image, item.left, item.top + 5), Sys(KV_COLOR_HIGHLIGHT));
    EXPECT_EQ(Px(image, item.left + 2, item.top + 2), GetXPSelectionColor());
    EXPECT_EQ(Px(image, item.right - 1, item.top + 10), barColour);
}

// With the flat XP border the popup covers the bottom line of its bar item
// and shows no frame line where they touch.
TEST_F(Looks, FlatPopupJoinsItsOpenBarItem)
{
    CNewMenu::SetDrawStyle(2);
    OpenFrame f;
    ASSERT_TRUE(f.Open());
    const KV_Rect item = f.HelpItem();
    f.bar->grab(); // the bar records its open item
    QMenu* popup = f.help->GetSafeHmenu();
    const QPoint barOrigin = f.bar->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(popup->geometry().top(), item.bottom - 1 + barOrigin.y());
    const QImage image = popup->grab().toImage();
    const KV_COLORREF frameColour = DarkenColor(128, MenuBarColor());
    const KV_COLORREF join = MixColors86(MenuBarColor(), Sys(KV_COLOR_WINDOW));
    const int itemLeft = item.left + barOrigin.x() - popup->geometry().left();
    EXPECT_EQ(Px(image, itemLeft, 0), frameColour);
    EXPECT_EQ(Px(image, itemLeft + 1, 0), join);
    EXPECT_EQ(Px(image, itemLeft + item.Width() - 2, 0), join);
    EXPECT_EQ(Px(image, itemLeft + item.Width() - 1, 0), frameColour);
    EXPECT_EQ(Px(image, image.width() - 1, 0), frameColour);
    f.wizards->GetSafeHmenu()->hide();
    popup->hide();
}

} // namespace
