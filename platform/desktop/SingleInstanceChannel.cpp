#include "desktop/SingleInstanceChannel.hpp"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>

namespace velmora {

namespace {

// A request is one QStringList: the command, then its paths.
const QString openCommand = QStringLiteral("open");
constexpr char acknowledgement = 'k';

QString qPath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

} // namespace

SingleInstanceChannel::SingleInstanceChannel(std::filesystem::path socketPath)
    : socketPath_(std::move(socketPath)) {}

SingleInstanceChannel::~SingleInstanceChannel() {
    if (server_) {
        server_->close();
    }
}

std::filesystem::path SingleInstanceChannel::standardSocketPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!folder.startsWith(QLatin1Char('/'))) {
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    }
    return std::filesystem::path(folder.toStdString()) / "velmora.socket";
}

SingleInstanceChannel::Role SingleInstanceChannel::start(const std::vector<std::string>& paths,
                                                         Handler handler,
                                                         std::chrono::milliseconds timeout) {
    // Two launches at once must not both find nobody and both listen.
    QLockFile lock(qPath(socketPath_) + QStringLiteral(".lock"));
    const bool locked = lock.tryLock(int(timeout.count()) * 2);
    if (handOver(paths, timeout)) {
        return Role::handedOver;
    }
    handler_ = std::move(handler);
    const bool listening = listen();
    if (locked) {
        lock.unlock();
    }
    return listening ? Role::listening : Role::alone;
}

bool SingleInstanceChannel::handOver(const std::vector<std::string>& paths,
                                     std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.connectToServer(qPath(socketPath_));
    if (!socket.waitForConnected(int(deadline.remainingTime()))) {
        return false;
    }
    QStringList request{openCommand};
    for (const std::string& path : paths) {
        request.append(QString::fromStdString(path));
    }
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << request;
    socket.write(bytes);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) {
            return false;
        }
    }
    while (socket.bytesAvailable() == 0) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            return false;
        }
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == acknowledgement;
}

bool SingleInstanceChannel::listen() {
    // Whatever is there answered nobody: a socket a dead program left.
    QLocalServer::removeServer(qPath(socketPath_));
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(qPath(socketPath_))) {
        server_.reset();
        return false;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [this] { acceptConnections(); });
    return true;
}

void SingleInstanceChannel::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            QDataStream in(socket);
            in.startTransaction();
            QStringList request;
            in >> request;
            if (!in.commitTransaction()) {
                return;
            }
            socket->putChar(acknowledgement);
            socket->flush();
            if (request.isEmpty() || request.front() != openCommand) {
                return;
            }
            std::vector<std::string> paths;
            for (qsizetype i = 1; i < request.size(); ++i) {
                paths.push_back(request[i].toStdString());
            }
            // Out of the socket's own signal: opening may run a modal alert.
            QTimer::singleShot(0, server_.get(), [handler = handler_, paths = std::move(paths)] {
                if (handler) {
                    handler(paths);
                }
            });
        });
    }
}

} // namespace velmora
