// The transfer list and the "Protocol" page as a real X server (Xvfb) draws
// them, saved as PNGs under the build folder's "screenshots" and checked at
// their key regions: the lit lamp of each request's light, the result
// overlay, the texts, and the colour of each kind of log line. The test
// starts its own Xvfb and runs itself again as a client of it; it skips
// only when Xvfb is not installed.
#include "monitor/filetavo.h"
#include "monitor/translistview.h"
#include "monitor_fixture.h"
#include "requests/kv_sessinfo.h"
#include "support/kv_xvfb.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

namespace {

using kvtest::Snap;

const char kChildVar[] = "KV_XVFB_SHOTS";

QString ShotDir()
{
    return QDir::cleanPath(QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots"));
}

// Pixels of `rect` whose colour lies within `tolerance` of `colour`.
int PixelsNear(const QImage& image, const QRect& rect, QColor colour, int tolerance)
{
    int n = 0;
    const QRect r = rect.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - colour.red()) <= tolerance &&
                 std::abs(c.green() - colour.green()) <= tolerance &&
                 std::abs(c.blue() - colour.blue()) <= tolerance;
        }
    }
    return n;
}

using kvtest::DarkPixels;

QImage Grab(QWidget* w)
{
    return kvtest::GrabOnScreen(*w);
}

class MonitorScreen : public kvtest::MonitorTest
{
protected:
    void ShowAndCheck(const QString& dir)
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        Feed(KV_REQ_NTF_INIT, 1, Snap().Prog(40).Light(KV_REQ_TL_RUNNING));
        Feed(KV_REQ_NTF_INIT, 2, Snap(KV_REQ_STAT_COMPLETED).Light(KV_REQ_TL_NONE));
        Feed(KV_REQ_NTF_STATUS, 2,
             Snap(KV_REQ_STAT_COMPLETED).Add(KV_REQ_ADD_COMPLETED).Light(KV_REQ_TL_NONE));
        Feed(KV_REQ_NTF_INIT, 3, Snap(KV_REQ_STAT_CANCELLED).Light(KV_REQ_TL_CANCELLED));
        frm->setGeometry(40, 40, 520, 360);
        frm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frm));
        list->clearSelection();
        // Room for the rows whatever height the pane was given.
        if (auto* split = qobject_cast<QSplitter*>(list->parentWidget())) {
            split->setSizes({100, 200});
        }
        QTest::qWait(300);
        ASSERT_GT(list->height(), 100);
        const QImage image = Grab(list);
        ASSERT_TRUE(image.save(dir + "/translist.png", "PNG"));

        auto cell = [&](unsigned id) {
            QRect r = list->visualItemRect(list->FindRow(id));
            r.moveTop(r.top() + list->header()->height());
            r.setWidth(list->columnWidth(0));
            return r;
        };
        const QRect pictures1 = cell(1).adjusted(0, 0, -(cell(1).width() - 40), 0);
        // Row 1: the running light's green lamp; row 3: the red lamp.
        EXPECT_GT(PixelsNear(image, pictures1, QColor(0, 255, 0), 10), 4);
        EXPECT_EQ(PixelsNear(image, pictures1, QColor(255, 0, 0), 10), 0);
        const QRect pictures3 = cell(3).adjusted(0, 0, -(cell(3).width() - 40), 0);
        EXPECT_GT(PixelsNear(image, pictures3, QColor(255, 0, 0), 10), 4);
        // Row 2: no light, and its completed overlay (a green disk).
        const QRect pictures2 = cell(2).adjusted(0, 0, -(cell(2).width() - 40), 0);
        EXPECT_EQ(PixelsNear(image, pictures2, QColor(0, 255, 0), 10), 0);
        EXPECT_GT(PixelsNear(image, pictures2, QColor(30, 150, 30), 12), 4);
        // Texts beside the pictures and in the status column; the header.
        EXPECT_GT(DarkPixels(image, cell(1).adjusted(40, 0, 0, 0)), 30);
        EXPECT_GT(DarkPixels(image, QRect(list->columnWidth(0), cell(1).top(), list->columnWidth(1),
                                          cell(1).height())),
                  10);
        EXPECT_GT(DarkPixels(image, QRect(0, 0, 120, list->header()->height())), 20);

        // The "Protocol" page with one line of each kind.
        KV_TavoInfoMan table;
        auto send = [&](KV_Msg* msg) {
            EXPECT_TRUE(table.process_ntf(msg));
            delete msg;
        };
        send(new KV_MsgTavoNtf(KV_TAVO_NTF_ADDED, 1, KV_String("Logged in"), KV_String()));
        const struct
        {
            KV_SESS_LOG kind;
            bool err;
            const char* text;
        } lines[] = {
            {KV_SESS_LOG_SENT, false, "USER anonymous"},
            {KV_SESS_LOG_RECV, false, "331 Please specify the password."},
            {KV_SESS_LOG_SENT, true, "PASS ********"},
            {KV_SESS_LOG_NOTICE, false, "Connected to 127.0.0.1"},
        };
        for (const auto& l : lines) {
            send(new KV_MsgSessLog(1, KV_SessLogInfo(l.kind, KV_String(l.text), l.err)));
        }
        CPaneLink link;
        link.tavo = &table;
        CFileTavoLog page(link);
        page.setWindowTitle("Protocol");
        page.setGeometry(40, 420, 640, 160);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        QTest::qWait(300);
        const QImage shot = Grab(&page);
        ASSERT_TRUE(shot.save(dir + "/protocol.png", "PNG"));
        QTextEdit* log = page.Log();
        const QPoint at = log->viewport()->mapTo(&page, QPoint(0, 0));
        auto line_rect = [&](int n) {
            QTextBlock b = log->document()->findBlockByNumber(n);
            QRect r = log->document()->documentLayout()->blockBoundingRect(b).toRect();
            return r.translated(at);
        };
        const QColor grey = page.palette().color(QPalette::Disabled, QPalette::Text);
        EXPECT_GT(PixelsNear(shot, line_rect(0), grey, 40), 10) << "sent: grey";
        EXPECT_GT(DarkPixels(shot, line_rect(1)), 30) << "received: the text colour";
        EXPECT_GT(PixelsNear(shot, line_rect(2), QColor(255, 0, 0), 60), 10) << "failed: red";
        EXPECT_GT(PixelsNear(shot, line_rect(3), QColor(0, 0, 128), 50), 10) << "notice: navy";
        EXPECT_EQ(PixelsNear(shot, line_rect(1), QColor(255, 0, 0), 60), 0);
    }
};

TEST_F(MonitorScreen, TransferListAndProtocolPageOnAnXServer)
{
    const QByteArray child_dir = qgetenv(kChildVar);
    if (!child_dir.isEmpty()) {
        ShowAndCheck(QString::fromUtf8(child_dir));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshots";
    }
    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";

    const QString dir = ShotDir();
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile::remove(dir + "/translist.png");
    QFile::remove(dir + "/protocol.png");
    kvtest::RunOnDisplay(display, kChildVar, dir,
                         "MonitorScreen.TransferListAndProtocolPageOnAnXServer");
    EXPECT_FALSE(QImage(dir + "/translist.png").isNull());
    EXPECT_FALSE(QImage(dir + "/protocol.png").isNull());
}

} // namespace
