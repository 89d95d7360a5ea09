#ifndef KIVREL_CORE_LOGIND_H
#define KIVREL_CORE_LOGIND_H

// Switching the computer off or suspending it. On this desktop the login
// manager (systemd-logind, reached over the system bus) decides; the program
// holds no privilege of its own.

#include <QDBusConnection>
#include <QString>

// Asks the login manager on `bus` to power the computer off (`suspend`
// false) or to suspend it. Not interactive: a policy that would ask the user
// for a password refuses instead, as the program's countdown already asked.
// Waits for the answer (the manager answers at once, before it acts). False
// with the manager's or the bus's reason in `error` when the call is refused
// or cannot be made. Any thread that has a Qt event dispatcher.
bool LogindPowerAction(const QDBusConnection& bus, bool suspend, QString& error);

#endif
