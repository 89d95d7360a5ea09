#ifndef KIVREL_MENUS_MENUFIND_H
#define KIVREL_MENUS_MENUFIND_H

// Searching and editing a CNewMenu tree by text, command id or submenu.
// Submenus are searched only where they are CNewMenus; a null menu finds
// nothing. User-interface thread only.

#include <QString>
#include <cstdint>

class CNewMenu;
class QMenu;

// Walks the items from position 0 comparing each item text with text
// (case-sensitive). On a match with a position pointer: the position is
// stored and the result is the searched menu when deep, else the item's
// submenu; without one the result is the item's submenu. A non-matching
// submenu is searched (deep) when deep. Null when nothing is found.
CNewMenu* FindMenuByText(CNewMenu* menu, const QString& text, uint32_t* position, bool deep);
// The innermost menu that holds the command, or null.
CNewMenu* FindMenuById(CNewMenu* menu, uint32_t id);
// Deletes the popup item of that submenu, wherever it sits; whether it was
// found.
bool DeleteSubMenu(CNewMenu* menu, QMenu* submenu);
// Gives the popup item of that submenu the text when it differs; whether
// the popup was found.
bool SetMenuItemText(CNewMenu* menu, QMenu* submenu, const QString& text);

#endif
