#ifndef KIVREL_MENUS_NEWMENUICONS_H
#define KIVREL_MENUS_NEWMENUICONS_H

// Icon objects of the menu library: the pictures that menu items show, taken
// from toolbar strips (CNewMenuIcons) or added one by one (CNewMenuBitmaps).
// Every command owns three images side by side: normal at 3k, shaded
// (darker) at 3k + 1 and disabled (washed out towards the menu-bar colour) at
// 3k + 2. The objects are shared by all menus through one process-wide list
// and counted by the item data that use them. User-interface thread only.

#include "menus/menucolors.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QSize>
#include <cstdint>

namespace kvres {
struct ToolBar;
}

class CNewMenuIcons
{
public:
    CNewMenuIcons() = default;
    virtual ~CNewMenuIcons() = default;
    CNewMenuIcons(const CNewMenuIcons&) = delete;
    CNewMenuIcons& operator=(const CNewMenuIcons&) = delete;

    // 3 x the place of the id in the command ids (searched from the last),
    // or -1.
    virtual int FindIndex(uint32_t id) const;
    // Rebuilds the images after a change of the system colours: the strip is
    // loaded again from its bitmap resource and the three images made anew.
    virtual void Reload();

    // data: bitmap resource id, image width, image height, command ids, 0.
    // TRUE when at least one id was added.
    bool LoadToolBar(const uint16_t* data, KV_COLORREF mask);
    // The toolbar resource of that id and the bitmap of the same id; the
    // separators (0 items) get no image. FALSE when either is missing.
    bool LoadToolBar(uint32_t resourceId);
    // The same with the toolbar description and its strip already at hand.
    bool LoadToolBar(const kvres::ToolBar& bar, const QImage& strip);
    bool MatchToolBarData(const uint16_t* data, KV_COLORREF mask) const;
    bool MatchResource(uint32_t resourceId) const;

    // Cuts the bitmap (resource id, or the strip given) into cx x cy images,
    // the mask colour transparent. FALSE when the bitmap does not load.
    bool LoadBitmap(int cx, int cy, uint32_t bitmapId);
    bool LoadBitmap(int cx, int cy, const QImage& strip);

    // Appends (index -1) or replaces the shaded / disabled image of an icon;
    // the index, or -1 when the index is out of range.
    int AddShadedImage(const QImage& icon, int index);
    int AddDisabledImage(const QImage& icon, int index);
    // Turns every image into normal, shaded and disabled; FALSE when empty.
    bool MakeImages();

    int AddRef();
    int Release();
    static int AddRef(CNewMenuIcons* icons) { return icons ? icons->AddRef() : 0; }
    static int Release(CNewMenuIcons* icons) { return icons ? icons->Release() : 0; }

    QSize IconSize() const { return size_; }
    int ImageCount() const { return static_cast<int>(images_.size()); }
    QImage Image(int index) const;
    // The command's normal image with its disabled image as the Disabled
    // mode; a null icon for an index out of range.
    QIcon Icon(int index) const;
    const QList<uint32_t>& Ids() const { return ids_; }
    uint32_t ResourceId() const { return resource_id_; }
    KV_COLORREF MaskColor() const { return mask_; }
    int RefCount() const { return refs_; }

    // Every icon object in use, shared by all menus.
    static QList<CNewMenuIcons*>& IconLists();

protected:
    static QImage ShadedImage(const QImage& icon);
    static QImage DisabledImage(const QImage& icon);

    uint32_t resource_id_ = 0; // bitmap or toolbar resource; 0 when none
    KV_COLORREF mask_ = KV_CLR_NONE;
    QSize size_;
    QList<QImage> images_;
    QList<uint32_t> ids_;
    int refs_ = 0;
};

class CNewMenuBitmaps : public CNewMenuIcons
{
public:
    // 3 x the place of the id when present; else the bitmap resource id is
    // added (masked) with its shaded and disabled images; -1 when it does not
    // load or its size differs from the images held.
    int AddBitmap(uint32_t id, KV_COLORREF mask);
    // Appends the icon for a new id (or id 0), or replaces the three images
    // of an id present; the icon's index, or -1 for a null icon or another
    // size than the images held.
    int AddIcon(const QImage& icon, uint32_t id);
    void Reload() override;

private:
    QList<KV_COLORREF> masks_;
};

#endif
