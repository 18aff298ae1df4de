#include "support/PostedMessageRecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "base/Logging.h"
#include "net/MyLapsMessage.h"

namespace torvane::test {
namespace {

void DeliverPostedEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);  // processEvents does not wait for events: do not spin the CPU
}

std::string TextOf(const PostedPayload* payload) {
    if (const auto* text = dynamic_cast<const TextPayload*>(payload)) return text->text;
    if (const auto* message = dynamic_cast<const MyLapsMessage*>(payload)) return message->text;
    return {};
}

}  // namespace

PostedMessageRecorder::PostedMessageRecorder() {
    DiscardPendingLogLines();
    SetMessageTarget(this);
}

PostedMessageRecorder::~PostedMessageRecorder() {
    SetMessageTarget(nullptr);
    // Lines logged for this recorder must not hold back the next one's.
    DiscardPendingLogLines();
}

bool PostedMessageRecorder::event(QEvent* event) {
    if (event->type() != PostedMessageEvent::Type()) return QObject::event(event);
    auto* posted = static_cast<PostedMessageEvent*>(event);
    if (posted->id == WM_LOG_LINE && !posted->lParam) {
        RecordPendingLogLines();
        return true;
    }
    Record record;
    record.id = posted->id;
    record.wParam = posted->wParam;
    record.text = TextOf(posted->lParam.get());
    record.payload = std::shared_ptr<PostedPayload>(std::move(posted->lParam));
    records_.push_back(std::move(record));
    return true;
}

// The log service posts one WM_LOG_LINE per burst of lines and keeps the lines themselves.
void PostedMessageRecorder::RecordPendingLogLines() {
    for (auto& [level, text] : TakePendingLogLines()) {
        records_.push_back(Record{WM_LOG_LINE, level, std::move(text), nullptr});
    }
}

std::vector<PostedMessageRecorder::Record> PostedMessageRecorder::RecordsOf(int id) const {
    std::vector<Record> found;
    for (const Record& record : records_) {
        if (record.id == id) found.push_back(record);
    }
    return found;
}

std::vector<std::intptr_t> PostedMessageRecorder::WParamsOf(int id) const {
    std::vector<std::intptr_t> found;
    for (const Record& record : records_) {
        if (record.id == id) found.push_back(record.wParam);
    }
    return found;
}

std::vector<std::string> PostedMessageRecorder::TextsOf(int id) const {
    std::vector<std::string> found;
    for (const Record& record : records_) {
        if (record.id == id) found.push_back(record.text);
    }
    return found;
}

std::size_t PostedMessageRecorder::CountOf(int id) const {
    std::size_t count = 0;
    for (const Record& record : records_) count += record.id == id ? 1 : 0;
    return count;
}

bool PostedMessageRecorder::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > timeoutMs) return done();
        DeliverPostedEvents();
    }
    return true;
}

bool PostedMessageRecorder::WaitForCount(int id, std::size_t count, int timeoutMs) {
    return WaitUntil([&] { return CountOf(id) >= count; }, timeoutMs);
}

void PostedMessageRecorder::DeliverFor(int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) DeliverPostedEvents();
}

}  // namespace torvane::test
