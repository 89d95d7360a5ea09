// Failure as a person meets it, through the whole program on a real X
// server: a wrong password, a refused certificate, a server that goes away
// in the middle of a download and a disk that fills up. Each ends with a
// message that says what happened, a transfer (where there is one) in Error
// or Restarting, and the good file that stood in the local folder unchanged.
//
// Each test is a parent that sets up the server and the program's home and
// runs the program as a child of its own (this test program again, its part
// chosen by an environment variable). The child opens the server's data
// source from the control window as a person does (select, Return), reads
// what the program shows and saves a picture of each step under
// <build>/screenshots/failures-<case>/.
#include "browse/browsefrm.h"
#include "browse/browserbar.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/reqmonitor.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_filemanparamsftp.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "journeys/browsesteps.h"
#include "menus/commands.h"
#include "monitor/dlgreqinfolog.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqinfoman.h"
#include "root/kv_filemanpool.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/starthooks.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"
#include "views/filelistview.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <sys/mount.h>

namespace {

const char kPartVar[] = "KV_FAIL_PART";
const char kDirVar[] = "KV_FAIL_DIR";
const char kDsName[] = "Failing server";
constexpr uint32_t kCopy = 57634;
constexpr uint32_t kPaste = 57637;
constexpr uint32_t kReqInfo = 32829;

std::string Work()
{
    return qEnvironmentVariable(kDirVar).toStdString();
}

QString Journey()
{
    return QStringLiteral("failures-") + qEnvironmentVariable(kPartVar);
}

// What the program said to the person: error boxes, questions and the
// start-up's errors, in order.
struct Said
{
    QStringList boxes;
    QStringList questions;
    QString All() const { return (boxes + questions).join(" | "); }
};

CBrowseSplt* BrowseWnd()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w); b != nullptr && b->isVisible()) {
            return b;
        }
    }
    return nullptr;
}

QStringList Names(CFileListView* list)
{
    QStringList names;
    const QAbstractItemModel* model = list != nullptr ? list->GetModel() : nullptr;
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
        names << model->index(row, 0).data().toString();
    }
    return names;
}

void SelectRow(CFileListView* list, const QString& name)
{
    list->setFocus();
    list->clearSelection();
    for (int row = 0; row < list->GetModel()->rowCount(); ++row) {
        if (list->GetModel()->index(row, 0).data().toString() == name) {
            list->selectionModel()->setCurrentIndex(list->GetModel()->index(row, 0),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
            return;
        }
    }
    ADD_FAILURE() << name.toStdString() << " is not listed";
}

// The window's command, as its menu item or key runs it; false when off.
bool Run(QWidget* wnd, uint32_t id)
{
    // No window manager: a dialog that just closed may not have handed the
    // activation back.
    if (!wnd->isActiveWindow()) {
        wnd->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(wnd));
    }
    CCommandLayer* layer = CCommandLayer::Of(wnd);
    QAction* action = layer->Action(id);
    layer->UpdateActions();
    if (action == nullptr || !action->isEnabled()) {
        return false;
    }
    action->trigger();
    return true;
}

// One start of the program in this process, as KivrelMain starts it, with
// every message box and question the person meets recorded and pictured.
// `answer` decides each question (the default: closed, which refuses).
class Program
{
public:
    explicit Program(std::function<void(CDlgAsk&)> answer = {}) : answer_(std::move(answer))
    {
        StartHooks().error = [this](const QString& text) { said.boxes << text; };
    }

    CKivrelApp& app = *CKivrelApp::Instance();
    kvtest::JourneyShots shots{Journey()};
    Said said;

    bool Start()
    {
        app.setQuitOnLastWindowClosed(false);
        return app.InitInstance();
    }

    // The data source chosen in the control window and opened with Return;
    // the browse window that opens (server left, local disk right).
    CBrowseSplt* OpenServer()
    {
        CMainFrm* frm = app.GetMainFrm();
        auto* view = frm != nullptr ? frm->findChild<CDsView*>() : nullptr;
        if (view == nullptr) {
            ADD_FAILURE() << "no control window";
            return nullptr;
        }
        frm->show();
        frm->raise();
        frm->activateWindow();
        QTreeWidgetItem* found = nullptr;
        for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
            if ((*it)->text(0) == kDsName) {
                found = *it;
            }
        }
        if (found == nullptr) {
            ADD_FAILURE() << "the control window does not list " << kDsName;
            return nullptr;
        }
        view->scrollToItem(found);
        view->setCurrentItem(found);
        view->setFocus();
        QTest::qWait(200);
        shots.Shot(QStringLiteral("control-window"));
        QTest::keyClick(view, Qt::Key_Return);
        CBrowseSplt* wnd = nullptr;
        EXPECT_TRUE(kvtest::WaitFor([&] { return (wnd = BrowseWnd()) != nullptr; }, 20000));
        if (wnd != nullptr) {
            wnd->setGeometry(20, 20, 760, 480);
        }
        return wnd;
    }

    // The local pane (right) opened at `folder` as a person gets there:
    // the drive, then each folder on the way, selected and opened with
    // Return.
    bool LocalFolder(CBrowseSplt* wnd, const std::string& folder)
    {
        CBrowseFrm* pane = wnd->GetPane(CBrowseSplt::kRight);
        auto* list = pane != nullptr ? pane->findChild<CFileListView*>() : nullptr;
        if (list == nullptr) {
            ADD_FAILURE() << "no local list";
            return false;
        }
        wnd->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(wnd));
        const auto depth = [&] {
            CFileManData* data = list->GetData();
            return data != nullptr ? static_cast<int>(data->GetPath().entries()) : -1;
        };
        QStringList steps = QString::fromStdString(folder).split('/', Qt::SkipEmptyParts);
        steps.prepend(QStringLiteral("/"));
        for (const QString& step : steps) {
            if (!kvtest::WaitFor([&] { return Names(list).contains(step); }, 20000)) {
                ADD_FAILURE() << "the local pane does not list " << step.toStdString() << ": "
                              << Names(list).join(",").toStdString();
                return false;
            }
            const int before = depth();
            SelectRow(list, step);
            QTest::keyClick(list->GetItemView(), Qt::Key_Return);
            if (!kvtest::WaitFor([&] { return depth() == before + 1; }, 20000)) {
                ADD_FAILURE() << step.toStdString() << " did not open";
                return false;
            }
        }
        KV_String text;
        CFileManData* data = list->GetData();
        EXPECT_TRUE(data->GetPathText(text, data->GetPath(), false, 0));
        return std::string(text.data(), text.length()).ends_with(folder);
    }

    // `name` copied from the server's list and pasted into the local list,
    // with the keys a person uses.
    bool Download(CBrowseSplt* wnd, const QString& name)
    {
        auto* server = wnd->GetPane(CBrowseSplt::kLeft)->findChild<CFileListView*>();
        auto* local = wnd->GetPane(CBrowseSplt::kRight)->findChild<CFileListView*>();
        if (!kvtest::WaitFor([&] { return Names(server).contains(name); }, 30000)) {
            ADD_FAILURE() << "the server's list shows " << Names(server).join(",").toStdString()
                          << "; said: " << said.All().toStdString();
            return false;
        }
        SelectRow(server, name);
        if (!Run(wnd, kCopy)) {
            ADD_FAILURE() << "copy is off";
            return false;
        }
        local->setFocus();
        if (!Run(wnd, kPaste)) {
            ADD_FAILURE() << "paste is off";
            return false;
        }
        return true;
    }

    // The transfer list's row and the request's information window, as a
    // person opens it from the row; the window's log as text.
    QString ShowRequest(const QString& step)
    {
        CMainFrm* frm = app.GetMainFrm();
        auto* translist = frm->findChild<CTransListView*>();
        EXPECT_NE(translist, nullptr);
        if (translist == nullptr || translist->topLevelItemCount() != 1) {
            ADD_FAILURE() << "no request in the transfer list";
            return {};
        }
        frm->show();
        // Wide enough that the row's status and error count show beside it.
        frm->setGeometry(100, 330, 900, 420);
        frm->raise();
        frm->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(frm));
        translist->setFocus();
        translist->setCurrentItem(translist->topLevelItem(0));
        QTest::qWait(300);
        shots.Shot(step + QStringLiteral("-transfer-list"));
        if (!Run(frm, kReqInfo)) {
            QWidget* focus = QApplication::focusWidget();
            ADD_FAILURE() << "the request's information is off; focus in "
                          << (focus != nullptr ? focus->metaObject()->className() : "nothing")
                          << ", selected " << translist->selectedItems().size();
            return {};
        }
        CDlgReqInfoLog* info = nullptr;
        EXPECT_TRUE(kvtest::WaitFor(
            [&] {
                info = CDlgReqInfoLog::Instance();
                return info != nullptr && info->isVisible() &&
                       info->LogList()->topLevelItemCount() > 0;
            },
            10000));
        QString log;
        if (info != nullptr) {
            // Wide enough that the log's texts show whole.
            info->setGeometry(10, 10, 1000, 600);
            info->raise();
            QTest::qWait(400);
            shots.Shot(step + QStringLiteral("-request-information"));
            for (QTreeWidgetItemIterator it(info->LogList()); *it != nullptr; ++it) {
                for (int c = 0; c < info->LogList()->columnCount(); ++c) {
                    log += (*it)->text(c) + QLatin1Char(' ');
                }
                log += QLatin1Char('\n');
            }
        }
        return log;
    }

    // Quits as a person does; the program ends well.
    void Quit()
    {
        QTimer::singleShot(0, &app, [this] { app.PrepareQuit(); });
        QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(7); });
        EXPECT_EQ(app.exec(), 0);
        app.ExitInstance();
    }

private:
    std::function<void(CDlgAsk&)> answer_;
    kvtest::DialogDriver<QMessageBox> boxes_{[this](QMessageBox& box) {
        said.boxes << box.text();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&box));
        QTest::qWait(200);
        shots.Shot(QStringLiteral("message"));
        box.done(QMessageBox::Ok);
    }};
    kvtest::DialogDriver<CDlgAsk> asks_{[this](CDlgAsk& dlg) {
        said.questions << dlg.Text();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QTest::qWait(200);
        shots.Shot(QStringLiteral("question"));
        if (answer_) {
            answer_(dlg);
        }
        if (dlg.isVisible()) {
            dlg.reject();
        }
    }};
};

void Click(CDlgAsk& dlg, int id)
{
    auto* b = dlg.Item<QPushButton>(id);
    if (b == nullptr) {
        ADD_FAILURE() << "no button " << id << " in: " << dlg.Text().toStdString();
        return;
    }
    QTest::mouseClick(b, Qt::LeftButton);
}

// ------------------------------------------------------------ the children

void WrongPassword()
{
    Program p;
    ASSERT_TRUE(p.Start()) << p.said.All().toStdString();
    CBrowseSplt* wnd = p.OpenServer();
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(kvtest::WaitFor(
        [&] {
            return !p.said.boxes.isEmpty() ||
                   wnd->StatusText().contains("login", Qt::CaseInsensitive);
        },
        30000))
        << "said: " << p.said.All().toStdString()
        << "; status: " << wnd->StatusText().toStdString();
    QTest::qWait(300);
    p.shots.Shot(QStringLiteral("after-login"));
    const QString said = p.said.All() + " | " + wnd->StatusText();
    std::printf("said: %s\n", qPrintable(said.simplified()));
    EXPECT_TRUE(said.contains("Login incorrect")) << said.toStdString();
    // The server pane's caption bar names the refusal, not a connection.
    auto* bar = qobject_cast<CBrowserBar*>(wnd->GetPane(CBrowseSplt::kLeft)->GetStatusBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(
        kvtest::WaitFor([&] { return bar->StatusText().startsWith("Login refused"); }, 10000))
        << bar->StatusText().toStdString();
    EXPECT_EQ(kvtest::TheRequest(*p.app.GetPool()), nullptr) << "browsing makes no transfer";
    p.Quit();
}

// The certificate question answered No: the program says the certificate
// was not trusted and lists nothing of the server.
void RefusedCertificate()
{
    Program p([](CDlgAsk& dlg) { Click(dlg, CDlgAsk::IDC_NO); });
    ASSERT_TRUE(p.Start()) << p.said.All().toStdString();
    CBrowseSplt* wnd = p.OpenServer();
    ASSERT_NE(wnd, nullptr);
    ASSERT_TRUE(kvtest::WaitFor(
        [&] {
            return !p.said.questions.isEmpty() &&
                   (!p.said.boxes.isEmpty() ||
                    wnd->StatusText().contains("certificate", Qt::CaseInsensitive));
        },
        30000))
        << "said: " << p.said.All().toStdString()
        << "; status: " << wnd->StatusText().toStdString();
    QTest::qWait(1000);
    p.shots.Shot(QStringLiteral("after-refusal"));
    ASSERT_EQ(p.said.questions.size(), 1) << p.said.All().toStdString();
    EXPECT_TRUE(p.said.questions[0].contains("Continue anyway"))
        << p.said.questions[0].toStdString();
    const QString said = p.said.boxes.join(" | ") + " | " + wnd->StatusText();
    std::printf("said: %s\n", qPrintable(said.simplified()));
    EXPECT_TRUE(said.contains("certificate", Qt::CaseInsensitive) &&
                said.contains("not trusted", Qt::CaseInsensitive))
        << said.toStdString();
    auto* server = wnd->GetPane(CBrowseSplt::kLeft)->findChild<CFileListView*>();
    EXPECT_FALSE(Names(server).contains("secret.txt")) << "listed over a refused connection";
    EXPECT_EQ(kvtest::TheRequest(*p.app.GetPool()), nullptr);
    p.Quit();
}

// A download of big.bin into the local folder, over the good copy there
// (the overwrite question answered Yes), until the request ends in Error
// or Restarting; the program's words about it: the message boxes, the
// request's last error and its information window's log.
QString DownloadUntilItFails(Program& p, const QString& step,
                             const std::function<void(const KV_FileReqInfo&)>& under_way = {})
{
    CBrowseSplt* wnd = p.OpenServer();
    if (wnd == nullptr) {
        return {};
    }
    EXPECT_TRUE(p.LocalFolder(wnd, Work() + "/local"));
    QTest::qWait(300);
    p.shots.Shot(QStringLiteral("browse"));
    if (!p.Download(wnd, QStringLiteral("big.bin"))) {
        return {};
    }
    KV_FileManPool& pool = *p.app.GetPool();
    const KV_FileReqInfo* info = nullptr;
    if (under_way) {
        // Some of the file has come: the list shows the download's progress.
        const bool going = kvtest::WaitFor(
            [&] {
                info = kvtest::TheRequest(pool);
                return info != nullptr && info->status() == KV_REQ_STAT_RUNNING &&
                       kvmon::ProgressKnown(info->prog_perc()) &&
                       kvmon::ProgressPercent(info->prog_perc()) >= 5;
            },
            60000);
        if (!going) {
            ADD_FAILURE() << "the download did not get going: "
                          << (info != nullptr ? info->status_str() : "no request")
                          << "; said: " << p.said.All().toStdString();
            return {};
        }
        p.app.GetMainFrm()->raise();
        QTest::qWait(300);
        p.shots.Shot(QStringLiteral("downloading"));
        under_way(*info);
    }
    const bool ended = kvtest::WaitFor(
        [&] {
            info = kvtest::TheRequest(pool);
            return info != nullptr && (info->status() == KV_REQ_STAT_ERROR ||
                                       info->status() == KV_REQ_STAT_RESTARTING ||
                                       info->status() == KV_REQ_STAT_COMPLETED);
        },
        90000);
    if (!ended) {
        ADD_FAILURE() << "the request did not fail: "
                      << (info != nullptr ? info->status_str() : "no request")
                      << "; said: " << p.said.All().toStdString();
        return {};
    }
    EXPECT_NE(info->status(), KV_REQ_STAT_COMPLETED);
    const QString status = QString::fromUtf8(info->status_str());
    const QString last = QString::fromUtf8(info->last_err().data());
    std::printf("request: %s, last error: %s\n", qPrintable(status), qPrintable(last));
    const QString log = p.ShowRequest(step);
    auto* translist = p.app.GetMainFrm()->findChild<CTransListView*>();
    EXPECT_EQ(translist->topLevelItem(0)->text(1), status) << "the list shows the status";
    return p.said.boxes.join(" | ") + " | " + last + " | " + log;
}

void LostConnection()
{
    Program p([](CDlgAsk& dlg) { Click(dlg, CDlgAsk::IDC_YES); });
    ASSERT_TRUE(p.Start()) << p.said.All().toStdString();
    // The parent takes the server away once the download is under way.
    const QString said =
        DownloadUntilItFails(p, QStringLiteral("connection-lost"), [](const KV_FileReqInfo&) {
            EXPECT_TRUE(kvtest::write_file(Work() + "/under-way", ""));
        });
    std::printf("said: %s\n", qPrintable(said.simplified()));
    // Which end the program notices first, the data's or the control
    // connection's, is the network's choice: either says what happened.
    EXPECT_TRUE(said.contains("The connection to the server was lost.") ||
                said.contains("The data ended before the end"))
        << said.toStdString();
    EXPECT_TRUE(said.contains("Couldn't open the control connection.")) << said.toStdString();
    const KV_FileReqInfo* info = kvtest::TheRequest(*p.app.GetPool());
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->status() == KV_REQ_STAT_ERROR || info->status() == KV_REQ_STAT_RESTARTING)
        << info->status_str();
    p.Quit();
}

void FullDisk()
{
    Program p([](CDlgAsk& dlg) { Click(dlg, CDlgAsk::IDC_YES); });
    ASSERT_TRUE(p.Start()) << p.said.All().toStdString();
    const QString said = DownloadUntilItFails(p, QStringLiteral("disk-full"));
    std::printf("said: %s\n", qPrintable(said.simplified()));
    EXPECT_TRUE(said.contains(QString::fromUtf8(std::strerror(ENOSPC)))) << said.toStdString();
    const KV_FileReqInfo* info = kvtest::TheRequest(*p.app.GetPool());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->status(), KV_REQ_STAT_ERROR) << info->status_str();
    // The transfer list's last error names the full disk itself.
    EXPECT_TRUE(QString::fromUtf8(info->last_err().data())
                    .contains(QString::fromUtf8(std::strerror(ENOSPC))))
        << info->last_err().data();
    p.Quit();
}

} // namespace

// ------------------------------------------------------------- the parents

namespace {

// Kills at once every process that runs the vsftpd of `conf`: vsftpd
// serves each session in processes of its own (forks of the listener),
// which outlive the listener otherwise.
void KillServer(const std::string& conf)
{
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return;
    }
    std::vector<pid_t> found;
    while (dirent* e = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) {
            continue;
        }
        std::ifstream in("/proc/" + std::string(e->d_name) + "/cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.find(conf) != std::string::npos) {
            found.push_back(pid);
        }
    }
    ::closedir(proc);
    for (pid_t pid : found) {
        ::kill(pid, SIGKILL);
    }
}

// What the program said, as its start printed it, for the reader of the
// test's output.
void PrintSaid(const QByteArray& output)
{
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("said: ") || line.startsWith("request: ")) {
            std::printf("%s\n", line.constData());
        }
    }
}

// A small disk of its own mounted on `dir` while the object lives.
class SmallDisk
{
public:
    explicit SmallDisk(const std::string& dir) : dir_(dir)
    {
        std::filesystem::create_directories(dir);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=8m") == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallDisk()
    {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }
    int error() const { return error_; }

private:
    std::string dir_;
    bool mounted_ = false;
    int error_ = 0;
};

// The data-source file, written through the engine's own save: the local
// disk and the FTP server at `port`, opened beside the local disk.
void WriteDsFile(const std::string& folder, uint16_t port, const std::string& user,
                 const std::string& pass, KV_FTP_SECURE security)
{
    kvtest::WriteDsFile(folder, folder, [&](KV_FileManPool& pool, KV_DsTreeNode& local) {
        KV_DsTreeNodeFtp n;
        KV_FileManParamsFtp& ftp = n.params_ftp();
        ftp.set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
        if (user.empty()) {
            ftp.set_anonymous(true);
        } else {
            ftp.set_anonymous(false);
            ftp.ldata().set_user(KV_String(user.c_str()));
            ftp.ldata().set_pass(KV_String(pass.c_str()));
        }
        ftp.set_security(security);
        ftp.set_def_path(KV_String("/pub"), false);
        kvtest::AddServerBesideLocal(pool, local, n, KV_DS_NODE_FTP, kDsName);
    });
}

// What every case shares: the program's home with the server's data
// source, the server's folder (root/pub, where a file named big.bin
// stands), an X server and vsftpd.
class Failures
{
public:
    kvtest::ProgramHome home;
    kvtest::XServer x;
    QString display;
    uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> ftpd;

    std::string Root() const { return home / "root"; }

    // False (with the reason) when the case cannot run here.
    bool Usable(std::string& why)
    {
        if (kvtest::XServer::Program().isEmpty()) {
            why = "Xvfb is not installed (package xvfb)";
            return false;
        }
        if (!kvtest::vsftpd_usable()) {
            why = "vsftpd is not installed or not run as root (package vsftpd)";
            return false;
        }
        return true;
    }

    void Prepare(const std::string& user, const std::string& pass, KV_FTP_SECURE security)
    {
        namespace fs = std::filesystem;
        ASSERT_TRUE(home.ok());
        fs::create_directories(Root() + "/pub");
        fs::create_directories(home / "config/kivrel");
        fs::create_directories(home.DataDir());
        ASSERT_TRUE(
            kvtest::write_file(home.ConfFile(), "[Init]\nData=\"" + home.DataDir() +
                                                    "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n"));
        WriteDsFile(home.DataDir(), port, user, pass, security);
        display = x.Start(QStringLiteral("1024x768x24"));
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    }

    void StartFtpd(const std::string& extra)
    {
        ftpd = kvtest::start_vsftpd(home.path(), Root(), port, extra);
        ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");
    }

    QProcessEnvironment Env(const char* part) const
    {
        QProcessEnvironment env =
            home.Env(display, QStringLiteral("FailuresAsMet_MT.") + part + QLatin1Char('*'));
        env.insert(kDirVar, QString::fromStdString(home.path()));
        return env;
    }
};

TEST(FailuresAsMet_MT, AWrongPasswordSaysTheLoginFailed)
{
    if (qgetenv(kPartVar) == "password") {
        kvtest::RunProgramPart(&WrongPassword);
        return;
    }
    Failures f;
    std::string why;
    if (!f.Usable(why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_NO_FATAL_FAILURE(f.Prepare("kvnobody", "not-the-password", KV_FTP_SECURE_NONE));
    ASSERT_NO_FATAL_FAILURE(f.StartFtpd("anonymous_enable=NO\nlocal_enable=YES\n"));
    kvtest::JourneyShots::Begin(QStringLiteral("failures-password"));
    PrintSaid(kvtest::RunStart(f.Env("AWrongPassword"), kPartVar, QStringLiteral("password")));
}

TEST(FailuresAsMet_MT, ARefusedCertificateSaysItWasNotTrustedAndNothingIsListed)
{
    if (qgetenv(kPartVar) == "certificate") {
        kvtest::RunProgramPart(&RefusedCertificate);
        return;
    }
    Failures f;
    std::string why;
    if (!f.Usable(why)) {
        GTEST_SKIP() << why;
    }
    if (kvtest::find_program("openssl").empty()) {
        GTEST_SKIP() << "openssl is not installed (package openssl)";
    }
    ASSERT_NO_FATAL_FAILURE(f.Prepare("", "", KV_FTP_SECURE_EXPLICIT));
    ASSERT_TRUE(kvtest::write_file(f.Root() + "/pub/secret.txt", "not for an untrusted peer\n"));
    const std::string key = f.home / "server.pem";
    const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                            "/CN=kivrel-failures -keyout '" +
                            key + "' -out '" + key + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    ASSERT_NO_FATAL_FAILURE(f.StartFtpd(
        "ssl_enable=YES\nallow_anon_ssl=YES\nrequire_ssl_reuse=NO\nrsa_cert_file=" + key +
        "\nrsa_private_key_file=" + key + "\n"));
    kvtest::JourneyShots::Begin(QStringLiteral("failures-certificate"));
    PrintSaid(
        kvtest::RunStart(f.Env("ARefusedCertificate"), kPartVar, QStringLiteral("certificate")));
}

TEST(FailuresAsMet_MT, AServerThatGoesAwaySaysTheConnectionWasLostAndTheOldCopyStays)
{
    if (qgetenv(kPartVar) == "connection") {
        kvtest::RunProgramPart(&LostConnection);
        return;
    }
    Failures f;
    std::string why;
    if (!f.Usable(why)) {
        GTEST_SKIP() << why;
    }
    ASSERT_NO_FATAL_FAILURE(f.Prepare("", "", KV_FTP_SECURE_NONE));
    // 8 MiB at 256 KiB/s: half a minute, cut off after the first part.
    kvtest::write_random(f.Root() + "/pub/big.bin", 8u << 20, 51);
    kvtest::write_random(f.home / "local/big.bin", 300000, 52);
    const std::string good = kvtest::sha256(f.home / "local/big.bin");
    ASSERT_NO_FATAL_FAILURE(f.StartFtpd("anon_max_rate=262144\n"));
    kvtest::JourneyShots::Begin(QStringLiteral("failures-connection"));
    kvtest::ProgramStart start(f.Env("AServerThatGoesAway"), kPartVar,
                               QStringLiteral("connection"));
    // The program says when the download is under way.
    const bool under_way = QTest::qWaitFor(
        [&] {
            return std::filesystem::exists(f.home / "under-way") ||
                   start.process().state() == QProcess::NotRunning;
        },
        120000);
    ASSERT_TRUE(under_way && start.process().state() == QProcess::Running)
        << start.process().readAll().constData();
    KillServer(f.home / "vsftpd.conf");
    PrintSaid(start.Finish(150000));
    EXPECT_EQ(kvtest::sha256(f.home / "local/big.bin"), good) << "the good copy was damaged";
}

TEST(FailuresAsMet_MT, AFullDiskSaysSoAndTheOldCopyStays)
{
    if (qgetenv(kPartVar) == "disk") {
        kvtest::RunProgramPart(&FullDisk);
        return;
    }
    Failures f;
    std::string why;
    if (!f.Usable(why)) {
        GTEST_SKIP() << why;
    }
    SmallDisk disk(f.home / "local");
    if (!disk.mounted()) {
        GTEST_SKIP() << "no small disk: mount says " << std::strerror(disk.error());
    }
    ASSERT_NO_FATAL_FAILURE(f.Prepare("", "", KV_FTP_SECURE_NONE));
    // 16 MiB for a disk of 8 MiB that holds a good copy already.
    kvtest::write_random(f.Root() + "/pub/big.bin", 16u << 20, 61);
    kvtest::write_random(f.home / "local/big.bin", 1u << 20, 62);
    const std::string good = kvtest::sha256(f.home / "local/big.bin");
    ASSERT_NO_FATAL_FAILURE(f.StartFtpd(""));
    kvtest::JourneyShots::Begin(QStringLiteral("failures-disk"));
    PrintSaid(kvtest::RunStart(f.Env("AFullDisk"), kPartVar, QStringLiteral("disk")));
    EXPECT_EQ(kvtest::sha256(f.home / "local/big.bin"), good) << "the good copy was damaged";
}

} // namespace
