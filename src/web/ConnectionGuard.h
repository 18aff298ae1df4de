#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace torvane {

// The listener's rules for web clients, applied to the socket before the HTTP parser reads it:
// a request whose body is over 64 KiB is answered 413 at once, a request that does not arrive
// whole within 10 s (one byte a second) gets 408, a client that takes nothing of an answer for
// 20 s or stays idle for 60 s is cut off. Once a socket becomes a WebSocket its guard steps
// aside (the WebSocket has its own bounds).
class ConnectionGuard : public QObject {
public:
    static constexpr qint64 kMaxBody = 64 * 1024;
    static constexpr qint64 kMaxHeader = 16 * 1024;
    static constexpr qint64 kRequestMs = 10 * 1000;
    static constexpr qint64 kStalledWriteMs = 20 * 1000;
    static constexpr qint64 kIdleMs = 60 * 1000;

    explicit ConnectionGuard(QTcpSocket* socket);

private:
    void OnReadyRead();
    void OnTick();
    void Refuse(int status, const char* reason);

    QPointer<QTcpSocket> socket_;
    QMetaObject::Connection readConnection_;
    QTimer tick_;
    QElapsedTimer sinceActivity_;
    QElapsedTimer sinceRequestStart_;
    QElapsedTimer sinceWriteProgress_;
    QByteArray header_;  // the current request's header block, as far as it came
    qint64 requestBytes_ = 0;
    qint64 wholeRequestBytes_ = 0;  // the header block and the body it announces
    bool inRequest_ = false;
    bool awaitingHeader_ = true;
    bool refused_ = false;
};

// A TCP server whose connections each get a guard, and no more than `maxConnections` at once.
class GuardedTcpServer : public QTcpServer {
public:
    explicit GuardedTcpServer(int maxConnections, QObject* parent = nullptr)
        : QTcpServer(parent), maxConnections_(maxConnections) {}

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    int maxConnections_;
    int open_ = 0;
};

}  // namespace torvane
