// A two-pane browse window on a real X server (Xvfb): a local pane and an
// FTP pane (vsftpd; a second local one without it) with their caption
// bars, each a folder tree beside a file list in details style,
// saved as PNGs in the build folder and checked at their key regions. The
// test starts its own Xvfb and runs itself again as a client of it; it
// skips only when Xvfb is not installed.
#include "browse_fixture.h"

#include "browse/browserbar.h"
#include "datasources/kv_dstreenodeds.h"
#include "shell/mainfrm.h"
#include "support/kv_nettest.h"
#include "support/kv_vsftpd.h"
#include "support/kv_xvfb.h"
#include "views/filelistview.h"
#include "views/filetreeview.h"

#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QProcess>
#include <QTreeView>
#include <filesystem>
#include <fstream>

namespace {

const char kChildVar[] = "KV_XVFB_PNG";

using kvtest::DarkPixels;

class BrowseScreen_MT : public kvtest::BrowseFixture
{
protected:
    // `w`'s rectangle in `top`'s coordinates.
    static QRect In(const QWidget* top, const QWidget* w)
    {
        return QRect(w->mapTo(top, QPoint(0, 0)), w->size());
    }

    // The child's part: the window on screen, grabbed and checked.
    void ShowAndCheck(const QString& png)
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        for (const char* name : {"three.dat", "four.txt", "five.txt"}) {
            ASSERT_TRUE(kvtest::write_file(dir / (std::string("work/a/") + name), "12345"));
        }
        // The right side is FTP when vsftpd can run here.
        KV_DsId right = local;
        std::unique_ptr<kvtest::ChildProc> server;
        const char* right_path = nullptr;
        if (kvtest::vsftpd_usable()) {
            const std::string root = dir / "ftproot";
            std::filesystem::create_directories(root + "/pub/sub");
            for (const char* name : {"a.txt", "b.txt", "c.dat", "d.txt", "e.txt"}) {
                std::ofstream(root + "/pub/" + name) << "12345";
            }
            const uint16_t port = kvtest::closed_port();
            server = kvtest::start_vsftpd(dir.path(), root, port, "");
            ASSERT_TRUE(server && server->wait_port(port)) << (server ? server->log() : "");
            KV_DsTreeNodeFtp n;
            n.set_name("Loopback");
            n.set_inh_params(false);
            n.params_ftp().set_dst_addr(KV_String(("127.0.0.1:" + std::to_string(port)).c_str()));
            n.params_ftp().set_anonymous(true);
            KV_DsTreeNode* ftp =
                pool->tree().create(pool->tree().find(KV_DS_NODE_FTP, true), &n, 0, true);
            ASSERT_NE(ftp, nullptr);
            right = ftp->id();
            right_path = "/pub";
        }
        CBrowseSplt* wnd = Open(KV_FileManId(local, 0), KV_FileManId(right, 0), 0x0303);
        ASSERT_NE(wnd, nullptr);
        wnd->move(10, 10);
        wnd->resize(1000, 560);
        wnd->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(wnd));
        CFileListView* lists[2] = {};
        for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
            CFileManData* data = wnd->GetPane(side)->GetData();
            ASSERT_TRUE(
                Until([data] { return data->GetFileMan() && data->GetFileMan()->pwd_done(); }));
            const std::string path = side == CBrowseSplt::kRight && right_path != nullptr
                                         ? std::string(right_path)
                                         : dir / "work/a";
            ASSERT_TRUE(data->SetPathText(KV_String(path.c_str()), false));
            lists[side == CBrowseSplt::kLeft ? 0 : 1] =
                wnd->GetPane(side)->findChild<CFileListView*>();
        }
        ASSERT_TRUE(lists[0] && lists[1]);
        ASSERT_TRUE(Until([&] {
            // The FTP folder lists ".." too.
            return lists[0]->GetModel()->rowCount() == 6 &&
                   lists[1]->GetModel()->rowCount() == (right_path != nullptr ? 7 : 6);
        })) << lists[0]->GetModel()->rowCount()
            << " " << lists[1]->GetModel()->rowCount();
        EXPECT_EQ(lists[0]->GetStyle(), CFileListView::kStyleDetails);
        QTest::qWait(400);
        const QImage image = kvtest::GrabOnScreen(*wnd);
        ASSERT_EQ(image.size(), wnd->size());
        ASSERT_TRUE(image.save(png, "PNG"));

        for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
            SCOPED_TRACE(side);
            CBrowseFrm* pane = wnd->GetPane(side);
            // The caption bar names the pane's data source.
            auto* bar = pane->findChild<CBrowserBar*>();
            ASSERT_NE(bar, nullptr);
            EXPECT_TRUE(bar->isVisible());
            EXPECT_GT(DarkPixels(image, In(wnd, bar)), 30);
            // The list: column titles, then one row per entry, then blank.
            CFileListView* list = lists[side == CBrowseSplt::kLeft ? 0 : 1];
            auto* details = qobject_cast<QTreeView*>(list->GetItemView());
            ASSERT_NE(details, nullptr);
            EXPECT_GT(DarkPixels(image, In(wnd, details->header())), 40);
            const QRect rows = In(wnd, details->viewport());
            const QRect last =
                details->visualRect(list->GetModel()->index(list->GetModel()->rowCount() - 1, 0));
            ASSERT_TRUE(last.isValid());
            EXPECT_GT(
                DarkPixels(image, QRect(rows.left(), rows.top(), rows.width(), last.bottom() + 1)),
                150);
            EXPECT_EQ(DarkPixels(image, QRect(rows.left(), rows.top() + last.bottom() + 6,
                                              rows.width(), rows.height() - last.bottom() - 8)),
                      0);
            // The folder tree beside it shows its folders.
            auto* tree = pane->findChild<CFileTreeView*>();
            ASSERT_NE(tree, nullptr);
            EXPECT_GT(tree->width(), 150);
            EXPECT_GT(DarkPixels(image, In(wnd, tree->viewport())), 40);
        }
    }
};

// The share of pixels in which the screen shows `w` as it draws itself.
double Showing(QWidget& w)
{
    const QImage screen = kvtest::GrabOnScreen(w).convertToFormat(QImage::Format_RGB32);
    const QImage own = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (screen.size() != own.size() || screen.isNull()) {
        return 0;
    }
    qint64 same = 0;
    for (int y = 0; y < own.height(); ++y) {
        for (int x = 0; x < own.width(); ++x) {
            same += screen.pixel(x, y) == own.pixel(x, y) ? 1 : 0;
        }
    }
    return static_cast<double>(same) / (own.width() * own.height());
}

// The child's part of the second test: a window that goes leaves the
// control window on top, over the other browse windows.
void RaiseCheck(CKivrelApp* app, const KV_DsId& local)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    auto* frm = new CMainFrm;
    ASSERT_TRUE(frm->CreateFrame());
    app->SetMainFrm(frm);
    frm->setGeometry(20, 20, 420, 320);
    frm->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frm));
    std::unique_ptr<CBrowseSplt> below(
        new CBrowseSplt(KV_FileManId(local, 0), KV_FileManId(), 0x0002));
    std::unique_ptr<CBrowseSplt> above(
        new CBrowseSplt(KV_FileManId(local, 0), KV_FileManId(), 0x0001));
    for (CBrowseSplt* w : {below.get(), above.get()}) {
        ASSERT_TRUE(w->CreateFrame());
        w->setGeometry(10, 10, 500, 400);
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
        w->raise();
        QTest::qWait(300);
    }
    // Blank areas look alike; what the windows draw does not.
    const double covered = Showing(*frm);
    EXPECT_LT(covered, 0.8) << "covered";
    above.reset();
    QTest::qWait(400);
    const double shown = Showing(*frm);
    EXPECT_GT(shown, 0.97) << "on top once the window above went, not under the one below";
    EXPECT_GT(shown - covered, 0.15);
    below.reset();
    app->SetMainFrm(nullptr);
    delete frm;
}

TEST_F(BrowseScreen_MT, AWindowThatGoesLeavesTheControlWindowOnTop)
{
    if (!qgetenv(kChildVar).isEmpty()) {
        RaiseCheck(app, local);
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no stacking to see";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    kvtest::RunOnDisplay(display, kChildVar, QStringLiteral("-"),
                         "BrowseScreen_MT.AWindowThatGoesLeavesTheControlWindowOnTop", 120000);
}

TEST_F(BrowseScreen_MT, TwoPaneWindowWithDetailsListsOnAnXServer)
{
    const QByteArray child_png = qgetenv(kChildVar);
    if (!child_png.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_png));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshot of the window";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("1100x700x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    const QString png = QStringLiteral(KV_TEST_BUILD_DIR "/browse-two-panes-details.png");
    QFile::remove(png);
    kvtest::RunOnDisplay(display, kChildVar, png,
                         "BrowseScreen_MT.TwoPaneWindowWithDetailsListsOnAnXServer", 120000);
    EXPECT_FALSE(QImage(png).isNull()) << png.toStdString();
}

} // namespace
