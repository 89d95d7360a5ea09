// The application object's start-up, idle work and exit, and the commands
// that belong to no window.
#include "core/settings.h"
#include "core/startrules.h"
#include "core/wndregistry.h"
#include "dialogs/dlgappinfo.h"
#include "forward/cmdlinerun.h"
#include "foundation/kv_file.h"
#include "foundation/kv_thread.h"
#include "menus/commands.h"
#include "monitor/translistview.h"
#include "root/kv_autoupdtman.h"
#include "root/kv_filemanpool.h"
#include "root/kv_init.h"
#include "setup/setupentry.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/dlginit.h"
#include "startup/dlgreqask.h"
#include "startup/singleinst.h"
#include "startup/starthooks.h"
#include "startup/starttips.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <ctime>
#include <pwd.h>
#include <unistd.h>

namespace {

QString ToQ(const KV_String& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.length()));
}

QString UserName()
{
    const passwd* pw = getpwuid(getuid());
    return pw != nullptr && pw->pw_name != nullptr ? QString::fromLocal8Bit(pw->pw_name)
                                                   : QString();
}

void StartError(const QString& text)
{
    StartHooks().error(text);
}

bool forwarded = false;

// F1 anywhere opens the help page of the window it was pressed in; with
// Ctrl, Shift or Alt it stays an ordinary key.
class CHelpKeyFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* obj, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
        auto* wnd = qobject_cast<QWidget*>(obj);
        if (key->key() != Qt::Key_F1 || mods != Qt::NoModifier || wnd == nullptr) {
            return false;
        }
        CKivrelApp::ShowHelp(wnd);
        return true;
    }
};

} // namespace

void InstallHelpKey(QApplication& app)
{
    static CHelpKeyFilter* filter = nullptr;
    if (filter == nullptr) {
        filter = new CHelpKeyFilter(&app);
        app.installEventFilter(filter);
    }
}

CStartHooks& StartHooks()
{
    static CStartHooks hooks{[](const QString& text) {
                                 // Also for a start from a terminal, or one
                                 // without a display to show the box on.
                                 std::fprintf(stderr, "kivrel: %s\n",
                                              text.toLocal8Bit().constData());
                                 ShowErrorBox(text, nullptr);
                             },
                             [](DlgReqAsk& dlg) { return dlg.exec() == QDialog::Accepted; }};
    return hooks;
}

bool ForwardedToRunningInstance()
{
    return forwarded;
}

void ExecuteCommandLine(const QByteArray& payload)
{
    CKivrelApp* app = CKivrelApp::Instance();
    RunCommandLine(payload, app != nullptr ? app->GetMainFrm() : nullptr);
}

void ServeCommandLines(CSingleInstance& instance)
{
    QObject::connect(&instance, &CSingleInstance::CommandLine, &instance,
                     [](const QByteArray& payload) {
                         CKivrelApp* app = CKivrelApp::Instance();
                         if (CMainFrm* frm = app != nullptr ? app->GetMainFrm() : nullptr) {
                             frm->show();
                             frm->raise();
                             frm->activateWindow();
                         }
                         ExecuteCommandLine(payload);
                     });
}

bool CKivrelApp::InitInstance()
{
    // One instance per user: a second start hands its command line over.
    instance = std::make_unique<CSingleInstance>();
    QString why;
    switch (instance->Acquire(why)) {
    case CSingleInstance::kFailed:
        std::fprintf(stderr, "kivrel: %s\n", why.toLocal8Bit().constData());
        return false;
    case CSingleInstance::kSecond: {
        QList<QByteArray> args;
        for (const QString& a : arguments()) {
            args << a.toUtf8();
        }
        forwarded = instance->Forward(PackCommandLine(args), why);
        if (!forwarded) {
            StartError(why);
        }
        return false;
    }
    case CSingleInstance::kFirst:
        break;
    }
    const bool ok = [&] {
        version.Read(QStringLiteral("/proc/self/exe"));
        const bool first_run = GetProfileString("Init", "Data").isEmpty();
        if (!CreateImageLists() || !::InitSettings(&StartError)) {
            return false;
        }
        // The empty name: the environment's locale.
        if (!kv_init("")) {
            return false;
        }
        bridge.InstallHooks();
        if (!CreatePool()) {
            return false;
        }
        RegisterAppCommands();
        InstallHelpKey(*this);
        auto* frm = new CMainFrm;
        main_frm = frm;
        if (!frm->CreateFrame()) {
            StartError(QStringLiteral("Couldn't create main window."));
            return false;
        }
        // The splash's loader thread builds the data-source tree, and the
        // tree tells its receiver on that thread: the view hears nothing
        // until the loader has ended, then shows the whole tree at once.
        auto* ds_view = frm->findChild<CDsView*>();
        if (ds_view != nullptr) {
            ds_view->Detach();
        }
        bool loaded = false;
        {
            CDlgInit dlg(*pool);
            dlg.SetLastPictureMs(StartHooks().last_picture_ms);
            dlg.exec();
            loaded = dlg.GetResult();
        }
        if (ds_view != nullptr) {
            ds_view->Attach();
        }
        if (!loaded) {
            StartError(QStringLiteral("Kivrel initialization failed."));
            return false;
        }
        QString error;
        if (!instance->Listen(error)) {
            std::fprintf(stderr, "kivrel: later starts cannot reach this one: %s\n",
                         error.toLocal8Bit().constData());
        }
        ServeCommandLines(*instance);

        CheckAutoUpdate(static_cast<int64_t>(std::time(nullptr)));
        if (auto* view = frm->findChild<CDsView*>(); view != nullptr && view->topLevelItemCount()) {
            view->expandItem(view->topLevelItem(0));
        }
        if (auto* list = frm->findChild<CTransListView*>(); list != nullptr) {
            list->SortByStartTime();
        }
        RestoreBrowseWnds();
        frm->AddTrayIcon();
        frm->show();
        if (!pool->man_trans().start()) {
            return false;
        }
        // The own command line, as a later start would hand it over.
        const QStringList args = arguments();
        QList<QByteArray> bytes;
        for (const QString& a : args) {
            bytes << a.toUtf8();
        }
        ExecuteCommandLine(PackCommandLine(bytes));
        if (args.size() <= 1) {
            if (first_run) {
                RunNetWizard(true);
                RunConnWizard(true);
            }
            if (GetProfileInt("UI", "StartTips", 1) > 0) {
                ShowStartTips();
            }
        }
        return true;
    }();
    instance->EndStartUp();
    if (!ok && main_frm != nullptr) {
        delete main_frm;
        main_frm = nullptr;
    }
    return ok;
}

int CKivrelApp::ExitInstance()
{
    delete main_frm;
    main_frm = nullptr;
    DeletePool();
    kv_cleanup();
    KV_Thread::man().term();
    instance.reset();
    return 0;
}

void CKivrelApp::WakeIdle()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!idle_armed) {
                idle_armed = true;
                QTimer::singleShot(0, this, &CKivrelApp::OnIdle);
            }
        },
        Qt::QueuedConnection);
}

void CKivrelApp::OnIdle()
{
    idle_armed = false;
    // A question's dialog nests the event loop: a pass started from inside
    // it must not show a second question or close windows under it.
    if (in_idle) {
        return;
    }
    in_idle = true;
    const auto again = [this](int ms) {
        if (!idle_armed) {
            idle_armed = true;
            QTimer::singleShot(ms, this, &CKivrelApp::OnIdle);
        }
    };
    // The quit's own disabling counts as one level.
    if (disable_depth <= (quitting ? 1 : 0)) {
        if (KV_Informer* informer = bridge.PopInformer()) {
            ShowInformer(informer);
            in_idle = false;
            again(0);
            return;
        }
    }
    if (!quitting) {
        in_idle = false;
        return;
    }
    // A modal dialog opened after the quit began runs a loop of its own on
    // the stack of its window's code: destroying that window, or the control
    // window, under it would pull the stack away. The quit goes on once the
    // dialog is closed.
    if (QApplication::activeModalWidget() != nullptr) {
        in_idle = false;
        again(static_cast<int>(kTermPollMs));
        return;
    }
    if (KV_HWND wnd = pool != nullptr ? pool->pop_hwnd() : 0) {
        QObject* obj = CWndRegistry::Find(wnd);
        if (auto* w = qobject_cast<QWidget*>(obj)) {
            // The window that holds the bound pane; its destruction unbinds it.
            delete w->window();
            in_idle = false;
            again(0);
            return;
        }
    }
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (const int64_t wait = TermPollDelay(last_term_poll_ms, now); wait > 0) {
        in_idle = false;
        again(static_cast<int>(wait));
        return;
    }
    last_term_poll_ms = now;
    if (pool != nullptr && !pool->term()) {
        in_idle = false;
        again(static_cast<int>(kTermPollMs));
        return;
    }
    in_idle = false;
    delete main_frm;
    main_frm = nullptr;
    QCoreApplication::exit(0);
}

void CKivrelApp::CheckAutoUpdate(int64_t now)
{
    CUpdateCheckInput in;
    in.enabled = GetProfileInt("UI", "AutoUpdate", 1) != 0;
    in.has_server = !KV_AutoUpdtMan::server().empty();
    const QVariant inst = GetMachineValue("UserInst");
    in.installing_user = inst.typeId() == QMetaType::QString ? inst.toString() : QString();
    in.user = UserName();
    in.stamp = GetProfileBinary("Init", "AutoUpdtCheck");
    in.has_stamp = !in.stamp.isNull();
    in.now = now;
    const CUpdateCheckDecision d = DecideUpdateCheck(in);
    if (d.write_stamp) {
        WriteProfileBinary("Init", "AutoUpdtCheck", d.stamp);
    }
    if (d.check && pool != nullptr) {
        update_man.init(*pool);
    }
}

void CKivrelApp::RunConnWizard(bool)
{
    // A permanent data source: the setup's server opens like any other.
    ::RunConnWizard(nullptr);
}

void CKivrelApp::RunNetWizard(bool first_run)
{
    // On the first start the connection setup follows.
    ::RunNetWizard(nullptr, first_run);
}

bool CKivrelApp::ShowStartTips()
{
    auto* tips = new CStartTipsFrm;
    if (!tips->Create()) {
        delete tips;
        return false;
    }
    tips->show();
    return true;
}

bool CKivrelApp::OpenShortcut(const QString& name, bool append_version)
{
    const QString path = ToQ(KV_File::path(KV_PATH_PROGRAM, true)) + name;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    // No desktop here opens a ".url" file by itself: its address is opened.
    const QString url = ReadShortcutUrl(file);
    if (url.isEmpty()) {
        return ShellOpen(path);
    }
    return ShellOpen(append_version ? url + QStringLiteral("?v=") + GetVersionText() : url);
}

void CKivrelApp::RegisterAppCommands()
{
    CCommandLayer::On(this, 57664, [this](uint32_t) {
        CDlgAbout dlg(version, nullptr);
        dlg.exec();
    });
    const auto help = [](uint32_t) { ShowHelp(QApplication::focusWidget()); };
    CCommandLayer::On(this, 32809, help);
    CCommandLayer::On(this, 57666, help);
    CCommandLayer::On(this, 57667, [](uint32_t) { ShowHelp(nullptr); });
    const auto shortcut = [](const char* name, bool version) {
        return [name, version](uint32_t) {
            CKivrelApp::Instance()->OpenShortcut(QString::fromLatin1(name), version);
        };
    };
    const auto present = [](const char* name) {
        return [name](CCmdUI& ui) {
            ui.Enable(QFile::exists(ToQ(KV_File::path(KV_PATH_PROGRAM, true)) +
                                    QString::fromLatin1(name)));
        };
    };
    CCommandLayer::On(this, 32840, shortcut("kivrelbug.url", false), present("kivrelbug.url"));
    CCommandLayer::On(this, 32850, shortcut("kivrelweb.url", false), present("kivrelweb.url"));
    CCommandLayer::On(this, 32841, shortcut("kivrelsupp.url", true), present("kivrelsupp.url"));
    CCommandLayer::On(
        this, 32851, [this](uint32_t) { RunConnWizard(false); },
        [](CCmdUI& ui) { ui.Enable(true); });
    CCommandLayer::On(
        this, 32852, [this](uint32_t) { RunNetWizard(false); },
        [](CCmdUI& ui) { ui.Enable(true); });
}
