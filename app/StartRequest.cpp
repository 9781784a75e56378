#include "app/StartRequest.h"

#include <QLocalSocket>
#include <QStringDecoder>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace startrequest {

namespace {
const QByteArray header = QByteArrayLiteral("QuorlinVCP start 1\n");
}  // namespace

QByteArray encode(const QString& file)
{
    return header + file.toUtf8() + '\0';
}

std::optional<QString> decode(const QByteArray& message)
{
    // The header, the file's UTF-8 bytes (no NUL among them), one NUL to end it.
    if (message.size() > maxSize || !message.startsWith(header) || !message.endsWith('\0'))
        return std::nullopt;
    const QByteArray bytes = message.mid(header.size(), message.size() - header.size() - 1);
    if (bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString file = utf8.decode(bytes);
    if (utf8.hasError() || (!file.isEmpty() && !file.startsWith(QLatin1Char('/'))))
        return std::nullopt;
    return file;
}

}  // namespace startrequest

namespace {

// The peer runs as this user (the socket's folder admits no other; this holds
// even where that folder was not private enough to stop someone).
bool peerIsThisUser(const QLocalSocket& socket)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
           peer.uid == ::geteuid();
}

}  // namespace

StartRequestReceiver::StartRequestReceiver(int listener, QObject* parent) : QObject(parent)
{
    if (listener < 0)
        return;
    connect(&server_, &QLocalServer::newConnection, this, &StartRequestReceiver::accept);
    if (!server_.listen(listener))
        ::close(listener);
}

void StartRequestReceiver::accept()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        if (pending_.size() >= maxConnections || !peerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        pending_.insert(socket, {});
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            read(socket);  // what came with the end
            if (pending_.remove(socket))
                socket->deleteLater();
        });
        QTimer::singleShot(requestTimeoutMs, socket, [this, socket] {
            if (pending_.remove(socket)) {
                socket->abort();
                socket->deleteLater();
            }
        });
        read(socket);
    }
}

void StartRequestReceiver::read(QLocalSocket* socket)
{
    auto found = pending_.find(socket);
    if (found == pending_.end())
        return;
    QByteArray& buffer = *found;
    buffer += socket->read(startrequest::maxSize + 1 - buffer.size());
    const bool complete = buffer.contains('\0');
    if (!complete && buffer.size() <= startrequest::maxSize)
        return;
    // One request per connection: the first NUL ends it, and nothing may follow.
    const QByteArray message = buffer;
    pending_.erase(found);
    const bool trailing = socket->bytesAvailable() > 0;
    socket->abort();
    socket->deleteLater();
    if (trailing)
        return;
    if (const std::optional<QString> file = startrequest::decode(message))
        emit received(*file);
}
