// An upload queue survives a quit: the program, started as main() starts it
// over temporary XDG folders on a real X server (Xvfb), finds an FTP data
// source (vsftpd on 127.0.0.1) in its data-source file, opens it beside the
// local disk and takes a drop of a folder of 200 files on the FTP pane. The
// request shows in the transfer list and the workers in the pane's details;
// the program quits while it runs. Started again, it asks whether to resume,
// the answer is yes, the request completes and every file on the server is
// byte-identical to its source. The transfer list and the "Protocol" page of
// the running upload are saved as PNG files under the build folder
// (screenshots/).
//
// The test runs itself again for each start. The first start's server sends
// slowly (vsftpd's rate limit), so the quit always finds the upload running;
// the second start's server is the same without the limit.
#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "monitor/filedetailview.h"
#include "monitor/filetavo.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqinfoman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"
#include "support/kv_apprun.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"
#include "support/kv_vsftpd.h"
#include "support/kv_xvfb.h"
#include "views/filelistview.h"

#include <QDir>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>

namespace {

const char kChildVar[] = "KV_FTPQ_CHILD";
const char kDirVar[] = "KV_FTPQ_DIR";
const char kDsName[] = "Upload target";
const QString kShots = QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots");
constexpr int kFiles = 200;

std::string Work()
{
    return qEnvironmentVariable(kDirVar).toStdString();
}

int FilesOnServerIn(const std::string& folder)
{
    return static_cast<int>(QDir(QString::fromStdString(folder)).entryList(QDir::Files).size());
}

int FilesOnServer()
{
    return FilesOnServerIn(Work() + "/root/pub/tree");
}

// The one request of the transfer manager, or null.
const KV_FileReqInfo* TheRequest(KV_FileManPool& pool)
{
    KVTL::KV_HMapPtrIterator<unsigned int, KV_FileReqInfo> it(pool.man_trans().man_info().map());
    it.first();
    return it.end() ? nullptr : it.value();
}

CBrowseSplt* BrowseWnd()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w)) {
            return b;
        }
    }
    return nullptr;
}

// Questions of the engine are not expected; one that comes is printed and
// answered with its default, so that the failure shows what it asked.
struct NoQuestions
{
    kvtest::DialogDriver<CDlgAsk> driver{[](CDlgAsk& dlg) {
        ADD_FAILURE() << "asked: " << dlg.windowTitle().toStdString();
        dlg.done(QDialog::Accepted);
    }};
};

void FirstStart()
{
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    NoQuestions questions;
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    KV_FileManPool& pool = *app.GetPool();
    const KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    const KV_DsTreeNode* ftp = pool.tree().find(KV_String(kDsName));
    ASSERT_NE(local, nullptr);
    ASSERT_NE(ftp, nullptr) << "the data-source file holds the FTP server";

    // Local files on the left, the server's list and details on the right.
    const uint16_t flags = CBrowseSplt::kList | (CBrowseSplt::kList | CBrowseSplt::kDetails) << 8;
    ASSERT_TRUE(
        app.OpenBrowseWnd(KV_FileManId(local->id(), 0), KV_FileManId(ftp->id(), 0), flags, true));
    CBrowseSplt* wnd = BrowseWnd();
    ASSERT_NE(wnd, nullptr);
    wnd->setGeometry(20, 20, 760, 520);
    CBrowseFrm* left = wnd->GetPane(CBrowseSplt::kLeft);
    CBrowseFrm* right = wnd->GetPane(CBrowseSplt::kRight);
    ASSERT_TRUE(left != nullptr && right != nullptr);
    auto* list = right->findChild<CFileListView*>();
    auto* details = right->findChild<CFileDetailView*>();
    ASSERT_TRUE(list != nullptr && details != nullptr);
    // Logged in and in the start folder "/pub".
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            CFileManData* data = list->GetData();
            return data != nullptr && data->GetPath().entries() > 0 &&
                   QString::fromUtf8(data->GetPath().at(data->GetPath().entries() - 1).data()) ==
                       "pub";
        },
        30000));

    // The folder dragged from the local pane, dropped on the server's list.
    ASSERT_NE(left->GetData(), nullptr);
    CFileClipData clip;
    clip.src = left->GetData()->GetManId();
    KV_FileMan* local_man = pool.man(clip.src);
    ASSERT_NE(local_man, nullptr);
    ASSERT_TRUE(
        local_man->man_path().split_path(KV_String((Work() + "/work").c_str()), clip.dir, true));
    ASSERT_TRUE(clip.dir.prepend(local_man->man_path().dir_pre()));
    clip.names.add("tree");
    clip.has_dir = true;
    std::unique_ptr<QMimeData> mime(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), true));
    const QPoint empty(20, list->GetItemView()->viewport()->height() - 5);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    // The drag enters the list (which makes it the drop's target), moves
    // to an empty place, the current folder, and is let go.
    QDragEnterEvent enter(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->GetItemView()->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->GetItemView()->viewport(), &move);
    EXPECT_TRUE(move.isAccepted());
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    QDropEvent drop(empty, actions, mime.get(), Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list->GetItemView()->viewport(), &drop);
    ASSERT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);

    // The request in the transfer list; a few files up.
    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return translist->topLevelItemCount() == 1 && FilesOnServer() >= 3; }, 60000))
        << FilesOnServer() << " files";
    const QString row = translist->topLevelItem(0)->text(0);
    EXPECT_TRUE(row.startsWith("Copy") && row.contains(kDsName)) << row.toStdString();
    app.GetMainFrm()->raise();
    QTest::qWait(300);
    const QImage list_shot = kvtest::GrabOnScreen(*translist);
    EXPECT_TRUE(list_shot.save(kShots + "/translist-ftp.png", "PNG"));
    const QRect first_row = translist->visualItemRect(translist->topLevelItem(0))
                                .translated(translist->viewport()->mapTo(translist, QPoint()));
    EXPECT_GT(kvtest::DarkPixels(list_shot, first_row), 30) << "the row's texts";

    // The workers in the details, and the session log of the selected one.
    ASSERT_NE(details->OverviewPage(), nullptr);
    EXPECT_GE(details->OverviewPage()->List()->topLevelItemCount(), 1);
    details->SetCurrentIndex(1);
    CFileTavoLog* protocol = details->ProtocolPage();
    ASSERT_NE(protocol, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QString text = protocol->Log()->toPlainText();
            return text.contains("<<< ") && text.contains(">>> ");
        },
        30000))
        << protocol->Log()->toPlainText().toStdString();
    wnd->raise();
    QTest::qWait(300);
    const QImage protocol_shot = kvtest::GrabOnScreen(*protocol);
    EXPECT_TRUE(protocol_shot.save(kShots + "/protocol-ftp.png", "PNG"));
    EXPECT_GT(kvtest::DarkPixels(protocol_shot, protocol_shot.rect()), 200);

    // Quit while it runs.
    const KV_FileReqInfo* info = TheRequest(pool);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->status(), KV_REQ_STAT_RUNNING);
    QTimer::singleShot(0, &app, [&app] { app.PrepareQuit(); });
    EXPECT_EQ(app.exec(), 0);
    app.ExitInstance();
    std::printf("files at the quit: %d\n", FilesOnServer());
}

void SecondStart()
{
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    NoQuestions questions;
    QStringList listed;
    bool checked = false;
    kvtest::DialogDriver<DlgReqAsk> answer([&](DlgReqAsk& dlg) {
        for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i) {
            listed << dlg.List()->topLevelItem(i)->text(0);
            checked = dlg.List()->topLevelItem(i)->checkState(0) == Qt::Checked;
        }
        for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
            if (b->text() == "&OK") {
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no OK button";
        dlg.reject();
    });
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    ASSERT_EQ(listed.size(), 1) << listed.join(" | ").toStdString();
    EXPECT_TRUE(listed[0].contains("tree")) << listed[0].toStdString();
    EXPECT_TRUE(checked);

    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    // The list shows what the request says when it ends.
    kvtest::RunUntilRequestEnds(app, [&](const KV_FileReqInfo& info) {
        QTreeWidgetItem* row = translist->topLevelItem(0);
        EXPECT_TRUE(row != nullptr && row->text(1) == QString::fromUtf8(info.status_str()));
    });
}

// Writes the data-source file through the engine's own save: the local
// disk and the anonymous FTP server at `port`, which opens in "/pub".
void WriteDsFile(const std::string& folder, uint16_t port)
{
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(folder + "/scratch.conf");
    env.tmp = QString::fromStdString(folder);
    SetSettingsEnv(env);
    CKivrelApp* app = CKivrelApp::Instance();
    app->DeletePool();
    ASSERT_TRUE(app->CreatePool());
    KV_FileManPool& pool = *app->GetPool();
    ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, folder.c_str()));
    ASSERT_TRUE(kvtest::write_file(folder + "/kivrel.ds", ""));
    ASSERT_TRUE(pool.tree().load(pool.man_trans()));
    KV_DsTreeNodeFtp n;
    n.set_name(kDsName);
    n.set_inh_params(false);
    n.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
    n.params_ftp().set_anonymous(true);
    n.params_ftp().set_def_path(KV_String("/pub"), false);
    ASSERT_NE(pool.tree().create(pool.tree().find(KV_DS_NODE_FTP, true), &n, 0, true), nullptr);
    ASSERT_TRUE(pool.save());
    app->DeletePool();
    SetSettingsEnv(CSettingsEnv());
}

TEST(FtpQueueAcrossRestart_MT, ADroppedFolderUploadsWholeAfterAQuitAndARestart)
{
    const QByteArray which = qgetenv(kChildVar);
    if (which == "first" || which == "second") {
        kvtest::RunProgramPart(which == "first" ? &FirstStart : &SecondStart);
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    ASSERT_TRUE(QDir().mkpath(kShots));
    kvtest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    namespace fs = std::filesystem;
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    fs::create_directories(dir / "etc/kivrel");
    fs::create_directories(dir / "data/kivrel");
    fs::create_directories(dir / "root/pub");
    const passwd* pw = ::getpwnam("ftp");
    ASSERT_EQ(::chown((dir / "root/pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf",
                                   "[Init]\nMainExe=\"" KV_TEST_BUILD_DIR
                                   "/../../app/kivrel\"\nData=\"" KV_TEST_BUILD_DIR
                                   "/../../app/data\"\n"));
    fs::create_directories(dir / "config/kivrel");
    ASSERT_TRUE(kvtest::write_file(dir / "config/kivrel/kivrel.conf",
                                   "[Init]\nData=\"" + (dir / "data/kivrel") +
                                       "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n"));
    std::mt19937_64 rng(37);
    for (int i = 0; i < kFiles; ++i) {
        kvtest::write_random(dir / ("work/tree/f" + std::to_string(i) + ".bin"),
                             1024 + rng() % (24 * 1024), rng);
    }
    const uint16_t port = kvtest::closed_port();
    WriteDsFile(dir / "data/kivrel", port);

    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QProcessEnvironment env = kvtest::XcbChildEnv(display, QString::fromStdString(dir.path()));
    env.insert("GTEST_FILTER", "FtpQueueAcrossRestart_MT.*");
    env.insert(kDirVar, QString::fromStdString(dir.path()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
    env.insert("XDG_CONFIG_DIRS", QString::fromStdString(dir / "etc"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
    env.insert("HOME", QString::fromStdString(dir.path()));

    const auto run = [&](const char* which, const std::string& extra) {
        std::unique_ptr<kvtest::ChildProc> ftpd =
            kvtest::start_vsftpd(dir.path(), dir / "root", port, extra);
        EXPECT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
        QProcess child;
        QProcessEnvironment e = env;
        e.insert(kChildVar, which);
        child.setProcessEnvironment(e);
        child.setProcessChannelMode(QProcess::MergedChannels);
        // No arguments, as from the menu: the filter goes by the environment.
        child.start(QStringLiteral("/proc/self/exe"), QStringList());
        const bool finished = child.waitForFinished(150000);
        if (!finished) {
            child.kill();
            child.waitForFinished(10000);
        }
        const QByteArray output = child.readAll();
        EXPECT_TRUE(finished) << output.constData();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
        return output;
    };
    // 8 KiB/s for each data connection: a file of the tree takes up to
    // three seconds, the whole tree about a minute, and the first start
    // quits a few seconds after the drop.
    const QByteArray first = run("first", "anon_max_rate=8192\n");
    ASSERT_FALSE(HasFailure());
    const int at_quit = FilesOnServerIn(dir / "root/pub/tree");
    EXPECT_LT(at_quit, kFiles) << first.constData();
    std::printf("%d of %d files were up at the quit\n", at_quit, kFiles);
    run("second", "");
    EXPECT_EQ(kvtest::digests(dir / "root/pub/tree"), kvtest::digests(dir / "work/tree"));
    EXPECT_EQ(kvtest::digests(dir / "root/pub/tree").size(), static_cast<size_t>(kFiles));
}

} // namespace
