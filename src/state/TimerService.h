#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

namespace torvane {

inline constexpr int kRaceDayTimer = 33861;
inline constexpr int kQueryTimer = 34146;
inline constexpr int kReconnectTimer = 34160;
inline constexpr int kHostLingerTimer = 34161;

// Window-style timers: SetTimer(id, ms) (re)starts a periodic timer, KillTimer stops it; each
// expiry calls the handler with the id.
class TimerService {
public:
    virtual ~TimerService() = default;
    virtual void SetTimer(int id, int intervalMs) = 0;
    virtual void KillTimer(int id) = 0;
    virtual bool IsTimerActive(int id) const = 0;
    void SetHandler(std::function<void(int)> handler) { handler_ = std::move(handler); }

protected:
    void Fire(int id) {
        if (handler_) handler_(id);
    }

private:
    std::function<void(int)> handler_;
};

class QtTimerService : public TimerService {
public:
    void SetTimer(int id, int intervalMs) override;
    void KillTimer(int id) override;
    bool IsTimerActive(int id) const override;

private:
    std::map<int, std::unique_ptr<QTimer>> timers_;
};

}  // namespace torvane
