// A user's very first start, end to end on a real X server (Xvfb) against
// vsftpd: the program starts as its main does, with empty settings and data
// folders of its own; the network setup is answered "Direct connection",
// the connection setup is given the server (anonymous); the browse window
// that opens lists the server's folder; quick connect to the same address
// opens the same data source instead of a second one; then the program
// quits as the user quits it, and a later start runs no setup again. Screenshots of the steps are
// saved under <build folder>/screenshots and checked at their key regions.
//
// The test runs itself again, without arguments (a first start with a
// command line runs no setup), as a client of its own Xvfb and with its own
// XDG folders; the engine's threads run, hence the suite's name. It skips
// when Xvfb or a usable vsftpd is missing.
#include "browse/browsesplt.h"
#include "core/settings.h"
#include "dialogs/dlgappinfo.h"
#include "menus/commands.h"
#include "root/kv_filemanpool.h"
#include "setup/dlgquickconn.h"
#include "setup/wizconn.h"
#include "setup/wiznet.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/starthooks.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_nettest.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_vsftpd.h"
#include "support/kv_xvfb.h"
#include "views/filelistview.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_XVFB_FIRST_START_PORT";
const char kShotsVar[] = "KV_XVFB_FIRST_START_SHOTS";
const char kLaterVar[] = "KV_XVFB_FIRST_START_LATER";

using kvtest::DarkPixels;

QRect In(QWidget& top, QWidget* child)
{
    return QRect(child->mapTo(&top, QPoint(0, 0)), child->size());
}

// Shown, drawn, grabbed from the screen and saved as `name`.png.
QImage Shot(QWidget& w, const QString& dir, const char* name)
{
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w)) << name;
    QTest::qWait(300);
    const QImage image = kvtest::GrabOnScreen(w);
    EXPECT_EQ(image.size(), w.size()) << name;
    EXPECT_TRUE(image.save(dir + "/" + name + ".png", "PNG")) << name;
    return image;
}

template <class T = QWidget> T* Ctl(QWidget* page, int id)
{
    return page->findChild<T*>(QString::number(id));
}

QList<CBrowseSplt*> BrowseWnds()
{
    QList<CBrowseSplt*> out;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<CBrowseSplt*>(w); b != nullptr && b->isVisible()) {
            out << b;
        }
    }
    return out;
}

// The names a file list of the window shows.
QStringList Listed(CBrowseSplt* wnd)
{
    QStringList names;
    for (CFileListView* view : wnd->findChildren<CFileListView*>()) {
        const QAbstractItemModel* model = view->GetModel();
        for (int row = 0; model != nullptr && row < model->rowCount(); ++row) {
            names << model->index(row, 0).data().toString();
        }
    }
    return names;
}

CFileListView* ShownList(CBrowseSplt* wnd)
{
    for (CFileListView* view : wnd->findChildren<CFileListView*>()) {
        if (view->isVisible() && view->GetModel() != nullptr && view->GetModel()->rowCount() > 0) {
            return view;
        }
    }
    return nullptr;
}

// The control window's items that name the server (`name` or its
// address), joined with "|".
QString DsItems(CMainFrm* frm, const QString& name)
{
    QStringList found;
    auto* view = frm->findChild<CDsView*>();
    for (QTreeWidgetItemIterator it(view); view != nullptr && *it != nullptr; ++it) {
        if ((*it)->text(0).startsWith(name.left(9))) {
            found << (*it)->text(0);
        }
    }
    return found.join('|');
}

// The quit command, answered yes; the event loop runs as main runs it
// until the engine has stopped, then the exit sequence.
void QuitAsTheUserDoes(CKivrelApp& app, CMainFrm* frm)
{
    QTimer::singleShot(0, frm, [frm] { CCommandLayer::Of(frm)->Action(57665)->trigger(); });
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(app.exec(), 0) << "the quit did not end the event loop";
    EXPECT_EQ(app.ExitInstance(), 0);
}

void FirstStartInThisProcess(uint16_t port, const QString& shots)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const QString name = QStringLiteral("127.0.0.1:%1").arg(port);
    const QString url = QStringLiteral("ftp://") + name;
    CKivrelApp& app = *CKivrelApp::Instance();
    ASSERT_EQ(app.arguments().size(), 1) << "a start with a command line runs no setup";
    app.setQuitOnLastWindowClosed(false);
    QStringList errors;
    StartHooks().error = [&](const QString& text) { errors << text; };
    StartHooks().last_picture_ms = 0;
    kvtest::DialogDriver<QMessageBox> boxes([&](QMessageBox& box) {
        errors << box.text();
        box.close();
    });
    int notes = 0;
    kvtest::DialogDriver<CDlgAppInfo> infos([&](CDlgAppInfo& dlg) {
        ++notes;
        dlg.accept();
    });

    // The network setup first: "Direct connection" goes straight to the
    // bandwidth page, whose last button leads on to the next setup.
    QStringList steps;
    kvtest::DialogDriver<CWizNet> net([&](CWizNet& wiz) {
        steps << "network";
        wiz.move(20, 20);
        const QImage image = Shot(wiz, shots, "first_start_network");
        for (int id : {CWizNetMain::IDC_DIRECT, CWizNetMain::IDC_FIREWALL}) {
            EXPECT_GT(DarkPixels(image, In(wiz, Ctl(wiz.currentPage(), id))), 30) << id;
        }
        auto* direct = Ctl<QRadioButton>(wiz.currentPage(), CWizNetMain::IDC_DIRECT);
        EXPECT_TRUE(direct->isChecked()) << "no proxy variable: a direct connection";
        QTest::mouseClick(direct, Qt::LeftButton, {}, QPoint(8, direct->height() / 2));
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizNet::kPageBwt);
        QAbstractButton* finish = wiz.button(QWizard::FinishButton);
        EXPECT_EQ(finish->text(), "&Next >");
        QTest::mouseClick(finish, Qt::LeftButton);
        if (wiz.isVisible()) {
            wiz.reject();
        }
    });

    // Then the connection setup: the server's address, an anonymous login,
    // the name taken from the host.
    kvtest::DialogDriver<CWizConn> conn([&](CWizConn& wiz) {
        steps << "connection";
        wiz.move(20, 20);
        auto* addr = Ctl<QLineEdit>(wiz.Srv(), CWizConnSrv::IDC_ADDR);
        addr->setFocus();
        QTest::keyClicks(addr, url);
        EXPECT_EQ(Ctl<QLineEdit>(wiz.Srv(), CWizConnSrv::IDC_PORT)->text(), QString::number(port));
        EXPECT_TRUE(Ctl<QRadioButton>(wiz.Srv(), CWizConnSrv::IDC_FTP)->isChecked());
        const QImage image = Shot(wiz, shots, "first_start_connection");
        EXPECT_GT(DarkPixels(image, In(wiz, addr).adjusted(2, 2, -2, -2)), 80)
            << "the address is drawn";
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizConn::kPageLogin);
        auto* anon = Ctl<QCheckBox>(wiz.Login(), CWizConnLogin::IDC_ANONYMOUS);
        EXPECT_TRUE(anon->isVisible());
        anon->click();
        QTest::mouseClick(wiz.button(QWizard::NextButton), Qt::LeftButton);
        EXPECT_EQ(wiz.currentId(), CWizConn::kPageDs);
        // Filled with the host; the user names it after the server's
        // address, which quick connect later names it by.
        auto* name_edit = Ctl<QLineEdit>(wiz.Ds(), CWizConnDs::IDC_NAME);
        EXPECT_EQ(name_edit->text(), "127.0.0.1");
        name_edit->selectAll();
        QTest::keyClicks(name_edit, name);
        QTest::mouseClick(wiz.button(QWizard::FinishButton), Qt::LeftButton);
        if (wiz.isVisible()) {
            wiz.reject();
        }
    });

    ASSERT_TRUE(app.InitInstance()) << errors.join('|').toStdString();
    EXPECT_EQ(steps, (QStringList{"network", "connection"}));
    CMainFrm* frm = app.GetMainFrm();
    ASSERT_NE(frm, nullptr);
    KV_FileManPool* pool = app.GetPool();
    ASSERT_NE(pool, nullptr);

    // The browse window of the new data source lists the server's folder.
    CBrowseSplt* wnd = nullptr;
    const bool listed = kvtest::WaitFor(
        [&] {
            const QList<CBrowseSplt*> wnds = BrowseWnds();
            wnd = wnds.size() == 1 ? wnds[0] : nullptr;
            if (wnd == nullptr) {
                return false;
            }
            const QStringList names = Listed(wnd);
            return names.contains("readme.txt") && names.contains("pub");
        },
        30000);
    ASSERT_TRUE(listed) << "browse windows: " << BrowseWnds().size() << "; listed: "
                        << (wnd ? Listed(wnd).join(',').toStdString() : std::string("-"))
                        << "; errors: " << errors.join('|').toStdString();
    KV_DsTreeNode* node = pool->tree().find(KV_String(name.toUtf8().constData()));
    ASSERT_NE(node, nullptr);
    const KV_DsId ds = node->id();
    EXPECT_TRUE(static_cast<const KV_DsId&>(wnd->GetLeftManId()) == ds);
    EXPECT_EQ(DsItems(frm, name), name);
    wnd->move(20, 20);
    wnd->resize(640, 420);
    {
        const QImage image = Shot(*wnd, shots, "first_start_browse");
        CFileListView* list = ShownList(wnd);
        ASSERT_NE(list, nullptr);
        for (int row = 0; row < list->GetModel()->rowCount(); ++row) {
            const QModelIndex index = list->GetModel()->index(row, 0);
            const QRect r = list->GetItemView()->visualRect(index).translated(
                list->GetItemView()->viewport()->mapTo(wnd, QPoint(0, 0)));
            EXPECT_GT(DarkPixels(image, r), 15) << index.data().toString().toStdString();
        }
    }

    // Quick connect to the same server, from the control window's command.
    kvtest::DialogDriver<CDlgQuickConn> quick([&](CDlgQuickConn& dlg) {
        steps << "quick connect";
        dlg.move(20, 20);
        auto* box = dlg.Item<QComboBox>(CDlgQuickConn::IDC_URL);
        box->setFocus();
        QTest::keyClicks(box, url);
        auto* anon = dlg.Item<QCheckBox>(CDlgQuickConn::IDC_ANONYMOUS);
        if (!anon->isChecked()) {
            anon->click();
        }
        EXPECT_FALSE(dlg.Item<QCheckBox>(CDlgQuickConn::IDC_TEMPORARY)->isChecked());
        const QImage image = Shot(dlg, shots, "first_start_quick_connect");
        EXPECT_GT(DarkPixels(image, In(dlg, box)), 80) << "the URL is drawn";
        QTest::keyClick(box, Qt::Key_Return);
        if (dlg.isVisible()) {
            dlg.reject();
        }
    });
    QAction* action = CCommandLayer::Of(frm)->Action(32821);
    ASSERT_NE(action, nullptr);
    action->trigger();
    EXPECT_EQ(quick.handled, 1);
    // The same data source (the name is its identity), its window opened
    // again and listing the folder: no second data source.
    const auto same = [&] {
        const QList<CBrowseSplt*> wnds = BrowseWnds();
        for (CBrowseSplt* w : wnds) {
            if (!(static_cast<const KV_DsId&>(w->GetLeftManId()) == ds) ||
                !Listed(w).contains("readme.txt")) {
                return false;
            }
        }
        return wnds.size() == 2;
    };
    EXPECT_TRUE(kvtest::WaitFor(same, 30000))
        << "browse windows: " << BrowseWnds().size()
        << "; data sources: " << DsItems(frm, name).toStdString();
    EXPECT_EQ(pool->tree().find(KV_String(name.toUtf8().constData())), node);
    EXPECT_EQ(DsItems(frm, name), name);

    QuitAsTheUserDoes(app, frm);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('|').toStdString();
}

// A later start with the settings the first one left: no setup runs, and
// the data source is there.
void LaterStartInThisProcess(uint16_t port)
{
    CKivrelApp& app = *CKivrelApp::Instance();
    app.setQuitOnLastWindowClosed(false);
    QStringList errors;
    StartHooks().error = [&](const QString& text) { errors << text; };
    StartHooks().last_picture_ms = 0;
    kvtest::DialogDriver<QMessageBox> boxes([&](QMessageBox& box) {
        errors << box.text();
        box.close();
    });
    kvtest::DialogDriver<CDlgAppInfo> infos([](CDlgAppInfo& dlg) { dlg.accept(); });
    kvtest::DialogDriver<CWizNet> net([](CWizNet& wiz) { wiz.reject(); });
    kvtest::DialogDriver<CWizConn> conn([](CWizConn& wiz) { wiz.reject(); });
    ASSERT_TRUE(app.InitInstance()) << errors.join('|').toStdString();
    EXPECT_EQ(net.handled + conn.handled, 0) << "a setup ran again";
    const QString name = QStringLiteral("127.0.0.1:%1").arg(port);
    EXPECT_NE(app.GetPool()->tree().find(KV_String(name.toUtf8().constData())), nullptr);
    EXPECT_EQ(DsItems(app.GetMainFrm(), name), name);
    QuitAsTheUserDoes(app, app.GetMainFrm());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('|').toStdString();
}

TEST(FirstStart_MT, SetupsServerBrowseAndQuickConnectOnAnXServer)
{
    const QByteArray child_port = qgetenv(kChildVar);
    if (!child_port.isEmpty()) {
        const auto port = static_cast<uint16_t>(child_port.toUInt());
        if (qEnvironmentVariableIsSet(kLaterVar)) {
            LaterStartInThisProcess(port);
        } else {
            FirstStartInThisProcess(port, QString::fromUtf8(qgetenv(kShotsVar)));
        }
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no first start on a screen";
    }
    if (!kvtest::vsftpd_usable()) {
        GTEST_SKIP() << "vsftpd is not installed or not run as root (package vsftpd)";
    }
    kvtest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    namespace fs = std::filesystem;
    const std::string root = dir / "ftproot";
    fs::create_directories(root + "/pub");
    ASSERT_TRUE(kvtest::write_file(root + "/readme.txt", "hello\n"));
    const uint16_t port = kvtest::closed_port();
    std::unique_ptr<kvtest::ChildProc> server = kvtest::start_vsftpd(dir.path(), root, port, "");
    ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");

    // Empty folders of the user's; the machine-wide settings name the
    // program and the data folder the build made.
    for (const char* sub : {"config", "data", "run", "etc/kivrel", "tmp"}) {
        fs::create_directories(dir / sub);
    }
    fs::permissions(dir / "run", fs::perms::owner_all);
    const std::string built = KV_TEST_BUILD_DIR "/../../app";
    ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf", "[Init]\nMainExe=\"" + built +
                                                                       "/kivrel\"\nData=\"" +
                                                                       built + "/data\"\n"));

    kvtest::XServer xserver;
    const QString display = xserver.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QDir shots(QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots"));
    ASSERT_TRUE(shots.mkpath("."));
    const QStringList pngs{"first_start_network", "first_start_connection", "first_start_browse",
                           "first_start_quick_connect"};
    for (const QString& png : pngs) {
        QFile::remove(shots.filePath(png + ".png"));
    }

    QProcess child;
    QProcessEnvironment env = kvtest::XcbChildEnv(display, QString::fromStdString(dir.path()));
    env.insert(kChildVar, QString::number(port));
    env.insert(kShotsVar, shots.absolutePath());
    env.insert("GTEST_FILTER", "FirstStart_MT.*");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
    env.insert("XDG_CONFIG_DIRS", QString::fromStdString(dir / "etc"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
    env.insert("HOME", QString::fromStdString(dir.path()));
    env.insert("TMPDIR", QString::fromStdString(dir / "tmp"));
    // The system's proxy would be offered instead of a direct connection.
    for (const char* var :
         {"https_proxy", "http_proxy", "all_proxy", "HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY"}) {
        env.remove(var);
    }
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"), {});
    const bool finished = child.waitForFinished(120000);
    const QByteArray output = child.readAll();
    ASSERT_TRUE(finished) << output.constData();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    for (const QString& png : pngs) {
        EXPECT_FALSE(QImage(shots.filePath(png + ".png")).isNull()) << png.toStdString();
    }
    // The data source stays: the saved data-source file holds the server;
    // quick connect noted its address.
    const std::string saved = kvtest::read_file(dir / "data/kivrel/kivrel.ds");
    EXPECT_NE(saved.find("127.0.0.1"), std::string::npos) << saved;
    const std::string conf = kvtest::read_file(dir / "config/kivrel/kivrel.conf");
    EXPECT_NE(conf.find("QuickConnList"), std::string::npos) << conf;

    // A later start: the settings are no longer empty.
    QProcess later;
    env.insert(kLaterVar, "1");
    later.setProcessEnvironment(env);
    later.setProcessChannelMode(QProcess::MergedChannels);
    later.start(QStringLiteral("/proc/self/exe"), {});
    const bool later_finished = later.waitForFinished(120000);
    const QByteArray later_output = later.readAll();
    ASSERT_TRUE(later_finished) << later_output.constData();
    EXPECT_EQ(later.exitCode(), 0) << later_output.constData();
    EXPECT_TRUE(later_output.contains("[  PASSED  ] 1 test")) << later_output.constData();
}

} // namespace
