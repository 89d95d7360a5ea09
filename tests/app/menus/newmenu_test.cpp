// The menu object: loading, conversion, item operations and teardown.
#include "menus/menufind.h"
#include "menus/newmenu.h"
#include "menus/newmenuicons.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <gtest/gtest.h>

namespace {

CNewMenuItemData* DataOf(CNewMenu& menu, quintptr id)
{
    int pos = -1;
    CNewMenu* holder = menu.FindItemHolder(id, pos);
    if (holder == nullptr || pos >= holder->ItemDataList().size()) {
        return nullptr;
    }
    return holder->ItemDataList()[pos];
}

QStringList Texts(const CNewMenu& menu)
{
    QStringList texts;
    for (const CNewMenuItemData* data : menu.ItemDataList()) {
        texts << data->text;
    }
    return texts;
}

// A plain popup: "&File" 1, separator, "&Find" 2, "&Go" 3.
QMenu* PlainPopup()
{
    auto* menu = new QMenu;
    menu->addAction(QStringLiteral("&File"))->setData(1u);
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Find\tCtrl+F"))->setData(2u);
    menu->addAction(QStringLiteral("&Go"))->setData(3u);
    return menu;
}

TEST(NewMenu, LoadsAResourceAsABarOfConvertedPopups)
{
    CNewMenu bar;
    ASSERT_TRUE(bar.LoadMenu(109));
    EXPECT_FALSE(bar.IsPopup());
    EXPECT_EQ(Texts(bar), (QStringList{"&File", "&Edit", "&Data Source", "&View", "&Help"}));
    CNewMenu* edit = bar.GetSubMenu(1);
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->IsPopup());
    EXPECT_EQ(edit->GetParentMenu(), bar.GetSafeHmenu());
    EXPECT_EQ(edit->GetMenuItemID(2), 57635u);
    EXPECT_EQ(edit->GetMenuItemID(1), 0u); // separator
    const CNewMenuItemData* copy = DataOf(bar, 57634);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text, "&Copy\tCtrl+C");
    EXPECT_TRUE(copy->flags & MF_OWNERDRAW);
    EXPECT_EQ(copy->icon_index, -1);
    // Every item is an action named after its command.
    EXPECT_NE(edit->GetSafeHmenu()->findChild<QAction*>("edit_copy"), nullptr);
    EXPECT_FALSE(bar.LoadMenu(4242));
}

TEST(NewMenu, SecondConversionKeepsTextsIconsAndDropsWhatLeft)
{
    CNewMenu menu;
    ASSERT_TRUE(menu.LoadMenu(PlainPopup()));
    const uint16_t toolbar[] = {32, 16, 16, 57635, 2, 3, 0};
    ASSERT_TRUE(menu.AddToolBarIcons(toolbar));
    CNewMenuItemData* find = DataOf(menu, 2);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->icon_index, 3);
    CNewMenuIcons* icons = find->icons;
    ASSERT_NE(icons, nullptr);
    EXPECT_EQ(icons->RefCount(), 2); // the items of 2 and 3
    EXPECT_FALSE(menu.ItemAction(2)->icon().isNull());

    // Item 1 leaves the menu behind the library's back; the next conversion
    // (before the popup opens) drops its item data and keeps the others.
    delete menu.ItemAction(0);
    menu.ConvertMenuItems();
    EXPECT_EQ(Texts(menu), (QStringList{"", "&Find\tCtrl+F", "&Go"}));
    EXPECT_EQ(menu.ItemDataList()[1], find);
    EXPECT_EQ(find->icon_index, 3);
    EXPECT_EQ(find->icons, icons);
    EXPECT_EQ(DataOf(menu, 3)->icon_index, 6);
}

TEST(NewMenu, AppendAndInsertMakeOwnerDrawnItems)
{
    CNewMenu menu;
    ASSERT_TRUE(menu.LoadMenu(PlainPopup()));
    ASSERT_TRUE(menu.AppendItem(QStringLiteral("ignored"), MF_STRING, 0));
    QAction* sep = menu.ItemAction(4);
    ASSERT_NE(sep, nullptr);
    EXPECT_TRUE(sep->isSeparator());
    EXPECT_EQ(menu.ItemDataList()[4]->flags, MF_OWNERDRAW | MF_SEPARATOR);

    ASSERT_TRUE(menu.InsertItemWithIcon(static_cast<quintptr>(-1), QStringLiteral("&Last"),
                                        MF_BYPOSITION, 7, -1));
    EXPECT_EQ(menu.GetMenuItemCount(), 6);
    EXPECT_EQ(menu.GetMenuItemID(5), 7u);
    EXPECT_EQ(menu.ItemDataList()[5]->icon_index, -1);

    ASSERT_TRUE(menu.InsertItemWithIcon(1, QStringLiteral("&Second"), MF_BYPOSITION, 8, -1));
    EXPECT_EQ(menu.GetMenuItemID(1), 8u);
    EXPECT_EQ(menu.ItemDataList()[1]->text, "&Second");

    // By command: inserted in front of the item that holds the id.
    ASSERT_TRUE(menu.InsertItemWithIcon(3, QStringLiteral("&Before go"), MF_BYCOMMAND, 9, -1));
    int pos = -1;
    EXPECT_EQ(menu.FindItemHolder(9, pos), &menu);
    EXPECT_EQ(menu.GetMenuItemID(pos + 1), 3u);
    EXPECT_FALSE(menu.InsertItemWithIcon(4242, QStringLiteral("x"), MF_BYCOMMAND, 10, -1));

    // An icon id naming a toolbar that holds the command gives its picture.
    ASSERT_TRUE(menu.InsertItemWithIcon(static_cast<quintptr>(-1), QStringLiteral("&Quick"),
                                        MF_BYPOSITION, 32821, 111));
    const CNewMenuItemData* quick = DataOf(menu, 32821);
    ASSERT_NE(quick, nullptr);
    EXPECT_EQ(quick->icon_index, 0);
    // Otherwise the bitmap of that id.
    ASSERT_TRUE(menu.InsertItemWithIcon(static_cast<quintptr>(-1), QStringLiteral("&Lamp"),
                                        MF_BYPOSITION, 11, 24));
    EXPECT_GE(DataOf(menu, 11)->icon_index, 0);
    EXPECT_EQ(menu.IconBoxWidth(), 16);
}

TEST(NewMenu, KeyboardShortcutFindsTheAmpersandLetterInAnyCase)
{
    CNewMenu menu;
    ASSERT_TRUE(menu.LoadMenu(PlainPopup()));
    ASSERT_TRUE(menu.AppendItem(QStringLiteral("&fetch"), MF_STRING, 4));
    QMenu* m = menu.GetSafeHmenu();
    EXPECT_EQ(CNewMenu::FindKeyboardShortcut('F', 0, m), (KV_MNC_EXECUTE << 16) | 0u);
    EXPECT_EQ(CNewMenu::FindKeyboardShortcut('f', 0, m), (KV_MNC_EXECUTE << 16) | 0u);
    EXPECT_EQ(CNewMenu::FindKeyboardShortcut('g', 0, m), (KV_MNC_EXECUTE << 16) | 3u);
    // "&Find" holds an "i" but not after the ampersand.
    EXPECT_EQ(CNewMenu::FindKeyboardShortcut('i', 0, m), 0u);
    QMenu plain;
    plain.addAction(QStringLiteral("&File"));
    EXPECT_EQ(CNewMenu::FindKeyboardShortcut('f', 0, &plain), 0u);
}

TEST(NewMenu, TextsByPositionAndById)
{
    CNewMenu bar;
    ASSERT_TRUE(bar.LoadMenu(111));
    QString text;
    ASSERT_TRUE(bar.GetItemText(57665, text, MF_BYCOMMAND));
    EXPECT_EQ(text, "E&xit");
    ASSERT_TRUE(bar.SetItemText(57665, QStringLiteral("&Quit"), MF_BYCOMMAND));
    ASSERT_TRUE(bar.GetItemText(57665, text, MF_BYCOMMAND));
    EXPECT_EQ(text, "&Quit");
    EXPECT_EQ(FindMenuById(&bar, 57665)->ItemAction(9)->text(), "&Quit");
    EXPECT_FALSE(bar.GetItemText(4242, text, MF_BYCOMMAND));
    EXPECT_FALSE(bar.SetItemText(99, QStringLiteral("x"), MF_BYPOSITION));

    ASSERT_TRUE(bar.SetItemCommandId(57665, 57666 + 1000));
    EXPECT_EQ(DataOf(bar, 57666 + 1000)->text, "&Quit");
    EXPECT_EQ(DataOf(bar, 57665), nullptr);
    EXPECT_FALSE(bar.SetItemCommandId(4242, 1));
}

TEST(NewMenu, DeleteByIdRemovesEveryItemOfTheId)
{
    CNewMenu menu;
    ASSERT_TRUE(menu.LoadMenu(PlainPopup()));
    ASSERT_TRUE(menu.AppendItem(QStringLiteral("Again"), MF_STRING, 3));
    ASSERT_EQ(menu.ItemDataList().size(), 5);
    // Two adjacent items of id 3: each deletion takes every item data of
    // the id with it.
    ASSERT_TRUE(menu.DeleteItemById(3, MF_BYCOMMAND));
    EXPECT_EQ(menu.GetMenuItemCount(), 4);
    EXPECT_EQ(menu.ItemDataList().size(), 3);
    ASSERT_TRUE(menu.DeleteItemById(3, MF_BYCOMMAND));
    EXPECT_EQ(menu.GetMenuItemCount(), 3);
    EXPECT_EQ(menu.ItemDataList().size(), 3);
    EXPECT_FALSE(menu.DeleteItemById(3, MF_BYCOMMAND));

    // Remove takes only the first item data of the id.
    ASSERT_TRUE(menu.AppendItem(QStringLiteral("Twice"), MF_STRING, 2));
    ASSERT_TRUE(menu.RemoveItemById(2, MF_BYCOMMAND));
    EXPECT_EQ(menu.ItemDataList().size(), 3);
    EXPECT_EQ(menu.ItemDataList().back()->text, "Twice");

    // A separator by position.
    ASSERT_TRUE(menu.DeleteItemById(1, MF_BYPOSITION));
    EXPECT_EQ(menu.GetMenuItemCount(), 2);
    EXPECT_EQ(Texts(menu), (QStringList{"&File", "Twice"}));
}

TEST(NewMenu, TeardownOfNestedMenusFreesEachObjectOnce)
{
    QPointer<QMenu> top;
    QPointer<QMenu> help;
    QPointer<QMenu> wizards;
    {
        CNewMenu bar;
        ASSERT_TRUE(bar.LoadMenu(109));
        top = bar.GetSafeHmenu();
        CNewMenu* h = bar.GetSubMenu(4);
        ASSERT_NE(h, nullptr);
        help = h->GetSafeHmenu();
        CNewMenu* w = h->GetSubMenu(4);
        ASSERT_NE(w, nullptr);
        wizards = w->GetSafeHmenu();
        EXPECT_EQ(w->GetParentMenu(), help.data());
        const uint16_t toolbar[] = {113, 16, 16, 32851, 32852, 0};
        ASSERT_TRUE(bar.AddToolBarIcons(toolbar));
        EXPECT_EQ(DataOf(bar, 32852)->icon_index, 3);

        // A popup deleted through the item operations goes with its CNewMenu.
        QPointer<QMenu> right = bar.GetSubMenu(3)->GetSubMenuHandle(9);
        ASSERT_NE(right, nullptr);
        ASSERT_TRUE(DeleteSubMenu(&bar, right));
        EXPECT_EQ(right, nullptr);
        EXPECT_EQ(FindMenuById(&bar, 32837), nullptr);
    }
    // Sanitizers report a second deletion or a leak of any menu object or
    // item data; the menus themselves are gone.
    EXPECT_EQ(top, nullptr);
    EXPECT_EQ(help, nullptr);
    EXPECT_EQ(wizards, nullptr);
    EXPECT_EQ(CNewMenu::FromHandle(wizards), nullptr);
}

TEST(NewMenu, UnknownDrawStyleChangesNothing)
{
    const int before = CNewMenu::SetDrawStyle(3);
    EXPECT_GE(before, 0);
    EXPECT_EQ(CNewMenu::SetDrawStyle(9), -1);
    EXPECT_EQ(CNewMenu::GetDrawStyle(), 3);
    EXPECT_EQ(CNewMenu::SetDrawStyle(6), 3);
    EXPECT_EQ(CNewMenu::SetDrawStyle(3), 6);
    EXPECT_EQ(CNewMenu::SetSelectionMode(0), 1);
    EXPECT_EQ(CNewMenu::SetSelectionMode(1), 0);
}

TEST(MenuFind, ByTextByIdAndBySubmenu)
{
    CNewMenu bar;
    ASSERT_TRUE(bar.LoadMenu(111));

    // With a position and not deep: the submenu of a top-level item.
    uint32_t pos = 99;
    CNewMenu* tree = FindMenuByText(&bar, QStringLiteral("&Tree"), &pos, false);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(tree->GetMenuItemID(0), 32786u);
    // Not deep: a nested popup is not found; case matters.
    EXPECT_EQ(FindMenuByText(&bar, QStringLiteral("N&ew"), &pos, false), nullptr);
    EXPECT_EQ(FindMenuByText(&bar, QStringLiteral("&tree"), nullptr, true), nullptr);
    // Without a position and deep: a popup at any depth.
    CNewMenu* all = FindMenuByText(&bar, QStringLiteral("&All requests"), nullptr, true);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->GetMenuItemID(0), 32824u);
    // With a position and deep: the menu that holds the item.
    CNewMenu* holder = FindMenuByText(&bar, QStringLiteral("&All requests"), &pos, true);
    EXPECT_EQ(holder, FindMenuByText(&bar, QStringLiteral("Re&quest"), nullptr, false));
    EXPECT_EQ(pos, 12u);
    // A command item matched without a position pointer gives no submenu:
    // the walk goes on and finds nothing.
    EXPECT_EQ(FindMenuByText(&bar, QStringLiteral("E&xit"), nullptr, true), nullptr);
    EXPECT_EQ(FindMenuByText(nullptr, QStringLiteral("&Tree"), nullptr, true), nullptr);

    // The innermost menu that holds a command.
    EXPECT_EQ(FindMenuById(&bar, 32790),
              FindMenuByText(&bar, QStringLiteral("N&ew"), nullptr, true));
    EXPECT_EQ(FindMenuById(&bar, 32786), tree);
    EXPECT_EQ(FindMenuById(&bar, 4242), nullptr);

    // Renaming a popup: the same text changes nothing and still succeeds.
    QMenu* requests = bar.GetSubMenuHandle(4);
    EXPECT_TRUE(SetMenuItemText(&bar, requests, QStringLiteral("Re&quest")));
    EXPECT_TRUE(SetMenuItemText(&bar, all->GetSafeHmenu(), QStringLiteral("Every request")));
    EXPECT_NE(FindMenuByText(&bar, QStringLiteral("Every request"), nullptr, true), nullptr);
    QMenu stranger;
    EXPECT_FALSE(SetMenuItemText(&bar, &stranger, QStringLiteral("x")));
    EXPECT_FALSE(DeleteSubMenu(&bar, &stranger));
}

} // namespace
