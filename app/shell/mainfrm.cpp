#include "shell/mainfrm.h"

#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/logind.h"
#include "core/ntfbatch.h"
#include "core/settings.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgtranspar.h"
#include "forward/cmdlinerun.h"
#include "foundation/kv_file.h"
#include "menus/commands.h"
#include "menus/kvtoolbar.h"
#include "menus/menufind.h"
#include "menus/newmenu.h"
#include "monitor/dlgreqinfolog.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqtasks.h"
#include "requests/kv_reqmsg.h"
#include "requests/kv_sessinfo.h"
#include "res/resources.h"
#include "root/kv_autoupdtman.h"
#include "root/kv_filemanpool.h"
#include "setup/setupentry.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/wndutil.h"
#include "transfers/kv_filereqtaskstrans.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTextEdit>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

QWidget* MakeMainFrm()
{
    return nullptr;
}

// A speed pane: a small triangle (down: inbound, up: outbound) and the
// text; an empty text draws nothing.
class CSpeedPane : public QLabel
{
public:
    CSpeedPane(bool inbound, QWidget* parent) : QLabel(parent), inbound(inbound)
    {
        setMinimumWidth(70);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (text().isEmpty()) {
            return;
        }
        QPainter p(this);
        const QRect r = rect();
        const int top = r.top() + 2;
        const int bottom = r.top() + 7;
        const int right = r.right() - 3;
        const int left = right - 4;
        QPolygon tri;
        if (inbound) {
            tri << QPoint(left, top) << QPoint(right, top) << QPoint((left + right) / 2, bottom);
        } else {
            tri << QPoint(left, bottom) << QPoint(right, bottom) << QPoint((left + right) / 2, top);
        }
        p.setPen(Qt::white);
        p.setBrush(Qt::white);
        p.drawPolygon(tri);
        p.setPen(palette().color(QPalette::WindowText));
        p.setFont(CKivrelApp::Instance()->GetFont(0));
        p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

private:
    bool inbound;
};

// The selection of an edit field, and whether it can change.
struct EditState
{
    QWidget* widget = nullptr;
    bool has_sel = false;
    bool all_selected = false;
    bool read_only = false;
    bool can_undo = false;
};

EditState FocusEdit(QWidget* frame)
{
    EditState s;
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr || !IsFocusIn(frame) || !IsEditControl(focus)) {
        return s;
    }
    s.widget = focus;
    if (auto* line = qobject_cast<QLineEdit*>(focus)) {
        s.has_sel = line->hasSelectedText();
        s.all_selected = !line->text().isEmpty() && line->selectedText() == line->text();
        s.read_only = line->isReadOnly();
        s.can_undo = line->isUndoAvailable();
    } else if (auto* text = qobject_cast<QTextEdit*>(focus)) {
        s.has_sel = text->textCursor().hasSelection();
        s.all_selected = text->textCursor().selectedText().size() == text->toPlainText().size() &&
                         !text->toPlainText().isEmpty();
        s.read_only = text->isReadOnly();
        s.can_undo = text->document()->isUndoAvailable();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(focus)) {
        s.has_sel = plain->textCursor().hasSelection();
        s.all_selected = plain->textCursor().selectedText().size() == plain->toPlainText().size() &&
                         !plain->toPlainText().isEmpty();
        s.read_only = plain->isReadOnly();
        s.can_undo = plain->document()->isUndoAvailable();
    } else {
        s.widget = nullptr;
    }
    return s;
}

void EditAction(QWidget* w, const char* slot)
{
    if (w != nullptr) {
        QMetaObject::invokeMethod(w, slot);
    }
}

} // namespace

const CRuntimeClass CMainFrm::classCMainFrm("CMainFrm", &MakeMainFrm, &CInnerFrm::classCInnerFrm);

CMainFrm::CMainFrm(QWidget* parent) : CInnerFrm(0, 0, parent)
{
    GetSplitter()->AddPane(&CDsView::classCDsView, -200, 0);
    GetSplitter()->AddPane(&classCTransListView, -109, 0);
    CFileSplitter::SetPendingPane(CPaneInfo(&CDsView::classCDsView, 0));
    pool = CKivrelApp::Instance()->GetPool();
    RegisterCommands();
}

CMainFrm::~CMainFrm()
{
    if (pool != nullptr && CKivrelApp::Instance()->GetPool() == pool) {
        pool->informer().set_wnd(0);
    }
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    SaveWndPlacement(settings, "LayoutWndMain", this);
    SaveBarState("LayoutBar");
    delete tray_menu;
    if (shut_down_on_destroy) {
        QString error;
        if (!PowerAction(false, error)) {
            ShowErrorBox(error, nullptr);
        }
    }
}

bool CMainFrm::CreateFrame()
{
    CKivrelApp::SetHelpTopic(this, "html\\ctrlwnd.htm");
    setWindowFlag(Qt::Tool, true);
    if (!LoadFrame(111) || !Create()) {
        return false;
    }
    const QString version = CKivrelApp::Instance()->GetVersionText();
    if (!version.isEmpty() && !windowTitle().isEmpty()) {
        setWindowTitle(windowTitle() + " " + version);
    }
    // At the top right unless a placement is saved.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desk = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    setGeometry(desk.right() - 225 - 1 + 1, desk.top(), 225, 360);
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    LoadWndPlacement(settings, "LayoutWndMain", this);

    tray_menu = new CNewMenu;
    tray_menu->LoadMenu(112);
    tray_menu->SetOwnerWindow(this);
    icon_normal = kvres::LoadIcon(111);
    icon_error = kvres::LoadIcon(107);
    icon_done = kvres::LoadIcon(106);

    if (pool != nullptr) {
        pool->informer().set_wnd(handle.hwnd());
    }
    toolbar = new CKVToolBar(this);
    toolbar->setObjectName("toolbar_main");
    if (!toolbar->LoadToolBar(111)) {
        return false;
    }
    toolbar->SetBitmaps(34, 35);
    addToolBar(Qt::TopToolBarArea, toolbar);
    toolbar->AddMenuImages(&DefaultMenu());
    toolbar->AddMenuImages(tray_menu);

    pane_in = new CSpeedPane(true, this);
    pane_in->setObjectName("speed_in");
    pane_out = new CSpeedPane(false, this);
    pane_out->setObjectName("speed_out");
    statusBar()->addPermanentWidget(pane_in);
    statusBar()->addPermanentWidget(pane_out);
    LoadBarState("LayoutBar");

    GetSplitter()->TogglePane(CPaneInfo(&classCTransListView, 0));
    if (pool != nullptr) {
        pool->informer().inform();
    }
    return true;
}

// ---------------------------------------------------------------- commands

void CMainFrm::RegisterCommands()
{
    auto pane_shown = [this](const CRuntimeClass* cls) {
        return GetSplitter()->IsPaneShown(CPaneInfo(cls, 0));
    };
    CCommandLayer::On(
        this, 32796,
        [this](uint32_t) { GetSplitter()->TogglePane(CPaneInfo(&CDsView::classCDsView, 0)); },
        [this, pane_shown](CCmdUI& ui) {
            ui.Enable(pane_shown(&classCTransListView));
            ui.SetCheck(pane_shown(&CDsView::classCDsView) ? 1 : 0);
        });
    CCommandLayer::On(
        this, 32849,
        [this](uint32_t) { GetSplitter()->TogglePane(CPaneInfo(&classCTransListView, 0)); },
        [pane_shown](CCmdUI& ui) {
            ui.Enable(pane_shown(&CDsView::classCDsView));
            ui.SetCheck(pane_shown(&classCTransListView) ? 1 : 0);
        });
    CCommandLayer::On(this, 32821, [this](uint32_t) { QuickConnect(this); });
    CCommandLayer::On(this, 32818, [this](uint32_t) { OnOptions(); });
    // The edit commands of a focused edit field.
    CCommandLayer::On(
        this, 57634, [this](uint32_t) { EditAction(FocusEdit(this).widget, "copy"); },
        [this](CCmdUI& ui) { ui.Enable(FocusEdit(this).has_sel); });
    CCommandLayer::On(
        this, 57635, [this](uint32_t) { EditAction(FocusEdit(this).widget, "cut"); },
        [this](CCmdUI& ui) {
            const EditState s = FocusEdit(this);
            ui.Enable(s.has_sel && !s.read_only);
        });
    CCommandLayer::On(
        this, 57637, [this](uint32_t) { EditAction(FocusEdit(this).widget, "paste"); },
        [this](CCmdUI& ui) {
            const EditState s = FocusEdit(this);
            ui.Enable(s.widget != nullptr && !s.read_only &&
                      !QGuiApplication::clipboard()->text().isEmpty());
        });
    CCommandLayer::On(
        this, 57642, [this](uint32_t) { EditAction(FocusEdit(this).widget, "selectAll"); },
        [this](CCmdUI& ui) {
            const EditState s = FocusEdit(this);
            ui.Enable(s.widget != nullptr && !s.all_selected);
        });
    CCommandLayer::On(
        this, 57643, [this](uint32_t) { EditAction(FocusEdit(this).widget, "undo"); },
        [this](CCmdUI& ui) {
            const EditState s = FocusEdit(this);
            ui.Enable(s.widget != nullptr && !s.read_only && s.can_undo);
        });
    for (uint32_t id : {32771u, 32772u, 32773u}) {
        CCommandLayer::On(
            this, id, [this, id](uint32_t) { ToggleAutoAction(static_cast<int>(id - 32770)); },
            [this, id](CCmdUI& ui) {
                ui.Enable(pool != nullptr && !pool->man_trans().all_proc());
                ui.SetCheck(auto_action == static_cast<int>(id - 32770) ? 1 : 0);
            });
    }
    CCommandLayer::On(
        this, 32824, [this](uint32_t id) { AddTaskForAll(id); },
        [this](CCmdUI& ui) { ui.Enable(AnyListed(0)); });
    CCommandLayer::On(
        this, 32828, [this](uint32_t id) { AddTaskForAll(id); },
        [this](CCmdUI& ui) { ui.Enable(AnyListed(1)); });
    CCommandLayer::On(
        this, 32834, [this](uint32_t id) { AddTaskForAll(id); },
        [this](CCmdUI& ui) { ui.Enable(AnyListed(1)); });
    CCommandLayer::On(
        this, 32832, [this](uint32_t id) { AddTaskForAll(id); },
        [this](CCmdUI& ui) { ui.Enable(AnyListed(2)); });
    CCommandLayer::On(
        this, 32826, [this](uint32_t id) { AddTaskForAll(id); },
        [this](CCmdUI& ui) { ui.Enable(AnyListed(3)); });
    CCommandLayer::On(this, 32848, [this](uint32_t) {
        QAction* action = Commands()->Action(32848);
        const bool top = !windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        action->setCheckable(true);
        action->setChecked(top);
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, top);
        if (visible) {
            show();
        }
    });
    CCommandLayer::On(
        this, 32777, [](uint32_t) { CKivrelApp::Instance()->CloseBrowseWnds(); },
        [](CCmdUI& ui) {
            QWidget* wnd = nullptr;
            CKivrelApp::Instance()->FindBrowseWnd(wnd);
            ui.Enable(wnd != nullptr);
        });
    CCommandLayer::On(this, 57665, [this](uint32_t) { Exit(); });
}

void CMainFrm::ToggleAutoAction(int action)
{
    auto_action = auto_action == action ? kAutoNone : action;
    UpdateAutoModeChecks();
    if (pool != nullptr) {
        pool->man_trans().set_inf_all_proc(auto_action != kAutoNone);
    }
}

void CMainFrm::UpdateAutoModeChecks()
{
    for (uint32_t id : {32771u, 32772u, 32773u}) {
        const bool on = auto_action == static_cast<int>(id - 32770);
        QAction* action = Commands()->Action(id);
        action->setCheckable(true);
        action->setChecked(on);
        if (tray_menu != nullptr && tray_menu->GetSafeHmenu() != nullptr) {
            for (QAction* item : tray_menu->GetSafeHmenu()->findChildren<QAction*>()) {
                if (item->objectName() == kvres::CommandName(id)) {
                    item->setCheckable(true);
                    item->setChecked(on);
                }
            }
        }
    }
}

bool CMainFrm::AnyListed(int what) const
{
    auto* list =
        qobject_cast<CTransListView*>(GetSplitter()->FindPane(&classCTransListView, nullptr, true));
    return list != nullptr && list->AnyListed(what);
}

void CMainFrm::AddTaskForAll(uint32_t id)
{
    if (pool == nullptr) {
        return;
    }
    KV_FileReqMan& man = pool->man_trans();
    switch (id) {
    case 32824:
        man.add_task(KV_FileReqTaskCancel(0, false));
        break;
    case 32828:
        man.add_task(KV_FileReqTaskDelete(0, false, false));
        break;
    case 32834:
        man.add_task(KV_FileReqTaskRestart(0));
        break;
    case 32832:
        man.add_task(KV_FileReqTaskPause(0, true));
        break;
    case 32826:
        man.add_task(KV_FileReqTaskPause(0, false));
        break;
    default:
        break;
    }
}

void CMainFrm::Exit()
{
    if (CDlgAppInfo::Ask("QuitApp", 121, this, false, true)) {
        auto_action = kAutoNone;
        CKivrelApp::Instance()->PrepareQuit();
    }
}

void CMainFrm::closeEvent(QCloseEvent* event)
{
    // Closing is the quit command; the application destroys the window once
    // the engine has stopped.
    event->ignore();
    CCommandLayer::Execute(this, 57665);
}

void CMainFrm::changeEvent(QEvent* event)
{
    CInnerFrm::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray != nullptr) {
        QMetaObject::invokeMethod(
            this, [this] { MinimizeToTray(); }, Qt::QueuedConnection);
    }
}

// ---------------------------------------------------------------- tray

void CMainFrm::AddTrayIcon()
{
    if (tray_added) {
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = new QSystemTrayIcon(icon_normal, this);
        connect(tray, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) { OnTrayActivated(r); });
        tray->show();
    }
    tray_added = true;
    if (pool != nullptr) {
        pool->man_trans().man_info().flash(true, nullptr);
    }
    UpdateTrayTip();
}

QString CMainFrm::FormatTrayTip(uint32_t total, uint32_t suspended, uint32_t running,
                                uint32_t errors)
{
    return QString("Total: %1\r\nSuspended: %2\r\nRunning: %3\r\nErrorneus: %4")
        .arg(total)
        .arg(suspended)
        .arg(running)
        .arg(errors);
}

void CMainFrm::UpdateTrayTip()
{
    if (!tray_added || pool == nullptr) {
        return;
    }
    const KV_FileReqInfoMan& info = pool->man_trans().man_info();
    const QString tip = FormatTrayTip(info.map().entries(), info.cnt(KV_REQ_STAT_SUSPENDED),
                                      info.cnt(KV_REQ_STAT_RUNNING), info.cnt(KV_REQ_STAT_ERROR));
    if (tip.size() < 64) {
        SetTrayToolTip(tip);
    }
}

void CMainFrm::SetTrayToolTip(const QString& tip)
{
    tray_tip = tip;
    if (tray != nullptr) {
        tray->setToolTip(tip);
    }
}

void CMainFrm::ShowTrayIcon(int kind)
{
    tray_icon_kind = kind;
    if (tray != nullptr) {
        tray->setIcon(kind == 1 ? icon_done : kind == 2 ? icon_error : icon_normal);
    }
}

void CMainFrm::Flash(bool stop)
{
    if (!tray_added) {
        return;
    }
    if (!stop) {
        ++blink_counter;
        blink_lit = (blink_counter & 1) != 0;
    } else {
        blink_lit = false;
    }
    KV_FileReqInfoMan* info = pool != nullptr ? &pool->man_trans().man_info() : nullptr;
    if (info != nullptr) {
        info->flash(stop, &pool->man_trans());
        if (info->add() == KV_REQ_ADD_NONE) {
            last_result = 0;
        }
    }
    int kind = 0;
    if (blink_lit) {
        if (last_result == 1) {
            kind = 1;
        } else if (last_result == 2 || last_result == 3) {
            kind = 2;
        } else {
            StopFlash();
        }
    }
    ShowTrayIcon(kind);
}

void CMainFrm::MinimizeToTray()
{
    CKivrelApp::Instance()->ShowBrowseWnds(false);
    hide();
}

void CMainFrm::RestoreFromTray()
{
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
}

void CMainFrm::OnTrayActivated(int reason)
{
    if (reason == QSystemTrayIcon::DoubleClick) {
        RestoreFromTray();
    } else if (reason == QSystemTrayIcon::Context) {
        if (!isEnabled()) {
            RestoreFromTray();
            return;
        }
        if (CNewMenu* file = FindMenuByText(tray_menu, "&File", nullptr, true)) {
            if (QMenu* menu = file->GetSafeHmenu()) {
                Commands()->UpdateMenu(menu);
                menu->popup(QCursor::pos());
            }
        }
    }
}

// ---------------------------------------------------------------- notices

bool CMainFrm::event(QEvent* event)
{
    if (event->type() == CPostedMsgEvent::EventType()) {
        if (static_cast<CPostedMsgEvent*>(event)->msg == KV_Informer::ntf_msg()) {
            OnInformerNtf();
            return true;
        }
    }
    return CInnerFrm::event(event);
}

void CMainFrm::OnInformerNtf()
{
    if (pool == nullptr) {
        return;
    }
    // Every engine-wide notice comes this way: a transfer's progress alone
    // can outrun the window, which must not hold the event loop meanwhile.
    // A handler may end the window (an error box runs the event loop).
    QPointer<CMainFrm> self(this);
    CInformerBatch::Drain(pool->informer(), [&](KV_Msg* msg) {
        HandleMsg(msg);
        return self != nullptr;
    });
}

void CMainFrm::HandleMsg(const KV_Msg* msg)
{
    switch (msg->type()) {
    case KV_MSG_STD: {
        if (static_cast<const KV_MsgStdNtf*>(msg)->ntf != KV_MSG_STD_NTF_ALL_PROC ||
            auto_action == kAutoNone) {
            return;
        }
        const int action = auto_action;
        auto_action = kAutoNone;
        UpdateAutoModeChecks();
        if (!RunShutdownDlg(action)) {
            return;
        }
        if (action == kAutoExit) {
            CKivrelApp::Instance()->PrepareQuit();
        } else if (action == kAutoShutdown) {
            shut_down_on_destroy = true;
            CKivrelApp::Instance()->PrepareQuit();
        } else {
            QString error;
            if (!PowerAction(true, error)) {
                ShowErrorBox(error, this);
            }
        }
        return;
    }
    case KV_MSG_ERR:
        ShowErrorBox(ToQ(static_cast<const KV_MsgErrNtf*>(msg)->text), this);
        return;
    case KV_MSG_REQ: {
        pool->process_ntf(msg);
        if (!tray_added) {
            return;
        }
        const auto* req = static_cast<const KV_MsgReqNtf*>(msg);
        if (req->ntf == KV_REQ_NTF_EDIT) {
            ShowHint("InfoReqEd", 117);
            return;
        }
        const int r = static_cast<int>(pool->man_trans().man_info().add());
        if (r != 0 && !(IsFlashing() && r == last_result && r != 3)) {
            last_result = r;
            blink_counter = 0;
            if ((req->info.flags() & 1) == 0) {
                if (r == 1) {
                    PlayResultSound("sounds/reqdone.wav");
                    if ((req->info.flags() & 4) != 0) {
                        ShowHint(QString(), 119);
                    }
                } else if (r == 2) {
                    PlayResultSound("sounds/reqerr.wav");
                } else if (r == 3) {
                    PlayResultSound("sounds/reqerrs.wav");
                } else {
                    StopFlash();
                }
            }
            StartFlash();
        }
        UpdateTrayTip();
        return;
    }
    case KV_MSG_REQ_PARAMS: {
        const auto* req = static_cast<const KV_MsgReqParams*>(msg);
        if (!tray_added || req->params() == nullptr) {
            return;
        }
        QObject* asking =
            CWndRegistry::Find(reinterpret_cast<KV_HWND>(static_cast<uintptr_t>(req->usr_data())));
        QWidget* parent = qobject_cast<QWidget*>(asking);
        if (KV_FileReqTransParams* edited = RunParamsDlg(*req, parent != nullptr ? parent : this)) {
            pool->man_trans().add_task(KV_FileReqTaskPropSet(req->req_id(), edited));
        }
        return;
    }
    case KV_MSG_FILEOP:
        OnFileOpNtf(*static_cast<const KV_MsgFileOp*>(msg));
        return;
    case KV_MSG_SESS: {
        const auto* sess = static_cast<const KV_MsgSessNtf*>(msg);
        if (sess->tavo_id == 0) {
            OnSessSpeeds(sess->info.speed_recv(), sess->info.speed_send());
        }
        return;
    }
    case KV_MSG_MAN: {
        const auto* man = static_cast<const KV_MsgManNtf*>(msg);
        if (man->ntf == KV_MAN_NTF_BROWSE) {
            if (KV_DsTreeNode* node = pool->tree().find(man->man_id)) {
                CKivrelApp::Instance()->BrowseNode(node);
            }
            return;
        }
        if (man->ntf == KV_MAN_NTF_UNUSED) {
            DisconnectHiddenPane(*man);
            return;
        }
        if (man->ntf == KV_MAN_NTF_UNLOCKED) {
            DestroyIdleBrowseWnd(*man);
        }
        pool->process_ntf(msg);
        return;
    }
    case KV_MSG_REQ_LOG:
        AddToRequestLog(*msg);
        return;
    default:
        pool->process_ntf(msg);
        return;
    }
}

void CMainFrm::OnSessSpeeds(double in, double out)
{
    speed_in = in > 0.0001 ? FormatByteAmount(in, true, true) : QString();
    speed_out = out > 0.0001 ? FormatByteAmount(out, true, true) : QString();
    if (pane_in != nullptr) {
        pane_in->setText(speed_in);
        pane_out->setText(speed_out);
        pane_in->repaint();
        pane_out->repaint();
    }
}

void CMainFrm::OnFileOpNtf(const KV_MsgFileOp& msg)
{
    const QString path = ToQ(msg.path1);
    const KV_FILEOP op = msg.fileop;
    if (op == KV_FILEOP_UPDATE_CHECK) {
        OnUpdateChecked(msg.path1);
        return;
    }
    if (op == KV_FILEOP_UPDATE_APP) {
        RunUpdateDlg(QString("The latest version of Kivrel has been successfully downloaded and is "
                             "ready to install. Please close the application, uninstall the "
                             "previous version and start the setup file located at:\r\n%1.")
                         .arg(path),
                     true);
        return;
    }
    if (op < KV_FILEOP_OPEN || op > KV_FILEOP_PRINT) {
        return;
    }
    QString error;
    bool opened = false;
    if (op == KV_FILEOP_PRINT) {
        opened = Launch("lp", {path}, error);
    } else {
        const QString editor = GetProfileString("Init", "DefEd");
        if (op != KV_FILEOP_OPEN && !editor.isEmpty()) {
            opened = Launch(editor, {path}, error);
        } else {
            opened = Launch("xdg-open", {path}, error);
        }
    }
    if (opened) {
        return;
    }
    if (!error.isEmpty()) {
        pool->informer().set_err(2, KV_String(error.toUtf8().constData()));
    }
    if (msg.flag) {
        const QString q =
            QString("The file couldn't be opened. Do you want to delete the temporary file (%1)?")
                .arg(path);
        if (pool->informer().ask(KV_String(q.toUtf8().constData()), KV_ANS_YES, KV_ASK_YES_NO,
                                 nullptr) == KV_ANS_YES) {
            KV_File::del(msg.path1, false);
        }
    }
}

// ---------------------------------------------------------------- outside world

void CMainFrm::PlayResultSound(const QString& name)
{
    CKivrelApp::Instance()->PlaySound(name);
}

bool CMainFrm::Launch(const QString& program, const QStringList& args, QString& error)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    if (process.startDetached()) {
        return true;
    }
    error = process.errorString();
    return false;
}

bool CMainFrm::RunShutdownDlg(int action)
{
    return CDlgShutdown::Run(action, nullptr);
}

KV_FileReqTransParams* CMainFrm::RunParamsDlg(const KV_MsgReqParams& msg, QWidget* parent)
{
    const KV_FileReqTransParams* params = msg.params();
    std::unique_ptr<CDlgTransPar> dlg;
    switch (params->type()) {
    case KV_REQ_TYPE_TRANS_CP:
        dlg = std::make_unique<CDlgTransParCp>(msg.type_src(), msg.type_dst(),
                                               *static_cast<const KV_FileReqTransParamsCp*>(params),
                                               msg.status(), parent);
        break;
    case KV_REQ_TYPE_TRANS_REN:
        dlg = std::make_unique<CDlgTransParRen>(
            *static_cast<const KV_FileReqTransParamsRen*>(params), parent);
        break;
    case KV_REQ_TYPE_TRANS_RM:
        dlg = std::make_unique<CDlgTransParRm>(*static_cast<const KV_FileReqTransParamsRm*>(params),
                                               parent);
        break;
    default:
        return nullptr;
    }
    if (dlg->exec() != QDialog::Accepted || dlg->GetParams() == nullptr) {
        return nullptr;
    }
    return dlg->GetParams()->clone();
}

bool CMainFrm::PowerAction(bool suspend, QString& error)
{
    return LogindPowerAction(QDBusConnection::systemBus(), suspend, error);
}

void CMainFrm::OnOptions()
{
    CKivrelApp* app = CKivrelApp::Instance();
    KV_FileManPool* pool = app != nullptr ? app->GetPool() : nullptr;
    if (pool == nullptr) {
        return;
    }
    KV_DsTreeNode* root = pool->tree().find(KV_DS_NODE_GRP_DS, true);
    if (root == nullptr) {
        return;
    }
    ShowHint(QStringLiteral("InfoOpts"), 115);
    app->EditProperties(root, nullptr, this);
}

void CMainFrm::ShowHint(const QString& key, uint32_t text_id)
{
    CDlgAppInfo::Info(key, text_id, this, false);
}

void CMainFrm::OnUpdateChecked(const KV_String& path)
{
    KV_String setup;
    KV_String text;
    uint64_t new_ver = 0;
    const uint64_t cur_ver = CKivrelApp::Instance()->GetVersion().GetProductVersion();
    CKivrelApp::Instance()->GetUpdateMan().process_check(path, cur_ver, setup, text, new_ver);
    if (new_ver == 0) {
        return;
    }
    // Any value other than eight bytes was not written by us: no version is
    // ignored then.
    const QByteArray stored = GetProfileBinary("Init", "AutoUpdtIgn");
    uint64_t ignored = 0;
    if (stored.size() == 8) {
        for (int i = 7; i >= 0; --i) {
            ignored = ignored << 8 | static_cast<uint8_t>(stored[i]);
        }
    }
    if (ignored != 0 && ignored >= new_ver) {
        return;
    }
    if (RunUpdateDlg(ToQ(text), false)) {
        CopyUri(setup, KV_String(""), KV_FILEOP_UPDATE_APP);
        return;
    }
    QByteArray value(8, '\0');
    for (int i = 0; i < 8; ++i) {
        value[i] = static_cast<char>(new_ver >> (8 * i));
    }
    WriteProfileBinary("Init", "AutoUpdtIgn", value);
}

bool CMainFrm::RunUpdateDlg(const QString& text, bool notice_only)
{
    CDlgAppUpdate dlg(text, notice_only, this);
    return dlg.exec() == QDialog::Accepted;
}

bool CMainFrm::CopyUri(const KV_String& src, const KV_String& dst, KV_FILEOP op)
{
    return ::CopyUri(src, dst, op, this);
}

namespace {

// The window bound to the informer of the live manager `id`, or null.
QWidget* InformerWindow(KV_FileManPool* pool, const KV_FileManId& id)
{
    KV_FileMan* man = pool != nullptr ? pool->man(id) : nullptr;
    return man != nullptr ? qobject_cast<QWidget*>(CWndRegistry::Find(man->informer().hwnd()))
                          : nullptr;
}

} // namespace

void CMainFrm::DisconnectHiddenPane(const KV_MsgManNtf& msg)
{
    CBrowseFrm* pane = CBrowseFrm::FromChild(InformerWindow(pool, msg.man_id));
    if (pane != nullptr && !pane->isVisible() && pane->GetData() != nullptr) {
        pane->GetData()->DisconnectAll();
    }
}

void CMainFrm::DestroyIdleBrowseWnd(const KV_MsgManNtf& msg)
{
    if (CBrowseSplt* wnd = CBrowseSplt::FromChild(InformerWindow(pool, msg.man_id))) {
        wnd->DestroyIfIdle();
    }
}

void CMainFrm::AddToRequestLog(const KV_Msg& msg)
{
    CDlgReqInfoLog* dlg = CDlgReqInfoLog::Instance();
    const auto& log = static_cast<const KV_MsgReqLog&>(msg);
    // A notice still on its way for the request shown before must not mix
    // into the window.
    if (msg.type() == KV_MSG_REQ_LOG && dlg != nullptr && dlg->RequestId() == log.req_id) {
        dlg->Fill(log);
    }
}

void CMainFrm::LoadBarState(const QString& section)
{
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    const QByteArray state = settings.value(section + "/State").toByteArray();
    if (!state.isEmpty()) {
        restoreState(state);
        statusBar()->setVisible(settings.value(section + "/StatusBar", true).toBool());
    }
}

void CMainFrm::SaveBarState(const QString& section)
{
    if (toolbar == nullptr) {
        return; // never built: nothing worth keeping
    }
    QSettings settings(SettingsEnv().user_conf, QSettings::IniFormat);
    settings.setValue(section + "/State", saveState());
    settings.setValue(section + "/StatusBar", !statusBar()->isHidden());
}
