#ifndef KIVREL_SHELL_MAINFRM_H
#define KIVREL_SHELL_MAINFRM_H

// The control window: the data-source tree above the transfer list, a
// toolbar, two speed panes, the tray icon, and the window bound to the
// engine root's informer, through which every engine-wide notice reaches
// the program. It owns the commands for all requests, the automatic exit,
// shutdown and suspend, the edit commands of a focused edit field and the
// quit. User-interface thread only.

#include "core/wndregistry.h"
#include "foundation/kv_msg.h"
#include "foundation/kv_string.h"
#include "shell/innerfrm.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>

class CKVToolBar;
class CNewMenu;
class KV_FileManPool;
class KV_FileReqTransParams;
class KV_Msg;
class KV_MsgFileOp;
class KV_MsgReqParams;
class QLabel;
class QSystemTrayIcon;

// Class of the transfer list, the pane below the tree (monitor/translistview).
extern const CRuntimeClass classCTransListView;

class CMainFrm : public CInnerFrm
{
    Q_OBJECT
public:
    static const CRuntimeClass classCMainFrm;

    // Automatic actions.
    enum { kAutoNone = 0, kAutoExit = 1, kAutoShutdown = 2, kAutoSuspend = 3 };

    explicit CMainFrm(QWidget* parent = nullptr);
    ~CMainFrm() override;

    // Loads the frame (resource 111), makes the client, toolbar and speed
    // panes, places the window and binds the engine root's informer. False
    // when a part cannot be made.
    bool CreateFrame();

    // ---- tray icon and speeds
    // Adds the tray icon where the desktop has a tray; either way marks the
    // end of start-up, from which on request notices sound and parameter
    // dialogs open.
    void AddTrayIcon();
    bool IsTrayIconAdded() const { return tray_added; }
    // The tool tip of the counts of requests; left as it was when it would
    // reach 64 characters.
    void UpdateTrayTip();
    static QString FormatTrayTip(uint32_t total, uint32_t suspended, uint32_t running,
                                 uint32_t errors);
    QString TrayTip() const { return tray_tip; }
    void Flash(bool stop) override;
    bool IsBlinkLit() const { return blink_lit; }
    int LastResult() const { return last_result; }
    // Which icon the tray shows: 0 normal, 1 done, 2 error.
    int TrayIconKind() const { return tray_icon_kind; }
    void MinimizeToTray();
    void RestoreFromTray();
    // A click on the tray icon: a double click restores, a right click opens
    // the "&File" menu, or restores while a dialog holds the window.
    void OnTrayActivated(int reason);
    QString SpeedText(int direction) const { return direction == 0 ? speed_in : speed_out; }

    // ---- automatic actions
    int AutoAction() const { return auto_action; }
    void UpdateAutoModeChecks();

    // ---- engine notices
    // Handles one batch of the engine root's notices (see
    // CInformerBatch) and re-arms the informer, which rings again for the
    // rest.
    void OnInformerNtf();
    void HandleMsg(const KV_Msg* msg);
    void OnFileOpNtf(const KV_MsgFileOp& msg);
    // Closes the connections of a hidden browse pane whose manager is unused.
    void DisconnectHiddenPane(const KV_MsgManNtf& msg);
    // A holder let a manager go: its hidden browse window goes when idle.
    void DestroyIdleBrowseWnd(const KV_MsgManNtf& msg);
    // Hands a request-log notice to the open request information window;
    // dropped when none is open or it shows another request.
    void AddToRequestLog(const KV_Msg& msg);
    // The update descriptor at `path` arrived: offers a newer version unless
    // the user declined that one or a later one before.
    void OnUpdateChecked(const KV_String& path);
    // Asks in the transfer dialog to copy `src` to `dst` and queues the copy
    // on OK; `op` other than a copy fixes the destination (forward/cmdlinerun.h).
    bool CopyUri(const KV_String& src, const KV_String& dst, KV_FILEOP op);

    // Restores the visibility and place of the toolbar and status bar saved
    // under `section`; nothing when none is saved.
    void LoadBarState(const QString& section);
    void SaveBarState(const QString& section);

    CKVToolBar* ToolBar() const { return toolbar; }
    CNewMenu* TrayMenu() const { return tray_menu; }

protected:
    // What reaches the world outside; tests replace them.
    virtual void PlayResultSound(const QString& name);
    // Starts `program` with `args`, each one argument, never through a
    // shell. False with the reason in `error` when it cannot start.
    virtual bool Launch(const QString& program, const QStringList& args, QString& error);
    // The countdown of the automatic action; whether it ended with OK.
    virtual bool RunShutdownDlg(int action);
    // The update dialog (offer or, with `notice_only`, notice); whether it
    // ended with OK, which for the offer means "download".
    virtual bool RunUpdateDlg(const QString& text, bool notice_only);
    // The parameter dialog of a request; a clone of the edited parameters on
    // OK, null when cancelled.
    virtual KV_FileReqTransParams* RunParamsDlg(const KV_MsgReqParams& msg, QWidget* parent);
    // Switches the computer off (`suspend` false) or suspends it; false with
    // the reason when the system refuses.
    virtual bool PowerAction(bool suspend, QString& error);
    // The hint of a text resource; `key` empty: cannot be suppressed.
    virtual void ShowHint(const QString& key, uint32_t text_id);
    // Options: the hint, then the root group's property sheet.
    void OnOptions();
    virtual void SetTrayToolTip(const QString& tip);

    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void RegisterCommands();
    void ToggleAutoAction(int action);
    void AddTaskForAll(uint32_t id);
    // Whether some request of the transfer list matches (0 not processed,
    // 1 processed, 2 running, 3 paused); false without a transfer list.
    bool AnyListed(int what) const;
    void Exit();
    void ShowTrayIcon(int kind);
    void OnSessSpeeds(double in, double out);

    CWndHandle handle{this};
    KV_FileManPool* pool = nullptr;
    uint32_t blink_counter = 0;
    bool tray_added = false;
    bool blink_lit = false;
    bool shut_down_on_destroy = false;
    int last_result = 0;
    int auto_action = kAutoNone;
    int tray_icon_kind = 0;
    QIcon icon_normal;
    QIcon icon_error;
    QIcon icon_done;
    CKVToolBar* toolbar = nullptr;
    CNewMenu* tray_menu = nullptr;
    QSystemTrayIcon* tray = nullptr;
    QLabel* pane_in = nullptr;
    QLabel* pane_out = nullptr;
    QString tray_tip;
    QString speed_in;
    QString speed_out;
};

#endif
