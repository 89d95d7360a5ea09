#ifndef KIVREL_MENUS_NEWFRAME_H
#define KIVREL_MENUS_NEWFRAME_H

// The frame template of the menu library: a window gets owner-drawn menus by
// deriving from CNewFrame<Base> instead of Base. It holds the window's menu
// bar as a CNewMenu, shows it in the window's QMenuBar, hands every popup to
// the command layer (enablers) and the library before it opens, and renews
// the menu pictures after a palette change. Qt tracks the menu bar under the
// mouse itself, so the template keeps no hot-tracking state; the window
// manager owns the system menu. User-interface thread only.

#include "menus/commands.h"
#include "menus/newmenu.h"

#include <QDialog>
#include <QEvent>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <type_traits>

template <class Base> class CNewFrame : public Base, public CMenuOwner
{
public:
    explicit CNewFrame(QWidget* parent = nullptr) : Base(parent) {}
    ~CNewFrame() override
    {
        if (QMenu* menu = default_menu_.GetSafeHmenu()) {
            menu->removeEventFilter(this);
        }
    }

    // The window's menu bar, loaded by LoadFrame or LoadFrameMenu.
    CNewMenu& DefaultMenu() { return default_menu_; }
    CCommandLayer* Commands() { return CCommandLayer::Of(this); }

    // Loads the menu resource into the default menu and shows it in the
    // window's menu bar; false (and no menu bar) when it does not load.
    bool LoadFrameMenu(uint32_t resourceId)
    {
        if (!default_menu_.LoadMenu(resourceId) || default_menu_.GetSafeHmenu() == nullptr) {
            return false;
        }
        default_menu_.SetOwnerWindow(this);
        default_menu_.GetSafeHmenu()->installEventFilter(this);
        if (bar_ == nullptr) {
            if constexpr (std::is_base_of_v<QMainWindow, Base>) {
                bar_ = this->menuBar();
            } else {
                bar_ = new QMenuBar(this);
                if (this->layout() != nullptr) {
                    this->layout()->setMenuBar(bar_);
                }
            }
        }
        default_menu_.AttachMenuBar(bar_);
        DrawMenuBar();
        return true;
    }

    // Shows the default menu's popups in the menu bar again after items
    // were inserted or removed.
    void DrawMenuBar()
    {
        if (bar_ == nullptr) {
            return;
        }
        for (QAction* action : bar_->actions()) {
            bar_->removeAction(action);
        }
        if (QMenu* menu = default_menu_.GetSafeHmenu()) {
            bar_->addActions(menu->actions());
        }
    }
    QMenuBar* FrameMenuBar() const { return bar_; }

    // A popup of this window is about to open: its items are brought up to
    // date by their enablers, then the library prepares it.
    void OnInitMenuPopup(CNewMenu* popup) override
    {
        Commands()->UpdateMenu(popup->GetSafeHmenu());
        CNewMenu::OnInitMenuPopup(this, popup->GetSafeHmenu());
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange ||
            event->type() == QEvent::ApplicationPaletteChange) {
            CNewMenu::RefreshIcons();
        }
        Base::changeEvent(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == default_menu_.GetSafeHmenu() &&
            (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved)) {
            // The bar follows once the change is complete.
            QPointer<QWidget> self(this);
            QMetaObject::invokeMethod(
                this,
                [self, this] {
                    if (self != nullptr) {
                        DrawMenuBar();
                    }
                },
                Qt::QueuedConnection);
        }
        return Base::eventFilter(watched, event);
    }

    CNewMenu default_menu_;
    QPointer<QMenuBar> bar_;
};

// Base of every frame of the program.
class CNewFrameWnd : public CNewFrame<QMainWindow>
{
    Q_OBJECT
public:
    explicit CNewFrameWnd(QWidget* parent = nullptr) : CNewFrame<QMainWindow>(parent) {}

    // Loads the frame from its resources: the title (the string of the id up
    // to "\n"), the icon, the menu bar and the accelerator table of the id.
    // False, with nothing loaded, when the menu of the id does not load. A
    // parent makes the frame a window owned by it.
    bool LoadFrame(uint32_t resourceId, QWidget* parent = nullptr);
    // The resource id the frame was loaded from; its help topic goes by it.
    uint32_t HelpId() const { return help_id_; }

protected:
    bool Create(const QString& title, uint32_t menuId, QWidget* parent);

private:
    uint32_t help_id_ = 0;
};

// A dialog with owner-drawn menus whose popups are brought up to date by
// the command layer like a frame's.
class CNewDialog : public CNewFrame<QDialog>
{
    Q_OBJECT
public:
    explicit CNewDialog(QWidget* parent = nullptr) : CNewFrame<QDialog>(parent) {}
};

#endif
