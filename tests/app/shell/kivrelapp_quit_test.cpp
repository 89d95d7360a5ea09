// Preparing the quit: it cannot be undone within a process, so the test runs
// itself again in a process of its own.
#include "shell/kivrelapp.h"

#include "datasources/kv_dstreenodeds.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testtools.h"

#include <QDialog>
#include <QProcess>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace {

const char kChildVar[] = "KV_QUIT_CHILD";

void PrepareQuitInThisProcess()
{
    CKivrelApp& app = *CKivrelApp::Instance();
    app.GetBridge().InstallHooks();
    kvtest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
    ASSERT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
    ASSERT_TRUE(app.CreatePool());
    ASSERT_TRUE(app.GetPool()->tree().load(app.GetPool()->man_trans()));

    QWidget frame;
    frame.show();
    QDialog top;
    top.show();
    QDialog inner(&frame); // found among the frame's children
    inner.show();
    app.PrepareQuit();
    EXPECT_TRUE(app.Quitting());
    EXPECT_FALSE(top.isVisible());
    EXPECT_FALSE(inner.isVisible());
    EXPECT_EQ(top.result(), QDialog::Rejected);
    EXPECT_FALSE(frame.isEnabled());
    EXPECT_TRUE(app.WindowsDisabled());
    // The engine root was saved, and saves nothing more.
    const std::string saved = kvtest::read_file(dir / "kivrel.ds");
    EXPECT_NE(saved, "");
    KV_DsTreeNodeFtp n;
    n.set_name("Server");
    n.params_ftp().set_dst_addr("ftp.example.com");
    KV_DsTree& tree = app.GetPool()->tree();
    ASSERT_NE(tree.create(tree.find(KV_DS_NODE_FTP, true), &n, 0, true), nullptr);
    EXPECT_EQ(kvtest::read_file(dir / "kivrel.ds"), saved);

    // A question that arrives now is still shown: the idle pass shows it
    // between closing windows. Closing it answers none.
    KV_Informer informer;
    std::atomic<int> ans{-1};
    kvtest::DialogDriver<CDlgAsk> driver([](CDlgAsk& dlg) { dlg.reject(); });
    std::thread t([&] { ans = informer.ask("overwrite?", KV_ANS_YES, KV_ASK_YES_NO, nullptr); });
    ASSERT_TRUE(kvtest::WaitFor([&] { return ans != -1; }));
    EXPECT_EQ(driver.handled, 1);
    informer.shutdown();
    t.join();
    EXPECT_EQ(ans, KV_ANS_NONE);
    app.DeletePool();
    EXPECT_EQ(app.GetPool(), nullptr);
}

TEST(CKivrelAppQuit_MT, PrepareQuitEndsDialogsSavesAndKeepsWindowsDisabled)
{
    if (qEnvironmentVariableIsSet(kChildVar)) {
        PrepareQuitInThisProcess();
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kChildVar, "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=CKivrelAppQuit_MT.*")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

} // namespace
