#include "web/ConnectionGuard.h"

namespace torvane {
namespace {

constexpr int kTickMs = 1000;

// The length a request's header block announces, -1 when it has none.
qint64 ContentLength(const QByteArray& header) {
    for (const QByteArray& line : header.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 &&
            line.left(colon).trimmed().compare("content-length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 length = line.mid(colon + 1).trimmed().toLongLong(&ok);
            return ok ? length : std::numeric_limits<qint64>::max();
        }
    }
    return -1;
}

}  // namespace

ConnectionGuard::ConnectionGuard(QTcpSocket* socket) : QObject(socket), socket_(socket) {
    // Connected before the HTTP server's own handler, so this one sees each block first.
    readConnection_ = connect(socket, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        inRequest_ = false;
        sinceWriteProgress_.restart();
        sinceActivity_.restart();
    });
    connect(&tick_, &QTimer::timeout, this, [this] { OnTick(); });
    sinceActivity_.start();
    sinceWriteProgress_.start();
    tick_.start(kTickMs);
}

void ConnectionGuard::OnReadyRead() {
    if (refused_) {
        socket_->readAll();
        return;
    }
    sinceActivity_.restart();
    const qint64 fresh = socket_->bytesAvailable();
    if (!inRequest_) {
        inRequest_ = true;
        awaitingHeader_ = true;
        requestBytes_ = 0;
        header_.clear();
        sinceRequestStart_.restart();
    }
    requestBytes_ += fresh;
    if (awaitingHeader_) {
        header_ += socket_->peek(std::min(fresh, kMaxHeader + 4 - header_.size()));
        const int end = header_.indexOf("\r\n\r\n");
        if (end >= 0) {
            awaitingHeader_ = false;
            const qint64 length = ContentLength(header_.left(end));
            if (length > kMaxBody) return Refuse(413, "Payload Too Large");
            wholeRequestBytes_ = end + 4 + std::max<qint64>(length, 0);
        } else if (header_.size() > kMaxHeader) {
            return Refuse(431, "Request Header Fields Too Large");
        }
    }
    if (requestBytes_ > kMaxHeader + kMaxBody) return Refuse(413, "Payload Too Large");
    // A request that came whole is no slow client, however long its answer takes.
    if (!awaitingHeader_ && requestBytes_ >= wholeRequestBytes_) inRequest_ = false;
}

void ConnectionGuard::Refuse(int status, const char* reason) {
    refused_ = true;
    const QByteArray body = QByteArray("{\"ok\":false,\"error\":\"") + reason + "\"}";
    socket_->write("HTTP/1.1 " + QByteArray::number(status) + " " + reason +
                   "\r\nContent-Type: application/json\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    // What came is dropped here, so that the HTTP parser never reads it.
    socket_->readAll();
    socket_->disconnectFromHost();
}

void ConnectionGuard::OnTick() {
    if (!socket_ || !readConnection_) {
        tick_.stop();  // the socket is a WebSocket's now
        return;
    }
    if (socket_->bytesToWrite() > 0) {
        if (sinceWriteProgress_.elapsed() > kStalledWriteMs) socket_->abort();
        return;
    }
    if (refused_) return;
    if (inRequest_ && sinceRequestStart_.elapsed() > kRequestMs) {
        Refuse(408, "Request Timeout");
    } else if (sinceActivity_.elapsed() > kIdleMs) {
        socket_->disconnectFromHost();
    }
}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (open_ >= maxConnections_) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++open_;
    connect(socket, &QObject::destroyed, this, [this] { --open_; });
    new ConnectionGuard(socket);
    addPendingConnection(socket);
}

}  // namespace torvane
