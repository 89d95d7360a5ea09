// The first page of the network setup and the quick-connect dialog on a
// real X server (Xvfb), as the first start shows them: each saved as a PNG
// under <build folder>/screenshots and checked at its key regions. The test
// starts its own Xvfb and runs itself again as a client of it; it skips
// only when Xvfb is not installed.
#include "core/settings.h"
#include "setup/dlgquickconn.h"
#include "setup/wiznet.h"
#include "support/kv_testdir.h"
#include "support/kv_xvfb.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_XVFB_SETUP_DIR";

// <build folder>/screenshots: the folder above the test program that holds
// CMakeCache.txt.
QString ScreenshotDir()
{
    QDir dir(QCoreApplication::applicationDirPath());
    while (!dir.exists(QStringLiteral("CMakeCache.txt")) && dir.cdUp()) {
    }
    return dir.filePath(QStringLiteral("screenshots"));
}

// Pixels of `rect` darker than the dialog's background (text, borders).
using kvtest::DarkPixels;

QImage Grab(QWidget& w)
{
    return kvtest::GrabOnScreen(w);
}

// `child`'s rectangle in `top`'s coordinates.
QRect In(QWidget& top, QWidget* child)
{
    return QRect(child->mapTo(&top, QPoint(0, 0)), child->size());
}

void ShowAndCheck(const QString& dir)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    kvtest::TempDir tmp;
    CSettingsEnv env;
    env.user_conf = QString::fromStdString(tmp / "kivrel.conf");
    SetSettingsEnv(env);

    // The network setup's first page, as on the first start (another setup
    // follows, so the last button reads "Next >").
    CWizNet wiz(true, CSysProxy(), nullptr);
    wiz.move(30, 30);
    wiz.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wiz));
    QTest::qWait(300);
    QImage image = Grab(wiz);
    ASSERT_EQ(image.size(), wiz.size());
    ASSERT_TRUE(image.save(dir + "/setup_network_first_page.png", "PNG"));
    QWidget* page = wiz.currentPage();
    for (int id : {CWizNetMain::IDC_DIRECT, CWizNetMain::IDC_FIREWALL}) {
        auto* radio = page->findChild<QRadioButton*>(QString::number(id));
        ASSERT_NE(radio, nullptr);
        EXPECT_GT(DarkPixels(image, In(wiz, radio)), 30) << "radio " << id << " is drawn";
    }
    QAbstractButton* next = wiz.button(QWizard::NextButton);
    EXPECT_TRUE(next->isVisible());
    EXPECT_GT(DarkPixels(image, In(wiz, next).adjusted(4, 4, -4, -4)), 10);
    EXPECT_GT(DarkPixels(image, QRect(0, 0, wiz.width(), In(wiz, page).top())), 50)
        << "the page title is drawn";
    // Under the two radios the page is empty.
    const QRect below(
        In(wiz, page).left(),
        In(wiz, page->findChild<QRadioButton*>(QString::number(CWizNetMain::IDC_FIREWALL)))
                .bottom() +
            10,
        page->width(), 30);
    EXPECT_EQ(DarkPixels(image, below), 0);
    wiz.hide();

    // Quick connect, with a URL typed.
    CDlgQuickConn dlg(nullptr);
    dlg.move(30, 30);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.Item<QComboBox>(CDlgQuickConn::IDC_URL)->setEditText("ftp://127.0.0.1:2121");
    QTest::qWait(300);
    image = Grab(dlg);
    ASSERT_EQ(image.size(), dlg.size());
    ASSERT_TRUE(image.save(dir + "/setup_quick_connect.png", "PNG"));
    EXPECT_GT(DarkPixels(image, In(dlg, dlg.Item(CDlgQuickConn::IDC_URL))), 80)
        << "the URL is drawn";
    EXPECT_GT(DarkPixels(image, In(dlg, dlg.Item(CDlgQuickConn::IDC_ANONYMOUS))), 20);
    EXPECT_GT(DarkPixels(image, In(dlg, dlg.Item(CDlgQuickConn::IDC_TEMPORARY))), 20);
    // Anonymous: the login fields are greyed and empty, their labels drawn.
    const QRect user = In(dlg, dlg.Item(CDlgQuickConn::IDC_USER));
    EXPECT_EQ(DarkPixels(image, user.adjusted(2, 2, -2, -2)), 0);
    EXPECT_GT(DarkPixels(image, QRect(0, user.top(), user.left(), user.height())), 20);
}

TEST(SetupScreen, FirstStartWindowsOnAnXServer)
{
    const QByteArray child_dir = qgetenv(kChildVar);
    if (!child_dir.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_dir));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshots of the setup";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    const QString dir = ScreenshotDir();
    ASSERT_TRUE(QDir().mkpath(dir));
    const QStringList pngs{dir + "/setup_network_first_page.png", dir + "/setup_quick_connect.png"};
    for (const QString& png : pngs) {
        QFile::remove(png);
    }
    kvtest::RunOnDisplay(display, kChildVar, dir, "SetupScreen.FirstStartWindowsOnAnXServer");
    for (const QString& png : pngs) {
        EXPECT_FALSE(QImage(png).isNull()) << png.toStdString();
    }
}

} // namespace
