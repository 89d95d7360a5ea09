// The start tips, the automatic update check as the application object runs
// it, and the internet shortcuts of the program's folder.
#include "core/settings.h"
#include "foundation/kv_file.h"
#include "menus/commands.h"
#include "root/kv_autoupdtman.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "startup/starthooks.h"
#include "startup/starttips.h"
#include "support/kv_testdir.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace {

class AppStartTest : public kvtest::TempDirTest
{
protected:
    void SetUp() override
    {
        kvtest::TempDirTest::SetUp();
        CSettingsEnv env;
        env.user_conf = QString::fromStdString(dir / "config/kivrel.conf");
        env.machine_confs = {QString::fromStdString(dir / "machine.conf")};
        env.tmp = QString::fromUtf8(dir.c_str());
        SetSettingsEnv(env);
        ASSERT_TRUE(KV_File::set_path(KV_PATH_PROGRAM, dir.c_str()));
        std::filesystem::create_directories(dir / "help/html");
    }
    void Tip(int n)
    {
        ASSERT_TRUE(kvtest::write_file(dir / ("help/html/tip" + std::to_string(n) + ".htm"),
                                       "<p>tip " + std::to_string(n) + "</p>"));
    }
    int StoredTips() { return GetProfileInt("UI", "StartTips", 12345); }
};

TEST_F(AppStartTest, TipsGoOnFromTheLastShownWrapAndRememberTheBox)
{
    for (int n = 1; n <= 4; ++n) {
        Tip(n);
    }
    ASSERT_TRUE(WriteProfileInt("UI", "StartTips", 3));
    {
        CStartTipsFrm tips;
        ASSERT_TRUE(tips.Create());
        EXPECT_EQ(tips.windowTitle(), "Kivrel: Startup tips");
        EXPECT_EQ(tips.size(), QSize(650, 480));
        EXPECT_EQ(tips.Tip(), 4);
        EXPECT_TRUE(tips.View()->toPlainText().contains("tip 4"));
        ASSERT_TRUE(CCommandLayer::Of(&tips)->Execute(32817)); // "Next tip"
        EXPECT_EQ(tips.Tip(), 1);
        EXPECT_TRUE(tips.View()->toPlainText().contains("tip 1"));
    }
    EXPECT_EQ(StoredTips(), 1);
    {
        CStartTipsFrm tips;
        ASSERT_TRUE(tips.Create());
        EXPECT_EQ(tips.Tip(), 2);
        tips.DontShow()->setChecked(true);
    }
    // Switched off: negative, and the next window goes on after tip 2.
    EXPECT_EQ(StoredTips(), -2);
    {
        CStartTipsFrm tips;
        ASSERT_TRUE(tips.Create());
        EXPECT_EQ(tips.Tip(), 3);
    }
}

TEST_F(AppStartTest, WithoutTipPagesNoWindowAndNothingWritten)
{
    {
        CStartTipsFrm tips;
        EXPECT_FALSE(tips.Create());
    }
    EXPECT_EQ(StoredTips(), 12345);
    EXPECT_FALSE(CKivrelApp::Instance()->ShowStartTips());
}

QString Me()
{
    const passwd* pw = getpwuid(getuid());
    return QString::fromLocal8Bit(pw->pw_name);
}

TEST_F(AppStartTest, UpdateCheckNotesTheTimeOnlyForTheInstallingUserWithAServer)
{
    CKivrelApp& app = *CKivrelApp::Instance();
    app.DeletePool();
    ASSERT_TRUE(app.CreatePool());
    const int64_t t0 = 2'200'000'000; // after 2038
    const auto machine = [&](const QString& user) {
        ASSERT_TRUE(kvtest::write_file(dir / "machine.conf",
                                       "[Init]\nUserInst=\"" + user.toStdString() + "\"\n"));
    };
    const QByteArray stamp("\x00\x56\x21\x83", 4); // t0, little-endian

    KV_AutoUpdtMan::set_server("");
    machine(Me());
    app.CheckAutoUpdate(t0);
    EXPECT_TRUE(GetProfileBinary("Init", "AutoUpdtCheck").isNull()) << "no server";

    KV_AutoUpdtMan::set_server("updates.example");
    machine(Me() + "x");
    app.CheckAutoUpdate(t0);
    EXPECT_TRUE(GetProfileBinary("Init", "AutoUpdtCheck").isNull()) << "another user";

    machine(Me());
    app.CheckAutoUpdate(t0);
    EXPECT_EQ(GetProfileBinary("Init", "AutoUpdtCheck"), stamp) << "first time: noted";
    app.CheckAutoUpdate(t0 + 14 * 86400);
    EXPECT_EQ(GetProfileBinary("Init", "AutoUpdtCheck"), stamp) << "exactly 14 days";
    KV_AutoUpdtMan::set_server("");
    app.DeletePool();
}

TEST_F(AppStartTest, ShortcutCommandsAreGreyedWithoutTheirFile)
{
    CKivrelApp& app = *CKivrelApp::Instance();
    app.RegisterAppCommands();
    ASSERT_TRUE(kvtest::write_file(dir / "kivrelweb.url",
                                   "[InternetShortcut]\r\nURL=https://kivrel.example/\r\n"));
    QWidget wnd;
    const auto enabled = [&](uint32_t id) {
        CCmdUI ui(id);
        CCommandLayer::Of(&wnd)->Update(ui, true);
        return ui.enabled;
    };
    EXPECT_TRUE(enabled(32850));  // kivrelweb.url
    EXPECT_FALSE(enabled(32840)); // no kivrelbug.url: the build had no address
    EXPECT_FALSE(enabled(32841)); // no kivrelsupp.url
    EXPECT_TRUE(enabled(32851));  // the wizards, always
    EXPECT_TRUE(enabled(32852));
    EXPECT_FALSE(app.OpenShortcut("kivrelbug.url", false));
}

} // namespace

namespace {

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList urls;
public slots:
    void open(const QUrl& url) { urls << url.toString(); }
};

TEST_F(AppStartTest, F1WithoutModifiersOpensTheTopicOfTheWindow)
{
    InstallHelpKey(*CKivrelApp::Instance());
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    QWidget frame;
    CKivrelApp::SetHelpTopic(&frame, "html\\ctrlwnd.htm#requests");
    auto* edit = new QLineEdit(&frame);
    frame.show();
    edit->setFocus();
    struct Case
    {
        Qt::KeyboardModifiers mods;
        bool help;
    } const cases[] = {{Qt::NoModifier, true},
                       {Qt::ControlModifier, false},
                       {Qt::ShiftModifier, false},
                       {Qt::AltModifier, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mods));
        recorder.urls.clear();
        QTest::keyClick(edit, Qt::Key_F1, c.mods);
        if (c.help) {
            ASSERT_EQ(recorder.urls.size(), 1);
            EXPECT_TRUE(recorder.urls[0].endsWith("help/html/ctrlwnd.htm#requests"))
                << recorder.urls[0].toStdString();
        } else {
            EXPECT_TRUE(recorder.urls.isEmpty());
        }
    }
    QDesktopServices::unsetUrlHandler("file");
}

} // namespace

#include "appstart_test.moc"
