#include "menus/menufind.h"

#include "menus/newmenu.h"

CNewMenu* FindMenuByText(CNewMenu* menu, const QString& text, uint32_t* position, bool deep)
{
    if (menu == nullptr) {
        return nullptr;
    }
    for (int pos = 0; pos < menu->GetMenuItemCount(); ++pos) {
        QString itemText;
        menu->GetItemText(static_cast<quintptr>(pos), itemText, MF_BYPOSITION);
        itemText.truncate(1024);
        CNewMenu* sub = menu->GetSubMenu(pos);
        CNewMenu* found = nullptr;
        if (itemText == text) {
            if (position != nullptr) {
                *position = static_cast<uint32_t>(pos);
                found = deep ? menu : sub;
            } else {
                found = sub;
            }
        } else if (sub != nullptr && deep) {
            found = FindMenuByText(sub, text, position, true);
        }
        if (found != nullptr) {
            return found;
        }
    }
    return nullptr;
}

CNewMenu* FindMenuById(CNewMenu* menu, uint32_t id)
{
    if (menu == nullptr) {
        return nullptr;
    }
    for (int pos = 0; pos < menu->GetMenuItemCount(); ++pos) {
        if (menu->GetSubMenuHandle(pos) != nullptr) {
            if (CNewMenu* found = FindMenuById(menu->GetSubMenu(pos), id)) {
                return found;
            }
        } else if (menu->GetMenuItemID(pos) == id) {
            return menu;
        }
    }
    return nullptr;
}

bool DeleteSubMenu(CNewMenu* menu, QMenu* submenu)
{
    if (menu == nullptr || submenu == nullptr) {
        return false;
    }
    for (int pos = 0; pos < menu->GetMenuItemCount(); ++pos) {
        QMenu* sub = menu->GetSubMenuHandle(pos);
        if (sub == nullptr) {
            continue;
        }
        if (sub == submenu) {
            menu->DeleteItemById(static_cast<quintptr>(pos), MF_BYPOSITION);
            return true;
        }
        if (DeleteSubMenu(menu->GetSubMenu(pos), submenu)) {
            return true;
        }
    }
    return false;
}

bool SetMenuItemText(CNewMenu* menu, QMenu* submenu, const QString& text)
{
    if (menu == nullptr || submenu == nullptr) {
        return false;
    }
    for (int pos = 0; pos < menu->GetMenuItemCount(); ++pos) {
        QMenu* sub = menu->GetSubMenuHandle(pos);
        if (sub == nullptr) {
            continue;
        }
        if (sub == submenu) {
            QString current;
            menu->GetItemText(static_cast<quintptr>(pos), current, MF_BYPOSITION);
            if (current != text) {
                menu->SetItemText(static_cast<quintptr>(pos), text, MF_BYPOSITION);
            }
            return true;
        }
        if (SetMenuItemText(menu->GetSubMenu(pos), submenu, text)) {
            return true;
        }
    }
    return false;
}
