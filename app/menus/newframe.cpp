#include "menus/newframe.h"

#include "res/resources.h"

bool CNewFrameWnd::LoadFrame(uint32_t resourceId, QWidget* parent)
{
    const QString text = kvres::LoadString(resourceId);
    const QString title = text.left(text.indexOf(QLatin1Char('\n')));
    if (!Create(title, resourceId, parent)) {
        return false;
    }
    help_id_ = resourceId;
    const QIcon icon = kvres::LoadIcon(resourceId);
    if (!icon.isNull()) {
        setWindowIcon(icon);
    }
    Commands()->LoadAccelerators(resourceId);
    return true;
}

bool CNewFrameWnd::Create(const QString& title, uint32_t menuId, QWidget* parent)
{
    if (!LoadFrameMenu(menuId)) {
        return false;
    }
    if (parent != nullptr) {
        setParent(parent, windowFlags() | Qt::Window);
    }
    setWindowTitle(title);
    return true;
}
