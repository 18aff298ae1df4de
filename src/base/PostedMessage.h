#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The posting layer: worker threads and the log service hand everything to the user-interface
// thread as posted messages (id, wParam, lParam), received and routed by one target object.
namespace torvane {

enum MessageId : int {
    WM_USER = 0x400,
    WM_HOST_LINE = 0x402,
    WM_HOST_LINK_STATE = 0x403,
    WM_HOST_DELIVERED = 0x404,  // wParam: every tracked host line up to this number has arrived
    WM_HOST_RESET = 0x405,      // lParam RunPayload: that run's link ended with a reset by the host
    WM_LOG_LINE = 0x427,
    WM_MYLAPS_CONNECTION = 0x5F8,
    WM_MYLAPS_MESSAGE = 0x5F9,
};

// A heap object carried in lParam; it belongs to the receiver once posted.
struct PostedPayload {
    virtual ~PostedPayload() = default;
};

struct TextPayload : PostedPayload {
    explicit TextPayload(std::string t) : text(std::move(t)) {}
    std::string text;
};

// Which run of a link a notice comes from.
struct RunPayload : PostedPayload {
    explicit RunPayload(std::uint64_t r) : run(r) {}
    std::uint64_t run;
};

class PostedMessageEvent : public QEvent {
public:
    PostedMessageEvent(int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> lParam);
    static QEvent::Type Type();

    int id;
    std::intptr_t wParam;
    std::unique_ptr<PostedPayload> lParam;
};

// The target receives every posted message; "the activity window exists" while one is set.
void SetMessageTarget(QObject* target);
bool MessageTargetExists();

// Posts to the target from any thread; returns false (and drops the payload) when there is none.
// Messages reach the target in the order they were posted, each as a PostedMessageEvent sent
// on the target's thread from the event loop; a burst of them costs one pass of the loop.
bool PostToTarget(int id, std::intptr_t wParam, std::unique_ptr<PostedPayload> lParam = nullptr);
// Hands every message still waiting to the target now, on the calling (target's) thread.
void DeliverPostedMessages();

// Called on the target's thread after each pass that delivered messages: what a burst of
// messages produced can be finished together (one disk flush for all of them).
void SetBurstEndHandler(std::function<void()> handler);

}  // namespace torvane
