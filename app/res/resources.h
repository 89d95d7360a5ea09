#ifndef KIVREL_RES_RESOURCES_H
#define KIVREL_RES_RESOURCES_H

// The program's resource tables: menus, accelerator tables, toolbars, the
// string table, bitmaps and icons, each keyed by its numeric resource id as
// the windows that load them name it. Everything here is read-only data
// built on first use; call from the user-interface thread.

#include <QIcon>
#include <QImage>
#include <QKeyCombination>
#include <QString>
#include <cstdint>
#include <vector>

namespace kvres {

// One item of a menu resource: a command (id not 0), a separator (id 0,
// no items, empty text) or a popup (popup true, its items below).
struct MenuItem
{
    QString text;
    uint32_t id = 0;
    bool popup = false;
    std::vector<MenuItem> items;
};

// The menu resource of that id (its items are the menu bar's popups, or a
// context menu's popups), or null when there is none.
const MenuItem* FindMenu(uint32_t id);

struct Accelerator
{
    QKeyCombination key;
    uint32_t command = 0;
};

// The accelerator table of that id, or null.
const std::vector<Accelerator>* FindAccelerators(uint32_t id);

// A toolbar resource: the bitmap strip of the same id holds one image of
// width x height per button that is not a separator (0 in items).
struct ToolBar
{
    uint32_t id = 0;
    int width = 16;
    int height = 16;
    std::vector<uint16_t> items;
};

// The toolbar resource of that id, or null.
const ToolBar* FindToolBar(uint32_t id);

// The string of that id; empty when the table has none (as LoadString
// reports failure, callers test isEmpty()).
QString LoadString(uint32_t id);

// The bitmap of that id as stored (masked strips keep their mask colour;
// the loader decides what is transparent); a null image when there is none.
QImage LoadBitmap(uint32_t id);

// The icon of that id, or a null icon when there is none.
QIcon LoadIcon(uint32_t id);

// The stable name of a command id, used as the objectName of every QAction
// of that command ("edit_copy" for 57634); "cmd_<id>" for an id the table
// does not name.
QString CommandName(uint32_t id);

} // namespace kvres

#endif
