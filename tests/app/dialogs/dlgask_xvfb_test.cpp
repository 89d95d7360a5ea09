// The certificate question on a real X server (Xvfb): the dialog as the X
// server draws it, saved as a PNG in the build folder and checked at its key
// regions. The test starts its own Xvfb and runs itself again as a client of
// it (the offscreen platform of this program cannot be changed once
// running); it skips only when Xvfb is not installed.
#include "dialogs/dlgask.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char kChildVar[] = "KV_XVFB_PNG";

// Pixels of `rect` darker than the dialog's background (text, borders).
int DarkPixels(const QImage& image, const QRect& rect)
{
    int dark = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            dark += qGray(image.pixel(x, y)) < 110;
        }
    }
    return dark;
}

// The child's part: show the question, grab the screen where it is, check.
void ShowAndCheck(const QString& png)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    CDlgAsk dlg("The certificate of ftp.example.com was issued by an authority that is not "
                "trusted. Do you want to connect anyway?",
                KV_ANS_YES_ALL, KV_ASK_TRUST, nullptr, nullptr);
    dlg.move(40, 40);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::qWait(300);
    const QPoint origin = dlg.mapToGlobal(QPoint(0, 0));
    const QImage image =
        dlg.screen()->grabWindow(0, origin.x(), origin.y(), dlg.width(), dlg.height()).toImage();
    ASSERT_EQ(image.size(), dlg.size());
    ASSERT_TRUE(image.save(png, "PNG"));

    const QRect text = dlg.TextRect();
    EXPECT_GT(DarkPixels(image, text), 200) << "the question is drawn";
    // The gap under the text, the margin right of it and the space above it
    // are empty.
    EXPECT_EQ(DarkPixels(image, QRect(text.left(), text.bottom() + 3, text.width(), 15)), 0);
    EXPECT_EQ(DarkPixels(image, QRect(text.right() + 3, text.top(), 20, text.height())), 0);
    EXPECT_EQ(DarkPixels(image, QRect(60, 0, dlg.width() - 60, 25)), 0);
    // The icon, and each button with its border and label.
    EXPECT_GT(DarkPixels(image, QRect(15, 15, 32, 32)), 20);
    for (int id : {CDlgAsk::IDC_YES, CDlgAsk::IDC_NO, CDlgAsk::IDC_YES_ALL}) {
        const QRect r = dlg.Item<QPushButton>(id)->geometry();
        EXPECT_EQ(r.top(), text.bottom() + 1 + 20);
        EXPECT_GT(DarkPixels(image, r.adjusted(4, 4, -4, -4)), 10) << id;
    }
}

std::string FindXvfb()
{
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/Xvfb";
        if (access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return std::string();
}

TEST(CDlgAskScreen, CertificateQuestionOnAnXServer)
{
    const QByteArray child_png = qgetenv(kChildVar);
    if (!child_png.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_png));
        return;
    }
    const std::string xvfb = FindXvfb();
    if (xvfb.empty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshot of the question";
    }

    // Xvfb picks a free display and writes its number to the pipe.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {xvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0",
                          "800x600x24", "-nolisten",  "tcp",      nullptr};
    pid_t server = 0;
    ASSERT_EQ(
        posix_spawn(&server, xvfb.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    close(fds[1]);
    std::string display;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        display += c;
    }
    close(fds[0]);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    const QString png = QStringLiteral(KV_TEST_BUILD_DIR "/cdlgask-certificate.png");
    QFile::remove(png);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", QString::fromStdString(":" + display));
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert(kChildVar, png);
    // The X platform talks to D-Bus, whose library keeps a buffer for the
    // life of the process; the leak checker is told so and nothing more.
    const QString supp = QStringLiteral(KV_TEST_BUILD_DIR "/xcb-lsan.supp");
    {
        QFile f(supp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("leak:libdbus-1.so\n");
    }
    QString lsan = env.value("LSAN_OPTIONS");
    env.insert("LSAN_OPTIONS", (lsan.isEmpty() ? QString() : lsan + ":") + "suppressions=" + supp);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=CDlgAskScreen.CertificateQuestionOnAnXServer")});
    const bool finished = child.waitForFinished(60000);
    const QByteArray output = child.readAll();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ASSERT_TRUE(finished) << output.constData();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    EXPECT_FALSE(QImage(png).isNull()) << png.toStdString();
}

} // namespace
