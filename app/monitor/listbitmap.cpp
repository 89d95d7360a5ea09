#include "monitor/listbitmap.h"

#include "res/resources.h"

#include <QHash>
#include <QImage>

QPixmap ListBitmap(uint32_t id)
{
    static QHash<uint32_t, QPixmap> cache;
    auto it = cache.find(id);
    if (it != cache.end()) {
        return *it;
    }
    QImage image = kvres::LoadBitmap(id);
    if (!image.isNull()) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if ((line[x] & 0xFFFFFF) == 0xFFFFFF) {
                    line[x] = 0;
                }
            }
        }
    }
    const QPixmap pixmap = image.isNull() ? QPixmap() : QPixmap::fromImage(image);
    cache.insert(id, pixmap);
    return pixmap;
}
