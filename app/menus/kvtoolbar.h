#ifndef KIVREL_MENUS_KVTOOLBAR_H
#define KIVREL_MENUS_KVTOOLBAR_H

// The toolbar of the program's frames. Its buttons are the commands' actions
// of the window that holds it (CCommandLayer), so a button runs and is
// enabled like the menu item of the same command; it also lends its
// pictures to the window's menus. User-interface thread only.

#include "menus/menucolors.h"

#include <QImage>
#include <QList>
#include <QToolBar>
#include <array>
#include <cstdint>

class CNewMenu;

class CKVToolBar : public QToolBar
{
    Q_OBJECT
public:
    // The colour of the toolbar strips that is transparent.
    static constexpr KV_COLORREF kMaskColor = KV_RGB(211, 211, 206);

    explicit CKVToolBar(QWidget* parent = nullptr);

    // Makes the buttons of the toolbar resource (0 items become separators);
    // false when there is no such resource.
    bool LoadToolBar(uint32_t resourceId);
    // The pictures of the buttons other than separators, in order, from the
    // normal and the disabled strip (16 x 16 images); false when the normal
    // strip does not load.
    bool SetBitmaps(uint32_t normalId, uint32_t disabledId);
    // Gives the menu's items of the buttons' commands the buttons'
    // pictures. The description of the buttons is made on the first call
    // and kept.
    void AddMenuImages(CNewMenu* menu);
    // The command ids of the buttons in order, 0 for separators.
    QList<uint32_t> ButtonIds() const;

private:
    QList<QImage> normal_;
    QList<QImage> disabled_;
    // Bitmap id, 16, 16, the command ids of the buttons, 0; word 0 is 0
    // until built.
    std::array<uint16_t, 1024> menu_images_{};
    uint32_t bitmap_id_ = 0;
};

#endif
