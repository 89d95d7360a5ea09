// The resource tables hang together: every picture a toolbar or window asks
// for exists with the size its users cut it into, every command has a name.
#include "res/resources.h"

#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace {

int Buttons(const kvres::ToolBar& bar)
{
    int n = 0;
    for (uint16_t id : bar.items) {
        n += id != 0 ? 1 : 0;
    }
    return n;
}

TEST(Resources, ToolBarStripsHoldOnePicturePerButton)
{
    struct Case
    {
        uint32_t toolbar;
        uint32_t normal;
        uint32_t disabled;
    };
    // The strip of the toolbar's own id, and the normal and disabled strips
    // its window sets (0: none).
    const Case cases[] = {{109, 32, 33}, {111, 34, 35}, {113, 36, 37}, {114, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.toolbar);
        const kvres::ToolBar* bar = kvres::FindToolBar(c.toolbar);
        ASSERT_NE(bar, nullptr);
        for (uint32_t bitmap : {c.toolbar, c.normal, c.disabled}) {
            if (bitmap == 0) {
                continue;
            }
            const QImage strip = kvres::LoadBitmap(bitmap);
            ASSERT_FALSE(strip.isNull()) << bitmap;
            EXPECT_EQ(strip.height(), bar->height) << bitmap;
            EXPECT_EQ(strip.width(), bar->width * Buttons(*bar)) << bitmap;
            // Transparent colour of the strips in the top-left corner.
            EXPECT_EQ(strip.pixel(0, 0) & 0xFFFFFFu, 0xD3D3CEu) << bitmap;
        }
        for (uint16_t id : bar->items) {
            if (id != 0) {
                EXPECT_FALSE(kvres::CommandName(id).startsWith("cmd_")) << id;
            }
        }
    }
    EXPECT_EQ(kvres::FindToolBar(110), nullptr);
}

TEST(Resources, PicturesAndIconsOfTheWindowsExist)
{
    struct Case
    {
        uint32_t id;
        int width;
        int height;
    };
    const Case bitmaps[] = {{3, 16, 16},  {4, 16, 16},  {5, 16, 16},  {6, 10, 10},  {7, 10, 10},
                            {14, 16, 16}, {15, 16, 16}, {16, 16, 16}, {17, 16, 16}, {18, 16, 12},
                            {19, 16, 12}, {20, 16, 12}, {22, 16, 12}, {24, 16, 12}, {25, 16, 12},
                            {26, 16, 12}, {27, 16, 12}, {29, 16, 12}};
    for (const Case& c : bitmaps) {
        SCOPED_TRACE(c.id);
        const QImage bmp = kvres::LoadBitmap(c.id);
        ASSERT_FALSE(bmp.isNull());
        EXPECT_EQ(bmp.size(), QSize(c.width, c.height));
    }
    for (uint32_t id = 8; id <= 12; ++id) {
        EXPECT_FALSE(kvres::LoadBitmap(id).isNull()) << id;
    }
    for (uint32_t id : {96u, 97u, 98u, 99u, 100u, 101u, 102u, 103u, 104u, 105u, 106u, 107u, 111u}) {
        EXPECT_FALSE(kvres::LoadIcon(id).isNull()) << id;
    }
    EXPECT_TRUE(kvres::LoadBitmap(4242).isNull());
    EXPECT_TRUE(kvres::LoadIcon(4242).isNull());
}

TEST(Resources, MenusNameEveryCommandAndAcceleratorsPointIntoThem)
{
    QSet<uint32_t> inMenus;
    std::function<void(const kvres::MenuItem&)> walk = [&](const kvres::MenuItem& item) {
        for (const kvres::MenuItem& child : item.items) {
            if (child.popup) {
                EXPECT_FALSE(child.text.isEmpty());
                walk(child);
            } else if (child.id != 0) {
                EXPECT_FALSE(kvres::CommandName(child.id).startsWith("cmd_")) << child.id;
                inMenus.insert(child.id);
            }
        }
    };
    for (uint32_t id : {109u, 110u, 111u, 112u}) {
        const kvres::MenuItem* menu = kvres::FindMenu(id);
        ASSERT_NE(menu, nullptr) << id;
        walk(*menu);
    }
    const std::vector<kvres::Accelerator>* keys = kvres::FindAccelerators(109);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys->size(), 22u);
    for (const kvres::Accelerator& a : *keys) {
        // Only new and save of the shell's standard commands have no item.
        if (a.command != 57600 && a.command != 57603) {
            EXPECT_TRUE(inMenus.contains(a.command)) << a.command;
        }
    }
}

TEST(Resources, StringsOfTheShell)
{
    EXPECT_EQ(kvres::LoadString(57345), "Ready");
    EXPECT_EQ(kvres::LoadString(121), "Are you sure you want to quit the application ?");
    for (uint32_t id = 115; id <= 121; ++id) {
        EXPECT_FALSE(kvres::LoadString(id).isEmpty()) << id;
    }
    EXPECT_EQ(kvres::LoadString(32811).size(), 22);
    EXPECT_EQ(kvres::LoadString(32812).size(), 23);
    EXPECT_EQ(kvres::LoadString(57634), "Copy the selection and put it on the Clipboard\nCopy");
    EXPECT_TRUE(kvres::LoadString(4242).isEmpty());
    EXPECT_EQ(kvres::CommandName(57634), "edit_copy");
    EXPECT_EQ(kvres::CommandName(4242), "cmd_4242");
}

} // namespace
