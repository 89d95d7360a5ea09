#include "menus/kvtoolbar.h"

#include "menus/commands.h"
#include "menus/newmenu.h"
#include "menus/newmenuicons.h"
#include "res/resources.h"

#include <QAction>
#include <QPixmap>

namespace {

QList<QImage> CutStrip(uint32_t bitmapId)
{
    QList<QImage> images;
    const QImage bmp = kvres::LoadBitmap(bitmapId);
    if (bmp.isNull()) {
        return images;
    }
    QImage masked = bmp.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = qRgb(KV_GetR(CKVToolBar::kMaskColor), KV_GetG(CKVToolBar::kMaskColor),
                          KV_GetB(CKVToolBar::kMaskColor)) &
                     0x00FFFFFFu;
    for (int y = 0; y < masked.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == key) {
                line[x] = 0;
            }
        }
    }
    for (int x = 0; x + 16 <= masked.width(); x += 16) {
        images.append(masked.copy(x, 0, 16, 16));
    }
    return images;
}

} // namespace

CKVToolBar::CKVToolBar(QWidget* parent) : QToolBar(parent) {}

bool CKVToolBar::LoadToolBar(uint32_t resourceId)
{
    const kvres::ToolBar* bar = kvres::FindToolBar(resourceId);
    if (bar == nullptr) {
        return false;
    }
    CCommandLayer* commands = CCommandLayer::Of(parentWidget() != nullptr ? parentWidget() : this);
    for (uint16_t id : bar->items) {
        if (id == 0) {
            addSeparator();
        } else {
            addAction(commands->Action(id));
        }
    }
    return true;
}

bool CKVToolBar::SetBitmaps(uint32_t normalId, uint32_t disabledId)
{
    bitmap_id_ = normalId;
    normal_ = CutStrip(normalId);
    disabled_ = CutStrip(disabledId);
    if (normal_.isEmpty()) {
        return false;
    }
    int k = 0;
    for (QAction* action : actions()) {
        if (action->isSeparator()) {
            continue;
        }
        QIcon icon;
        if (k < normal_.size()) {
            icon.addPixmap(QPixmap::fromImage(normal_[k]), QIcon::Normal);
        }
        if (k < disabled_.size()) {
            icon.addPixmap(QPixmap::fromImage(disabled_[k]), QIcon::Disabled);
        }
        action->setIcon(icon);
        ++k;
    }
    return true;
}

QList<uint32_t> CKVToolBar::ButtonIds() const
{
    QList<uint32_t> ids;
    for (const QAction* action : actions()) {
        ids.append(action->isSeparator() ? 0u : action->data().toUInt());
    }
    return ids;
}

void CKVToolBar::AddMenuImages(CNewMenu* menu)
{
    if (menu_images_[0] == 0) {
        std::size_t n = 0;
        menu_images_[n++] = static_cast<uint16_t>(bitmap_id_);
        menu_images_[n++] = 16;
        menu_images_[n++] = 16;
        for (uint32_t id : ButtonIds()) {
            if (id != 0 && n + 1 < menu_images_.size()) {
                menu_images_[n++] = static_cast<uint16_t>(id);
            }
        }
        menu_images_[n] = 0;
    }
    if (menu != nullptr) {
        menu->AddToolBarIcons(menu_images_.data(), KV_CLR_NONE);
    }
}
