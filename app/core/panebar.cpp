#include "core/panebar.h"

QRect PaneBarButtonRect(const QRect& client, int w, int h)
{
    // Right and bottom edges one past the last pixel, as the client
    // rectangle's width and height count them.
    const int t = client.top();
    const int r = client.left() + client.width();
    const int b = client.top() + client.height();
    const int left = r - w - 1;
    const int top = t + (b - t - h) / 2;
    return QRect(left, top, (r - 1) - left, (b - 1) - top);
}

QString PaneBarFolderText(const std::function<QString(uint32_t)>& form,
                          const std::function<int(const QString&)>& measure, int width)
{
    if (width <= 0) {
        return {};
    }
    // Bounded: a source of forms that never ends must not hang the painter.
    for (uint32_t i = 0; i < 4096; ++i) {
        const QString text = form(i);
        if (text.isEmpty() || text == QLatin1String("...")) {
            return {};
        }
        const QString framed = QStringLiteral("[ %1 ]").arg(text);
        if (measure(framed) <= width) {
            return framed;
        }
    }
    return {};
}

std::vector<PaneBarItem> PaneBarFolderItems(const std::vector<PaneBarVolume>& volumes)
{
    std::vector<PaneBarItem> items;
    uint32_t id = kFolderCmdFirst;
    for (const PaneBarVolume& v : volumes) {
        if (id > kFolderCmdLast) {
            break;
        }
        if (v.path.isEmpty() || v.name.isEmpty()) {
            continue;
        }
        items.push_back({id, v.path, v.name});
        ++id;
    }
    return items;
}

bool PaneBarButtonState::Press(bool inside)
{
    pressed = inside;
    return pressed;
}

bool PaneBarButtonState::Move(bool inside)
{
    if (!pressed || inside) {
        return false;
    }
    pressed = false;
    return true;
}

bool PaneBarButtonState::Release(bool inside)
{
    const bool was = pressed;
    pressed = false;
    return was && inside;
}
