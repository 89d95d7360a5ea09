#ifndef KIVREL_MENUS_NEWMENU_H
#define KIVREL_MENUS_NEWMENU_H

// The owner-drawn menu library. Every menu of the program (menu bars,
// popups, context menus) is a CNewMenu: it wraps a QMenu whose items (its
// QActions) each carry a CNewMenuItemData kept beside them in the menu's
// item-data list. Measuring and drawing of the items go through one
// QProxyStyle that asks the current drawing style (SetDrawStyle). A popup
// item's id is its submenu (MenuHandleId). User-interface thread only.

#include "menus/menucolors.h"
#include "menus/menutheme.h"

#include <QList>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProxyStyle>
#include <QSize>
#include <QString>
#include <cstdint>

class CNewMenu;
class CNewMenuIcons;

// Menu item flags as stored in the item data and accepted by the item
// operations.
constexpr uint32_t MF_BYCOMMAND = 0x0;
constexpr uint32_t MF_STRING = 0x0;
constexpr uint32_t MF_GRAYED = 0x1;
constexpr uint32_t MF_DISABLED = 0x2;
constexpr uint32_t MF_BITMAP = 0x4;
constexpr uint32_t MF_CHECKED = 0x8;
constexpr uint32_t MF_POPUP = 0x10;
constexpr uint32_t MF_OWNERDRAW = 0x100;
constexpr uint32_t MF_BYPOSITION = 0x400;
constexpr uint32_t MF_SEPARATOR = 0x800;

// The state that GetMenuState reports for a position past the last item.
constexpr uint32_t KV_MENU_NO_ITEM = 0xFFFFFFFFu;
// FindKeyboardShortcut's answer: execute the item (high word), its position
// in the low word.
constexpr uint32_t KV_MNC_EXECUTE = 2;

// The id under which a popup item is stored: its submenu.
inline quintptr MenuHandleId(const QMenu* menu)
{
    return reinterpret_cast<quintptr>(menu);
}

// Windows-version class that the library's looks ask for; the program runs
// as on the newest class (Windows XP, 7).
int GetWinVersionClass();

class CNewMenuItemData
{
public:
    CNewMenuItemData() = default;
    ~CNewMenuItemData();
    CNewMenuItemData(const CNewMenuItemData&) = delete;
    CNewMenuItemData& operator=(const CNewMenuItemData&) = delete;

    // Holds one reference of the new icon object and drops the old one.
    void SetIcons(CNewMenuIcons* icons, int index);

    QString text; // with "&" mnemonics and "\t" before the accelerator
    uint32_t title_flags = 0;
    uint32_t flags = 0;  // MF_ flags under which the item was last set
    quintptr id = 0;     // command id, or MenuHandleId of the submenu
    bool in_use = false; // used while the menu is converted
    CNewMenuIcons* icons = nullptr;
    int icon_index = -1; // first of the command's three images; -1 none
};

// A window that shows CNewMenus gets their popups before they open, to
// bring the items up to date (enablers) and let the library prepare them.
class CMenuOwner
{
public:
    virtual ~CMenuOwner() = default;
    virtual void OnInitMenuPopup(CNewMenu* popup) = 0;
};

// What a look measures or draws: the element of the proxy style's call.
struct KV_MenuItemPaint
{
    int element = 0; // QStyle::ControlElement or QStyle::ContentsType
    const QStyleOption* option = nullptr;
    QPainter* painter = nullptr;
    const QWidget* widget = nullptr;
    QSize contents;
    const QStyle* base = nullptr;
};

// Item states of the drawing functions, as the system's owner-draw states.
constexpr uint32_t KV_ODS_SELECTED = 0x1;
constexpr uint32_t KV_ODS_GRAYED = 0x2;
constexpr uint32_t KV_ODS_DISABLED = 0x4;
constexpr uint32_t KV_ODS_CHECKED = 0x8;
constexpr uint32_t KV_ODS_DEFAULT = 0x20;
constexpr uint32_t KV_ODS_HOTLIGHT = 0x40;
constexpr uint32_t KV_ODS_INACTIVE = 0x80;

// The three measures of the looks.
enum class KV_MeasureLook { Classic, Gradient, XP };

// What an item's size depends on; the text size is that of the item text
// (caption, or caption and accelerator) in the menu font.
struct KV_ItemMeasure
{
    bool menuBar = false;
    bool separator = false;
    bool hasTab = false;
    QSize text;
    QSize iconBox{16, 15};
};

// The size a look asks for an item (before the system adds its own share):
// separators 3 high; menu-bar items the text width less half a check width
// (classic, gradient) or less 6 (XP); popup items the text width plus twice
// the icon box width plus 2, 15 more with an accelerator; heights from the
// menu-bar height and the icon box, at least the text height.
QSize KV_MeasureMenuItem(KV_MeasureLook look, const KV_ItemMeasure& item);

class CNewMenu
{
public:
    explicit CNewMenu(QMenu* parent = nullptr);
    virtual ~CNewMenu();
    CNewMenu(const CNewMenu&) = delete;
    CNewMenu& operator=(const CNewMenu&) = delete;

    // The menu wrapped, null until loaded or attached.
    QMenu* GetSafeHmenu() const { return menu_; }
    // The CNewMenu that wraps a QMenu (or a frame's QMenuBar), or null.
    static CNewMenu* FromHandle(const QWidget* menu);

    // Item measuring and drawing through the current style.
    virtual void DrawItem(const KV_MenuItemPaint& paint);
    virtual QSize MeasureItem(const KV_MenuItemPaint& paint);

    // Builds the menu resource of that id and converts it as a menu bar;
    // false when the resource does not exist.
    virtual bool LoadMenu(uint32_t resourceId);
    // Attaches an existing menu as a menu bar: every submenu gets its own
    // CNewMenu owned by this one, then all items are converted. The QMenu
    // becomes this object's: the teardown deletes it. False for null.
    virtual bool LoadMenu(QMenu* menu);
    // Teardown: the submenus' CNewMenus (last first), every item data, then
    // the QMenu.
    virtual void DestroyMenu();
    virtual void OnInitPopup();
    virtual bool OnUnInitPopup();

    // Selects the drawing style (0 to 7); the previous id, or -1 when the id
    // is unknown (nothing changes then).
    static int SetDrawStyle(int id);
    static int GetDrawStyle();
    // Icon look flag of the XP look; returns the previous value.
    static int SetSelectionMode(int mode);
    static int GetSelectionMode();
    // Rebuilds the images of every icon object after a colour change, at
    // most once every 2 seconds, and gives the menus' items the new images.
    static void RefreshIcons();

    QMenu* GetParentMenu() const { return parent_; }
    bool IsPopup() const { return popup_; }
    int IconBoxWidth() const { return icon_box_.width(); }
    int IconBoxHeight() const { return icon_box_.height(); }
    int OpenPopupCount() const { return open_popups_; }
    KV_COLORREF MaskColor() const { return mask_; }
    // The window whose commands the items run: this menu's owner, else the
    // nearest owner up the parent menus.
    QWidget* OwnerWindow() const;
    void SetOwnerWindow(QWidget* owner) { owner_ = owner; }
    // Shows the menu bar's items in a frame's QMenuBar through the same
    // style (the frame keeps the bar's actions in step with this menu).
    void AttachMenuBar(QMenuBar* bar);

    int GetMenuItemCount() const;
    uint32_t GetMenuState(int pos) const;
    // The command id at a position; 0 for separators, 0xFFFFFFFF for popups
    // and positions past the end.
    uint32_t GetMenuItemID(int pos) const;
    QAction* ItemAction(int pos) const;
    const QList<CNewMenuItemData*>& ItemDataList() const { return items_; }

    // Item operations. By position when flags hold MF_BYPOSITION, else the
    // first argument is an id searched in this menu and, depth first, in
    // every submenu that is a CNewMenu.
    bool AppendItemWithIcon(uint32_t flags, quintptr id, const QString& text, int icon);
    bool AppendItem(const QString& text, uint32_t flags, quintptr id,
                    const QList<QImage>* images = nullptr, int imageIndex = -1);
    // iconId names a toolbar resource holding the command, else a bitmap
    // resource; -1 for none. Position -1 (by position) appends.
    bool InsertItemWithIcon(quintptr posOrId, const QString& text, uint32_t flags, quintptr id,
                            int iconId);
    bool ModifyItemWithIcon(const QString* text, quintptr id, CNewMenuIcons* icons, int index);
    // The pictures of a toolbar description (bitmap id, width, height,
    // command ids, 0) for the items with those ids; mask KV_CLR_NONE means
    // the menu's mask colour. False when the toolbar does not load.
    bool AddToolBarIcons(const uint16_t* data, KV_COLORREF mask = KV_CLR_NONE);
    bool SetItemText(quintptr posOrId, const QString& text, uint32_t flags);
    bool GetItemText(quintptr posOrId, QString& text, uint32_t flags) const;
    bool RemoveItemById(quintptr posOrId, uint32_t flags);
    bool DeleteItemById(quintptr posOrId, uint32_t flags);
    // The submenu at a position when it is a CNewMenu, else null.
    CNewMenu* GetSubMenu(int pos) const;
    QMenu* GetSubMenuHandle(int pos) const;
    bool SetItemCommandId(quintptr oldId, quintptr newId);
    CNewMenu* FindItemHolder(quintptr id, int& pos);

    // A popup is about to open for an owner window.
    static void OnInitMenuPopup(QWidget* owner, QMenu* popup);
    // The mnemonic search of a typed character: (KV_MNC_EXECUTE << 16) |
    // position, or 0.
    static uint32_t FindKeyboardShortcut(uint32_t ch, uint32_t flags, QMenu* menu);

    void ConvertMenuItems();

    // The looks: measure and draw one item of this menu (menuBar: an item of
    // the menu bar). Called through the current theme.
    QSize MeasureItemClassic(const KV_MenuItemPaint& paint, bool menuBar);
    QSize MeasureItemXP(const KV_MenuItemPaint& paint, bool menuBar);
    QSize MeasureItemGradient(const KV_MenuItemPaint& paint, bool menuBar);
    void DrawItemClassic(const KV_MenuItemPaint& paint, bool menuBar);
    void DrawItemXP(const KV_MenuItemPaint& paint, bool menuBar);
    void DrawItemFlatBar(const KV_MenuItemPaint& paint, bool menuBar);
    void DrawItemGradient(const KV_MenuItemPaint& paint, bool menuBar);

    // Glyphs of the looks, drawn as paths. DrawSymbol: one symbol character
    // ("b" check, "i" bullet, "r" close, "0" minimise, "1" maximise, "2"
    // restore, "8" submenu arrow) in the rectangle shrunk by 2, as high as
    // that rectangle and centred across it.
    static void DrawSymbol(QPainter* p, const KV_Rect& rect, char ch, bool bold, KV_COLORREF c);
    // Grey when grayed or inactive, else the menu text colour; bold for the
    // default item.
    static void DrawMenuGlyph(QPainter* p, const KV_Rect& rect, char ch, uint32_t state);
    // A sunken box and the check (radio false) or the bullet (radio true).
    static void DrawCheckGlyph(QPainter* p, const KV_Rect& rect, bool radio, uint32_t state);
    // The glyph of a system command (close, minimise, maximise, restore);
    // nothing for other ids.
    static void DrawSystemGlyph(QPainter* p, const KV_Rect& rect, quintptr id, uint32_t state);
    void DrawSystemGlyphXP(QPainter* p, const KV_Rect& rect, quintptr id, uint32_t state) const;

    // Whether this object is a menu bar (no parent, not a popup).
    bool IsMenuBarObject() const { return IsMenuBar(); }
    // The menu-bar item last drawn open or hot, in screen coordinates.
    KV_Rect GetMenuBarItemRect() const { return bar_item_rect_; }
    // Stores the rectangle only while this menu is a menu bar.
    void SetMenuBarItemRect(const KV_Rect& rect);

private:
    void Attach(QMenu* menu);
    bool IsMenuBar() const { return parent_ == nullptr && !popup_; }
    CNewMenuItemData* FindUnusedItemData(quintptr id);
    CNewMenuItemData* CreateItemData(int pos, uint32_t flags, quintptr id, const QString& text);
    QAction* MakeAction(uint32_t flags, quintptr id, const QString& text);
    bool ModifyMenuByPos(int pos, uint32_t flags, quintptr id, CNewMenuItemData* data);
    bool InsertOwnerDrawnItem(int pos, const QString& text, uint32_t flags, quintptr id,
                              CNewMenuIcons* icons, int index);
    bool RemoveOrDelete(quintptr posOrId, uint32_t flags, bool destroy);
    void ApplyIcon(QAction* action, const CNewMenuItemData* data) const;
    void RaiseIconBox(const CNewMenuIcons* icons);
    CNewMenuIcons* GetToolBarIcons(uint32_t toolbarId);
    int FindOrAddResourceIcon(uint32_t bitmapId, CNewMenuIcons** icons);
    int FindOrAddImageListIcon(const QList<QImage>* images, int index, quintptr id,
                               CNewMenuIcons** icons);
    static void ConnectItem(QAction* action);
    static void ItemTriggered(QAction* action);
    static void PopupShowing(QMenu* menu);
    static void PopupHiding(QMenu* menu);

    QPointer<QMenu> menu_;
    QPointer<QMenuBar> bar_;
    QList<CNewMenuItemData*> items_;
    QList<CNewMenu*> submenus_; // owned: the CNewMenus this menu made for its submenus
    QSize icon_box_{16, 15};
    KV_COLORREF mask_ = KV_CLR_DEFAULT;
    QPointer<QWidget> owner_;
    QMenu* parent_ = nullptr;
    bool popup_ = true;
    int open_popups_ = 0;
    KV_Rect bar_item_rect_;
};

// The popup windows' side of the library: it follows every CNewMenu popup
// as it shows and hides (an event filter), keeping where each window first
// showed and the popup most recently opened, and lets a flat-bordered theme
// place the window; it repaints a menu bar whose window gains or loses the
// activation. The open-popup counts are kept by the menus
// (OnInitMenuPopup, OnUnInitPopup).
class CNewMenuHook : public QObject
{
    Q_OBJECT
public:
    static CNewMenuHook* Instance();
    // Follows a popup of the library.
    static void Watch(QMenu* menu);
    // Where the popup window first showed (screen); its position now when
    // it is not showing.
    static QPoint FirstPosition(const QWidget* menu);
    // The popup most recently opened whose window has not shown yet.
    static QMenu* LastOpenedPopup();
    static void SetLastOpenedPopup(QMenu* menu);
    // Number of popup windows of the library showing.
    static int ShowingCount();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CNewMenuHook() = default;
};

// The proxy style of every CNewMenu: item measuring and drawing, the popup's
// background, border and border width go to the current theme.
class CMenuStyle : public QProxyStyle
{
    Q_OBJECT
public:
    static CMenuStyle* Instance();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;

    // The current theme.
    static const CMenuTheme& Theme();

private:
    CMenuStyle() = default;
};

#endif
