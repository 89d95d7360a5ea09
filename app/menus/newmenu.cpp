#include "menus/newmenu.h"

#include "menus/commands.h"
#include "menus/newmenuicons.h"
#include "res/resources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>
#include <array>
#include <functional>
#include <memory>

namespace {

// The permanent map from a wrapped menu (or a frame's bar) to its CNewMenu.
QHash<const QWidget*, CNewMenu*>& Registry()
{
    static QHash<const QWidget*, CNewMenu*> map;
    return map;
}

// The eight themes, in the order in which the library has always made them.
const std::array<std::unique_ptr<CMenuTheme>, 8>& Themes()
{
    static const std::array<std::unique_ptr<CMenuTheme>, 8> themes = [] {
        const bool shadows = IsDropShadowEnabled();
        auto plain = [shadows](int id, CMenuTheme::MeasureFn m, CMenuTheme::DrawFn d,
                               uint32_t flags) {
            return std::make_unique<CMenuTheme>(id, m, d, flags, shadows);
        };
        auto xp = [shadows](int id, uint32_t flags) -> std::unique_ptr<CMenuTheme> {
            return std::make_unique<CMenuThemeXP>(id, &CNewMenu::MeasureItemXP,
                                                  &CNewMenu::DrawItemXP, flags, shadows);
        };
        return std::array<std::unique_ptr<CMenuTheme>, 8>{
            plain(6, &CNewMenu::MeasureItemGradient, &CNewMenu::DrawItemGradient, 1),
            plain(7, &CNewMenu::MeasureItemGradient, &CNewMenu::DrawItemGradient, 0),
            plain(0, &CNewMenu::MeasureItemClassic, &CNewMenu::DrawItemClassic, 1),
            plain(1, &CNewMenu::MeasureItemClassic, &CNewMenu::DrawItemClassic, 0),
            xp(2, 1),
            xp(3, 0),
            plain(4, &CNewMenu::MeasureItemClassic, &CNewMenu::DrawItemFlatBar, 1),
            plain(5, &CNewMenu::MeasureItemClassic, &CNewMenu::DrawItemFlatBar, 0),
        };
    }();
    return themes;
}

const CMenuTheme* g_current_theme = nullptr; // style 2 until start-up picks one

const CMenuTheme& CurrentTheme()
{
    if (g_current_theme == nullptr) {
        g_current_theme = Themes()[4].get();
    }
    return *g_current_theme;
}

int g_icon_look = 1;
bool g_refreshed_once = false;
QElapsedTimer g_last_refresh;

const char* const kItemProperty = "kv_item_data";

QMenu* BuildMenu(const kvres::MenuItem& res, QMenu* parent)
{
    auto* menu = new QMenu(res.text, parent);
    for (const kvres::MenuItem& item : res.items) {
        if (item.popup) {
            menu->addMenu(BuildMenu(item, menu));
        } else if (item.id == 0) {
            menu->addSeparator();
        } else {
            auto* action = new QAction(item.text, menu);
            action->setData(QVariant::fromValue<quintptr>(item.id));
            menu->addAction(action);
        }
    }
    return menu;
}

quintptr ActionId(const QAction* action)
{
    if (action->menu() != nullptr) {
        return MenuHandleId(action->menu());
    }
    if (action->isSeparator()) {
        return 0;
    }
    return action->data().value<quintptr>();
}

} // namespace

int GetWinVersionClass()
{
    return 7;
}

CNewMenuItemData::~CNewMenuItemData()
{
    CNewMenuIcons::Release(icons);
}

void CNewMenuItemData::SetIcons(CNewMenuIcons* newIcons, int index)
{
    if (newIcons != icons) {
        CNewMenuIcons::AddRef(newIcons);
        CNewMenuIcons::Release(icons);
        icons = newIcons;
    }
    icon_index = newIcons != nullptr ? index : -1;
}

CNewMenu::CNewMenu(QMenu* parent) : parent_(parent) {}

CNewMenu::~CNewMenu()
{
    DestroyMenu();
}

CNewMenu* CNewMenu::FromHandle(const QWidget* menu)
{
    return menu == nullptr ? nullptr : Registry().value(menu, nullptr);
}

void CNewMenu::ConnectItem(QAction* action)
{
    if (action->property("kv_routed").toBool()) {
        return;
    }
    action->setProperty("kv_routed", true);
    QObject::connect(action, &QAction::triggered, action, [action] { ItemTriggered(action); });
}

void CNewMenu::Attach(QMenu* menu)
{
    if (menu_ == menu) {
        return;
    }
    menu_ = menu;
    Registry().insert(menu, this);
    menu->setStyle(CMenuStyle::Instance());
    CNewMenuHook::Watch(menu);
    QObject::connect(menu, &QObject::destroyed, [menu] { Registry().remove(menu); });
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { PopupShowing(menu); });
    QObject::connect(menu, &QMenu::aboutToHide, menu, [menu] { PopupHiding(menu); });
    for (QAction* action : menu->actions()) {
        if (action->menu() == nullptr && !action->isSeparator()) {
            ConnectItem(action);
        }
    }
}

void CNewMenu::AttachMenuBar(QMenuBar* bar)
{
    if (bar_ != nullptr) {
        Registry().remove(bar_);
    }
    bar_ = bar;
    if (bar != nullptr) {
        Registry().insert(bar, this);
        bar->setStyle(CMenuStyle::Instance());
        bar->removeEventFilter(CNewMenuHook::Instance());
        bar->installEventFilter(CNewMenuHook::Instance());
        QObject::connect(bar, &QObject::destroyed, [bar] { Registry().remove(bar); });
    }
}

QWidget* CNewMenu::OwnerWindow() const
{
    for (const CNewMenu* m = this; m != nullptr; m = FromHandle(m->parent_)) {
        if (m->owner_ != nullptr) {
            return m->owner_;
        }
        if (m->parent_ == nullptr) {
            break;
        }
    }
    return nullptr;
}

bool CNewMenu::LoadMenu(uint32_t resourceId)
{
    const kvres::MenuItem* res = kvres::FindMenu(resourceId);
    if (res == nullptr) {
        return false;
    }
    return LoadMenu(BuildMenu(*res, nullptr));
}

bool CNewMenu::LoadMenu(QMenu* menu)
{
    if (menu == nullptr) {
        return false;
    }
    if (menu_ == menu) {
        // Already this menu's: its submenus have their objects.
        ConvertMenuItems();
        return true;
    }
    DestroyMenu();
    Attach(menu);
    popup_ = false;
    for (QAction* action : menu->actions()) {
        QMenu* sub = action->menu();
        if (sub == nullptr) {
            continue;
        }
        auto* child = new CNewMenu(menu);
        submenus_.append(child);
        child->LoadMenu(sub);
        child->popup_ = true;
    }
    ConvertMenuItems();
    return true;
}

void CNewMenu::DestroyMenu()
{
    const QList<CNewMenu*> subs = std::exchange(submenus_, {});
    for (qsizetype i = subs.size() - 1; i >= 0; --i) {
        delete subs[i];
    }
    const QList<CNewMenuItemData*> items = std::exchange(items_, {});
    qDeleteAll(items);
    AttachMenuBar(nullptr);
    if (menu_ != nullptr) {
        Registry().remove(menu_);
        delete menu_.data();
    }
    menu_ = nullptr;
}

int CNewMenu::SetDrawStyle(int id)
{
    for (const auto& theme : Themes()) {
        if (theme->Id() == id) {
            const int previous = CurrentTheme().Id();
            g_current_theme = theme.get();
            return previous;
        }
    }
    return -1;
}

int CNewMenu::GetDrawStyle()
{
    return CurrentTheme().Id();
}

int CNewMenu::SetSelectionMode(int mode)
{
    return std::exchange(g_icon_look, mode);
}

int CNewMenu::GetSelectionMode()
{
    return g_icon_look;
}

void CNewMenu::RefreshIcons()
{
    if (g_refreshed_once && g_last_refresh.elapsed() <= 2000) {
        return;
    }
    g_refreshed_once = true;
    g_last_refresh.start();
    for (CNewMenuIcons* icons : CNewMenuIcons::IconLists()) {
        icons->Reload();
    }
    for (CNewMenu* menu : Registry()) {
        if (menu->menu_ == nullptr) {
            continue;
        }
        for (QAction* action : menu->menu_->actions()) {
            auto* data = reinterpret_cast<CNewMenuItemData*>(
                action->property(kItemProperty).value<quintptr>());
            if (data != nullptr && menu->items_.contains(data)) {
                menu->ApplyIcon(action, data);
            }
        }
    }
}

// Qt tells bar items from popup items by the element: a frame's bar and the
// popups it opens are different widgets, whatever the menu's popup flag.
void CNewMenu::DrawItem(const KV_MenuItemPaint& paint)
{
    (this->*CurrentTheme().Draw())(paint, paint.element == QStyle::CE_MenuBarItem);
}

QSize CNewMenu::MeasureItem(const KV_MenuItemPaint& paint)
{
    return (this->*CurrentTheme().Measure())(paint, paint.element == QStyle::CT_MenuBarItem);
}

void CNewMenu::SetMenuBarItemRect(const KV_Rect& rect)
{
    if (IsMenuBar()) {
        bar_item_rect_ = rect;
    }
}

int CNewMenu::GetMenuItemCount() const
{
    return menu_ != nullptr ? static_cast<int>(menu_->actions().size()) : -1;
}

QAction* CNewMenu::ItemAction(int pos) const
{
    if (menu_ == nullptr || pos < 0) {
        return nullptr;
    }
    const QList<QAction*> actions = menu_->actions();
    return pos < actions.size() ? actions[pos] : nullptr;
}

uint32_t CNewMenu::GetMenuState(int pos) const
{
    const QAction* action = ItemAction(pos);
    if (action == nullptr) {
        return KV_MENU_NO_ITEM;
    }
    uint32_t state = 0;
    if (action->menu() != nullptr) {
        state |= MF_POPUP;
    } else if (action->isSeparator()) {
        state |= MF_SEPARATOR;
    }
    if (!action->isEnabled()) {
        state |= MF_GRAYED;
    }
    if (action->isChecked()) {
        state |= MF_CHECKED;
    }
    if (action->property(kItemProperty).isValid()) {
        state |= MF_OWNERDRAW;
    }
    return state;
}

uint32_t CNewMenu::GetMenuItemID(int pos) const
{
    const QAction* action = ItemAction(pos);
    if (action == nullptr || action->menu() != nullptr) {
        return 0xFFFFFFFFu;
    }
    return static_cast<uint32_t>(ActionId(action));
}

CNewMenu* CNewMenu::GetSubMenu(int pos) const
{
    return FromHandle(GetSubMenuHandle(pos));
}

QMenu* CNewMenu::GetSubMenuHandle(int pos) const
{
    const QAction* action = ItemAction(pos);
    return action != nullptr ? action->menu() : nullptr;
}

CNewMenuItemData* CNewMenu::FindUnusedItemData(quintptr id)
{
    for (CNewMenuItemData* data : items_) {
        if (!data->in_use && data->id == id) {
            data->in_use = true;
            return data;
        }
    }
    return nullptr;
}

void CNewMenu::ApplyIcon(QAction* action, const CNewMenuItemData* data) const
{
    if (data->icons != nullptr && data->icon_index >= 0) {
        action->setIcon(data->icons->Icon(data->icon_index));
    } else if (!action->icon().isNull()) {
        action->setIcon(QIcon());
    }
}

bool CNewMenu::ModifyMenuByPos(int pos, uint32_t flags, quintptr id, CNewMenuItemData* data)
{
    QAction* action = ItemAction(pos);
    if (action == nullptr) {
        return false;
    }
    if (action->menu() == nullptr) {
        if ((flags & MF_SEPARATOR) != 0) {
            action->setSeparator(true);
        } else {
            action->setSeparator(false);
            action->setData(QVariant::fromValue<quintptr>(id));
            action->setObjectName(kvres::CommandName(static_cast<uint32_t>(id)));
            ConnectItem(action);
        }
    }
    if (data != nullptr) {
        action->setProperty(kItemProperty, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
        if ((flags & MF_SEPARATOR) == 0) {
            action->setText(data->text);
            if (action->menu() != nullptr) {
                action->menu()->setTitle(data->text);
            }
        }
        ApplyIcon(action, data);
    }
    return true;
}

CNewMenuItemData* CNewMenu::CreateItemData(int pos, uint32_t flags, quintptr id,
                                           const QString& text)
{
    auto* data = new CNewMenuItemData;
    data->flags = flags;
    data->id = id;
    data->text = text;
    data->in_use = true;
    if ((flags & MF_POPUP) != 0) {
        if (CNewMenu* sub = FromHandle(reinterpret_cast<QMenu*>(id))) {
            sub->parent_ = menu_;
        }
    }
    ModifyMenuByPos(pos, flags, id, data);
    return data;
}

void CNewMenu::ConvertMenuItems()
{
    if (menu_ == nullptr) {
        return;
    }
    for (CNewMenuItemData* data : items_) {
        data->in_use = false;
    }
    QList<CNewMenuItemData*> converted;
    for (int pos = 0; pos < GetMenuItemCount(); ++pos) {
        const uint32_t state = GetMenuState(pos);
        if (state == KV_MENU_NO_ITEM) {
            break;
        }
        QAction* action = ItemAction(pos);
        CNewMenuItemData* data = nullptr;
        const uint32_t owned = state | MF_BYPOSITION | MF_OWNERDRAW;
        if ((state & MF_POPUP) != 0) {
            const quintptr id = MenuHandleId(action->menu());
            const QString text = action->text();
            data = FindUnusedItemData(id);
            if (data == nullptr) {
                data = CreateItemData(
                    pos, (state & ~0xA00u) | MF_POPUP | MF_BYPOSITION | MF_OWNERDRAW, id, text);
            } else if (!text.isEmpty()) {
                data->text = text;
            }
            if (CNewMenu* sub = FromHandle(action->menu())) {
                sub->parent_ = menu_;
            }
        } else if ((state & MF_SEPARATOR) != 0) {
            data = FindUnusedItemData(0);
            if (data != nullptr) {
                data->flags = owned;
                ModifyMenuByPos(pos, owned, 0, data);
            } else {
                data = CreateItemData(pos, owned, 0, QString());
            }
        } else {
            const quintptr id = GetMenuItemID(pos);
            const QString text = action->text();
            data = FindUnusedItemData(id);
            if (data != nullptr) {
                data->flags = owned;
                if (!text.isEmpty()) {
                    data->text = text;
                }
                ModifyMenuByPos(pos, owned, id, data);
            } else {
                data = CreateItemData(pos, owned, id, text);
            }
        }
        converted.append(data);
    }
    for (CNewMenuItemData* data : std::as_const(items_)) {
        if (!data->in_use) {
            delete data;
        }
    }
    items_ = converted;
}

QAction* CNewMenu::MakeAction(uint32_t flags, quintptr id, const QString& text)
{
    if ((flags & MF_POPUP) != 0) {
        auto* sub = reinterpret_cast<QMenu*>(id);
        if (sub == nullptr) {
            return nullptr;
        }
        sub->setTitle(text);
        return sub->menuAction();
    }
    auto* action = new QAction(text, menu_);
    if ((flags & MF_SEPARATOR) != 0) {
        action->setSeparator(true);
    } else {
        action->setData(QVariant::fromValue<quintptr>(id));
        action->setObjectName(kvres::CommandName(static_cast<uint32_t>(id)));
        ConnectItem(action);
    }
    action->setEnabled((flags & (MF_GRAYED | MF_DISABLED)) == 0);
    if ((flags & MF_CHECKED) != 0) {
        action->setCheckable(true);
        action->setChecked(true);
    }
    return action;
}

void CNewMenu::RaiseIconBox(const CNewMenuIcons* icons)
{
    const QSize size = icons->IconSize();
    icon_box_ = icon_box_.expandedTo(size);
}

bool CNewMenu::InsertOwnerDrawnItem(int pos, const QString& text, uint32_t flags, quintptr id,
                                    CNewMenuIcons* icons, int index)
{
    if (menu_ == nullptr) {
        return false;
    }
    if (id == 0) {
        flags = MF_OWNERDRAW | MF_SEPARATOR | (flags & MF_BYPOSITION);
    } else {
        flags |= MF_OWNERDRAW;
    }
    if ((flags & MF_POPUP) != 0) {
        if (CNewMenu* sub = FromHandle(reinterpret_cast<QMenu*>(id))) {
            sub->parent_ = menu_;
        }
    }
    QAction* action = MakeAction(flags, id, text);
    if (action == nullptr) {
        return false;
    }
    auto* data = new CNewMenuItemData;
    data->text = text;
    data->flags = flags;
    data->id = id;
    if (icons != nullptr && index >= 0) {
        data->SetIcons(icons, index);
        RaiseIconBox(icons);
    }
    const QList<QAction*> actions = menu_->actions();
    if (pos < 0 || pos >= actions.size()) {
        items_.append(data);
        menu_->addAction(action);
    } else {
        items_.insert(std::min<qsizetype>(pos, items_.size()), data);
        menu_->insertAction(actions[pos], action);
    }
    action->setProperty(kItemProperty, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    ApplyIcon(action, data);
    return true;
}

int CNewMenu::FindOrAddImageListIcon(const QList<QImage>* images, int index, quintptr id,
                                     CNewMenuIcons** icons)
{
    *icons = nullptr;
    if (images == nullptr || index < 0 || index >= images->size()) {
        return -1;
    }
    const QImage& image = (*images)[index];
    const auto cmd = static_cast<uint32_t>(id);
    for (CNewMenuIcons* list : CNewMenuIcons::IconLists()) {
        if (auto* bitmaps = dynamic_cast<CNewMenuBitmaps*>(list)) {
            const int found = bitmaps->AddIcon(image, cmd);
            if (found >= 0) {
                *icons = bitmaps;
                return found;
            }
        }
    }
    auto* bitmaps = new CNewMenuBitmaps;
    const int found = bitmaps->AddIcon(image, cmd);
    if (found < 0) {
        delete bitmaps;
        return -1;
    }
    CNewMenuIcons::IconLists().append(bitmaps);
    *icons = bitmaps;
    return found;
}

bool CNewMenu::AppendItem(const QString& text, uint32_t flags, quintptr id,
                          const QList<QImage>* images, int imageIndex)
{
    CNewMenuIcons* icons = nullptr;
    const int index = FindOrAddImageListIcon(images, imageIndex, id, &icons);
    return InsertOwnerDrawnItem(-1, text, flags & ~MF_BYPOSITION, id, icons, index);
}

bool CNewMenu::AppendItemWithIcon(uint32_t flags, quintptr id, const QString& text, int)
{
    // The one caller passes no icon: the item gets none.
    return AppendItem(text, flags, id, nullptr, -1);
}

CNewMenuIcons* CNewMenu::GetToolBarIcons(uint32_t toolbarId)
{
    for (CNewMenuIcons* icons : CNewMenuIcons::IconLists()) {
        if (dynamic_cast<CNewMenuBitmaps*>(icons) == nullptr && icons->MatchResource(toolbarId)) {
            return icons;
        }
    }
    auto* icons = new CNewMenuIcons;
    if (!icons->LoadToolBar(toolbarId)) {
        delete icons;
        return nullptr;
    }
    CNewMenuIcons::IconLists().append(icons);
    return icons;
}

int CNewMenu::FindOrAddResourceIcon(uint32_t bitmapId, CNewMenuIcons** icons)
{
    *icons = nullptr;
    for (CNewMenuIcons* list : CNewMenuIcons::IconLists()) {
        if (auto* bitmaps = dynamic_cast<CNewMenuBitmaps*>(list)) {
            const int index = bitmaps->AddBitmap(bitmapId, mask_);
            if (index >= 0) {
                *icons = bitmaps;
                return index;
            }
        }
    }
    auto* bitmaps = new CNewMenuBitmaps;
    const int index = bitmaps->AddBitmap(bitmapId, mask_);
    if (index < 0) {
        delete bitmaps;
        return -1;
    }
    CNewMenuIcons::IconLists().append(bitmaps);
    *icons = bitmaps;
    return index;
}

bool CNewMenu::InsertItemWithIcon(quintptr posOrId, const QString& text, uint32_t flags,
                                  quintptr id, int iconId)
{
    CNewMenuIcons* icons = nullptr;
    int index = -1;
    if (iconId >= 0) {
        const kvres::ToolBar* bar = kvres::FindToolBar(static_cast<uint32_t>(iconId));
        const bool hasButton = bar != nullptr &&
                               std::find(bar->items.begin(), bar->items.end(),
                                         static_cast<uint16_t>(id)) != bar->items.end() &&
                               id != 0;
        if (hasButton) {
            icons = GetToolBarIcons(static_cast<uint32_t>(iconId));
            index = icons != nullptr ? icons->FindIndex(static_cast<uint32_t>(id)) : -1;
        } else {
            index = FindOrAddResourceIcon(static_cast<uint32_t>(iconId), &icons);
        }
    }
    // Held while the item takes its own reference.
    CNewMenuIcons::AddRef(icons);
    bool ok = false;
    if ((flags & MF_BYPOSITION) != 0) {
        const int pos =
            posOrId == static_cast<quintptr>(-1) || posOrId == static_cast<quintptr>(0xFFFFFFFFu)
                ? -1
                : static_cast<int>(posOrId);
        ok = InsertOwnerDrawnItem(pos, text, flags, id, icons, index);
    } else {
        int pos = -1;
        if (CNewMenu* holder = FindItemHolder(posOrId, pos)) {
            ok = holder->InsertOwnerDrawnItem(pos, text, flags | MF_BYPOSITION, id, icons, index);
        }
    }
    CNewMenuIcons::Release(icons);
    return ok;
}

bool CNewMenu::ModifyItemWithIcon(const QString* text, quintptr id, CNewMenuIcons* icons, int index)
{
    // Every occurrence of the id in the menu tree. An id that the tree does
    // not hold adds nothing: no item data is left without its item.
    QList<QPair<CNewMenu*, int>> visited;
    std::function<void(CNewMenu*)> walk = [&](CNewMenu* menu) {
        for (int pos = 0; pos < menu->GetMenuItemCount(); ++pos) {
            if (CNewMenu* sub = menu->GetSubMenu(pos)) {
                walk(sub);
            }
            if (ActionId(menu->ItemAction(pos)) == id) {
                visited.append({menu, pos});
            }
        }
    };
    walk(this);
    for (const auto& [holder, pos] : visited) {
        QAction* action = holder->ItemAction(pos);
        auto* data =
            reinterpret_cast<CNewMenuItemData*>(action->property(kItemProperty).value<quintptr>());
        if (data == nullptr || !holder->items_.contains(data)) {
            continue;
        }
        if (text != nullptr) {
            data->text = *text;
        }
        if (icons != nullptr) {
            data->SetIcons(icons, index);
            holder->RaiseIconBox(icons);
        } else {
            data->icon_index = -1;
        }
        data->flags = (data->flags & ~MF_BYPOSITION) | MF_OWNERDRAW;
        data->id = id;
        holder->ModifyMenuByPos(pos, data->flags, id, data);
    }
    return !visited.isEmpty();
}

bool CNewMenu::AddToolBarIcons(const uint16_t* data, KV_COLORREF mask)
{
    if (mask == KV_CLR_NONE) {
        mask = mask_;
    }
    CNewMenuIcons* icons = nullptr;
    for (CNewMenuIcons* list : CNewMenuIcons::IconLists()) {
        if (list->MatchToolBarData(data, mask)) {
            icons = list;
            break;
        }
    }
    if (icons == nullptr) {
        icons = new CNewMenuIcons;
        if (!icons->LoadToolBar(data, mask)) {
            delete icons;
            return false;
        }
        CNewMenuIcons::IconLists().append(icons);
    }
    const QList<uint32_t>& ids = icons->Ids();
    for (qsizetype k = ids.size() - 1; k >= 0; --k) {
        ModifyItemWithIcon(nullptr, ids[k], icons, static_cast<int>(3 * k));
    }
    return true;
}

CNewMenu* CNewMenu::FindItemHolder(quintptr id, int& pos)
{
    for (int p = 0; p < GetMenuItemCount(); ++p) {
        if (CNewMenu* sub = GetSubMenu(p)) {
            if (CNewMenu* holder = sub->FindItemHolder(id, pos)) {
                return holder;
            }
        }
        if (ActionId(ItemAction(p)) == id) {
            pos = p;
            return this;
        }
    }
    pos = -1;
    return nullptr;
}

bool CNewMenu::SetItemText(quintptr posOrId, const QString& text, uint32_t flags)
{
    if ((flags & MF_BYPOSITION) == 0) {
        int pos = -1;
        CNewMenu* holder = FindItemHolder(posOrId, pos);
        return holder != nullptr && holder->SetItemText(pos, text, MF_BYPOSITION);
    }
    const auto pos = static_cast<qsizetype>(posOrId);
    if (pos >= items_.size() || ItemAction(static_cast<int>(pos)) == nullptr) {
        return false;
    }
    CNewMenuItemData* data = items_[pos];
    data->text = text;
    // Set back to owner-drawn with flags 0x500: enabled and unchecked until
    // the next update of the commands.
    QAction* action = ItemAction(static_cast<int>(pos));
    action->setEnabled(true);
    action->setChecked(false);
    return ModifyMenuByPos(static_cast<int>(pos), MF_OWNERDRAW | MF_BYPOSITION, ActionId(action),
                           data);
}

bool CNewMenu::GetItemText(quintptr posOrId, QString& text, uint32_t flags) const
{
    if ((flags & MF_BYPOSITION) == 0) {
        int pos = -1;
        CNewMenu* holder = const_cast<CNewMenu*>(this)->FindItemHolder(posOrId, pos);
        return holder != nullptr && holder->GetItemText(pos, text, MF_BYPOSITION);
    }
    const auto pos = static_cast<qsizetype>(posOrId);
    if (pos >= items_.size()) {
        return false;
    }
    text = items_[pos]->text;
    return true;
}

bool CNewMenu::SetItemCommandId(quintptr oldId, quintptr newId)
{
    int pos = -1;
    CNewMenu* holder = FindItemHolder(oldId, pos);
    if (holder == nullptr) {
        return false;
    }
    QAction* action = holder->ItemAction(pos);
    auto* data =
        reinterpret_cast<CNewMenuItemData*>(action->property(kItemProperty).value<quintptr>());
    if (data == nullptr || !holder->items_.contains(data)) {
        return false;
    }
    data->flags |= MF_OWNERDRAW | MF_BYPOSITION;
    data->id = newId;
    return holder->ModifyMenuByPos(pos, data->flags, newId, data);
}

bool CNewMenu::RemoveOrDelete(quintptr posOrId, uint32_t flags, bool destroy)
{
    if ((flags & MF_BYPOSITION) == 0) {
        int pos = -1;
        if (CNewMenu* holder = FindItemHolder(posOrId, pos)) {
            return holder->RemoveOrDelete(pos, MF_BYPOSITION, destroy);
        }
        return false; // not in the tree: nothing to remove
    }
    const int pos = static_cast<int>(posOrId);
    QAction* action = ItemAction(pos);
    if (action == nullptr) {
        return false;
    }
    const uint32_t state = GetMenuState(pos);
    if ((state & MF_POPUP) != 0) {
        QMenu* sub = action->menu();
        CNewMenu* owned = nullptr;
        for (qsizetype i = submenus_.size() - 1; i >= 0; --i) {
            if (submenus_[i]->GetSafeHmenu() == sub) {
                owned = submenus_.takeAt(i);
            }
        }
        for (qsizetype i = items_.size() - 1; i >= 0; --i) {
            if (items_[i]->id == MenuHandleId(sub)) {
                delete items_.takeAt(i);
                break;
            }
        }
        if (destroy) {
            if (owned != nullptr) {
                delete owned; // its teardown deletes the submenu
            } else {
                delete sub;
            }
        } else {
            menu_->removeAction(action);
            if (owned != nullptr) {
                // The submenu survives its item; its CNewMenu goes with this
                // menu as before.
                submenus_.append(owned);
            }
        }
        return true;
    }
    if ((state & MF_SEPARATOR) != 0) {
        if (pos < items_.size()) {
            delete items_.takeAt(pos);
        }
    } else {
        const quintptr id = ActionId(action);
        for (qsizetype i = 0; i < items_.size();) {
            if (items_[i]->id == id) {
                delete items_.takeAt(i);
                if (!destroy) {
                    break;
                }
            } else {
                ++i;
            }
        }
    }
    menu_->removeAction(action);
    delete action;
    return true;
}

bool CNewMenu::RemoveItemById(quintptr posOrId, uint32_t flags)
{
    return RemoveOrDelete(posOrId, flags, false);
}

bool CNewMenu::DeleteItemById(quintptr posOrId, uint32_t flags)
{
    return RemoveOrDelete(posOrId, flags, true);
}

void CNewMenu::OnInitPopup()
{
    popup_ = true;
    ConvertMenuItems();
    if (GetWinVersionClass() == 7) {
        // Restore, close and minimize of a system menu carry their id plus
        // one while it is open.
        SetItemCommandId(0xF120, 0xF121);
        SetItemCommandId(0xF060, 0xF061);
        SetItemCommandId(0xF020, 0xF021);
    }
}

bool CNewMenu::OnUnInitPopup()
{
    if (GetWinVersionClass() == 7) {
        SetItemCommandId(0xF061, 0xF060);
        SetItemCommandId(0xF121, 0xF120);
        SetItemCommandId(0xF021, 0xF020);
    }
    CNewMenu* parent = FromHandle(parent_);
    if (parent == nullptr) {
        return false;
    }
    parent->open_popups_ = std::max(0, parent->open_popups_ - 1);
    if (parent->popup_) {
        return false;
    }
    parent->open_popups_ = 0;
    return true;
}

void CNewMenu::OnInitMenuPopup(QWidget* owner, QMenu* popup)
{
    CNewMenu* menu = FromHandle(popup);
    if (menu != nullptr) {
        if (owner != nullptr) {
            menu->owner_ = owner;
        }
        menu->OnInitPopup();
        CNewMenuHook::SetLastOpenedPopup(popup);
        if (CNewMenu* parent = FromHandle(menu->parent_)) {
            ++parent->open_popups_;
        }
    }
}

uint32_t CNewMenu::FindKeyboardShortcut(uint32_t ch, uint32_t, QMenu* qmenu)
{
    CNewMenu* menu = FromHandle(qmenu);
    if (menu == nullptr) {
        return 0;
    }
    const QString key = (QStringLiteral("&") + QChar(static_cast<char16_t>(ch))).toLower();
    if (menu->GetMenuItemCount() != menu->items_.size()) {
        menu->ConvertMenuItems();
    }
    for (qsizetype pos = 0; pos < menu->items_.size(); ++pos) {
        if (menu->items_[pos]->text.toLower().contains(key)) {
            return (KV_MNC_EXECUTE << 16) | static_cast<uint32_t>(pos);
        }
    }
    return 0;
}

void CNewMenu::ItemTriggered(QAction* action)
{
    CNewMenu* holder = FromHandle(qobject_cast<QMenu*>(action->parent()));
    QWidget* owner = holder != nullptr ? holder->OwnerWindow() : nullptr;
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    CCommandLayer::Execute(owner, static_cast<uint32_t>(ActionId(action)));
}

void CNewMenu::PopupShowing(QMenu* qmenu)
{
    CNewMenu* menu = FromHandle(qmenu);
    if (menu == nullptr) {
        return;
    }
    QWidget* owner = menu->OwnerWindow();
    if (owner == nullptr) {
        owner = QApplication::activeWindow();
    }
    if (auto* frame = dynamic_cast<CMenuOwner*>(owner)) {
        frame->OnInitMenuPopup(menu);
        return;
    }
    if (owner != nullptr) {
        CCommandLayer::Of(owner)->UpdateMenu(qmenu);
    }
    OnInitMenuPopup(owner, qmenu);
}

void CNewMenu::PopupHiding(QMenu* qmenu)
{
    if (CNewMenu* menu = FromHandle(qmenu)) {
        menu->OnUnInitPopup();
    }
}

namespace {

struct MenuWindow
{
    QPoint first;
};

QHash<const QWidget*, MenuWindow>& MenuWindows()
{
    static QHash<const QWidget*, MenuWindow> windows;
    return windows;
}

QPointer<QMenu> g_last_opened;

} // namespace

CNewMenuHook* CNewMenuHook::Instance()
{
    static QPointer<CNewMenuHook> hook;
    if (hook == nullptr) {
        hook = new CNewMenuHook;
        hook->setParent(qApp);
    }
    return hook;
}

void CNewMenuHook::Watch(QMenu* menu)
{
    menu->removeEventFilter(Instance());
    menu->installEventFilter(Instance());
    QObject::connect(menu, &QObject::destroyed, [menu] { MenuWindows().remove(menu); });
}

QPoint CNewMenuHook::FirstPosition(const QWidget* menu)
{
    const auto it = MenuWindows().constFind(menu);
    return it != MenuWindows().constEnd() ? it->first : menu->mapToGlobal(QPoint(0, 0));
}

QMenu* CNewMenuHook::LastOpenedPopup()
{
    return g_last_opened;
}

void CNewMenuHook::SetLastOpenedPopup(QMenu* menu)
{
    g_last_opened = menu;
}

int CNewMenuHook::ShowingCount()
{
    return static_cast<int>(MenuWindows().size());
}

bool CNewMenuHook::eventFilter(QObject* watched, QEvent* event)
{
    if (auto* bar = qobject_cast<QMenuBar*>(watched)) {
        // The looks draw the items of an inactive window's bar grey.
        if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) {
            bar->update();
        }
        return false;
    }
    auto* menu = qobject_cast<QMenu*>(watched);
    if (menu == nullptr || !menu->isWindow()) {
        return false;
    }
    if (event->type() == QEvent::Show) {
        if (g_last_opened == menu) {
            g_last_opened = nullptr;
        }
        // A flat border sits one pixel higher, so that a popup of the menu
        // bar covers the bottom line of its item and joins it.
        const KV_Rect placed = CurrentTheme().AdjustWindowPos(KV_Rect::From(menu->geometry()));
        if (placed.top != menu->geometry().top()) {
            menu->move(placed.left, placed.top);
        }
        MenuWindows().insert(menu, {menu->mapToGlobal(QPoint(0, 0))});
    } else if (event->type() == QEvent::Hide) {
        MenuWindows().remove(menu);
    }
    return false;
}

const CMenuTheme& CMenuStyle::Theme()
{
    return CurrentTheme();
}

CMenuStyle* CMenuStyle::Instance()
{
    static QPointer<CMenuStyle> style;
    if (style == nullptr) {
        style = new CMenuStyle;
        style->setParent(qApp);
    }
    return style;
}

void CMenuStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                             const QWidget* widget) const
{
    if (element == CE_MenuEmptyArea && CNewMenu::FromHandle(widget) != nullptr) {
        return; // the background and border are painted already
    }
    if (element == CE_MenuBarEmptyArea && CNewMenu::FromHandle(widget) != nullptr) {
        painter->fillRect(option->rect, KV_FromColorRef(MenuBarColor()));
        return;
    }
    if (element == CE_MenuItem || element == CE_MenuBarItem) {
        if (CNewMenu* menu = CNewMenu::FromHandle(widget)) {
            menu->DrawItem(
                {static_cast<int>(element), option, painter, widget, QSize(), baseStyle()});
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

QSize CMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                   const QWidget* widget) const
{
    if (type == CT_MenuItem || type == CT_MenuBarItem) {
        if (CNewMenu* menu = CNewMenu::FromHandle(widget)) {
            return menu->MeasureItem(
                {static_cast<int>(type), option, nullptr, widget, size, baseStyle()});
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

void CMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                               QPainter* painter, const QWidget* widget) const
{
    if ((element == PE_PanelMenu || element == PE_FrameMenu) &&
        qobject_cast<const QMenu*>(widget) != nullptr && CNewMenu::FromHandle(widget) != nullptr) {
        const CMenuTheme& theme = CurrentTheme();
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        if (element == PE_PanelMenu) {
            // Background first, then the flat border, which the items and
            // the last border pass are drawn over.
            theme.EraseBackground(painter, option->rect);
            theme.DrawBorder(painter, widget, option->rect.size(), false);
        } else if (!theme.DrawBorder(painter, widget, option->rect.size(), true)) {
            // The system's own border of a flat popup: one line in the
            // button shadow colour.
            const KV_COLORREF line = KV_GetSysColor(KV_COLOR_BTNSHADOW);
            KV_Draw3dRect(painter, KV_Rect::From(option->rect), line, line);
        }
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

int CMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                            const QWidget* widget) const
{
    if (qobject_cast<const QMenu*>(widget) != nullptr && CNewMenu::FromHandle(widget) != nullptr) {
        const CMenuTheme& theme = CurrentTheme();
        switch (metric) {
        case PM_MenuPanelWidth:
            if (!theme.IsFlatBorder()) {
                return 1;
            }
            // Qt makes the border as wide on every side: the wider right
            // and bottom borders an own shadow needs are not given (the
            // program runs with the system's shadows).
            return std::min(theme.Borders().left(), theme.Borders().top());
        case PM_MenuHMargin:
        case PM_MenuVMargin:
            return 0;
        default:
            break;
        }
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}
