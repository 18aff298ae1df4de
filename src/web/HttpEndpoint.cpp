#include "web/HttpEndpoint.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QWebSocket>

#include "web/ConnectionGuard.h"

namespace torvane {
namespace {

QByteArray MethodText(QHttpServerRequest::Method method) {
    switch (method) {
        case QHttpServerRequest::Method::Get:
            return "GET";
        case QHttpServerRequest::Method::Post:
            return "POST";
        case QHttpServerRequest::Method::Put:
            return "PUT";
        case QHttpServerRequest::Method::Delete:
            return "DELETE";
        case QHttpServerRequest::Method::Head:
            return "HEAD";
        case QHttpServerRequest::Method::Options:
            return "OPTIONS";
        case QHttpServerRequest::Method::Patch:
            return "PATCH";
        default:
            return "OTHER";
    }
}

// Sends a stream in chunks as the client takes them: at most kWindow bytes wait in the socket,
// so a large export costs the same memory for a fast client and a slow one.
class ChunkedPump : public QObject {
public:
    static constexpr qint64 kChunk = 16 * 1024;
    static constexpr qint64 kWindow = 64 * 1024;

    ChunkedPump(QTcpSocket* socket, std::unique_ptr<QIODevice> stream)
        : QObject(socket), socket_(socket), stream_(std::move(stream)) {
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { Pump(); });
        Pump();
    }

private:
    void Pump() {
        while (socket_->bytesToWrite() < kWindow) {
            const QByteArray chunk = stream_->read(kChunk);
            if (chunk.isEmpty()) {
                if (!stream_->atEnd()) return;  // more later
                socket_->write("0\r\n\r\n");
                deleteLater();
                disconnect(socket_, nullptr, this, nullptr);
                return;
            }
            socket_->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
        }
    }

    QTcpSocket* socket_;
    std::unique_ptr<QIODevice> stream_;
};

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 409:
            return "Conflict";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// A whole answer as bytes, for one that is written after its request was handled.
QByteArray AnswerBytes(const WebReply& reply) {
    QByteArray bytes =
        "HTTP/1.1 " + QByteArray::number(reply.status) + " " + ReasonPhrase(reply.status) + "\r\n";
    for (const auto& [key, value] : reply.headers) bytes += key + ": " + value + "\r\n";
    return bytes + "Cache-Control: no-store\r\nContent-Type: " + reply.contentType +
           "\r\nContent-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n" + reply.body;
}

}  // namespace

class HttpEndpoint::Server : public QAbstractHttpServer {
public:
    Server(Handler handler, WebSocketHandler webSockets, QString webSocketPath)
        : handler_(std::move(handler)),
          webSockets_(std::move(webSockets)),
          webSocketPath_(std::move(webSocketPath)) {
        connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] {
            while (hasPendingWebSocketConnections()) webSockets_(nextPendingWebSocketConnection());
        });
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        // Qt HttpServer 6.4 hands a WebSocket upgrade over when this answers true without
        // writing anything; false answers it 404 (missingHandler) and closes.
        if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
            return request.url().path() == webSocketPath_;
        }
        WebRequest web;
        web.method = MethodText(request.method());
        web.path = request.url().path();
        web.query = request.query();
        web.headers = request.headers();
        web.body = request.body();
        web.peer = request.remoteAddress();
        WebReply reply = handler_(web);
        if (reply.deferred) {
            // The client may be gone when the answer comes: then it is dropped.
            reply.deferred([socket = QPointer<QTcpSocket>(socket)](WebReply answer) {
                if (socket) socket->write(AnswerBytes(answer));
            });
            return true;
        }

        QHttpServerResponder responder = makeResponder(request, socket);
        const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
        responder.writeStatusLine(status);
        for (const auto& [key, value] : reply.headers) responder.writeHeader(key, value);
        responder.writeHeader("Cache-Control", "no-store");
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("Content-Type", reply.contentType);
        if (reply.stream) {
            responder.writeHeader("Transfer-Encoding", "chunked");
            responder.writeBody("");
            new ChunkedPump(socket, std::move(reply.stream));
            return true;
        }
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        responder.writeBody(reply.body);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
    }

private:
    Handler handler_;
    WebSocketHandler webSockets_;
    QString webSocketPath_;
};

HttpEndpoint::HttpEndpoint(Handler handler, WebSocketHandler webSockets, QString webSocketPath,
                           QObject* parent)
    : QObject(parent),
      server_(std::make_unique<Server>(std::move(handler), std::move(webSockets),
                                       std::move(webSocketPath))) {}

HttpEndpoint::~HttpEndpoint() = default;

bool HttpEndpoint::Listen(const QHostAddress& address, quint16 port, QString& error) {
    auto tcp = std::make_unique<GuardedTcpServer>(kMaxConnections);
    if (!tcp->listen(address, port)) {
        error = tcp->errorString();
        return false;
    }
    server_->bind(tcp.release());  // the HTTP server owns it from now on
    return true;
}

quint16 HttpEndpoint::Port() const {
    const auto servers = server_->servers();
    return servers.isEmpty() ? 0 : servers.first()->serverPort();
}

}  // namespace torvane
