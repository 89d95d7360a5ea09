// The quit: one window still bound to an engine informer closed per idle
// pass, a question that arrives meanwhile shown first, the control window
// destroyed only once every engine thread ended. A quit cannot be undone
// within a process, so the test runs itself again in a process of its own.
#include "core/settings.h"
#include "core/wndregistry.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"

#include <QDialog>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

const char kChildVar[] = "KV_IDLE_QUIT_CHILD";

// A window that holds a pane bound to a file manager's informer, as a
// browse window does: destroying it unbinds the informer.
class BoundWnd : public QWidget
{
public:
    BoundWnd(KV_Informer& informer, QStringList& log, const QString& name)
        : informer(informer), log(log), name(name)
    {
        informer.set_wnd(handle.hwnd());
    }
    ~BoundWnd() override
    {
        informer.set_wnd(nullptr);
        log << name;
    }

private:
    CWndHandle handle{this};
    KV_Informer& informer;
    QStringList& log;
    QString name;
};

// Settings in `dir`, the engine loaded, the control window made.
void StartForQuit(const kvtest::TempDir& dir)
{
    ASSERT_TRUE(dir.ok());
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(dir / "kivrel.conf");
    env.tmp = QString::fromUtf8(dir.c_str());
    SetSettingsEnv(env);
    CKivrelApp& app = *CKivrelApp::Instance();
    app.GetBridge().InstallHooks();
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
    ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
    ASSERT_TRUE(app.CreatePool());
    ASSERT_TRUE(app.GetPool()->load_ds());
    auto* frm = new CMainFrm;
    ASSERT_TRUE(frm->CreateFrame());
    app.SetMainFrm(frm);
}

void QuitInThisProcess()
{
    kvtest::TempDir dir;
    ASSERT_NO_FATAL_FAILURE(StartForQuit(dir));
    CKivrelApp& app = *CKivrelApp::Instance();
    KV_FileManPool& pool = *app.GetPool();
    CMainFrm* frm = app.GetMainFrm();
    bool term_when_destroyed = false;
    QObject::connect(frm, &QObject::destroyed,
                     [&] { term_when_destroyed = app.GetPool()->term(); });

    const KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    QStringList closed;
    QList<QPointer<BoundWnd>> wnds;
    for (const char* name : {"one", "two", "three"}) {
        KV_FileMan* man = pool.reg(local->id());
        ASSERT_NE(man, nullptr);
        wnds << new BoundWnd(man->informer(), closed, name);
        wnds.back()->show();
    }

    // A question of an engine thread that arrives with the quit.
    KV_Informer informer;
    std::atomic<int> ans{-1};
    int open_at_question = -1;
    kvtest::DialogDriver<CDlgAsk> driver([&](CDlgAsk& dlg) {
        open_at_question = static_cast<int>(std::count_if(
            wnds.begin(), wnds.end(), [](const QPointer<BoundWnd>& w) { return !w.isNull(); }));
        dlg.done(QDialog::Accepted);
    });
    std::thread t([&] { ans = informer.ask("overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr); });
    ASSERT_TRUE(kvtest::WaitFor([&] { return app.GetBridge().PendingInformers() == 1; }));

    app.PrepareQuit();
    ASSERT_TRUE(kvtest::WaitFor([&] { return app.GetMainFrm() == nullptr; }, 30000));
    t.join();
    EXPECT_EQ(driver.handled, 1);
    EXPECT_EQ(open_at_question, 3); // shown before any window was closed
    EXPECT_NE(ans, -1);
    // In the engine's order, each on a pass of its own, then the engine
    // stopped before the control window went.
    EXPECT_EQ(closed, (QStringList{"one", "two", "three"}));
    EXPECT_TRUE(term_when_destroyed);
    informer.shutdown();
    app.DeletePool();
}

// A dialog opened after the quit began, over a window the quit would close:
// nothing goes while it is open, and the quit ends once it is closed.
void ModalDialogDuringQuitInThisProcess()
{
    kvtest::TempDir dir;
    ASSERT_NO_FATAL_FAILURE(StartForQuit(dir));
    CKivrelApp& app = *CKivrelApp::Instance();
    KV_FileManPool& pool = *app.GetPool();
    QPointer<CMainFrm> frm = app.GetMainFrm();
    const KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    KV_FileMan* man = pool.reg(local->id());
    ASSERT_NE(man, nullptr);
    QStringList closed;
    QPointer<BoundWnd> wnd = new BoundWnd(man->informer(), closed, "one");
    wnd->show();

    app.PrepareQuit();
    auto* dlg = new QDialog(wnd);
    bool kept_while_open = false;
    QTimer::singleShot(400, dlg, [&] {
        kept_while_open = !wnd.isNull() && !frm.isNull();
        dlg->done(QDialog::Rejected);
    });
    dlg->exec();
    EXPECT_TRUE(kept_while_open);
    ASSERT_TRUE(kvtest::WaitFor([&] { return frm.isNull(); }, 30000));
    EXPECT_EQ(closed, QStringList{"one"});
    app.DeletePool();
}

// Runs `test` of this file in a process of its own: a quit cannot be undone.
void RunInChild(const char* test)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildVar, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=IdleQuit_MT.") + QString::fromLatin1(test)});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

TEST(IdleQuit_MT, WindowsBoundToInformersCloseOneByOneThenTheEngineStops)
{
    if (qEnvironmentVariableIsSet(kChildVar)) {
        QuitInThisProcess();
        return;
    }
    RunInChild("WindowsBoundToInformersCloseOneByOneThenTheEngineStops");
}

TEST(IdleQuit_MT, NothingIsDestroyedUnderADialogOpenedDuringTheQuit)
{
    if (qEnvironmentVariableIsSet(kChildVar)) {
        ModalDialogDuringQuitInThisProcess();
        return;
    }
    RunInChild("NothingIsDestroyedUnderADialogOpenedDuringTheQuit");
}

} // namespace
