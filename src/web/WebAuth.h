#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <cstdint>
#include <deque>
#include <map>

#include "web/WebMessage.h"

namespace torvane {

// Who may use the API: the token in an "Authorization: Bearer" header, or the session cookie
// that the page's login sets (never the token in the URL). Texts are compared in constant time.
// A refused address is logged once a minute, not once per request.
class WebAuth {
public:
    static constexpr const char* kCookie = "torvane_session";
    static constexpr std::size_t kMaxSessions = 64;
    static constexpr std::size_t kMaxTickets = 64;
    static constexpr std::int64_t kTicketMs = 30 * 1000;

    explicit WebAuth(QByteArray token) : token_(std::move(token)) {}

    bool Accepts(const WebRequest& request) const;
    bool IsToken(const QByteArray& offered) const { return SameText(offered, token_); }
    // A new session for the page's cookie (the oldest is forgotten past kMaxSessions).
    QByteArray NewSession();
    // A one-time ticket that opens the live updates within kTicketMs.
    QByteArray NewTicket(std::int64_t nowMs);
    bool TakeTicket(const QByteArray& ticket, std::int64_t nowMs);
    // True when this refusal is the first from that address for a minute (it is then logged).
    bool ShouldLogRefusal(const QHostAddress& peer, std::int64_t nowMs);

    static bool SameText(const QByteArray& a, const QByteArray& b);

private:
    bool HasSession(const QByteArray& session) const;

    QByteArray token_;
    std::deque<QByteArray> sessions_;
    std::deque<std::pair<QByteArray, std::int64_t>> tickets_;
    std::map<QString, std::int64_t> refusals_;  // address -> when it was last logged
};

QByteArray RandomHex(int bytes);

}  // namespace torvane
