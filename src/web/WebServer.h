#pragma once

#include <QHostAddress>
#include <QString>
#include <memory>

#include "web/ControlPort.h"
#include "web/HttpEndpoint.h"
#include "web/LiveFeed.h"
#include "web/WebApi.h"
#include "web/WebAuth.h"

namespace torvane {

// The page, its API and its live updates on one port, over any view of the program.
class WebServer {
public:
    WebServer(ControlPort& control, const QByteArray& token, bool english);

    // False with the system's reason when the address or the port cannot be used.
    bool Start(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const { return endpoint_.Port(); }
    int LiveClients() const { return live_.ClientCount(); }

private:
    WebAuth auth_;
    WebApi api_;
    LiveFeed live_;
    HttpEndpoint endpoint_;
};

}  // namespace torvane
