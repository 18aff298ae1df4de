#include "app/PostedMessage.h"

#include <QCoreApplication>
#include <mutex>

namespace torvane {
namespace {

std::mutex targetMutex;
QObject* messageTarget = nullptr;

}  // namespace

PostedMessageEvent::PostedMessageEvent(int id_, std::intptr_t wParam_,
                                       std::unique_ptr<PostedPayload> lParam_)
    : QEvent(Type()), id(id_), wParam(wParam_), lParam(std::move(lParam_)) {}

QEvent::Type PostedMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void SetMessageTarget(QObject* target) {
    std::lock_guard lock(targetMutex);
    if (messageTarget && messageTarget != target) {
        QCoreApplication::removePostedEvents(messageTarget, PostedMessageEvent::Type());
    }
    messageTarget = target;
}

bool MessageTargetExists() {
    std::lock_guard lock(targetMutex);
    return messageTarget != nullptr;
}

bool PostToTarget(int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> lParam) {
    std::lock_guard lock(targetMutex);
    if (!messageTarget) return false;
    QCoreApplication::postEvent(messageTarget,
                                new PostedMessageEvent(id, wParam, std::move(lParam)));
    return true;
}

}  // namespace torvane
