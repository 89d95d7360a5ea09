// Browse and copy over the secured protocols, as a person does it: the
// program starts as its main starts it, over a home of its own, on a real X
// server (Xvfb); the control window lists a data source written into the
// data-source file before the first start (the connection wizard is another
// journey's matter), which opens beside the local disk. The server's
// identity is asked about once and answered "Always trust this server"; a
// local folder of 100 files and a file of 32 MiB dragged onto the server's
// pane copy as one request, which the transfer list shows running while the
// upload speed moves, until it ends Completed; the server's copy is
// SHA-256-equal to the source.
//
// The program then starts a second time in the same home: the certificate
// or host key stored by the first start lets it list the server without a
// question. FTPS is explicit (vsftpd), WebDAV runs over HTTPS (Apache with
// mod_dav and mod_ssl), SFTP over OpenSSH's sshd; each server's certificate
// or host key is made for the run. Every step is saved as a picture under
// the build folder's screenshots/<protocol>/.
//
// The test runs itself again for each start; the engine's threads run, hence
// the suite's name. It skips when Xvfb or a server program is missing.
#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/fileclip.h"
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "dialogs/dlgappinfo.h"
#include "dialogs/dlgask.h"
#include "foundation/kv_file.h"
#include "journeys/browsesteps.h"
#include "menus/commands.h"
#include "monitor/translistview.h"
#include "requests/kv_filereqinfoman.h"
#include "root/kv_filemanpool.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/starthooks.h"
#include "support/kv_apache.h"
#include "support/kv_apprun.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_journey.h"
#include "support/kv_nettest.h"
#include "support/kv_sshd.h"
#include "support/kv_testdir.h"
#include "support/kv_tlstest.h"
#include "support/kv_vsftpd.h"
#include "support/kv_xvfb.h"
#include "views/filelistview.h"

#include <QAction>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <pwd.h>
#include <random>

namespace {

const char kPartVar[] = "KV_JSEC_PART";
const char kFolderVar[] = "KV_JSEC_FOLDER";
const char kShotsVar[] = "KV_JSEC_SHOTS";
const char kDsName[] = "Secure server";
constexpr int kFiles = 100;
constexpr uint64_t kBigSize = 32ull << 20;

// The local folder and file the person drags: a folder of small files of
// random sizes and one large file.
void MakeLocalTree(const std::string& work)
{
    std::mt19937_64 rng(42);
    for (int i = 0; i < kFiles; ++i) {
        kvtest::write_random(work + "/tree/f" + std::to_string(i) + ".bin",
                             512 + rng() % (32 * 1024), rng);
    }
    kvtest::write_random(work + "/big.bin", kBigSize, rng);
}

// The server's copy against the source, both by SHA-256.
void ExpectCopied(const std::string& work, const std::string& server_folder)
{
    const auto copied = kvtest::digests(server_folder + "/tree");
    EXPECT_EQ(copied.size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(copied, kvtest::digests(work + "/tree"));
    EXPECT_EQ(kvtest::sha256(server_folder + "/big.bin"), kvtest::sha256(work + "/big.bin"));
}

// Writes the data-source file of `home` through the engine's own save: the
// local disk, which opens in `work`, and `server` in the group of its kind,
// which opens in its start folder beside the local disk (lists on both
// sides). The user's settings name the data folder, so no setup runs.
void WriteHome(const kvtest::ProgramHome& home, const std::string& work, KV_DsTreeNode& server,
               KV_DS_NODE_TYPE group)
{
    const std::string folder = home.DataDir();
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(home / "config/kivrel");
    ASSERT_TRUE(kvtest::write_file(home.ConfFile(), "[Init]\nData=\"" + folder +
                                                        "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n"));
    kvtest::WriteDsFile(folder, folder, [&](KV_FileManPool& pool, KV_DsTreeNode& local) {
        // The local disk opens in the folder that holds what the person drags.
        local.set_inh_params(false);
        local.params()->set_def_path(KV_String(work.c_str()), false);
        kvtest::AddServerBesideLocal(pool, local, server, group, kDsName);
    });
}

// ---- the program's side (a start of its own)

CBrowseSplt* BrowseWnd()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w); b != nullptr && b->isVisible()) {
            return b;
        }
    }
    return nullptr;
}

// The last folder name of the path a pane's list shows.
QString ListedFolder(CFileListView* list)
{
    CFileManData* data = list == nullptr ? nullptr : list->GetData();
    if (data == nullptr || data->GetPath().entries() == 0) {
        return QString();
    }
    return QString::fromUtf8(data->GetPath().at(data->GetPath().entries() - 1).data());
}

// The server's identity questions, answered "Always trust this server"
// after their picture is taken; any other question is a failure, refused.
class TrustQuestions
{
public:
    explicit TrustQuestions(kvtest::JourneyShots& shots)
        : driver([this, &shots](CDlgAsk& dlg) {
              asked << dlg.Text();
              auto* always = dlg.findChild<QPushButton*>(QString::number(CDlgAsk::IDC_YES_ALL));
              if (always == nullptr ||
                  always->text() != QStringLiteral("&Always trust this server")) {
                  ADD_FAILURE() << "asked: " << dlg.Text().toStdString();
                  dlg.done(QDialog::Rejected);
                  return;
              }
              EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
              QTest::qWait(300);
              const QImage screen = shots.Shot(QStringLiteral("identity-question"));
              const QRect text = dlg.TextRect().translated(dlg.mapToGlobal(QPoint()));
              EXPECT_GT(kvtest::DarkPixels(screen, text), 100) << "the question's text";
              QTest::mouseClick(always, Qt::LeftButton);
          })
    {
    }

    QStringList asked;

private:
    kvtest::DialogDriver<CDlgAsk> driver;
};

// The person picks the data source in the control window (opening its
// groups as needed) and presses Enter: the browse window opens with the
// server beside the local disk. The server's pane, once it lists its start
// folder `folder`.
CFileListView* OpenBesideLocalDisk(CKivrelApp& app, kvtest::JourneyShots& shots,
                                   const QString& folder, CFileListView*& local)
{
    CMainFrm* frm = app.GetMainFrm();
    auto* view = frm == nullptr ? nullptr : frm->findChild<CDsView*>();
    EXPECT_NE(view, nullptr);
    if (view == nullptr) {
        return nullptr;
    }
    EXPECT_TRUE(QTest::qWaitForWindowExposed(frm));
    QTreeWidgetItem* item = nullptr;
    for (QTreeWidgetItemIterator it(view); *it != nullptr && item == nullptr; ++it) {
        if ((*it)->text(0) == QLatin1String(kDsName)) {
            item = *it;
        }
    }
    EXPECT_NE(item, nullptr) << "the control window lists the data source";
    if (item == nullptr) {
        return nullptr;
    }
    QList<QTreeWidgetItem*> groups;
    for (QTreeWidgetItem* p = item->parent(); p != nullptr; p = p->parent()) {
        groups.prepend(p);
    }
    for (QTreeWidgetItem* group : groups) {
        if (!group->isExpanded()) {
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                              view->visualItemRect(group).center());
            QTest::keyClick(view, Qt::Key_Right);
            EXPECT_TRUE(group->isExpanded()) << group->text(0).toStdString();
        }
    }
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualItemRect(item).center());
    EXPECT_EQ(view->currentItem(), item);
    QTest::qWait(200);
    shots.Shot(QStringLiteral("data-source-chosen"));
    QTest::keyClick(view, Qt::Key_Return);

    EXPECT_TRUE(QTest::qWaitFor([] { return BrowseWnd() != nullptr; }, 20000));
    CBrowseSplt* wnd = BrowseWnd();
    if (wnd == nullptr) {
        return nullptr;
    }
    wnd->setGeometry(0, 0, 1024, 420);
    KV_FileManPool& pool = *app.GetPool();
    const KV_DsTreeNode* std_node = pool.tree().find(KV_DS_NODE_STD, false);
    CFileListView* server = nullptr;
    local = nullptr;
    for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
        CBrowseFrm* pane = wnd->GetPane(side);
        auto* list = pane == nullptr ? nullptr : pane->findChild<CFileListView*>();
        if (list == nullptr || pane->GetData() == nullptr) {
            continue;
        }
        const bool is_local =
            std_node != nullptr && KV_DsId(pane->GetData()->GetManId()) == KV_DsId(std_node->id());
        (is_local ? local : server) = list;
    }
    EXPECT_TRUE(local != nullptr && server != nullptr) << "a local pane and a server pane";
    if (local == nullptr || server == nullptr) {
        return nullptr;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return ListedFolder(server) == folder; }, 60000))
        << "the server's pane lists " << ListedFolder(server).toStdString();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return server->GetModel() != nullptr && server->GetModel()->rowCount() > 0; },
        10000));
    wnd->raise();
    wnd->activateWindow();
    QTest::qWait(300);
    shots.Shot(QStringLiteral("browse-window"));
    return server;
}

// The row of the list that shows `name`; -1 when none does.
int RowOf(CFileListView* list, const QString& name)
{
    const QAbstractItemModel* model = list->GetItemView()->model();
    for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == name) {
            return row;
        }
    }
    return -1;
}

// The person selects the local folder "tree" and the file "big.bin" with
// the mouse (a click, then a click with Ctrl) and drags them onto an empty
// place of the server's list (its current folder). The drag carries what
// the local list's own drag carries: the pane's folder and the selected
// names.
void DropOnServer(kvtest::JourneyShots& shots, CFileListView* local, CFileListView* server)
{
    QAbstractItemView* from = local->GetItemView();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return RowOf(local, "tree") >= 0 && RowOf(local, "big.bin") >= 0; }, 20000))
        << "the local pane lists " << ListedFolder(local).toStdString();
    const QAbstractItemModel* model = from->model();
    QTest::mouseClick(from->viewport(), Qt::LeftButton, Qt::NoModifier,
                      from->visualRect(model->index(RowOf(local, "tree"), 0)).center());
    QTest::mouseClick(from->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      from->visualRect(model->index(RowOf(local, "big.bin"), 0)).center());
    CFileClipData clip;
    clip.src = local->GetData()->GetManId();
    clip.dir = local->GetData()->GetPath();
    QStringList selected;
    for (const QModelIndex& index : from->selectionModel()->selectedIndexes()) {
        if (index.column() == 0) {
            selected << index.data().toString();
            clip.names.add(KV_String(index.data().toString().toUtf8().constData()));
        }
    }
    selected.sort();
    ASSERT_EQ(selected, QStringList({"big.bin", "tree"}));
    clip.has_dir = true;
    QTest::qWait(200);
    shots.Shot(QStringLiteral("local-items-selected"));

    std::unique_ptr<QMimeData> mime(MakeFileMimeData(clip, CKivrelApp::GetClipFormatBrDd(), true));
    QWidget* target = server->GetItemView()->viewport();
    const QPoint empty(20, target->height() - 5);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDragMoveEvent move(empty, actions, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    EXPECT_EQ(move.dropAction(), Qt::CopyAction);
    QDropEvent drop(empty, actions, mime.get(), Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    ASSERT_TRUE(drop.isAccepted());
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
}

// Every status the transfer list's rows show, in the order shown, taken as
// the list changes (a poll could miss a run shorter than its interval); the
// step's picture when a row first shows the copy running.
class StatusTrail
{
public:
    StatusTrail(CTransListView& list, kvtest::JourneyShots& shots)
    {
        QObject::connect(&list, &QTreeWidget::itemChanged, &guard,
                         [this, &list, &shots](QTreeWidgetItem* row, int) {
                             const QString status = row->text(1);
                             if (status.isEmpty() || (!seen.isEmpty() && seen.back() == status)) {
                                 return;
                             }
                             seen << status;
                             if (status == QLatin1String("Running") && !shot) {
                                 shot = true;
                                 QTimer::singleShot(0, &guard, [&list, &shots] {
                                     // The row painted before the picture.
                                     list.viewport()->repaint();
                                     shots.Shot(QStringLiteral("transfer-running"));
                                 });
                             }
                         });
    }

    QStringList seen;

private:
    bool shot = false;
    QObject guard;
};

// The copy in the transfer list. A request of several items shows no
// percentage in its row (only a single file's copy does): its status reads
// "Running" while it runs and "Completed" at its end, and then the program
// quits.
void WatchTheCopyEnd(CKivrelApp& app, kvtest::JourneyShots& shots, const StatusTrail& trail)
{
    CMainFrm* frm = app.GetMainFrm();
    auto* translist = frm->findChild<CTransListView*>();
    ASSERT_NE(translist, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return translist->topLevelItemCount() == 1; }, 30000));
    frm->raise();
    // What the speed pane shows of the upload, for the record.
    QString speed;
    QTimer sample;
    sample.setInterval(20);
    QObject::connect(&sample, &QTimer::timeout, [&] {
        if (!frm->SpeedText(1).isEmpty()) {
            speed = frm->SpeedText(1);
        }
    });
    sample.start();
    kvtest::RunUntilRequestEnds(app, [&](const KV_FileReqInfo& info) {
        sample.stop();
        QTreeWidgetItem* row = translist->topLevelItem(0);
        ASSERT_NE(row, nullptr);
        QTest::qWait(300);
        EXPECT_EQ(row->text(1), QStringLiteral("Completed")) << info.last_err().data();
        EXPECT_TRUE(row->text(0).contains(QLatin1String(kDsName))) << row->text(0).toStdString();
        shots.Shot(QStringLiteral("transfer-completed"));
    });
    const QString statuses = trail.seen.join(QStringLiteral(" > "));
    EXPECT_TRUE(trail.seen.contains(QStringLiteral("Running"))) << statuses.toStdString();
    EXPECT_TRUE(!trail.seen.isEmpty() && trail.seen.back() == QLatin1String("Completed"))
        << statuses.toStdString();
    std::printf("the row's status: %s; upload speed shown: %s\n", statuses.toUtf8().constData(),
                speed.isEmpty() ? "none" : speed.toUtf8().constData());
}

// The quit command, as the person gives it, and the quit question answered
// yes; the event loop runs as main runs it until the engine has stopped,
// then the exit sequence.
void Quit(CKivrelApp& app, kvtest::JourneyShots& shots)
{
    CMainFrm* frm = app.GetMainFrm();
    int asked = 0;
    kvtest::DialogDriver<CDlgAppInfo> question([&](CDlgAppInfo& dlg) {
        ++asked;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QTest::qWait(200);
        shots.Shot(QStringLiteral("quit-question"));
        auto* yes = dlg.findChild<QPushButton*>(QStringLiteral("1"));
        if (yes == nullptr) {
            ADD_FAILURE() << "no Yes in the quit question";
            dlg.reject();
            return;
        }
        QTest::mouseClick(yes, Qt::LeftButton);
    });
    QTimer::singleShot(0, frm, [frm] { CCommandLayer::Of(frm)->Action(57665)->trigger(); });
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(app.exec(), 0) << "the quit did not end the event loop";
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_LE(asked, 1);
}

// One start: the data source opened beside the local disk; with `copy` the
// copy too, else the program quits once the server is listed. `questions`
// is how many identity questions the start must ask.
void Start(bool copy, int questions)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    kvtest::JourneyShots shots(qEnvironmentVariable(kShotsVar));
    TrustQuestions trust(shots);
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    ASSERT_NE(app.GetMainFrm(), nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.GetMainFrm()));
    // The person puts the control window below, where the browse window
    // will not hide its transfer list.
    app.GetMainFrm()->setGeometry(0, 440, 1024, 320);
    QTest::qWait(300);
    shots.Shot(QStringLiteral("started"));

    CFileListView* local = nullptr;
    CFileListView* server =
        OpenBesideLocalDisk(app, shots, qEnvironmentVariable(kFolderVar), local);
    ASSERT_NE(server, nullptr);
    if (copy) {
        auto* translist = app.GetMainFrm()->findChild<CTransListView*>();
        ASSERT_NE(translist, nullptr);
        const StatusTrail trail(*translist, shots);
        DropOnServer(shots, local, server);
        ASSERT_FALSE(testing::Test::HasFatalFailure());
        WatchTheCopyEnd(app, shots, trail);
    } else {
        Quit(app, shots);
    }
    EXPECT_EQ(trust.asked.size(), questions) << trust.asked.join("\n").toStdString();
}

// ---- the test's side

class SecureBrowseAndCopy_MT : public ::testing::Test
{
protected:
    // A start of its own runs the part its variable names instead of the
    // test's body (GTEST_FILTER names the one test).
    void SetUp() override
    {
        const QString part = qEnvironmentVariable(kPartVar);
        if (part.isEmpty()) {
            return;
        }
        started = true;
        kvtest::RunProgramPart([this, &part] {
            if (part == QLatin1String("copy")) {
                Start(true, 1);
            } else if (part == QLatin1String("browse")) {
                Start(false, 0);
            } else {
                ADD_FAILURE() << "no part " << part.toStdString();
            }
        });
    }

    // Skips without Xvfb; starts it and fills the home and the work folder.
    void Prepare(const QString& journey)
    {
        if (kvtest::XServer::Program().isEmpty()) {
            GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
        }
        ASSERT_TRUE(home.ok());
        display = x.Start(QStringLiteral("1024x768x24"));
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        MakeLocalTree(work());
        kvtest::JourneyShots::Begin(journey);
        shots = journey;
    }

    std::string work() const { return home / "work"; }

    // The start's environment: the part to run and the server's start
    // folder.
    QProcessEnvironment Env(const QString& folder) const
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        QProcessEnvironment env =
            home.Env(display, QStringLiteral("%1.%2").arg(test->test_suite_name(), test->name()));
        env.insert(kFolderVar, folder);
        env.insert(kShotsVar, shots);
        return env;
    }

    // One start of the program running `part`, its record lines passed on.
    void Run(const QString& folder, const QString& part)
    {
        const QByteArray out = kvtest::RunStart(Env(folder), kPartVar, part);
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("the row's status")) {
                std::printf("%s: %s\n", shots.toUtf8().constData(), line.constData());
            }
        }
    }

    bool started = false;
    kvtest::ProgramHome home;
    kvtest::XServer x;
    QString display;
    QString shots;
};

TEST_F(SecureBrowseAndCopy_MT, FtpsCertificateIsAskedOnceAndNotAgainAfterARestart)
{
    if (started) {
        return;
    }
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    Prepare(QStringLiteral("ftps"));
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    kvtest::TempDir srv("kvjftps");
    ASSERT_TRUE(srv.ok());
    std::filesystem::create_directories(srv / "root/pub");
    const passwd* pw = ::getpwnam("ftp");
    ASSERT_EQ(::chown((srv / "root/pub").c_str(), pw->pw_uid, pw->pw_gid), 0);
    const kvtest::CertKey cert =
        kvtest::make_cert(srv, "self-signed", {"127.0.0.1", "IP:127.0.0.1"});
    ASSERT_TRUE(cert.cert);
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> ftpd =
        kvtest::start_vsftpd(srv.path(), srv / "root", port,
                             "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
                             "force_anon_data_ssl=YES\nrsa_cert_file=" +
                                 cert.cert_file + "\nrsa_private_key_file=" + cert.key_file + "\n");
    ASSERT_TRUE(ftpd && ftpd->wait_port(port)) << (ftpd ? ftpd->log() : "");

    KV_DsTreeNodeFtp node;
    node.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
    node.params_ftp().set_security(KV_FTP_SECURE_EXPLICIT);
    node.params_ftp().set_anonymous(true);
    node.params_ftp().set_def_path(KV_String("/pub"), false);
    WriteHome(home, work(), node, KV_DS_NODE_FTP);
    ASSERT_FALSE(HasFatalFailure());

    Run(QStringLiteral("pub"), QStringLiteral("copy"));
    ExpectCopied(work(), srv / "root/pub");
    EXPECT_FALSE(kvtest::read_file(home.DataDir() + "/trusted-certs.bin").empty())
        << "\"always trust\" stores the certificate";
    // The second start in the same home lists the server without asking.
    Run(QStringLiteral("pub"), QStringLiteral("browse"));
}

TEST_F(SecureBrowseAndCopy_MT, WebDavOverHttpsCertificateIsAskedOnceAndNotAgainAfterARestart)
{
    if (started) {
        return;
    }
    if (!kvtest::Apache::installed()) {
        GTEST_SKIP() << "apache2 is not installed (package apache2)";
    }
    Prepare(QStringLiteral("webdav-https"));
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    kvtest::ApacheOpts opts;
    opts.tls = true;
    kvtest::Apache apache(opts);
    ASSERT_TRUE(apache.start()) << apache.log();
    ASSERT_TRUE(std::filesystem::create_directory(apache.path("up")));
    const passwd* pw = ::getpwnam("www-data");
    ASSERT_EQ(::chown(apache.path("up").c_str(), pw->pw_uid, pw->pw_gid), 0);

    KV_DsTreeNodeHttp node;
    node.params_http().set_dst_addr(KV_String(apache.host().c_str()));
    node.params_http().set_security(1);
    node.params_http().set_def_path(KV_String("/up"), false);
    WriteHome(home, work(), node, KV_DS_NODE_HTTP);
    ASSERT_FALSE(HasFatalFailure());

    Run(QStringLiteral("up"), QStringLiteral("copy"));
    ExpectCopied(work(), apache.path("up"));
    Run(QStringLiteral("up"), QStringLiteral("browse"));
}

TEST_F(SecureBrowseAndCopy_MT, SftpHostKeyIsAskedOnceAndNotAgainAfterARestart)
{
    if (started) {
        return;
    }
    kvtest::Sshd sshd;
    if (!sshd.ready()) {
        GTEST_SKIP() << sshd.why();
    }
    Prepare(QStringLiteral("sftp"));
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    const std::string folder = "kvjourney-" + std::to_string(::getpid());
    const std::string remote = std::string("/home/") + kvtest::Sshd::user + "/" + folder;
    std::filesystem::remove_all(remote);
    std::filesystem::create_directories(remote);
    // The user's home outlives the test: the copy goes, whatever the end.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> cleanup(
        &remote, [](const std::string* path) {
            std::error_code ec;
            std::filesystem::remove_all(*path, ec);
        });
    ASSERT_TRUE(kvtest::sh("chown " + std::string(kvtest::Sshd::user) + " " + remote));

    KV_DsTreeNodeSftp node;
    node.params_sftp().set_dst_addr(KV_String(sshd.addr().c_str()));
    node.params_sftp().ldata().set_user(KV_String(kvtest::Sshd::user));
    node.set_pass(KV_String(kvtest::Sshd::pass));
    node.params_sftp().set_def_path(KV_String(remote.c_str()), false);
    WriteHome(home, work(), node, KV_DS_NODE_SFTP);
    ASSERT_FALSE(HasFatalFailure());

    Run(QString::fromStdString(folder), QStringLiteral("copy"));
    ExpectCopied(work(), remote);
    EXPECT_FALSE(kvtest::read_file(home.DataDir() + "/trusted-pks.bin").empty())
        << "\"always trust\" stores the host key";
    Run(QString::fromStdString(folder), QStringLiteral("browse"));
}

} // namespace
