// The control window with a few data sources and the start-up splash on a
// real X server (Xvfb), saved as PNG files under the build folder
// (screenshots/) and checked at their key regions. The test starts its own
// Xvfb and runs itself again as a client of it; it skips only when Xvfb is
// not installed.
#include "core/settings.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "foundation/kv_file.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/dsview.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "startup/dlginit.h"
#include "startup/starthooks.h"
#include "support/kv_testdir.h"
#include "support/kv_xvfb.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_XVFB_START_SHOT";
const QString kShots = QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots");

using kvtest::DarkPixels;

QImage Grab(QWidget& w)
{
    return kvtest::GrabOnScreen(w);
}

struct Engine
{
    explicit Engine(const kvtest::TempDir& dir)
    {
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->CreateImageLists();
        EXPECT_TRUE(app->CreatePool());
        EXPECT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, dir.c_str()));
        EXPECT_TRUE(kvtest::write_file(dir / "kivrel.ds", ""));
    }
    ~Engine() { app->DeletePool(); }
    CKivrelApp* app;
};

void ControlWindow(const kvtest::TempDir& dir)
{
    Engine e(dir);
    KV_FileManPool& pool = *e.app->GetPool();
    ASSERT_TRUE(pool.tree().load(pool.man_trans()));
    for (const char* name : {"Mirror of the archive", "Build server", "Photos"}) {
        KV_DsTreeNodeFtp n;
        n.set_name(name);
        n.params_ftp().set_dst_addr("ftp.example.com");
        ASSERT_NE(pool.tree().create(pool.tree().find(KV_DS_NODE_FTP, true), &n, 0, true), nullptr);
    }
    CMainFrm frm;
    ASSERT_TRUE(frm.CreateFrame());
    auto* view = frm.findChild<CDsView*>();
    ASSERT_NE(view, nullptr);
    view->expandAll();
    frm.move(40, 40);
    frm.resize(260, 420);
    frm.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frm));
    QTest::qWait(300);
    const QImage image = Grab(frm);
    ASSERT_EQ(image.size(), frm.size());
    ASSERT_TRUE(image.save(kShots + "/control-window.png", "PNG"));

    // Every item's label is drawn, in the tree's order.
    const QRect tree(view->viewport()->mapTo(&frm, QPoint(0, 0)), view->viewport()->size());
    int rows = 0;
    for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it, ++rows) {
        const QRect r = view->visualItemRect(*it).translated(tree.topLeft());
        EXPECT_GT(DarkPixels(image, r), 15) << (*it)->text(0).toStdString();
    }
    EXPECT_GE(rows, 7); // root, four protocol groups and local, the three servers
    // Below the last row the tree is empty.
    int bottom = 0;
    for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
        bottom = std::max(bottom, view->visualItemRect(*it).translated(tree.topLeft()).bottom());
    }
    EXPECT_EQ(
        DarkPixels(image, QRect(tree.left(), bottom + 4, tree.width(), tree.bottom() - bottom - 8)),
        0);
    // The toolbar carries its pictures.
    auto* bar = frm.findChild<QToolBar*>();
    ASSERT_NE(bar, nullptr);
    const QRect bar_rect(bar->mapTo(&frm, QPoint(0, 0)), bar->size());
    const QRgb background = image.pixel(bar_rect.right() - 30, bar_rect.top() + 2);
    int drawn = 0;
    for (int y = bar_rect.top(); y <= bar_rect.bottom(); ++y) {
        for (int x = bar_rect.left(); x <= bar_rect.right(); ++x) {
            drawn += image.pixel(x, y) != background;
        }
    }
    EXPECT_GT(drawn, 300);
}

void Splash(const kvtest::TempDir& dir)
{
    Engine e(dir);
    // Without a key file TLS fails: its box is noted, not shown.
    QStringList errors;
    StartHooks().error = [&](const QString& text) { errors << text; };
    CDlgInit dlg(*e.app->GetPool());
    dlg.SetLastPictureMs(1500);
    QImage image;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (image.isNull() && dlg.Picture() == 12 && dlg.isVisible()) {
            QTest::qWait(200);
            image = Grab(dlg);
        }
    });
    poll.start();
    dlg.move(60, 60);
    dlg.exec();
    ASSERT_TRUE(dlg.GetResult());
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(image.save(kShots + "/splash.png", "PNG"));
    // The last picture fills the splash: sample it on a grid.
    const QImage want = kvres::LoadBitmap(12);
    ASSERT_EQ(image.size(), want.size());
    int same = 0, total = 0;
    for (int y = 5; y < want.height(); y += 10) {
        for (int x = 5; x < want.width(); x += 10) {
            ++total;
            const QRgb a = image.pixel(x, y), b = want.pixel(x, y);
            same += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                        std::abs(qBlue(a) - qBlue(b)) <
                    24;
        }
    }
    EXPECT_GT(same, total * 95 / 100);
}

TEST(StartScreens, ControlWindowAndSplashOnAnXServer)
{
    const QByteArray which = qgetenv(kChildVar);
    if (!which.isEmpty()) {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        kvtest::TempDir dir;
        ASSERT_TRUE(dir.ok());
        if (which == "control") {
            ControlWindow(dir);
        } else {
            Splash(dir);
        }
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshots";
    }
    ASSERT_TRUE(QDir().mkpath(kShots));
    for (const char* shot : {"control", "splash"}) {
        SCOPED_TRACE(shot);
        kvtest::XServer server;
        const QString display = server.Start(QStringLiteral("800x600x24"));
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        kvtest::RunOnDisplay(display, kChildVar, shot, "StartScreens.*");
    }
    EXPECT_FALSE(QImage(kShots + "/control-window.png").isNull());
    EXPECT_FALSE(QImage(kShots + "/splash.png").isNull());
}

} // namespace
