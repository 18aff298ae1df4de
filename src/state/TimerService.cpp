#include "state/TimerService.h"

namespace torvane {

void QtTimerService::SetTimer(int id, int intervalMs) {
    auto& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, [this, id] { Fire(id); });
    }
    timer->start(intervalMs);
}

void QtTimerService::KillTimer(int id) {
    if (auto it = timers_.find(id); it != timers_.end()) it->second->stop();
}

bool QtTimerService::IsTimerActive(int id) const {
    const auto it = timers_.find(id);
    return it != timers_.end() && it->second->isActive();
}

}  // namespace torvane
