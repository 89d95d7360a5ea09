// A crash in the middle of a download, as a person meets it: the program
// is started as main() starts it, over a home of its own, on an X server.
// The person opens the FTP server (vsftpd) from the control window's tree
// beside the local disk and drags a file of 200 MiB from the server's pane
// onto the local pane; half-way the program is killed (SIGKILL). Started
// again, it asks whether to resume, lists the download, the person clicks
// OK and the file arrives whole (SHA-256), with no part file left. While
// that start runs, a later start with a command line hands it over and ends;
// the running one shows the command's dialog.
//
// The first start's server sends slowly (vsftpd's rate limit), so the kill
// always lands while the part file grows; the parent kills the first start
// once that start has taken its pictures and the part file passed a size.
#include "dialogs/dlgask.h"
#include "dialogs/dlgfiletrans.h"
#include "journeys/browsesteps.h"
#include "startup/dlginit.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"
#include "support/kv_apprun.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const char kPartVar[] = "KV_JR_CRASH_PART";
const char kHomeVar[] = "KV_JR_CRASH_HOME";
const char kPortVar[] = "KV_JR_CRASH_PORT";
const char kDsName[] = "Download server";
const QString kJourney = QStringLiteral("crash-resume");
const QString kProgram = QStringLiteral(KV_TEST_BUILD_DIR "/../../app/kivrel");
constexpr int64_t kFileSize = int64_t{200} << 20;
// The part file's size at which the first start is killed.
constexpr int64_t kKillPast = int64_t{4} << 20;
// The temporary name the local disk writes a download under.
const char kPart[] = "dl/.big.bin.kivrel-part";
// The first start has taken its last picture and may be killed.
const char kReady[] = "ready-to-kill";

std::string Home()
{
    return qEnvironmentVariable(kHomeVar).toStdString();
}

// What the file holds on disk: the download sizes its part file whole at
// the start, so its length says nothing of what arrived.
int64_t OnDisk(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? int64_t{st.st_blocks} * 512 : 0;
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
    kvtest::JourneyShots shots(kJourney);
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    CMainFrm* frm = app.GetMainFrm();
    ASSERT_NE(frm, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm));
    shots.Shot(QStringLiteral("control-window"));

    CBrowseSplt* wnd = kvtest::OpenFromTree(*frm, QString::fromUtf8(kDsName));
    ASSERT_NE(wnd, nullptr);
    wnd->setGeometry(10, 40, 780, 500);
    // The server's files on the left, the local download folder on the
    // right.
    CFileListView* server = kvtest::ListShowing(*wnd, CBrowseSplt::kLeft, "pub");
    CFileListView* local = kvtest::ListShowing(*wnd, CBrowseSplt::kRight, "dl");
    ASSERT_TRUE(server != nullptr && local != nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return server->GetItemView()->model()->rowCount() > 0; }, 10000));
    QTest::qWait(300);
    shots.Shot(QStringLiteral("ftp-beside-local"));

    kvtest::DragFile(*server, *local, "big.bin");
    auto* translist = frm->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    const std::string part = Home() + "/" + kPart;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return translist->topLevelItemCount() == 1 && OnDisk(part) > kKillPast; }, 60000))
        << OnDisk(part) << " bytes on disk in the part file";
    const QString row = translist->topLevelItem(0)->text(0);
    EXPECT_TRUE(row.contains("big.bin")) << row.toStdString();
    const KV_FileReqInfo* info = kvtest::TheRequest(*app.GetPool());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->status(), KV_REQ_STAT_RUNNING);
    frm->raise();
    QTest::qWait(300);
    shots.Shot(QStringLiteral("downloading-before-the-kill"));
    ASSERT_TRUE(kvtest::write_file(Home() + "/" + kReady, ""));
    // Runs on until the kill.
    app.exec();
    ADD_FAILURE() << "the first start was to be killed";
}

void SecondStart()
{
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    NoQuestions questions;
    kvtest::JourneyShots shots(kJourney);
    // The splash, as the screen shows it once painted, alone: taken from the
    // poll itself (a wait there would answer the question inside it), and
    // not while the question covers it.
    bool splash = false;
    QElapsedTimer seen;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        bool asking = false;
        CDlgInit* dlg = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            asking = asking || (qobject_cast<DlgReqAsk*>(w) != nullptr && w->isVisible());
            if (auto* d = qobject_cast<CDlgInit*>(w); d != nullptr && d->isVisible()) {
                dlg = d;
            }
        }
        if (splash || dlg == nullptr || dlg->windowHandle() == nullptr ||
            !dlg->windowHandle()->isExposed()) {
            return;
        }
        if (!seen.isValid()) {
            seen.start();
        } else if (seen.elapsed() >= 200 && !asking) {
            splash = true;
            shots.Shot(QStringLiteral("splash-at-restart"));
        }
    });
    poll.start();
    // The question lists the download, checked; a person clicks OK.
    QStringList listed;
    bool checked = false;
    kvtest::DialogDriver<DlgReqAsk> answer([&](DlgReqAsk& dlg) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QTest::qWait(200);
        shots.Shot(QStringLiteral("resume-question"));
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
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    poll.stop();
    EXPECT_TRUE(splash);
    EXPECT_EQ(answer.handled, 1);
    ASSERT_EQ(listed.size(), 1) << listed.join(" | ").toStdString();
    EXPECT_TRUE(listed[0].contains("big.bin")) << listed[0].toStdString();
    EXPECT_TRUE(checked);

    // A later start with a command line: it hands the line over and waits
    // while the running one shows the command's dialog, which the person
    // cancels.
    const QString url =
        QStringLiteral("ftp://127.0.0.1:%1/pub/big.bin").arg(qEnvironmentVariable(kPortVar));
    QProcess later;
    later.setProcessChannelMode(QProcess::MergedChannels);
    bool later_waits = false;
    QString source;
    kvtest::DialogDriver<CDlgFileTrans> forwarded([&](CDlgFileTrans& dlg) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QTest::qWait(200);
        shots.Shot(QStringLiteral("later-start-forwards-its-command"));
        source = dlg.Item<QLineEdit>(CDlgFileTrans::IDC_SRC_FILE)->text();
        later_waits = later.state() == QProcess::Running;
        dlg.reject();
    });
    later.start(kProgram, {QStringLiteral("CP"), url});
    ASSERT_TRUE(kvtest::WaitFor([&] { return later.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(later.exitCode(), 0) << later.readAll().constData();
    EXPECT_EQ(forwarded.handled, 1);
    EXPECT_TRUE(later_waits);
    EXPECT_EQ(source, "/pub/big.bin");

    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    kvtest::RunUntilRequestEnds(app, [&](const KV_FileReqInfo& info) {
        QTreeWidgetItem* row = translist->topLevelItem(0);
        EXPECT_TRUE(row != nullptr && row->text(1) == QString::fromUtf8(info.status_str()));
        app.GetMainFrm()->raise();
        QTest::qWait(200);
        shots.Shot(QStringLiteral("completed"));
    });
}

TEST(CrashResumeJourney_MT, ADownloadKilledHalfWayIsResumedAfterTheRestartAndArrivesWhole)
{
    const QByteArray part = qgetenv(kPartVar);
    if (part == "first" || part == "second") {
        kvtest::RunProgramPart(part == "first" ? &FirstStart : &SecondStart);
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    kvtest::ProgramHome home;
    ASSERT_TRUE(home.ok());
    namespace fs = std::filesystem;
    fs::create_directories(home / "dl");
    fs::create_directories(home / "ftp/root/pub");
    fs::create_directories(home / "config/kivrel");
    // A user who has started the program before and switched the tips and
    // the note on each new request off.
    ASSERT_TRUE(kvtest::write_file(home.ConfFile(), "[Init]\nData=\"" + home.DataDir() +
                                                        "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n"));
    kvtest::write_random(home / "ftp/root/pub/big.bin", static_cast<uint64_t>(kFileSize), 42);
    const uint16_t port = kvtest::closed_port();
    fs::create_directories(home.DataDir());
    kvtest::WriteFtpDsFile(home.DataDir(), home / "tmp", kDsName, port, home / "dl");
    ASSERT_FALSE(HasFailure());

    kvtest::XServer x;
    const QString display = x.Start(QStringLiteral("1024x768x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QProcessEnvironment env = home.Env(display, QStringLiteral("CrashResumeJourney_MT.*"));
    env.insert(kHomeVar, QString::fromStdString(home.path()));
    env.insert(kPortVar, QString::number(port));
    kvtest::JourneyShots::Begin(kJourney);

    {
        // 2 MiB/s for each data connection: the whole file would take over a
        // minute and a half.
        std::unique_ptr<kvtest::ChildProc> ftpd =
            kvtest::start_vsftpd(home.path(), home / "ftp/root", port, "anon_max_rate=2097152\n");
        ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
        kvtest::ProgramStart first(env, kPartVar, QStringLiteral("first"));
        QProcess& child = first.process();
        const bool ready = QTest::qWaitFor(
            [&] { return fs::exists(home / kReady) || child.state() == QProcess::NotRunning; },
            120000);
        ASSERT_TRUE(ready && child.state() == QProcess::Running) << child.readAll().constData();
        const int64_t at_kill = OnDisk(home / kPart);
        EXPECT_GT(at_kill, kKillPast);
        EXPECT_LT(at_kill, kFileSize);
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
        EXPECT_FALSE(fs::exists(home / "dl/big.bin"));
        EXPECT_TRUE(fs::exists(home / kPart));
        std::printf("killed with %lld bytes on disk in the part file\n",
                    static_cast<long long>(at_kill));
    }
    {
        std::unique_ptr<kvtest::ChildProc> ftpd =
            kvtest::start_vsftpd(home.path(), home / "ftp/root", port, "");
        ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
        kvtest::RunStart(env, kPartVar, QStringLiteral("second"));
    }
    EXPECT_EQ(kvtest::sha256(home / "dl/big.bin"), kvtest::sha256(home / "ftp/root/pub/big.bin"));
    EXPECT_FALSE(fs::exists(home / kPart));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(home / "dl")) {
        left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"big.bin"});
}

} // namespace
