#ifndef KIVREL_MONITOR_LISTBITMAP_H
#define KIVREL_MONITOR_LISTBITMAP_H

// The small list pictures of the request and worker windows, whose white
// is transparent. User-interface thread only.

#include <QPixmap>
#include <cstdint>

// The bitmap of that id with its white pixels clear; a null pixmap when the
// resources have none.
QPixmap ListBitmap(uint32_t id);

#endif
