// Switching off and suspending through a stand-in login manager on a
// private message bus: the right method with interactive false, and a
// refusal comes back as the manager's own reason.
#include "core/logind.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
#include <mutex>

namespace {

class FakeLogin : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QString refusal; // set before the call: the error the manager answers
    std::mutex lock;
    QStringList calls;

public slots:
    void PowerOff(bool interactive) { Record("PowerOff", interactive); }
    void Suspend(bool interactive) { Record("Suspend", interactive); }

private:
    void Record(const char* name, bool interactive)
    {
        {
            std::lock_guard<std::mutex> g(lock);
            calls << QString("%1 %2").arg(name).arg(interactive);
        }
        if (!refusal.isEmpty()) {
            sendErrorReply("org.freedesktop.DBus.Error.AccessDenied", refusal);
        }
    }
};

class LogindPower_MT : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty()) {
            GTEST_SKIP() << "dbus-daemon is not installed";
        }
        bus.start(daemon, {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        ASSERT_TRUE(bus.waitForStarted());
        ASSERT_TRUE(bus.waitForReadyRead(10000));
        address = QString::fromUtf8(bus.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
        // The manager answers on its own thread, as the real one runs in its
        // own process: the caller blocks until the answer.
        thread.start();
        fake = new FakeLogin;
        fake->moveToThread(&thread);
        bool ok = false;
        QMetaObject::invokeMethod(
            fake,
            [this, &ok] {
                QDBusConnection c = QDBusConnection::connectToBus(address, "fake-login1");
                ok = c.registerService("org.freedesktop.login1") &&
                     c.registerObject("/org/freedesktop/login1", fake,
                                      QDBusConnection::ExportAllSlots);
            },
            Qt::BlockingQueuedConnection);
        ASSERT_TRUE(ok);
    }
    void TearDown() override
    {
        if (fake != nullptr) {
            QMetaObject::invokeMethod(
                fake,
                [this] {
                    QDBusConnection::disconnectFromBus("fake-login1");
                    delete fake;
                },
                Qt::BlockingQueuedConnection);
        }
        thread.quit();
        thread.wait();
        QDBusConnection::disconnectFromBus("caller");
        bus.kill();
        bus.waitForFinished();
    }

    QProcess bus;
    QString address;
    QThread thread;
    FakeLogin* fake = nullptr;
};

TEST_F(LogindPower_MT, CallsTheManagerAndReportsItsRefusal)
{
    QDBusConnection caller = QDBusConnection::connectToBus(address, "caller");
    ASSERT_TRUE(caller.isConnected());
    QString error;
    EXPECT_TRUE(LogindPowerAction(caller, false, error)) << error.toStdString();
    EXPECT_TRUE(LogindPowerAction(caller, true, error)) << error.toStdString();
    {
        std::lock_guard<std::mutex> g(fake->lock);
        EXPECT_EQ(fake->calls, (QStringList{"PowerOff 0", "Suspend 0"}));
    }
    fake->refusal = "Interactive authentication required.";
    EXPECT_FALSE(LogindPowerAction(caller, true, error));
    EXPECT_EQ(error, "Interactive authentication required.");

    // No manager on the bus: a reason, never success.
    QMetaObject::invokeMethod(
        fake, [] { QDBusConnection("fake-login1").unregisterService("org.freedesktop.login1"); },
        Qt::BlockingQueuedConnection);
    error.clear();
    EXPECT_FALSE(LogindPowerAction(caller, false, error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace

#include "logind_test.moc"
