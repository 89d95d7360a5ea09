#include "menus/newframe.h"

#include "res/resources.h"

#include <QStatusBar>
#include <QToolBar>

namespace {

// The bar the "&View" menu shows and hides: the first of its kind docked in
// the frame itself (toolbars of panes inside it are theirs to manage).
template <class Bar> Bar* FrameBar(QWidget* frame)
{
    return frame->findChild<Bar*>(QString(), Qt::FindDirectChildrenOnly);
}

template <class Bar> void OnBarCheck(QWidget* frame, uint32_t id)
{
    CCommandLayer::On(
        frame, id,
        [frame](uint32_t) {
            if (Bar* bar = FrameBar<Bar>(frame)) {
                bar->setVisible(bar->isHidden());
            }
        },
        [frame](CCmdUI& ui) {
            Bar* bar = FrameBar<Bar>(frame);
            ui.Enable(bar != nullptr);
            ui.SetCheck(bar != nullptr && !bar->isHidden() ? 1 : 0);
        });
}

} // namespace

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
    OnBarCheck<QToolBar>(this, 59392);
    OnBarCheck<QStatusBar>(this, 59393);
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
