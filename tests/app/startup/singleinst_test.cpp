// One instance per user, tried with real processes of the program over
// temporary runtime, settings and data folders: later starts hand their
// command line to the running one and end after its answer.
#include "core/startrules.h"
#include "startup/singleinst.h"
#include "support/kv_testdir.h"

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kProgram = QStringLiteral(KV_TEST_BUILD_DIR "/../../app/kivrel");
const QStringList kNoDialog{"WEXPL_DROP", "/tmp", "XX", "YY"};

class SingleInstance_MT : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(QFileInfo(kProgram).isExecutable()) << kProgram.toStdString();
        runtime = QString::fromStdString(dir / "run");
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir / "config"));
        env.insert("XDG_DATA_HOME", QString::fromStdString(dir / "data"));
        env.insert("HOME", QString::fromStdString(dir.path()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
    }
    void TearDown() override
    {
        for (QProcess* p : children) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
            delete p;
        }
    }
    QProcess* Start(const QStringList& args)
    {
        auto* p = new QProcess;
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(QString::fromStdString(dir.path()));
        p->start(kProgram, args);
        children << p;
        return p;
    }
    QString InstanceDir() const { return runtime + "/kivrel"; }

    kvtest::TempDir dir;
    QString runtime;
    QProcessEnvironment env;
    QList<QProcess*> children;
};

TEST_F(SingleInstance_MT, ALaterStartHandsItsArgumentsOverAndEndsAfterTheAnswer)
{
    CSingleInstance first(InstanceDir());
    QString error;
    ASSERT_EQ(first.Acquire(error), CSingleInstance::kFirst) << error.toStdString();
    ASSERT_TRUE(first.Listen(error)) << error.toStdString();
    first.EndStartUp();

    QByteArray got;
    bool waited_for_answer = false;
    QProcess* second = nullptr;
    QObject::connect(&first, &CSingleInstance::CommandLine, [&](const QByteArray& payload) {
        got = payload;
        // The answer goes back only after this returns: the sender still
        // waits for it.
        QTest::qWait(300);
        waited_for_answer = second->state() == QProcess::Running;
    });
    const QStringList args{"CP", "ftp://h/d\u00e9j\u00e0 vu.txt", ""};
    second = Start(args);
    ASSERT_TRUE(QTest::qWaitFor([&] { return second->state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().constData();
    EXPECT_TRUE(waited_for_answer);
    QList<QByteArray> expected{kProgram.toUtf8()};
    for (const QString& a : args) {
        expected << a.toUtf8();
    }
    EXPECT_EQ(got.toHex().toStdString(), PackCommandLine(expected).toHex().toStdString());
}

TEST_F(SingleInstance_MT, AStartWhileTheFirstOnesStartUpFailsIsToldSo)
{
    CSingleInstance first(InstanceDir());
    QString error;
    ASSERT_EQ(first.Acquire(error), CSingleInstance::kFirst) << error.toStdString();
    QProcess* second = Start({});
    // It waits for the first one's start-up ...
    ASSERT_TRUE(second->waitForStarted());
    QTest::qWait(1000);
    EXPECT_EQ(second->state(), QProcess::Running);
    EXPECT_EQ(second->readAllStandardError(), "");
    // ... which fails: the first never listens.
    first.EndStartUp();
    QByteArray err;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            err += second->readAllStandardError();
            return err.contains("Previous application instance not found.");
        },
        60000))
        << err.constData();
}

TEST_F(SingleInstance_MT, TwoStartsAtOnceMakeOneInstance)
{
    // Both with a command line: a first start without one would open the
    // setups, and a later start waits for the first's start-up to end. A
    // drop of another kind than DD/CL runs nothing and opens no dialog, so
    // each start is answered at once.
    QProcess* a = Start(kNoDialog);
    QProcess* b = Start(kNoDialog);
    // One of them hands over and ends; the other keeps running.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning; },
        90000));
    QTest::qWait(1500);
    QProcess* ended = a->state() == QProcess::NotRunning ? a : b;
    QProcess* running = ended == a ? b : a;
    EXPECT_EQ(running->state(), QProcess::Running);
    EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ended->exitCode(), 0) << ended->readAllStandardError().constData();
    EXPECT_TRUE(QFileInfo::exists(InstanceDir() + "/instance.sock"));
    // A third start is answered by the running one as well.
    QProcess* c = Start(kNoDialog);
    ASSERT_TRUE(c->waitForFinished(60000));
    EXPECT_EQ(c->exitCode(), 0) << c->readAllStandardError().constData();
    EXPECT_EQ(running->state(), QProcess::Running);
}

TEST_F(SingleInstance_MT, TheSocketRefusesMoreThanOneMebibyte)
{
    CSingleInstance first(InstanceDir());
    QString error;
    ASSERT_EQ(first.Acquire(error), CSingleInstance::kFirst) << error.toStdString();
    ASSERT_TRUE(first.Listen(error)) << error.toStdString();
    QSignalSpy received(&first, &CSingleInstance::CommandLine);
    for (const uint32_t size : {kForwardMaxPayload + 1, kForwardMaxPayload}) {
        SCOPED_TRACE(size);
        received.clear();
        QLocalSocket client;
        client.connectToServer(InstanceDir() + "/instance.sock");
        ASSERT_TRUE(client.waitForConnected(5000));
        const QByteArray frame = FrameForward(QByteArray(static_cast<qsizetype>(size), 'x'));
        client.write(frame);
        QByteArray answer;
        (void)QTest::qWaitFor(
            [&] {
                answer += client.readAll();
                return client.state() == QLocalSocket::UnconnectedState || !answer.isEmpty();
            },
            20000);
        if (size > kForwardMaxPayload) {
            EXPECT_EQ(answer, "");
            EXPECT_EQ(received.count(), 0);
        } else {
            EXPECT_EQ(answer, "\x01");
            ASSERT_EQ(received.count(), 1);
            EXPECT_EQ(received.at(0).at(0).toByteArray().size(), size);
        }
    }
}

} // namespace
