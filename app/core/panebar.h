#ifndef KIVREL_CORE_PANEBAR_H
#define KIVREL_CORE_PANEBAR_H

// The rules of a browse pane's caption bar that do not need a window: where
// the drop-down button sits, which form of the current folder fits, the
// drive list of the folder menu, and the button's press-and-release.
// Any thread.

#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// Ids of the folder menu's items: one per entry from the first, and no more
// entries than the ids the browse window handles.
constexpr uint32_t kFolderCmdFirst = 35000;
constexpr uint32_t kFolderCmdLast = 35100;

// The drop-down button: the scroll-bar arrow's size `w` x `h`, at the right
// end of `client`, vertically centred, one pixel in from the right and
// bottom edges.
QRect PaneBarButtonRect(const QRect& client, int w, int h);

// The first of the folder's forms (longest first) that fits in `width`
// pixels once framed as "[ %s ]"; `form(i)` gives form i, and an empty form
// or "..." ends the list. `measure` gives a text's width. Empty when none
// fits or `width` is not positive.
QString PaneBarFolderText(const std::function<QString(uint32_t)>& form,
                          const std::function<int(const QString&)>& measure, int width);

struct PaneBarVolume
{
    QString path; // where it is mounted
    QString name; // what the menu shows
};

struct PaneBarItem
{
    uint32_t id;
    QString path;
    QString name;
};

// The folder menu's items: volumes with both a path and a name, numbered
// from kFolderCmdFirst, stopping at kFolderCmdLast.
std::vector<PaneBarItem> PaneBarFolderItems(const std::vector<PaneBarVolume>& volumes);

// The drop-down button held by the mouse: pressed inside it, it shows the
// menu only when released inside it without having left it.
class PaneBarButtonState
{
public:
    // Whether the press took the button.
    bool Press(bool inside);
    // Whether the button's look changed (it was let go by leaving it).
    bool Move(bool inside);
    // Whether the menu is to be shown.
    bool Release(bool inside);
    bool Pressed() const { return pressed; }

private:
    bool pressed = false;
};

#endif
