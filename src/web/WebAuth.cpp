#include "web/WebAuth.h"

#include <QRandomGenerator>
#include <algorithm>

namespace torvane {
namespace {

constexpr std::int64_t kRefusalLogMs = 60 * 1000;
constexpr std::size_t kMaxRefusalAddresses = 1024;

QByteArray CookieValue(const QByteArray& header, const QByteArray& name) {
    for (const QByteArray& part : header.split(';')) {
        const QByteArray pair = part.trimmed();
        if (pair.startsWith(name + "=")) return pair.mid(name.size() + 1);
    }
    return {};
}

}  // namespace

QByteArray RandomHex(int bytes) {
    QByteArray raw(bytes, '\0');
    // The system's random source (getrandom), as for any secret.
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

bool WebAuth::SameText(const QByteArray& a, const QByteArray& b) {
    // Every byte is looked at whatever differs, so the time says nothing of the token.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const qsizetype length = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char x = i < a.size() ? a[i] : 0;
        const unsigned char y = i < b.size() ? b[i] : 0;
        difference |= x ^ y;
    }
    return difference == 0 && !b.isEmpty();
}

bool WebAuth::HasSession(const QByteArray& session) const {
    bool found = false;
    for (const QByteArray& known : sessions_) found |= SameText(session, known);
    return found;
}

bool WebAuth::Accepts(const WebRequest& request) const {
    const QByteArray authorization = request.Header("authorization");
    if (authorization.startsWith("Bearer ")) return IsToken(authorization.mid(7).trimmed());
    const QByteArray session = CookieValue(request.Header("cookie"), kCookie);
    return !session.isEmpty() && HasSession(session);
}

QByteArray WebAuth::NewSession() {
    if (sessions_.size() >= kMaxSessions) sessions_.pop_front();
    sessions_.push_back(RandomHex(16));
    return sessions_.back();
}

QByteArray WebAuth::NewTicket(std::int64_t nowMs) {
    if (tickets_.size() >= kMaxTickets) tickets_.pop_front();
    tickets_.emplace_back(RandomHex(16), nowMs);
    return tickets_.back().first;
}

bool WebAuth::TakeTicket(const QByteArray& ticket, std::int64_t nowMs) {
    for (auto it = tickets_.begin(); it != tickets_.end(); ++it) {
        if (SameText(ticket, it->first)) {
            const bool fresh = nowMs - it->second <= kTicketMs;
            tickets_.erase(it);
            return fresh;
        }
    }
    return false;
}

bool WebAuth::ShouldLogRefusal(const QHostAddress& peer, std::int64_t nowMs) {
    if (refusals_.size() > kMaxRefusalAddresses) {
        std::erase_if(refusals_,
                      [nowMs](const auto& entry) { return nowMs - entry.second >= kRefusalLogMs; });
    }
    const QString address = peer.toString();
    const auto found = refusals_.find(address);
    if (found != refusals_.end() && nowMs - found->second < kRefusalLogMs) return false;
    refusals_[address] = nowMs;
    return true;
}

}  // namespace torvane
