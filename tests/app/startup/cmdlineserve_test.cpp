// A later start's command line runs in the control window of the running
// one, as a person meets it: the dialog of the command opens there while the
// later start still waits for its answer, and a copy confirmed in the
// transfer dialog arrives whole (from vsftpd). The running instance is this
// test process, with a live engine root; the later start is the program.
#include "core/settings.h"
#include "dialogs/checkcombo.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgfiletrans.h"
#include "foundation/kv_file.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/singleinst.h"
#include "startup/starthooks.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"
#include "support/kv_vsftpd.h"

#include <QApplication>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kProgram = QStringLiteral(KV_TEST_BUILD_DIR "/../../app/kivrel");

class CmdLineServe_MT : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        ASSERT_TRUE(QFileInfo(kProgram).isExecutable()) << kProgram.toStdString();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->GetBridge().InstallHooks();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        for (const char* sub : {"settings", "tmp", "got", "run"}) {
            std::filesystem::create_directories(dir / sub);
        }
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (dir / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "settings/kivrel.ds", ""));
        ASSERT_TRUE(pool->load_ds());
        ASSERT_TRUE(pool->man_trans().start());
        frm = new CMainFrm;
        ASSERT_TRUE(frm->CreateFrame());
        app->SetMainFrm(frm);

        first = std::make_unique<CSingleInstance>(QString::fromStdString(dir / "run/kivrel"));
        QString error;
        ASSERT_EQ(first->Acquire(error), CSingleInstance::kFirst) << error.toStdString();
        ASSERT_TRUE(first->Listen(error)) << error.toStdString();
        first->EndStartUp();
        ServeCommandLines(*first);
    }
    void TearDown() override
    {
        for (QProcess* p : children) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
            delete p;
        }
        first.reset();
        app->SetMainFrm(nullptr);
        delete frm;
        if (pool != nullptr) {
            EXPECT_TRUE(kvtest::WaitFor([this] { return pool->term(); }, 30000));
        }
        app->DeletePool();
        SetSettingsEnv(CSettingsEnv());
    }
    // The program started again by the user, with `args`.
    QProcess* Start(const QStringList& args)
    {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
        env.insert("HOME", QString::fromStdString(dir.path()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(kProgram, args);
        children << p;
        return p;
    }
    bool Ended(QProcess* p, int ms = 60000)
    {
        return kvtest::WaitFor([p] { return p->state() == QProcess::NotRunning; }, ms);
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
    CMainFrm* frm = nullptr;
    std::unique_ptr<CSingleInstance> first;
    QList<QProcess*> children;
};

TEST_F(CmdLineServe_MT, TheCommandsDialogOpensInTheControlWindowWhileTheLaterStartWaits)
{
    struct Case
    {
        QStringList args;
        const char* dialog;
    } const cases[] = {
        {{"CP", "/no/such/f.bin"}, "CDlgFileTrans"},
        {{"reg", "\"http://127.0.0.1/doc.txt\""}, "CDlgFileReg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialog);
        frm->hide();
        QProcess* later = Start(c.args);
        QString shown;
        bool over_control_window = false;
        bool raised = false;
        bool later_waits = false;
        kvtest::DialogDriver<QDialog> answer([&](QDialog& dlg) {
            shown = dlg.metaObject()->className();
            over_control_window = dlg.parentWidget() == frm;
            raised = frm->isVisible();
            QTest::qWait(300);
            later_waits = later->state() == QProcess::Running;
            dlg.reject();
        });
        ASSERT_TRUE(Ended(later));
        EXPECT_EQ(later->exitCode(), 0) << later->readAll().constData();
        EXPECT_EQ(shown, c.dialog);
        EXPECT_TRUE(over_control_window);
        EXPECT_TRUE(raised);
        EXPECT_TRUE(later_waits);
        EXPECT_EQ(answer.handled, 1);
    }
}

TEST_F(CmdLineServe_MT, ALaterStartThatEndsWhileItsDialogIsOpenLeavesTheRunningOneServing)
{
    QProcess* later = Start({"CP", "/no/such/f.bin"});
    kvtest::DialogDriver<CDlgFileTrans> answer([&](CDlgFileTrans& dlg) {
        later->kill();
        later->waitForFinished();
        // Its socket learns of the end while the dialog is still open.
        QTest::qWait(300);
        dlg.reject();
    });
    ASSERT_TRUE(Ended(later));
    ASSERT_TRUE(kvtest::WaitFor(
        [&] { return answer.handled == 1 && QApplication::activeModalWidget() == nullptr; }));
    // A drop of an unknown kind runs nothing: the answer comes at once.
    QProcess* next = Start({"WEXPL_DROP", "/tmp", "XX", "YY"});
    ASSERT_TRUE(Ended(next));
    EXPECT_EQ(next->exitCode(), 0) << next->readAll().constData();
}

TEST_F(CmdLineServe_MT, AFileOfVsftpdConfirmedInTheTransferDialogArrivesByteForByte)
{
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    const std::string root = dir / "ftproot";
    std::filesystem::create_directories(root);
    // Not a multiple of any block size, so a lost or doubled tail shows.
    kvtest::write_random(root + "/f.bin", (3u << 20) + 4097, 34);
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server = kvtest::start_vsftpd(dir.path(), root, port, "");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");

    const std::string target = dir / "got/f.bin";
    // The note that the request joined the list, closed as the user would.
    kvtest::DialogDriver<CDlgAppInfo> note([](CDlgAppInfo& dlg) { dlg.accept(); });
    QProcess* later = Start({"CP", QStringLiteral("ftp://127.0.0.1:%1/f.bin").arg(port)});
    bool later_waits = false;
    QString source_ds;
    QString source_file;
    kvtest::DialogDriver<CDlgFileTrans> answer([&](CDlgFileTrans& dlg) {
        auto* src_box = dlg.Item<CComboDs>(CDlgFileTrans::IDC_SRC_DS);
        auto* dst_box = dlg.Item<CComboDs>(CDlgFileTrans::IDC_DST_DS);
        source_ds = src_box->currentText();
        source_file = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE)->text();
        for (int i = 0; i < dst_box->count(); ++i) {
            const KV_DsTreeNode* node = dst_box->GetItemNode(i);
            if (node != nullptr && node->type() == KV_DS_NODE_STD) {
                dst_box->setCurrentIndex(i);
                break;
            }
        }
        dlg.Item<QLineEdit>(CDlgFileTrans::IDC_DST_FILE)->setText(QString::fromStdString(target));
        later_waits = later->state() == QProcess::Running;
        dlg.accept();
    });
    ASSERT_TRUE(Ended(later));
    EXPECT_EQ(later->exitCode(), 0) << later->readAll().constData();
    ASSERT_EQ(answer.handled, 1);
    EXPECT_TRUE(later_waits);
    EXPECT_TRUE(source_ds.contains("127.0.0.1")) << source_ds.toStdString();
    EXPECT_EQ(source_file, "/f.bin");

    const std::string want = kvtest::sha256(root + "/f.bin");
    ASSERT_FALSE(want.empty());
    EXPECT_TRUE(kvtest::WaitFor(
        [&] {
            std::error_code ec;
            return std::filesystem::file_size(target, ec) ==
                       std::filesystem::file_size(root + "/f.bin") &&
                   kvtest::sha256(target) == want;
        },
        60000))
        << server->log();
}

} // namespace
