// The very first start of a user: without a command line it leads through
// the two setups and opens the start tips; with one it runs the command and
// nothing else. Start-up starts the engine library once per process, so each
// case runs in a process of its own over fresh folders: the test runs itself
// again, with the case's command line.
#include "shell/kivrelapp.h"
#include "startup/dlginit.h"
#include "startup/starthooks.h"
#include "startup/starttips.h"
#include "support/kv_testdir.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_FIRST_START_CHILD";

// Closes every dialog but the splash as soon as it shows, as a person who
// declines it would, and prints what was shown for the parent.
void StartInThisProcess()
{
    StartHooks().error = [](const QString& text) {
        std::printf("start error: %s\n", text.toUtf8().constData());
    };
    StartHooks().last_picture_ms = 0;
    QStringList shown;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dlg = qobject_cast<QDialog*>(w);
            if (dlg != nullptr && dlg->isVisible() && qobject_cast<CDlgInit*>(dlg) == nullptr) {
                shown << dlg->metaObject()->className();
                dlg->reject();
                return;
            }
        }
    });
    answer.start();
    CKivrelApp& app = *CKivrelApp::Instance();
    const bool started = app.InitInstance();
    answer.stop();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<CStartTipsFrm*>(w) != nullptr && w->isVisible()) {
            shown << "tips";
            delete w;
        }
    }
    app.ExitInstance();
    std::printf("started: %d\nshown: %s.\n", started ? 1 : 0, shown.join(',').toUtf8().constData());
}

TEST(FirstStart_MT, ACommandLineShowsNoSetupAndNoTips)
{
    if (qEnvironmentVariableIsSet(kChildVar)) {
        StartInThisProcess();
        return;
    }
    struct Case
    {
        const char* what;
        QStringList args;
        const char* shown;
    } const cases[] = {
        {"without a command line", {}, "CWizNet,CWizConn,tips"},
        // A drop of another kind than DD/CL runs nothing and shows nothing.
        {"with a command line", {"WEXPL_DROP", "/tmp", "XX", "YY"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kvtest::TempDir dir;
        ASSERT_TRUE(dir.ok());
        std::filesystem::create_directories(dir / "run");
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        std::filesystem::create_directories(dir / "etc/kivrel");
        std::filesystem::create_directories(dir / "prog/help/html");
        // Installed in a folder of the test's own, which holds a tip page.
        ASSERT_TRUE(kvtest::write_file(dir / "prog/help/html/tip1.htm", "<p>tip 1</p>"));
        ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf",
                                       "[Init]\nMainExe=\"" + (dir / "prog/kivrel") +
                                           "\"\nData=\"" KV_TEST_BUILD_DIR "/../../app/data\"\n"));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildVar, "1");
        // Not as an argument: the child's arguments are the command line.
        env.insert("GTEST_FILTER", "FirstStart_MT.*");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
        env.insert("XDG_CONFIG_DIRS", QString::fromStdString(dir / "etc"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
        env.insert("HOME", QString::fromStdString(dir.path()));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("/proc/self/exe"), c.args);
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
        EXPECT_TRUE(output.contains("started: 1\n")) << output.constData();
        EXPECT_TRUE(output.contains(QByteArray("shown: ") + c.shown + ".\n")) << output.constData();
        EXPECT_FALSE(output.contains("start error")) << output.constData();
    }
}

} // namespace
