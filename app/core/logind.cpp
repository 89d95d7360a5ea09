#include "core/logind.h"

#include <QDBusMessage>

bool LogindPowerAction(const QDBusConnection& bus, bool suspend, QString& error)
{
    if (!bus.isConnected()) {
        error =
            QStringLiteral("The system bus is not reachable: %1").arg(bus.lastError().message());
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"),
        suspend ? QStringLiteral("Suspend") : QStringLiteral("PowerOff"));
    call << false; // interactive
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        error = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
        if (error.isEmpty()) {
            error = QStringLiteral("The login manager did not answer.");
        }
        return false;
    }
    return true;
}
