#ifndef KIVREL_MENUS_COMMANDS_H
#define KIVREL_MENUS_COMMANDS_H

// The command layer. Every command of a window is a QAction named after its
// id (kvres::CommandName), made by the window's CCommandLayer; menus,
// toolbars and the window's accelerators all run commands through it.
// A command runs the handler registered by the first object on its route:
// the focus widget and its parents up to the window (view, pane, window),
// then the application. An enabler (command-update handler) is found the
// same way; a command without enabler is enabled exactly when it has a
// handler. Enablers run on a popup's aboutToShow and, for the window's
// actions, from a 0 ms timer armed after input. User-interface thread only.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

class QAction;
class QMenu;
class QWidget;

// What an enabler may set on the items of one command.
class CCmdUI
{
public:
    explicit CCmdUI(uint32_t id) : m_nID(id) {}
    void Enable(bool on = true)
    {
        enabled = on;
        enable_changed = true;
    }
    // 0 unchecked, 1 checked.
    void SetCheck(int state = 1) { check = state; }
    void SetRadio(bool on = true)
    {
        radio = true;
        check = on ? 1 : 0;
    }
    void SetText(const QString& newText)
    {
        text = newText;
        text_set = true;
    }

    uint32_t m_nID;
    bool enabled = true;
    bool enable_changed = false;
    int check = -1; // -1: left as it is
    bool radio = false;
    QString text;
    bool text_set = false;
};

using KV_CmdHandler = std::function<void(uint32_t id)>;
using KV_CmdEnabler = std::function<void(CCmdUI& ui)>;

class CCommandLayer : public QObject
{
    Q_OBJECT
public:
    // The layer of the window that holds the widget (made on first use, a
    // child of that window); null for a null widget.
    static CCommandLayer* Of(QWidget* widget);

    // Registers the handler and enabler of the ids first..last at a target
    // (a view, pane, window or the application object). Either may be
    // empty. Dropped when the target is destroyed.
    static void On(QObject* target, uint32_t id, KV_CmdHandler handler, KV_CmdEnabler enabler = {});
    static void OnRange(QObject* target, uint32_t first, uint32_t last, KV_CmdHandler handler,
                        KV_CmdEnabler enabler = {});
    static void OnUpdate(QObject* target, uint32_t id, KV_CmdEnabler enabler);

    // Runs a command as the window's menus and keys do: nothing when its
    // enabler disables it. With a null window only the application's
    // handlers are asked. True when a handler ran.
    static bool Execute(QWidget* window, uint32_t id);

    // The window's action of a command (made on first use): objectName the
    // command's name, text and status tip from the command's prompt, added to
    // the window so that its shortcuts work while the window is active.
    QAction* Action(uint32_t id);
    QAction* FindAction(uint32_t id) const { return actions_.value(id, nullptr); }
    // The accelerator table of that id becomes the shortcuts of the
    // window's actions; false when there is no such table.
    bool LoadAccelerators(uint32_t tableId);

    bool Execute(uint32_t id);
    // Asks the enabler on the route; without one, and when
    // disableIfNoHandler, the command is enabled exactly when a handler is
    // on the route.
    void Update(CCmdUI& ui, bool disableIfNoHandler);
    bool HasHandler(uint32_t id) const;
    // Brings a popup's items up to date before it opens: commands below
    // 0xF000 without handler are disabled; a submenu item follows the
    // enabler of its submenu's first item and is never disabled for lack
    // of a handler.
    void UpdateMenu(QMenu* popup);
    // Brings the window's actions up to date (the idle update).
    void UpdateActions();
    // Arms the idle update.
    void RequestUpdate();

    QWidget* Window() const { return window_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit CCommandLayer(QWidget* window);
    QList<QObject*> Route() const;
    static void Apply(const CCmdUI& ui, QAction* action);

    QWidget* window_;
    QHash<uint32_t, QAction*> actions_;
    QTimer idle_;
};

#endif
