// The FTP sheet's details page while the data source inherits from its
// group, as a real X server (Xvfb) draws it: saved as a PNG under the build
// folder's screenshots and checked at its key regions (the red inherit box,
// the greyed fields). The test starts its own Xvfb and runs itself again as
// its client; it skips only when Xvfb is not installed.
#include "props/dspropsheets.h"

#include "datasources/kv_dstree.h"
#include "datasources/kv_dstreenodeds.h"
#include "datasources/kv_dstreenodegrp.h"
#include "support/kv_testtools.h"
#include "support/kv_xvfb.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_XVFB_PNG";

int CountPixels(const QImage& image, const QRect& rect, const std::function<bool(QRgb)>& pred)
{
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            n += pred(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return n;
}

bool Red(QRgb p)
{
    return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
}

bool Dark(QRgb p)
{
    return qGray(p) < 110;
}

bool White(QRgb p)
{
    return qRed(p) >= 250 && qGreen(p) >= 250 && qBlue(p) >= 250;
}

// The child's part.
void ShowAndCheck(const QString& png)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    kvtest::NullErr eh;
    KV_DsTree tree(eh);
    KV_DsTreeNodeGrpFtp group(tree);
    group.set_name("Ftp");
    group.opts_ftp().set_ntavos(7);
    KV_DsTreeNodeFtp node;
    node.set_name("Mirror");
    node.set_inh_params(true);
    node.params_ftp().set_dst_addr("ftp.example.com");
    CDsPropFtp sheet(&node, &group, true, nullptr, 2);
    sheet.move(40, 40);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    QTest::qWait(300);
    CDsPropPage* page = sheet.GetActivePage();
    ASSERT_EQ(page, sheet.GetPage(2));
    ASSERT_EQ(page->Item<QLineEdit>(1100)->text(), "7");
    const QPoint origin = sheet.mapToGlobal(QPoint(0, 0));
    const QImage image = sheet.screen()
                             ->grabWindow(0, origin.x(), origin.y(), sheet.width(), sheet.height())
                             .toImage();
    ASSERT_EQ(image.size(), sheet.size());
    QDir().mkpath(QFileInfo(png).path());
    ASSERT_TRUE(image.save(png, "PNG"));

    const auto in_sheet = [&](QWidget* w) {
        return QRect(w->mapTo(&sheet, QPoint(0, 0)), w->size());
    };
    // The inherit box names the group in red.
    auto* box = page->Item<QCheckBox>(CDsPropPage::IDC_INHERIT);
    EXPECT_TRUE(box->isChecked());
    EXPECT_GT(CountPixels(image, in_sheet(box), Red), 40) << "the inherit box is red";
    // The connections field is greyed: no white field behind its text.
    const QRect field = in_sheet(page->Item(1100)).adjusted(3, 3, -3, -3);
    EXPECT_LT(CountPixels(image, field, White), field.width() * field.height() / 10);
    EXPECT_GT(CountPixels(image, field, [](QRgb p) { return qGray(p) < 200; }), 5)
        << "the group's value is shown";
    // The tabs carry their titles, and no red is anywhere but the box.
    EXPECT_GT(CountPixels(image, in_sheet(sheet.GetTabs()->tabBar()), Dark), 50);
    EXPECT_EQ(CountPixels(image, in_sheet(page->Item(1089)), Red), 0);
}

TEST(DsPropScreen, FtpDetailsWhileInheriting)
{
    const QByteArray child_png = qgetenv(kChildVar);
    if (!child_png.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_png));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshot of the sheet";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("1024x768x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    const QString png = QDir::cleanPath(QStringLiteral(KV_TEST_BUILD_DIR) +
                                        "/../../screenshots/dsprop-ftp-details-inherit.png");
    QFile::remove(png);
    kvtest::RunOnDisplay(display, kChildVar, png, "DsPropScreen.FtpDetailsWhileInheriting");
    EXPECT_FALSE(QImage(png).isNull()) << png.toStdString();
}

} // namespace
