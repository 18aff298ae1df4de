#include "web/WebServer.h"

#include <QWebSocket>

// The page's resources live in this static library: they are registered before first use.
static void InitPageResources() {
    Q_INIT_RESOURCE(page);
}

namespace torvane {

WebServer::WebServer(ControlPort& control, const QByteArray& token, bool english)
    : auth_(token),
      api_(control, auth_, english),
      live_(control, auth_),
      endpoint_([this](const WebRequest& request) { return api_.Handle(request); },
                [this](std::unique_ptr<QWebSocket> socket) { live_.Adopt(std::move(socket)); },
                "/api/v1/live") {
    InitPageResources();
}

bool WebServer::Start(const QHostAddress& address, quint16 port, QString& error) {
    return endpoint_.Listen(address, port, error);
}

}  // namespace torvane
