// What a later start of the program asks of the instance that runs: to come to the
// front, and to open the configuration file its command line names. The request
// travels over the single instance's socket (SingleInstance), from the same user
// only, and is read with care: a request is small, and anything else is dropped.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <optional>

class QLocalSocket;

namespace startrequest {

// The largest request taken: its header and a path of Linux's maximum length.
inline constexpr qsizetype maxSize = 4200;

// file: an absolute path, or "" when the start named none (come to the front only).
QByteArray encode(const QString& file);
// The file of a whole request ("" for none); nothing when the bytes are not one.
std::optional<QString> decode(const QByteArray& message);

}  // namespace startrequest

class StartRequestReceiver : public QObject {
    Q_OBJECT
public:
    // Takes over the listening socket (SingleInstance::takeListener); with -1 it
    // receives nothing.
    explicit StartRequestReceiver(int listener, QObject* parent = nullptr);

    // A sender that has not finished its request by then is cut off.
    static constexpr int requestTimeoutMs = 5000;
    // Connections read at once; more are closed unread.
    static constexpr int maxConnections = 8;

signals:
    // A request arrived: file as decode gives it.
    void received(const QString& file);

private:
    void accept();
    void read(QLocalSocket* socket);

    QLocalServer server_;
    QHash<QLocalSocket*, QByteArray> pending_;
};
