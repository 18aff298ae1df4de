#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "web/ControlPort.h"
#include "web/WebAuth.h"

class QWebSocket;

namespace torvane {

// The live updates of open pages over WebSockets. A page opens the socket and sends the ticket
// it got from the API; four times a second each page is sent the status with the newest
// detection's number when they changed, and the page fetches what it lacks. Every message is a
// whole state, so one that a slow page has not taken yet is replaced, never queued: a page
// costs the same memory whatever the rate of passings.
class LiveFeed : public QObject {
public:
    static constexpr int kMaxClients = 16;
    static constexpr int kTickMs = 250;
    static constexpr qint64 kMaxUnsent = 64 * 1024;
    static constexpr qint64 kTicketWaitMs = 5000;

    LiveFeed(ControlPort& control, WebAuth& auth);
    ~LiveFeed() override;

    void Adopt(std::unique_ptr<QWebSocket> socket);
    int ClientCount() const { return static_cast<int>(clients_.size()); }

private:
    struct Client;
    void OnTick();
    void Drop(QWebSocket* socket);

    ControlPort& control_;
    WebAuth& auth_;
    QTimer tick_;
    QByteArray last_;
    int ticksSinceSend_ = 0;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace torvane
