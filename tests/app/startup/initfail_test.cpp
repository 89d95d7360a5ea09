// Start-up failures: each shows its message, and afterwards the locks are
// free for the next start and the engine root is gone. Start-up starts the
// engine library once per process, so each case runs in a process of its
// own: the test runs itself again.
#include "core/settings.h"
#include "shell/kivrelapp.h"
#include "startup/singleinst.h"
#include "startup/starthooks.h"
#include "support/kv_testdir.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

const char kChildVar[] = "KV_INIT_FAIL_CHILD";

void FailInThisProcess()
{
    QStringList errors;
    StartHooks().error = [&](const QString& text) { errors << text; };
    StartHooks().last_picture_ms = 0;
    CKivrelApp& app = *CKivrelApp::Instance();
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.GetMainFrm(), nullptr);
    app.ExitInstance();
    EXPECT_EQ(app.GetPool(), nullptr);
    // Printed for the parent, which knows which message the case wants.
    for (const QString& e : errors) {
        std::printf("start error: %s\n", e.toUtf8().constData());
    }
    // The next start is a first instance again.
    CSingleInstance next;
    QString why;
    EXPECT_EQ(next.Acquire(why), CSingleInstance::kFirst) << why.toStdString();
}

TEST(InitFail_MT, EachFailureShowsItsMessageAndFreesTheLocks)
{
    if (qEnvironmentVariableIsSet(kChildVar)) {
        FailInThisProcess();
        return;
    }
    const std::string built_data = KV_TEST_BUILD_DIR "/../../app/data";
    struct Case
    {
        const char* what;
        bool installed;
        bool ds_unreadable;
        const char* message;
    } const cases[] = {
        {"not installed", false, false, "Kivrel is not installed properly."},
        {"data sources cannot be loaded", true, true, "Kivrel initialization failed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kvtest::TempDir dir;
        ASSERT_TRUE(dir.ok());
        std::filesystem::create_directories(dir / "run");
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        std::filesystem::create_directories(dir / "etc/kivrel");
        if (c.installed) {
            ASSERT_TRUE(kvtest::write_file(dir / "etc/kivrel/kivrel.conf",
                                           "[Init]\nMainExe=\"" KV_TEST_BUILD_DIR
                                           "/../../app/kivrel\"\nData=\"" +
                                               built_data + "\"\n"));
        }
        if (c.ds_unreadable) {
            // A data-source file that is a folder cannot be read.
            std::filesystem::create_directories(dir / "data/kivrel/kivrel.ds");
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildVar, "1");
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir / "run"));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
        env.insert("XDG_CONFIG_DIRS", QString::fromStdString(dir / "etc"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
        env.insert("HOME", QString::fromStdString(dir.path()));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("/proc/self/exe"),
                    {QStringLiteral("--gtest_filter=InitFail_MT.*")});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << output.constData();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
        EXPECT_TRUE(output.contains(QByteArray("start error: ") + c.message)) << output.constData();
    }
}

} // namespace
