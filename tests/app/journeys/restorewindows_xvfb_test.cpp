// A quit with work open, as a person meets it: the program is started as
// main() starts it, over a home of its own, on an X server. The person opens
// two browse windows from the control window's tree (the FTP server beside
// the local disk, and the local disk alone), drags a file from the server's
// pane onto the local pane while the server sends slowly, and quits with the
// quit command. The next start asks whether to resume, the person clicks
// OK, and the program shows both browse windows again, on the same data
// sources and folders, with the download in the transfer list; it completes
// and the file arrives whole (SHA-256).
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgask.h"
#include "journeys/browsesteps.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"
#include "support/kv_apprun.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"

#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const char kPartVar[] = "KV_JR_RESTORE_PART";
const char kHomeVar[] = "KV_JR_RESTORE_HOME";
const char kDsName[] = "Download server";
const char kLocalName[] = "This Computer";
const QString kJourney = QStringLiteral("restore-windows");
constexpr uint64_t kFileSize = uint64_t{8} << 20;

std::string Home()
{
    return qEnvironmentVariable(kHomeVar).toStdString();
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

// What a browse window shows: per side, the data source's name and the
// folder of its pane ("-" for a side without one).
QStringList Shows(CBrowseSplt& wnd)
{
    QStringList sides;
    for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
        CBrowseFrm* pane = wnd.GetPane(side);
        CFileManData* data = pane != nullptr ? pane->GetData() : nullptr;
        if (data == nullptr) {
            sides << QStringLiteral("-");
            continue;
        }
        const KV_DsTreeNode* node =
            CKivrelApp::Instance()->GetPool()->tree().find(KV_FileManId(data->GetManId(), 0));
        KV_String path;
        data->GetPathText(path, data->GetPath(), false, 0);
        sides << (node != nullptr ? QString::fromUtf8(node->name().data()) : QStringLiteral("?")) +
                     QStringLiteral(" ") + QString::fromUtf8(path.data());
    }
    return sides;
}

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

    CBrowseSplt* ftp = kvtest::OpenFromTree(*frm, QString::fromUtf8(kDsName));
    ASSERT_NE(ftp, nullptr);
    ftp->setGeometry(10, 30, 640, 360);
    CFileListView* server = kvtest::ListShowing(*ftp, CBrowseSplt::kLeft, "pub");
    CFileListView* local = kvtest::ListShowing(*ftp, CBrowseSplt::kRight, "dl");
    ASSERT_TRUE(server != nullptr && local != nullptr);
    CBrowseSplt* disk = kvtest::OpenFromTree(*frm, QString::fromUtf8(kLocalName));
    ASSERT_NE(disk, nullptr);
    disk->setGeometry(60, 420, 640, 300);
    CFileListView* disk_list = kvtest::ListShowing(*disk, CBrowseSplt::kLeft, "dl");
    ASSERT_NE(disk_list, nullptr);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return server->GetItemView()->model()->rowCount() > 0; }, 10000));

    // From the server's pane of one window onto the local disk of the
    // other: the download keeps both windows' data sources busy.
    kvtest::DragFile(*server, *disk_list, "f.bin");
    auto* translist = frm->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const KV_FileReqInfo* info = kvtest::TheRequest(*app.GetPool());
            return translist->topLevelItemCount() == 1 && info != nullptr &&
                   info->status() == KV_REQ_STAT_RUNNING;
        },
        30000));
    QTest::qWait(300);
    const QStringList ftp_shows = Shows(*ftp);
    const QStringList disk_shows = Shows(*disk);
    std::printf("before the quit: [%s] [%s]\n", ftp_shows.join(" | ").toUtf8().constData(),
                disk_shows.join(" | ").toUtf8().constData());
    shots.Shot(QStringLiteral("two-windows-and-a-download-before-the-quit"));
    // Kept for the next start to compare with.
    ASSERT_TRUE(kvtest::write_file(Home() + "/shown-at-quit",
                                   (ftp_shows + disk_shows).join("\n").toStdString()));

    // The quit command of the control window, and yes to its question.
    bool asked = false;
    kvtest::DialogDriver<CDlgAppInfo> sure([&](CDlgAppInfo& dlg) {
        asked = true;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        shots.Shot(QStringLiteral("quit-question"));
        for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
            if (b->text() == "&Yes") {
                QTest::mouseClick(b, Qt::LeftButton);
                return;
            }
        }
        ADD_FAILURE() << "no Yes button";
        dlg.reject();
    });
    QAction* exit = kvtest::Action(*frm, 57665);
    ASSERT_NE(exit, nullptr);
    QTimer::singleShot(0, frm, [frm, exit] {
        frm->activateWindow();
        exit->trigger();
    });
    EXPECT_EQ(app.exec(), 0);
    app.ExitInstance();
    EXPECT_TRUE(asked);
}

void SecondStart()
{
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    NoQuestions questions;
    kvtest::JourneyShots shots(kJourney);
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
    EXPECT_EQ(answer.handled, 1);
    ASSERT_EQ(listed.size(), 1) << listed.join(" | ").toStdString();
    EXPECT_TRUE(listed[0].contains("f.bin")) << listed[0].toStdString();
    EXPECT_TRUE(checked);
    // The download is back in the transfer list.
    auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return translist->topLevelItemCount() == 1; }, 5000));
    EXPECT_TRUE(translist->topLevelItem(0)->text(0).contains("f.bin"))
        << translist->topLevelItem(0)->text(0).toStdString();

    // Both windows are back, showing what they showed at the quit.
    QList<CBrowseSplt*> wnds;
    const bool shown = QTest::qWaitFor(
        [&] {
            wnds.clear();
            for (CBrowseSplt* b : kvtest::BrowseWnds()) {
                if (b->isVisible()) {
                    wnds << b;
                }
            }
            return wnds.size() == 2;
        },
        10000);
    EXPECT_TRUE(shown) << kvtest::BrowseWnds().size() << " browse windows, " << wnds.size()
                       << " shown";
    const QStringList at_quit =
        QString::fromStdString(kvtest::read_file(Home() + "/shown-at-quit")).split('\n');
    QStringList now;
    for (CBrowseSplt* b : wnds) {
        // The panes list their folders again once connected.
        for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
            if (b->GetPane(side) != nullptr && b->GetPane(side)->GetData() != nullptr) {
                EXPECT_NE(kvtest::ListShowing(*b, side, QString()), nullptr);
            }
        }
        now << Shows(*b);
    }
    std::sort(now.begin(), now.end());
    QStringList want = at_quit;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(now.join(" | ").toStdString(), want.join(" | ").toStdString());
    // The server's pane lists the file again.
    for (CBrowseSplt* b : wnds) {
        CBrowseFrm* pane = b->GetPane(CBrowseSplt::kLeft);
        if (pane != nullptr && pane->GetData() != nullptr &&
            pane->GetData()->GetManId().type() == KV_DS_NODE_FTP) {
            auto* list = pane->findChild<CFileListView*>();
            ASSERT_NE(list, nullptr);
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return list->GetItemView()->model()->rowCount() > 1; }, 30000));
        }
    }
    // Side by side as they stood before.
    for (int i = 0; i < wnds.size(); ++i) {
        wnds[i]->setGeometry(i == 0 ? QRect(10, 30, 640, 360) : QRect(60, 420, 640, 300));
    }
    QTest::qWait(300);
    shots.Shot(QStringLiteral("two-windows-and-the-download-after-the-restart"));
    kvtest::RunUntilRequestEnds(
        app,
        [&](const KV_FileReqInfo&) {
            app.GetMainFrm()->raise();
            QTest::qWait(200);
            shots.Shot(QStringLiteral("completed"));
        },
        90000);
}

TEST(RestoreWindowsJourney_MT, TwoBrowseWindowsAndAQueuedDownloadComeBackAfterAQuit)
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
    kvtest::write_random(home / "ftp/root/pub/f.bin", kFileSize, 43);
    const uint16_t port = kvtest::closed_port();
    fs::create_directories(home.DataDir());
    kvtest::WriteFtpDsFile(home.DataDir(), home / "tmp", kDsName, port, home / "dl");
    ASSERT_FALSE(HasFailure());

    kvtest::XServer x;
    const QString display = x.Start(QStringLiteral("1024x768x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QProcessEnvironment env = home.Env(display, QStringLiteral("RestoreWindowsJourney_MT.*"));
    env.insert(kHomeVar, QString::fromStdString(home.path()));
    kvtest::JourneyShots::Begin(kJourney);
    {
        // 64 KiB/s: the file would take two minutes; the quit comes first.
        std::unique_ptr<kvtest::ChildProc> ftpd =
            kvtest::start_vsftpd(home.path(), home / "ftp/root", port, "anon_max_rate=65536\n");
        ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
        kvtest::RunStart(env, kPartVar, QStringLiteral("first"));
    }
    ASSERT_FALSE(HasFailure());
    EXPECT_FALSE(fs::exists(home / "dl/f.bin"));
    {
        // 512 KiB/s: the download runs for some seconds after the restart,
        // long enough to be seen in the list.
        std::unique_ptr<kvtest::ChildProc> ftpd =
            kvtest::start_vsftpd(home.path(), home / "ftp/root", port, "anon_max_rate=524288\n");
        ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
        kvtest::RunStart(env, kPartVar, QStringLiteral("second"));
    }
    EXPECT_EQ(kvtest::sha256(home / "dl/f.bin"), kvtest::sha256(home / "ftp/root/pub/f.bin"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(home / "dl")) {
        left.push_back(e.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"f.bin"});
}

} // namespace
