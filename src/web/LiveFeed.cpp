#include "web/LiveFeed.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QWebSocket>

#include "base/Clock.h"

namespace torvane {
namespace {

constexpr int kKeepAliveTicks = 60;  // a state every 15 s even when nothing changes
constexpr qint64 kMaxIncoming = 1024;

}  // namespace

struct LiveFeed::Client {
    std::unique_ptr<QWebSocket> socket;
    bool admitted = false;
    QElapsedTimer since;
};

LiveFeed::LiveFeed(ControlPort& control, WebAuth& auth) : control_(control), auth_(auth) {
    connect(&tick_, &QTimer::timeout, this, [this] { OnTick(); });
}

LiveFeed::~LiveFeed() {
    for (auto& client : clients_) client->socket->disconnect(this);
}

void LiveFeed::Adopt(std::unique_ptr<QWebSocket> socket) {
    if (!socket) return;
    if (static_cast<int>(clients_.size()) >= kMaxClients) {
        socket->close(static_cast<QWebSocketProtocol::CloseCode>(1013), "too many pages");
        socket.release()->deleteLater();
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncoming);
    QWebSocket* raw = socket.get();
    connect(raw, &QWebSocket::textMessageReceived, this, [this, raw](const QString& text) {
        for (auto& client : clients_) {
            if (client->socket.get() != raw || client->admitted) continue;
            if (!auth_.TakeTicket(text.toUtf8(), clock::NowMs())) {
                raw->close(QWebSocketProtocol::CloseCodePolicyViolated, "bad ticket");
                return;
            }
            client->admitted = true;
            last_.clear();  // the new page gets the state at the next tick
        }
    });
    connect(raw, &QWebSocket::disconnected, this, [this, raw] { Drop(raw); });
    auto client = std::make_unique<Client>();
    client->socket = std::move(socket);
    client->since.start();
    clients_.push_back(std::move(client));
    if (!tick_.isActive()) tick_.start(kTickMs);
}

void LiveFeed::Drop(QWebSocket* socket) {
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if ((*it)->socket.get() == socket) {
            (*it)->socket->disconnect(this);
            (*it)->socket.release()->deleteLater();
            clients_.erase(it);
            break;
        }
    }
    if (clients_.empty()) tick_.stop();
}

void LiveFeed::OnTick() {
    std::vector<QWebSocket*> late;
    bool anyAdmitted = false;
    for (auto& client : clients_) {
        if (!client->admitted && client->since.elapsed() > kTicketWaitMs) {
            late.push_back(client->socket.get());
        }
        anyAdmitted |= client->admitted;
    }
    for (QWebSocket* socket : late) {
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, "no ticket");
        Drop(socket);
    }
    if (!anyAdmitted) return;
    QJsonObject state{{"newest", static_cast<qint64>(control_.NewestSeq())},
                      {"status", control_.Status()}};
    const QByteArray text = QJsonDocument(state).toJson(QJsonDocument::Compact);
    if (text == last_ && ++ticksSinceSend_ < kKeepAliveTicks) return;
    last_ = text;
    ticksSinceSend_ = 0;
    const QString message = QString::fromUtf8(text);
    for (auto& client : clients_) {
        // A page that has not taken what it was sent skips this state; it gets a later one.
        if (client->admitted && client->socket->bytesToWrite() < kMaxUnsent) {
            client->socket->sendTextMessage(message);
        }
    }
}

}  // namespace torvane
