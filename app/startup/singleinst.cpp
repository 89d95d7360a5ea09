#include "startup/singleinst.h"

#include "core/startrules.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNotFound[] = "Previous application instance not found.";

QString Errno(const char* what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

int OpenLock(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

} // namespace

CSingleInstance::CSingleInstance(const QString& d, QObject* parent)
    : QObject(parent), dir(d.isEmpty() ? DefaultDir() : d)
{
}

CSingleInstance::~CSingleInstance()
{
    if (server != nullptr) {
        server->close();
        delete server;
    }
    EndStartUp();
    if (instance_fd >= 0) {
        ::close(instance_fd);
    }
}

QString CSingleInstance::DefaultDir()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        return QFile::decodeName(runtime) + QStringLiteral("/kivrel");
    }
    return QStringLiteral("/tmp/kivrel-%1").arg(getuid());
}

CSingleInstance::Role CSingleInstance::Acquire(QString& error)
{
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        error = Errno("Cannot make", dir);
        return kFailed;
    }
    // Somebody else's folder (in /tmp) would let that user answer for us.
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        error = QStringLiteral("%1 is not a folder of this user.").arg(dir);
        return kFailed;
    }
    ::chmod(path.constData(), 0700);
    startup_fd = OpenLock(dir + QStringLiteral("/startup.lock"));
    instance_fd = OpenLock(dir + QStringLiteral("/instance.lock"));
    if (startup_fd < 0 || instance_fd < 0) {
        error = Errno("Cannot open the locks in", dir);
        return kFailed;
    }
    int rc;
    do {
        rc = ::flock(startup_fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = Errno("Cannot lock", dir);
        return kFailed;
    }
    if (::flock(instance_fd, LOCK_EX | LOCK_NB) == 0) {
        return kFirst;
    }
    ::close(instance_fd);
    instance_fd = -1;
    EndStartUp();
    return kSecond;
}

void CSingleInstance::EndStartUp()
{
    if (startup_fd >= 0) {
        ::close(startup_fd); // releases the lock
        startup_fd = -1;
    }
}

bool CSingleInstance::Listen(QString& error)
{
    const QString name = dir + QStringLiteral("/instance.sock");
    // Only the holder of the instance lock gets here: a socket file left
    // by a crashed instance is ours to remove.
    QLocalServer::removeServer(name);
    server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        error = server->errorString();
        delete server;
        server = nullptr;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
    return true;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        auto reader = std::make_shared<CForwardReader>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] {
            const QByteArray chunk = socket->readAll();
            if (reader->GetState() != CForwardReader::kNeedMore) {
                return;
            }
            switch (reader->Feed(chunk.constData(), static_cast<size_t>(chunk.size()))) {
            case CForwardReader::kNeedMore:
                return;
            case CForwardReader::kRefused:
                socket->abort();
                return;
            case CForwardReader::kDone:
                // Not from inside the socket's own signal: the command's
                // dialogs nest the event loop, and a sender that ends
                // meanwhile has its socket deleted there.
                QMetaObject::invokeMethod(
                    this,
                    [this, guard = QPointer<QLocalSocket>(socket), payload = reader->Payload()] {
                        emit CommandLine(payload);
                        if (guard != nullptr) {
                            guard->write("\x01", 1);
                            guard->flush();
                            guard->disconnectFromServer();
                        }
                    },
                    Qt::QueuedConnection);
                return;
            }
        });
    }
}

bool CSingleInstance::Forward(const QByteArray& payload, QString& error)
{
    QLocalSocket socket;
    socket.connectToServer(dir + QStringLiteral("/instance.sock"));
    if (!socket.waitForConnected(5000)) {
        error = QString::fromLatin1(kNotFound);
        return false;
    }
    const QByteArray frame = FrameForward(payload);
    if (socket.write(frame) != frame.size()) {
        error = socket.errorString();
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(-1)) {
            error = socket.errorString();
            return false;
        }
    }
    // The answer comes after the command ran, which may take as long as a
    // dialog of the running instance is open.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(-1)) {
            error = QString::fromLatin1(kNotFound);
            return false;
        }
    }
    return true;
}
