#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "web/WebMessage.h"

class QWebSocket;

namespace torvane {

// The one place that uses Qt HttpServer (a technical preview in Qt 6.4): it listens, hands every
// request to one handler and writes its reply, and hands WebSocket upgrades over. Sockets are
// accepted through a GuardedTcpServer, so every client is held to the listener's limits.
class HttpEndpoint : public QObject {
public:
    using Handler = std::function<WebReply(const WebRequest&)>;
    using WebSocketHandler = std::function<void(std::unique_ptr<QWebSocket>)>;
    static constexpr int kMaxConnections = 32;

    // WebSockets are opened at `webSocketPath` only.
    HttpEndpoint(Handler handler, WebSocketHandler webSockets, QString webSocketPath,
                 QObject* parent = nullptr);
    ~HttpEndpoint() override;

    // False with the system's reason when the address or port cannot be used.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const;

private:
    class Server;
    std::unique_ptr<Server> server_;
};

}  // namespace torvane
