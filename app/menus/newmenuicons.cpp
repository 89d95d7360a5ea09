#include "menus/newmenuicons.h"

#include "res/resources.h"

#include <QPixmap>
#include <algorithm>

namespace {

// Deletes the icon objects that are still listed when the program ends.
struct IconListsOwner
{
    QList<CNewMenuIcons*> lists;
    ~IconListsOwner()
    {
        const QList<CNewMenuIcons*> left = std::exchange(lists, {});
        qDeleteAll(left);
    }
};

IconListsOwner& Owner()
{
    static IconListsOwner owner;
    return owner;
}

QImage Masked(const QImage& src, KV_COLORREF mask)
{
    QImage img = src.convertToFormat(QImage::Format_ARGB32);
    if (mask == KV_CLR_NONE || img.isNull()) {
        return img;
    }
    const QRgb key = mask == KV_CLR_DEFAULT
                         ? (img.pixel(0, 0) & 0x00FFFFFFu)
                         : qRgb(KV_GetR(mask), KV_GetG(mask), KV_GetB(mask)) & 0x00FFFFFFu;
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == key) {
                line[x] = 0;
            }
        }
    }
    return img;
}

template <typename F> QImage MapPixels(const QImage& icon, F f)
{
    QImage img = icon.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (qAlpha(line[x]) == 0) {
                continue;
            }
            const KV_COLORREF c = f(KV_RGB(qRed(line[x]), qGreen(line[x]), qBlue(line[x])));
            line[x] = qRgba(KV_GetR(c), KV_GetG(c), KV_GetB(c), qAlpha(line[x]));
        }
    }
    return img;
}

} // namespace

QList<CNewMenuIcons*>& CNewMenuIcons::IconLists()
{
    return Owner().lists;
}

int CNewMenuIcons::FindIndex(uint32_t id) const
{
    for (qsizetype i = ids_.size() - 1; i >= 0; --i) {
        if (ids_[i] == id) {
            return static_cast<int>(3 * i);
        }
    }
    return -1;
}

void CNewMenuIcons::Reload()
{
    if (resource_id_ == 0) {
        return;
    }
    const QSize size = size_.isEmpty() ? QSize(16, 16) : size_;
    if (LoadBitmap(size.width(), size.height(), resource_id_)) {
        MakeImages();
    }
}

bool CNewMenuIcons::LoadToolBar(const uint16_t* data, KV_COLORREF mask)
{
    if (data == nullptr || data[0] == 0) {
        return false;
    }
    mask_ = mask;
    if (!LoadBitmap(data[1], data[2], data[0])) {
        return false;
    }
    resource_id_ = data[0];
    bool added = false;
    for (const uint16_t* p = data + 3; *p != 0; ++p) {
        ids_.append(*p);
        added = true;
    }
    MakeImages();
    return added;
}

bool CNewMenuIcons::LoadToolBar(uint32_t resourceId)
{
    const kvres::ToolBar* bar = kvres::FindToolBar(resourceId);
    if (bar == nullptr) {
        return false;
    }
    const QImage strip = kvres::LoadBitmap(resourceId);
    if (strip.isNull()) {
        return false;
    }
    if (!LoadToolBar(*bar, strip)) {
        return false;
    }
    resource_id_ = resourceId;
    return true;
}

bool CNewMenuIcons::LoadToolBar(const kvres::ToolBar& bar, const QImage& strip)
{
    resource_id_ = 0;
    if (!LoadBitmap(bar.width, bar.height, strip)) {
        return false;
    }
    ids_.clear();
    for (uint16_t id : bar.items) {
        if (id != 0) {
            ids_.append(id);
        }
    }
    MakeImages();
    return !ids_.isEmpty();
}

bool CNewMenuIcons::MatchToolBarData(const uint16_t* data, KV_COLORREF mask) const
{
    if (mask != mask_ || data == nullptr || data[0] == 0 || resource_id_ != data[0]) {
        return false;
    }
    const uint16_t* p = data + 3;
    for (uint32_t id : ids_) {
        if (*p == 0 || *p != id) {
            return false;
        }
        ++p;
    }
    return true;
}

bool CNewMenuIcons::MatchResource(uint32_t resourceId) const
{
    return resourceId != 0 && resourceId == resource_id_;
}

bool CNewMenuIcons::LoadBitmap(int cx, int cy, uint32_t bitmapId)
{
    const QImage strip = kvres::LoadBitmap(bitmapId);
    return LoadBitmap(cx, cy, strip);
}

bool CNewMenuIcons::LoadBitmap(int cx, int cy, const QImage& strip)
{
    if (strip.isNull() || cx <= 0 || cy <= 0) {
        return false;
    }
    const QImage masked = Masked(strip, mask_);
    images_.clear();
    size_ = QSize(cx, cy);
    for (int x = 0; x + cx <= masked.width(); x += cx) {
        images_.append(masked.copy(x, 0, cx, cy));
    }
    return true;
}

QImage CNewMenuIcons::ShadedImage(const QImage& icon)
{
    return MapPixels(icon, [](KV_COLORREF c) { return DarkenColor(50, c); });
}

QImage CNewMenuIcons::DisabledImage(const QImage& icon)
{
    const KV_COLORREF bar = MenuBarColor();
    return MapPixels(
        icon, [bar](KV_COLORREF c) { return MixColors86(LightenColor(100, GrayColor(c)), bar); });
}

int CNewMenuIcons::AddShadedImage(const QImage& icon, int index)
{
    if (icon.isNull()) {
        return -1;
    }
    if (index == -1) {
        images_.append(ShadedImage(icon));
        return static_cast<int>(images_.size() - 1);
    }
    if (index < 0 || index >= images_.size()) {
        return -1;
    }
    images_[index] = ShadedImage(icon);
    return index;
}

int CNewMenuIcons::AddDisabledImage(const QImage& icon, int index)
{
    if (icon.isNull()) {
        return -1;
    }
    if (index == -1) {
        images_.append(DisabledImage(icon));
        return static_cast<int>(images_.size() - 1);
    }
    if (index < 0 || index >= images_.size()) {
        return -1;
    }
    images_[index] = DisabledImage(icon);
    return index;
}

bool CNewMenuIcons::MakeImages()
{
    if (images_.isEmpty()) {
        return false;
    }
    const QList<QImage> old = std::exchange(images_, {});
    for (const QImage& img : old) {
        images_.append(img);
        AddShadedImage(img, -1);
        AddDisabledImage(img, -1);
    }
    return true;
}

int CNewMenuIcons::AddRef()
{
    return ++refs_;
}

int CNewMenuIcons::Release()
{
    const int left = --refs_;
    if (left <= 0) {
        IconLists().removeAll(this);
        delete this;
    }
    return left;
}

QImage CNewMenuIcons::Image(int index) const
{
    return index >= 0 && index < images_.size() ? images_[index] : QImage();
}

QIcon CNewMenuIcons::Icon(int index) const
{
    if (index < 0 || index + 2 >= images_.size()) {
        return QIcon();
    }
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(images_[index]), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(images_[index + 2]), QIcon::Disabled);
    return icon;
}

int CNewMenuBitmaps::AddBitmap(uint32_t id, KV_COLORREF mask)
{
    const int present = FindIndex(id);
    if (present >= 0) {
        return present;
    }
    const QImage bmp = kvres::LoadBitmap(id);
    if (bmp.isNull()) {
        return -1;
    }
    if (ids_.isEmpty() && images_.isEmpty()) {
        size_ = bmp.size();
    } else if (bmp.size() != size_) {
        return -1;
    }
    masks_.append(mask);
    ids_.append(id);
    const QImage img = Masked(bmp, mask);
    const int index = static_cast<int>(images_.size());
    images_.append(img);
    AddShadedImage(img, -1);
    AddDisabledImage(img, -1);
    return index;
}

int CNewMenuBitmaps::AddIcon(const QImage& icon, uint32_t id)
{
    if (icon.isNull()) {
        return -1;
    }
    if (ids_.isEmpty() && images_.isEmpty()) {
        size_ = icon.size();
    } else if (icon.size() != size_) {
        return -1;
    }
    const QImage img = icon.convertToFormat(QImage::Format_ARGB32);
    const int present = id != 0 ? FindIndex(id) : -1;
    if (present < 0) {
        masks_.append(KV_CLR_NONE);
        ids_.append(id);
        const int index = static_cast<int>(images_.size());
        images_.append(img);
        AddShadedImage(img, -1);
        AddDisabledImage(img, -1);
        return index;
    }
    images_[present] = img;
    AddShadedImage(img, present + 1);
    AddDisabledImage(img, present + 2);
    return present;
}

void CNewMenuBitmaps::Reload()
{
    for (qsizetype k = 0; k < ids_.size(); ++k) {
        const int normal = static_cast<int>(3 * k);
        if (normal + 2 >= images_.size()) {
            break;
        }
        AddShadedImage(images_[normal], normal + 1);
        AddDisabledImage(images_[normal], normal + 2);
    }
}
