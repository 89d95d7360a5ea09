// A copy cut off by a crash goes on after the restart: the program, started
// as main() starts it over temporary XDG folders on a real X server (Xvfb),
// queues a copy of 200 MiB between two local folders and is killed (SIGKILL)
// half-way; started again, it asks whether to resume, the answer is yes, and
// the file arrives whole (SHA-256). The splash and the question of the
// restart are saved as PNG files under the build folder (screenshots/).
//
// The test runs itself again for each start; a start runs the program's own
// start-up, event loop and exit. The copy is held half-way without a race:
// the first start may write files of at most half the size, and the thread
// that reaches the limit stops in the signal the kernel sends it, until the
// kill.
#include "core/settings.h"
#include "datasources/kv_dstreenode.h"
#include "requests/kv_fileman.h"
#include "requests/kv_filereqinfoman.h"
#include "res/resources.h"
#include "root/kv_filemanpool.h"
#include "shell/kivrelapp.h"
#include "startup/dlginit.h"
#include "startup/dlgreqask.h"
#include "startup/starthooks.h"
#include "support/kv_apprun.h"
#include "support/kv_dlgdriver.h"
#include "support/kv_filedigest.h"
#include "support/kv_testdir.h"
#include "support/kv_xvfb.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const char kChildVar[] = "KV_RESUME_CHILD";
const char kDirVar[] = "KV_RESUME_DIR";
const QString kShots = QStringLiteral(KV_TEST_BUILD_DIR "/../../screenshots");
constexpr int64_t kFileSize = int64_t{200} << 20;
constexpr int64_t kHeldAt = kFileSize / 2;
// The temporary name the local disk writes a copy under.
const char kPart[] = "dst/.big.bin.kivrel-part";

// The writer that reaches the file-size limit waits here for the kill.
void HoldWriter(int)
{
    for (;;) {
        pause();
    }
}

std::string Work()
{
    return qEnvironmentVariable(kDirVar).toStdString();
}

void FirstStart()
{
    // Files may grow to half the copy's size: the copy stops there.
    struct sigaction sa = {};
    sa.sa_handler = &HoldWriter;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGXFSZ, &sa, nullptr), 0);
    const rlimit limit{static_cast<rlim_t>(kHeldAt), static_cast<rlim_t>(kHeldAt)};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);

    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    KV_FileManPool& pool = *app.GetPool();
    const KV_DsTreeNode* local = pool.tree().find(KV_DS_NODE_STD, false);
    ASSERT_NE(local, nullptr);
    KV_FileMan* man = pool.reg(KV_FileManId(local->id(), 0));
    ASSERT_NE(man, nullptr);
    man->lock(false);
    const std::string work = Work();
    ASSERT_TRUE(pool.copy(man->id(), man->id(), KV_String((work + "/src/big.bin").c_str()),
                          KV_String((work + "/dst/").c_str()), KV_FileReqTransParamsCp(),
                          KV_FILEOP_COPY));
    app.exec();
    ADD_FAILURE() << "the first start was to be killed";
}

void SecondStart()
{
    StartHooks().error = [](const QString& text) { ADD_FAILURE() << text.toStdString(); };
    const std::string work = Work();
    // The splash's last picture, as the screen shows it.
    QImage splash;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dlg = qobject_cast<CDlgInit*>(w);
            if (splash.isNull() && dlg != nullptr && dlg->isVisible() && dlg->Picture() == 12) {
                QTest::qWait(200);
                splash = kvtest::GrabOnScreen(*dlg);
            }
        }
    });
    poll.start();
    // The question lists the copy, checked; a person clicks OK.
    QStringList listed;
    bool checked = false;
    kvtest::DialogDriver<DlgReqAsk> answer([&](DlgReqAsk& dlg) {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        QTest::qWait(200);
        EXPECT_TRUE(kvtest::GrabOnScreen(dlg).save(kShots + "/resume-question.png", "PNG"));
        for (int i = 0; i < dlg.List()->topLevelItemCount(); ++i) {
            listed << dlg.List()->topLevelItem(i)->text(0);
            checked = dlg.List()->topLevelItem(i)->checkState(0) == Qt::Checked;
        }
        QPushButton* ok = nullptr;
        for (QPushButton* b : dlg.findChildren<QPushButton*>()) {
            ok = b->text() == "&OK" ? b : ok;
        }
        if (ok == nullptr) {
            ADD_FAILURE() << "no OK button";
            dlg.reject();
            return;
        }
        QTest::mouseClick(ok, Qt::LeftButton);
    });

    CKivrelApp& app = *CKivrelApp::Instance();
    // As KivrelMain: the control window is a tool window, and closing the
    // last other window must not end the program.
    app.setQuitOnLastWindowClosed(false);
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(answer.handled, 1);
    ASSERT_EQ(listed.size(), 1) << listed.join(" | ").toStdString();
    EXPECT_TRUE(listed[0].contains("big.bin")) << listed[0].toStdString();
    EXPECT_TRUE(checked);
    ASSERT_FALSE(splash.isNull());
    EXPECT_TRUE(splash.save(kShots + "/splash-resume.png", "PNG"));
    // The last picture fills the splash: sampled on a grid.
    const QImage want = kvres::LoadBitmap(12);
    ASSERT_EQ(splash.size(), want.size());
    int same = 0;
    int total = 0;
    for (int y = 5; y < want.height(); y += 10) {
        for (int x = 5; x < want.width(); x += 10) {
            const QRgb a = splash.pixel(x, y);
            const QRgb b = want.pixel(x, y);
            ++total;
            same += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                        std::abs(qBlue(a) - qBlue(b)) <
                    24;
        }
    }
    EXPECT_GT(same, total * 95 / 100);

    // Quits as a person would once the copy completed (or failed).
    kvtest::RunUntilRequestEnds(app);
}

// Runs one start under the X server; its output, and whether it was killed.
struct Start
{
    explicit Start(const QProcessEnvironment& env, const char* which)
    {
        QProcessEnvironment e = env;
        e.insert(kChildVar, which);
        child.setProcessEnvironment(e);
        child.setProcessChannelMode(QProcess::MergedChannels);
        // No arguments, as from the menu: the filter goes by the environment.
        child.start(QStringLiteral("/proc/self/exe"), QStringList());
    }
    ~Start()
    {
        if (child.state() != QProcess::NotRunning) {
            child.kill();
            child.waitForFinished(10000);
        }
    }
    QProcess child;
};

TEST(KillAndResume_MT, ACopyCutOffByAKillCompletesAfterTheRestart)
{
    const QByteArray which = qgetenv(kChildVar);
    if (which == "first") {
        FirstStart();
        return;
    }
    if (which == "second") {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        SecondStart();
        return;
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    ASSERT_TRUE(QDir().mkpath(kShots));
    QFile::remove(kShots + "/splash-resume.png");
    kvtest::TempDir dir;
    ASSERT_TRUE(dir.ok());
    namespace fs = std::filesystem;
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    fs::create_directories(dir / "etc/kivrel");
    fs::create_directories(dir / "dst");
    // Installed as the build installs it; a user who has started it before
    // (no setups) and has switched the tips and hints off.
    ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf",
                                   "[Init]\nMainExe=\"" KV_TEST_BUILD_DIR
                                   "/../../app/kivrel\"\nData=\"" KV_TEST_BUILD_DIR
                                   "/../../app/data\"\n"));
    fs::create_directories(dir / "config/kivrel");
    ASSERT_TRUE(kvtest::write_file(dir / "config/kivrel/kivrel.conf",
                                   "[Init]\nData=\"" + (dir / "data/kivrel") +
                                       "\"\n[UI]\nStartTips=0\nInfoReqAdd=0\n"));
    kvtest::write_random(dir / "src/big.bin", static_cast<uint64_t>(kFileSize), 34);

    kvtest::XServer server;
    const QString display = server.Start(QStringLiteral("800x600x24"));
    ASSERT_FALSE(display.isEmpty()) << "Xvfb did not start";
    QProcessEnvironment env = kvtest::XcbChildEnv(display, QString::fromStdString(dir.path()));
    env.insert("GTEST_FILTER", "KillAndResume_MT.*");
    env.insert(kDirVar, QString::fromStdString(dir.path()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
    env.insert("XDG_CONFIG_DIRS", QString::fromStdString(dir / "etc"));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
    env.insert("HOME", QString::fromStdString(dir.path()));

    {
        Start first(env, "first");
        // Held half-way: the part file stands at the limit.
        const QString part = QString::fromStdString(dir / kPart);
        const bool held = QTest::qWaitFor(
            [&] {
                return QFileInfo(part).size() == kHeldAt ||
                       first.child.state() == QProcess::NotRunning;
            },
            60000);
        ASSERT_TRUE(held && first.child.state() == QProcess::Running)
            << first.child.readAll().constData();
        first.child.kill();
        ASSERT_TRUE(first.child.waitForFinished(10000));
        EXPECT_EQ(first.child.exitStatus(), QProcess::CrashExit);
        EXPECT_FALSE(fs::exists(dir / "dst/big.bin"));
    }
    {
        Start second(env, "second");
        const bool finished = second.child.waitForFinished(120000);
        const QByteArray output = second.child.readAll();
        ASSERT_TRUE(finished) << output.constData();
        EXPECT_EQ(second.child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
    }
    EXPECT_EQ(kvtest::sha256(dir / "dst/big.bin"), kvtest::sha256(dir / "src/big.bin"));
    EXPECT_FALSE(fs::exists(dir / kPart));
    EXPECT_FALSE(QImage(kShots + "/splash-resume.png").isNull());
}

} // namespace
