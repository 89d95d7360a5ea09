// Colour arithmetic and the icon objects of the menu library.
#include "menus/menucolors.h"
#include "menus/newmenuicons.h"
#include "res/resources.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace {

TEST(MenuColors, ChannelArithmetic)
{
    struct Case
    {
        const char* what;
        KV_COLORREF got;
        KV_COLORREF want;
    };
    const Case cases[] = {
        {"shadow of white", ShadowColor(KV_RGB(255, 255, 255)), KV_RGB(179, 179, 217)},
        {"shadow of black keeps blue's lift", ShadowColor(KV_RGB(0, 0, 0)), KV_RGB(0, 0, 39)},
        {"darken 30 of 200", DarkenColor(30, KV_RGB(200, 200, 200)), KV_RGB(176, 176, 176)},
        {"darken 0 keeps", DarkenColor(0, KV_RGB(1, 128, 255)), KV_RGB(1, 128, 255)},
        {"lighten 100 of 100", LightenColor(100, KV_RGB(100, 100, 100)), KV_RGB(161, 161, 161)},
        {"lighten 255 is white", LightenColor(255, KV_RGB(0, 77, 200)), KV_RGB(255, 255, 255)},
        // 255*86/100 = 219.3 and 0*14/100: channels kept apart, red low.
        {"mix 86/14", MixColors86(KV_RGB(255, 0, 0), KV_RGB(0, 0, 255)), KV_RGB(219, 0, 36)},
        // 5*7/10 = 3.5 and 5*3/10 = 1.5 each round up by themselves: 4 + 2.
        {"mix 70/30 rounds each product", MixColors70(KV_RGB(5, 5, 5), KV_RGB(5, 5, 5)),
         KV_RGB(6, 6, 6)},
        {"grey", GrayColor(KV_RGB(10, 20, 31)), KV_RGB(20, 20, 20)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.got, c.want);
    }
    EXPECT_EQ(KV_MulDiv(3, 1, 2), 2);
    EXPECT_EQ(KV_MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(KV_MulDiv(7, 1, 0), -1);
}

// A strip of n 16 x 16 images on the toolbar mask colour, image k filled
// with a colour of its own in its middle.
QImage Strip(int n, int height = 16)
{
    QImage strip(16 * n, height, QImage::Format_ARGB32);
    strip.fill(QColor(211, 211, 206));
    QPainter p(&strip);
    for (int k = 0; k < n; ++k) {
        p.fillRect(16 * k + 4, 4, 8, 8, QColor(40 * k, 200 - 30 * k, 90));
    }
    return strip;
}

TEST(MenuIcons, ToolBarWithSeparatorsGivesThreeImagesPerButton)
{
    const kvres::ToolBar bar{0, 16, 16, {101, 102, 0, 103, 104, 0, 105}};
    CNewMenuIcons icons;
    ASSERT_TRUE(icons.LoadToolBar(bar, Strip(5)));
    EXPECT_EQ(icons.Ids(), (QList<uint32_t>{101, 102, 103, 104, 105}));
    EXPECT_EQ(icons.ImageCount(), 15);
    EXPECT_EQ(icons.FindIndex(103), 6);
    EXPECT_EQ(icons.FindIndex(999), -1);
    EXPECT_EQ(icons.IconSize(), QSize(16, 16));

    // The strip's mask colour (its top-left pixel by default) is transparent
    // in all three images; the shaded image is darker than the normal one.
    CNewMenuIcons masked;
    const uint16_t data[] = {32, 16, 16, 57635, 57634, 0};
    ASSERT_TRUE(masked.LoadToolBar(data, KV_CLR_DEFAULT));
    ASSERT_EQ(masked.ImageCount(), 3 * kvres::LoadBitmap(32).width() / 16);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(qAlpha(masked.Image(i).pixel(0, 0)), 0) << i;
    }
    const QImage normal = icons.Image(0);
    const QImage shaded = icons.Image(1);
    EXPECT_LT(qGreen(shaded.pixel(8, 8)), qGreen(normal.pixel(8, 8)));
}

TEST(MenuIcons, ToolBarDataMatchesOnlyWithItsMaskColour)
{
    const uint16_t data[] = {32, 16, 16, 57635, 57634, 57637, 0};
    CNewMenuIcons icons;
    ASSERT_TRUE(icons.LoadToolBar(data, KV_CLR_DEFAULT));
    EXPECT_TRUE(icons.MatchToolBarData(data, KV_CLR_DEFAULT));
    EXPECT_FALSE(icons.MatchToolBarData(data, KV_RGB(211, 211, 206)));
    const uint16_t shorter[] = {32, 16, 16, 57635, 0};
    EXPECT_FALSE(icons.MatchToolBarData(shorter, KV_CLR_DEFAULT));
    const uint16_t other[] = {34, 16, 16, 57635, 57634, 57637, 0};
    EXPECT_FALSE(icons.MatchToolBarData(other, KV_CLR_DEFAULT));
}

TEST(MenuIcons, BitmapsRefuseAnotherSizeAndReplaceAPresentId)
{
    CNewMenuBitmaps bitmaps;
    QImage a(16, 15, QImage::Format_ARGB32);
    a.fill(Qt::red);
    QImage b(16, 15, QImage::Format_ARGB32);
    b.fill(Qt::blue);
    QImage big(20, 20, QImage::Format_ARGB32);
    big.fill(Qt::green);

    EXPECT_EQ(bitmaps.AddIcon(a, 7), 0);
    EXPECT_EQ(bitmaps.AddIcon(b, 8), 3);
    EXPECT_EQ(bitmaps.AddIcon(big, 9), -1);
    EXPECT_EQ(bitmaps.AddBitmap(20, KV_RGB(255, 255, 255)), -1); // 16 x 12
    EXPECT_EQ(bitmaps.ImageCount(), 6);

    // Id 7 again: its three images are replaced, the ids stay as they were.
    EXPECT_EQ(bitmaps.AddIcon(b, 7), 0);
    EXPECT_EQ(bitmaps.Ids(), (QList<uint32_t>{7, 8}));
    EXPECT_EQ(bitmaps.ImageCount(), 6);
    EXPECT_EQ(bitmaps.Image(0).pixel(1, 1), b.pixel(1, 1));

    // A bitmap resource already present answers its index without loading.
    CNewMenuBitmaps list;
    EXPECT_EQ(list.AddBitmap(20, KV_RGB(255, 255, 255)), 0);
    EXPECT_EQ(list.AddBitmap(24, KV_RGB(255, 255, 255)), 3);
    EXPECT_EQ(list.AddBitmap(20, KV_RGB(255, 255, 255)), 0);
    EXPECT_EQ(list.AddBitmap(96000, KV_RGB(255, 255, 255)), -1);
}

} // namespace
