// The program's windows at scale factors 1 and 2 (QT_SCALE_FACTOR) on a
// real X server (Xvfb): no label, button or box shows its text cut off, and
// each window is saved as screenshots/highdpi/<scale>x-<window>.png under the
// build folder to be looked at. The test runs itself again as a client of
// its own Xvfb, once per scale; it skips only when Xvfb is not installed.
#include "browse/browsefrm.h"
#include "browse/browsesplt.h"
#include "browse/filemandata.h"
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "requests/kv_fileman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "shell/mainfrm.h"
#include "support/kv_dialogtable.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_testdir.h"
#include "support/kv_testtools.h"
#include "support/kv_xvfb.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kShots = QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots/highdpi");

QString Describe(const QWidget* w, const QString& text)
{
    return QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('#') + w->objectName() +
           QStringLiteral(" \"") + text + QStringLiteral("\"");
}

// The texts of `window` that do not fit where they are drawn: a label's
// text wider (or, wrapped, taller) than its contents, a button or box
// smaller than it asks to be for its text.
QStringList ClippedTexts(const QWidget& window)
{
    QStringList clipped;
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != &window) {
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            const QString text = label->text();
            if (text.isEmpty() || label->textFormat() == Qt::RichText) {
                continue;
            }
            const QRect room = label->contentsRect();
            const QSize hint = label->sizeHint();
            bool fits = hint.width() <= label->width() && hint.height() <= label->height();
            if (!fits && label->wordWrap()) {
                fits = label->heightForWidth(label->width()) <= label->height();
            } else if (!fits) {
                const QRect need = label->fontMetrics().boundingRect(QRect(0, 0, 100000, 100000),
                                                                     Qt::TextShowMnemonic, text);
                fits = need.width() <= room.width() && need.height() <= room.height();
            }
            if (!fits) {
                clipped << Describe(w, text) + QStringLiteral(" %1x%2 in %3x%4")
                                                   .arg(hint.width())
                                                   .arg(hint.height())
                                                   .arg(label->width())
                                                   .arg(label->height());
            }
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
            if (button->text().isEmpty()) {
                continue;
            }
            const QSize hint = button->sizeHint();
            if (hint.width() > button->width() || hint.height() > button->height()) {
                clipped << Describe(w, button->text()) + QStringLiteral(" %1x%2 in %3x%4")
                                                             .arg(hint.width())
                                                             .arg(hint.height())
                                                             .arg(button->width())
                                                             .arg(button->height());
            }
        } else if (const auto* box = qobject_cast<const QGroupBox*>(w)) {
            const int need = box->fontMetrics().horizontalAdvance(box->title());
            if (need > box->contentsRect().width()) {
                clipped << Describe(w, box->title());
            }
        }
    }
    return clipped;
}

TEST(HighDpiCheck, ClippedTextsAreFound)
{
    struct Case
    {
        const char* what;
        QWidget* widget;
        QSize size;
        bool clipped;
    };
    QWidget window;
    auto* wrapped = new QLabel(QStringLiteral("a text long enough to wrap onto lines"), &window);
    wrapped->setWordWrap(true);
    const Case cases[] = {
        {"label too narrow",
         new QLabel(QStringLiteral("Command response:"), &window),
         {30, 30},
         true},
        {"label with room", new QLabel(QStringLiteral("Port:"), &window), {200, 30}, false},
        {"box too narrow", new QCheckBox(QStringLiteral("Use RESTORE"), &window), {40, 30}, true},
        {"button too low", new QPushButton(QStringLiteral("Cancel"), &window), {200, 6}, true},
        {"wrapped label with its lines", wrapped, {120, 200}, false},
        {"wrapped label without them", wrapped, {120, 8}, true},
    };
    window.resize(400, 400);
    window.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (QWidget* w : window.findChildren<QWidget*>()) {
            w->setVisible(w == c.widget);
        }
        c.widget->setGeometry(QRect(QPoint(0, 0), c.size));
        EXPECT_EQ(ClippedTexts(window).size(), c.clipped ? 1 : 0);
    }
}

class HighDpi_MT : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel/kivrel.conf");
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        app = CKivrelApp::Instance();
        app->GetBridge().InstallHooks();
        app->CreateImageLists();
        app->DeletePool();
        ASSERT_TRUE(app->CreatePool());
        pool = app->GetPool();
        for (const char* sub : {"settings", "tmp"}) {
            ASSERT_TRUE(KV_File::mkdir((dir / sub).c_str()));
        }
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SETTINGS, (dir / "settings").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(KV_File::set_path(KV_PATH_SYS_TMP, (dir / "tmp").c_str()));
        ASSERT_TRUE(kvtest::write_file(dir / "settings/kivrel.ds", ""));
        ASSERT_TRUE(pool->load_ds());
        ASSERT_TRUE(pool->man_trans().start());
    }
    void TearDown() override
    {
        if (pool != nullptr) {
            kvtest::WaitFor(
                [this] {
                    Pump();
                    return pool->term();
                },
                30000);
        }
        app->DeletePool();
        SetSettingsEnv(CSettingsEnv());
    }
    void Pump()
    {
        while (KV_Msg* m = pool->informer().pop()) {
            pool->process_ntf(m);
            KV_Informer::destroy(m);
        }
    }

    // Shows the window, checks its texts and saves its picture.
    void Look(QWidget& w, const QString& name, const QString& scale)
    {
        SCOPED_TRACE(name.toStdString());
        w.move(20, 20);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(150);
        const QStringList clipped = ClippedTexts(w);
        EXPECT_TRUE(clipped.isEmpty()) << "at " << scale.toStdString()
                                       << "x: " << clipped.join(QLatin1Char('\n')).toStdString();
        const QImage image = kvtest::GrabOnScreen(w);
        EXPECT_FALSE(image.isNull());
        EXPECT_TRUE(image.save(kShots + QLatin1Char('/') + scale + QStringLiteral("x-") + name +
                                   QStringLiteral(".png"),
                               "PNG"));
        w.hide();
    }

    void OnScreen(const QString& scale)
    {
        {
            CMainFrm frm;
            ASSERT_TRUE(frm.CreateFrame());
            Look(frm, QStringLiteral("control-window"), scale);
        }
        {
            const KV_DsId local = pool->tree().find(KV_DS_NODE_STD, false)->id();
            CBrowseSplt wnd(KV_FileManId(local, 0), KV_FileManId(local, 1), 0x0303);
            ASSERT_TRUE(wnd.CreateFrame());
            for (uint32_t side : {CBrowseSplt::kLeft, CBrowseSplt::kRight}) {
                ASSERT_TRUE(kvtest::WaitFor([&] {
                    Pump();
                    CBrowseFrm* pane = wnd.GetPane(side);
                    KV_FileMan* m =
                        pane && pane->GetData() ? pane->GetData()->GetFileMan() : nullptr;
                    return m != nullptr && m->pwd_done();
                }));
            }
            Look(wnd, QStringLiteral("browse-window"), scale);
        }
        for (const kvtest::DialogCase& c : kvtest::ProgramDialogs(*pool)) {
            std::unique_ptr<QDialog> dlg = c.make();
            ASSERT_NE(dlg, nullptr);
            if (c.page >= 0) {
                dlg->show();
                ASSERT_TRUE(dynamic_cast<CDsProp*>(dlg.get())->SetActivePage(c.page));
            }
            Look(*dlg, QString::fromStdString(c.name), scale);
        }
    }

    CKivrelApp* app = nullptr;
    KV_FileManPool* pool = nullptr;
};

TEST_F(HighDpi_MT, WindowsShowTheirTextsWholeAtScaleOneAndTwo)
{
    // The half on screen: the child of an Xvfb with its scale set.
    if (QGuiApplication::platformName() == QLatin1String("xcb") &&
        qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) {
        OnScreen(qEnvironmentVariable("QT_SCALE_FACTOR"));
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb): no screenshots";
    }
    ASSERT_TRUE(QDir().mkpath(kShots));
    for (const char* scale : {"1", "2"}) {
        SCOPED_TRACE(scale);
        kvtest::XServer server;
        const QString display = server.Start(QStringLiteral("2400x1800x24"));
        ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
        kvtest::RunOnDisplay(display, "QT_SCALE_FACTOR", QString::fromLatin1(scale), "HighDpi_MT.*",
                             240000);
        EXPECT_FALSE(
            QImage(kShots + QStringLiteral("/%1x-control-window.png").arg(scale)).isNull());
        EXPECT_FALSE(QImage(kShots + QStringLiteral("/%1x-browse-window.png").arg(scale)).isNull());
    }
}

} // namespace
