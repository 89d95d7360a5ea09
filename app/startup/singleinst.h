#ifndef KIVREL_STARTUP_SINGLEINST_H
#define KIVREL_STARTUP_SINGLEINST_H

// One running instance per user. In the user's runtime folder
// ($XDG_RUNTIME_DIR/kivrel, mode 0700):
//   instance.lock  held (flock) by the running instance for its whole life;
//   startup.lock   held by a start from its first step until its start-up
//                  ended, so a second start never meets a half-started first;
//   instance.sock  the running instance's local socket, listening once its
//                  start-up succeeded.
// A second start waits for the start-up lock, connects, sends its command
// line (see core/startrules.h) and waits for the one-byte answer that comes
// after the first instance ran the command. The locks are the kernel's:
// they go with the process, also when it crashes.
//
// User-interface thread only.

#include <QByteArray>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

class CSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum Role { kFirst, kSecond, kFailed };

    // `dir` empty: $XDG_RUNTIME_DIR/kivrel (else /tmp/kivrel-<uid>).
    explicit CSingleInstance(const QString& dir = QString(), QObject* parent = nullptr);
    // Stops listening, releases both locks.
    ~CSingleInstance() override;
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    static QString DefaultDir();
    QString Dir() const { return dir; }

    // Makes the folder, waits for the start-up lock and tries the instance
    // lock. kFirst: this process runs and holds both locks; kSecond: another
    // one runs (the start-up lock is given back at once); kFailed: the folder
    // or a lock file cannot be had, with the reason in `error`.
    Role Acquire(QString& error);
    // The end of this start's start-up (whether it succeeded): gives the
    // start-up lock back.
    void EndStartUp();
    // Listens for the command lines of later starts. False with the reason.
    bool Listen(QString& error);

    // A second start: hands `payload` to the running instance and waits for
    // its answer. False with "Previous application instance not found."
    // when none listens, or with the reason when the exchange breaks.
    bool Forward(const QByteArray& payload, QString& error);

signals:
    // A later start's command line arrived (its payload, see
    // core/startrules.h). The answer goes back once the connected slots
    // returned.
    void CommandLine(const QByteArray& payload);

private:
    void OnConnection();

    QString dir;
    int instance_fd = -1;
    int startup_fd = -1;
    QLocalServer* server = nullptr;
};

#endif
