#include "base/PostedMessage.h"

#include <QCoreApplication>
#include <QPointer>
#include <deque>
#include <mutex>

namespace torvane {
namespace {

struct QueuedMessage {
    int id;
    std::intptr_t wParam;
    std::unique_ptr<PostedPayload> lParam;
};

// Hands the queued messages to the target, one by one and in order, on the target's thread.
class MessageQueueDrainer : public QObject {
public:
    static QEvent::Type DrainType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    bool event(QEvent* event) override;
};

// Messages wait in one queue, in the order they were posted; only the first of a burst asks the
// event loop for a pass (one wake-up of the user-interface thread, a system call, per burst
// rather than per message). Guarded by targetMutex.
std::mutex targetMutex;
QObject* messageTarget = nullptr;
std::deque<QueuedMessage> queued;
QPointer<MessageQueueDrainer> drainer;  // lives in the application's thread

// Used on the target's thread only.
std::function<void()> burstEndHandler;

void EndBurst() {
    if (burstEndHandler) burstEndHandler();
}

void RequestDrain() {
    if (drainer) {
        QCoreApplication::postEvent(drainer, new QEvent(MessageQueueDrainer::DrainType()));
    }
}

// Delivers at most `limit` messages. Each is taken from the queue only when its turn comes, so a
// handler that runs a nested event loop sees the following messages still in order.
void DeliverQueued(std::size_t limit) {
    for (std::size_t delivered = 0; delivered < limit; ++delivered) {
        QueuedMessage message;
        QObject* target = nullptr;
        {
            std::lock_guard lock(targetMutex);
            if (queued.empty()) return;
            message = std::move(queued.front());
            queued.pop_front();
            target = messageTarget;
        }
        PostedMessageEvent event(message.id, message.wParam, std::move(message.lParam));
        QCoreApplication::sendEvent(target, &event);
    }
    std::lock_guard lock(targetMutex);
    if (!queued.empty()) RequestDrain();
}

bool MessageQueueDrainer::event(QEvent* event) {
    if (event->type() != DrainType()) return QObject::event(event);
    std::size_t waiting = 0;
    {
        std::lock_guard lock(targetMutex);
        waiting = queued.size();
    }
    // What arrives meanwhile waits for the next pass: timers and repaints get their turn.
    DeliverQueued(waiting);
    if (waiting > 0) EndBurst();
    return true;
}

}  // namespace

PostedMessageEvent::PostedMessageEvent(int id_, std::intptr_t wParam_,
                                       std::unique_ptr<PostedPayload> lParam_)
    : QEvent(Type()), id(id_), wParam(wParam_), lParam(std::move(lParam_)) {}

QEvent::Type PostedMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void SetMessageTarget(QObject* target) {
    std::deque<QueuedMessage> dropped;
    {
        std::lock_guard lock(targetMutex);
        if (messageTarget != target) dropped.swap(queued);
        messageTarget = target;
        if (target && !drainer) {
            drainer = new MessageQueueDrainer;
            drainer->moveToThread(target->thread());
        }
    }
    // The payloads of messages no handler will take are released outside the lock.
}

bool MessageTargetExists() {
    std::lock_guard lock(targetMutex);
    return messageTarget != nullptr;
}

bool PostToTarget(int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> lParam) {
    std::lock_guard lock(targetMutex);
    if (!messageTarget) return false;
    queued.push_back({id, wParam, std::move(lParam)});
    if (queued.size() == 1) RequestDrain();
    return true;
}

void DeliverPostedMessages() {
    DeliverQueued(static_cast<std::size_t>(-1));
    EndBurst();
}

void SetBurstEndHandler(std::function<void()> handler) {
    burstEndHandler = std::move(handler);
}

}  // namespace torvane
