// Screenshots of the browse window's "&File" menu open on a real X server
// (Xvfb), in the program's look and in the classic look, compared with the
// pictures committed in golden/ beside this file.
#include "menus/newframe.h"
#include "menus/newmenu.h"
#include "res/resources.h"
#include "support/kv_xvfb.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Shot
{
    const char* name;
    int style;
};

constexpr Shot kShots[] = {{"browse_file_menu_xp", 3}, {"browse_file_menu_classic", 0}};

// <build folder>/screenshots: the folder above the test program that holds
// CMakeCache.txt.
QString ScreenshotDir()
{
    QDir dir(QCoreApplication::applicationDirPath());
    while (!dir.exists(QStringLiteral("CMakeCache.txt")) && dir.cdUp()) {
    }
    return dir.filePath(QStringLiteral("screenshots"));
}

QString GoldenPath(const char* name)
{
    // The tests folder, which Qt Test tells its programs.
    return QStringLiteral(QT_TESTCASE_SOURCEDIR "/menus/golden/") + QLatin1String(name) +
           QStringLiteral(".png");
}

// Pixels whose channels differ by more than 24, counted; -1 when the sizes
// differ.
qint64 CountDifferentPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) {
        return -1;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 count = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row);
            const QRgb q = y.pixel(col, row);
            if (std::abs(qRed(p) - qRed(q)) > 24 || std::abs(qGreen(p) - qGreen(q)) > 24 ||
                std::abs(qBlue(p) - qBlue(q)) > 24) {
                ++count;
            }
        }
    }
    return count;
}

TEST(MenuScreenshots, BrowseFileMenuMatchesTheGoldens)
{
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (apt-get install xvfb): no screenshots taken";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("640x480x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    const QString out = ScreenshotDir();
    ASSERT_TRUE(QDir().mkpath(out));
    for (const Shot& shot : kShots) {
        QFile::remove(QDir(out).filePath(QLatin1String(shot.name) + QStringLiteral(".png")));
    }
    QProcess child;
    QProcessEnvironment env = kvtest::XcbChildEnv(display, out);
    env.insert(QStringLiteral("KV_SCREENSHOT_DIR"), out);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=MenuScreenshots.DISABLED_TakeOnX")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString log = QString::fromLocal8Bit(child.readAll());
    ASSERT_EQ(child.exitStatus(), QProcess::NormalExit) << qPrintable(log);
    ASSERT_EQ(child.exitCode(), 0) << qPrintable(log);

    for (const Shot& shot : kShots) {
        SCOPED_TRACE(shot.name);
        const QString taken = QDir(out).filePath(QLatin1String(shot.name) + QStringLiteral(".png"));
        const QImage image(taken);
        ASSERT_FALSE(image.isNull()) << qPrintable(log);
        const QImage golden(GoldenPath(shot.name));
        ASSERT_FALSE(golden.isNull()) << "no golden picture " << qPrintable(GoldenPath(shot.name))
                                      << "; the screenshot is " << qPrintable(taken);
        const qint64 differing = CountDifferentPixels(image, golden);
        ASSERT_GE(differing, 0) << "sizes differ: " << qPrintable(taken);
        // Font rendering may move a few edge pixels; a changed look moves
        // hundreds.
        EXPECT_LE(differing, image.width() * image.height() / 200) << qPrintable(taken);
    }
}

// Runs in the child above, on the X server: the frame at the screen's
// top-left corner, its "&File" menu open with "&Open" selected, the screen
// saved where KV_SCREENSHOT_DIR says.
TEST(MenuScreenshots, DISABLED_TakeOnX)
{
    const QString out = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (out.isEmpty()) {
        GTEST_SKIP() << "runs only on the X server that BrowseFileMenuMatchesTheGoldens starts";
    }
    CMenuStyle::Instance()->setBaseStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(CMenuStyle::Instance()->baseStyle()->standardPalette());
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    CNewMenu::SetSelectionMode(0);
    const kvres::ToolBar* toolbar = kvres::FindToolBar(109);
    ASSERT_NE(toolbar, nullptr);
    std::vector<uint16_t> data{static_cast<uint16_t>(toolbar->id),
                               static_cast<uint16_t>(toolbar->width),
                               static_cast<uint16_t>(toolbar->height)};
    for (uint16_t id : toolbar->items) {
        if (id != 0) {
            data.push_back(id);
        }
    }
    data.push_back(0);

    for (const Shot& shot : kShots) {
        SCOPED_TRACE(shot.name);
        CNewMenu::SetDrawStyle(shot.style);
        CNewFrameWnd frame;
        ASSERT_TRUE(frame.LoadFrame(109));
        ASSERT_TRUE(frame.DefaultMenu().AddToolBarIcons(data.data()));
        // Every command has a handler but "&Print", which so shows disabled.
        CCommandLayer::OnRange(&frame, 1, 57606, [](uint32_t) {});
        CCommandLayer::OnRange(&frame, 57608, 0xEFFF, [](uint32_t) {});
        frame.setGeometry(0, 0, 360, 340);
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
        frame.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        QMenuBar* bar = frame.FrameMenuBar();
        CNewMenu* file = frame.DefaultMenu().GetSubMenu(0);
        ASSERT_NE(file, nullptr);
        bar->setActiveAction(bar->actions().value(0));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(file->GetSafeHmenu()));
        file->GetSafeHmenu()->setActiveAction(file->ItemAction(0));
        // The X server paints when the windows' pictures arrive: the
        // screen is taken once two looks 200 ms apart agree.
        const QRect area = frame.frameGeometry().united(file->GetSafeHmenu()->geometry());
        QImage screen;
        for (int tries = 0; tries < 25; ++tries) {
            QTest::qWait(200);
            const QImage now =
                frame.screen()->grabWindow(0, 0, 0, area.right() + 1, area.bottom() + 1).toImage();
            if (now == screen) {
                break;
            }
            screen = now;
        }
        ASSERT_TRUE(
            screen.save(QDir(out).filePath(QLatin1String(shot.name) + QStringLiteral(".png"))));
        file->GetSafeHmenu()->hide();
    }
}

} // namespace
