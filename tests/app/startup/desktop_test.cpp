// The desktop entry the build writes: valid for the desktop's menus, starts
// the built program, names the icon that is written beside it; and what a
// new user who runs the program through scripts/run.sh gets in the menus.
#include "support/kv_testdir.h"
#include "support/kv_xvfb.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kApp = QStringLiteral(KV_TEST_BUILD_DIR "/../../app");

TEST(DesktopEntry, ValidAndStartsTheBuiltProgram)
{
    for (const QString& entry : {kApp + "/kivrel.desktop"}) {
        SCOPED_TRACE(entry.toStdString());
        ASSERT_TRUE(QFileInfo::exists(entry));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty()) {
            GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
        }
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {entry});
        ASSERT_TRUE(check.waitForFinished(30000));
        const QByteArray said = check.readAll();
        EXPECT_EQ(check.exitCode(), 0) << said.constData();
        EXPECT_EQ(said, "") << "hints and warnings count too";
    }
    // Key=value lines; a QSettings would take ";" for a comment.
    QFile file(kApp + "/kivrel.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QMap<QString, QString> keys;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            keys[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
        }
    }
    QString exec = keys.value("Exec");
    exec.remove('"');
    EXPECT_EQ(QFileInfo(exec).canonicalFilePath(), QFileInfo(kApp + "/kivrel").canonicalFilePath());
    EXPECT_EQ(keys.value("Icon"), "kivrel");
    EXPECT_EQ(keys.value("Categories"), "Network;FileTransfer;");
    EXPECT_FALSE(QImage(kApp + "/icons/hicolor/32x32/apps/kivrel.png").isNull());
}

// The value of `key` in the desktop entry at `path`.
QString EntryValue(const QString& path, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key.toUtf8() + '=')) {
            return QString::fromUtf8(line.mid(key.size() + 1));
        }
    }
    return {};
}

// The install step of scripts/run.sh, for a user with nothing in their home
// yet: the menu entry and the icon land in the data folder, where the
// desktop's menu finds a valid entry, and the entry starts the program on a
// real display.
TEST(NewUser_MT, RunScriptPutsAValidMenuEntryAndIconIntoTheDataFolder)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty()) {
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    }
    if (kvtest::XServer::Program().isEmpty()) {
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
    }
    const QString build = QStringLiteral(KV_TEST_BUILD_DIR "/../..");
    for (const bool own_data_home : {false, true}) {
        SCOPED_TRACE(own_data_home ? "XDG_DATA_HOME set" : "XDG_DATA_HOME unset");
        kvtest::TempDir dir;
        ASSERT_TRUE(dir.ok());
        const QString home = QString::fromStdString(dir / "home");
        ASSERT_TRUE(QDir().mkpath(home));
        const QString data_home =
            own_data_home ? QString::fromStdString(dir / "data") : home + "/.local/share";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
            env.remove(var);
        }
        env.insert("HOME", home);
        if (own_data_home) {
            env.insert("XDG_DATA_HOME", data_home);
        }
        QProcess script;
        script.setProcessEnvironment(env);
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start("bash", {KV_TEST_SOURCE_DIR "/scripts/install-desktop.sh", build});
        ASSERT_TRUE(script.waitForFinished(60000));
        ASSERT_EQ(script.exitCode(), 0) << script.readAll().constData();

        const QString entry = data_home + "/applications/kivrel.desktop";
        ASSERT_TRUE(QFileInfo::exists(entry));
        QProcess check;
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(validator, {entry});
        ASSERT_TRUE(check.waitForFinished(30000));
        const QByteArray said = check.readAll();
        EXPECT_EQ(check.exitCode(), 0) << said.constData();
        EXPECT_EQ(said, "");
        const QImage icon(data_home + "/icons/hicolor/32x32/apps/kivrel.png");
        EXPECT_EQ(icon.size(), QSize(32, 32));
        EXPECT_EQ(EntryValue(entry, "Icon"), "kivrel");
        if (!own_data_home) {
            continue;
        }

        // Started from the menu on a real display, as the new user: the
        // first start gets as far as listening for later starts.
        kvtest::XServer x;
        const QString display = x.Start("1024x768x24");
        ASSERT_FALSE(display.isEmpty());
        const QString run = QString::fromStdString(dir / "run");
        ASSERT_TRUE(QDir().mkpath(run));
        QFile::setPermissions(run, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
        QProcessEnvironment xenv = kvtest::XcbChildEnv(display, QString::fromStdString(dir.path()));
        for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            xenv.remove(var);
        }
        xenv.insert("HOME", home);
        xenv.insert("XDG_DATA_HOME", data_home);
        xenv.insert("XDG_RUNTIME_DIR", run);
        QString exec = EntryValue(entry, "Exec");
        exec.remove('"');
        QProcess program;
        program.setProcessEnvironment(xenv);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(exec, {});
        ASSERT_TRUE(program.waitForStarted(10000));
        const bool listening = QTest::qWaitFor(
            [&] {
                return QFileInfo::exists(run + "/kivrel/instance.sock") ||
                       program.state() == QProcess::NotRunning;
            },
            60000);
        const bool running = program.state() == QProcess::Running;
        program.kill();
        program.waitForFinished(10000);
        EXPECT_TRUE(listening && running) << program.readAll().constData();
        // Its settings and data went to the new user's folders.
        EXPECT_TRUE(QFileInfo::exists(home + "/.config/kivrel/kivrel.conf"));
        EXPECT_TRUE(QFileInfo::exists(data_home + "/kivrel/kivrel.ds"));
    }
}

} // namespace
