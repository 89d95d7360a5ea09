// The certificate question on a real X server (Xvfb): the dialog as the X
// server draws it, saved as a PNG in the build folder and checked at its key
// regions. The test starts its own Xvfb and runs itself again as a client of
// it (the offscreen platform of this program cannot be changed once
// running); it skips only when Xvfb is not installed.
#include "dialogs/dlgask.h"
#include "support/kv_xvfb.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_XVFB_PNG";

// Pixels of `rect` darker than the dialog's background (text, borders).
using kvtest::DarkPixels;

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

TEST(CDlgAskScreen, CertificateQuestionOnAnXServer)
{
    const QByteArray child_png = qgetenv(kChildVar);
    if (!child_png.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_png));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshot of the question";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    const QString png = QStringLiteral(KV_TEST_BUILD_DIR "/cdlgask-certificate.png");
    QFile::remove(png);
    kvtest::RunOnDisplay(display, kChildVar, png, "CDlgAskScreen.CertificateQuestionOnAnXServer");
    EXPECT_FALSE(QImage(png).isNull()) << png.toStdString();
}

} // namespace
