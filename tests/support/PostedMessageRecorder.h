#pragma once

// A stand-in for the activity window in tests: it becomes the target of the posting layer and
// records every posted message in arrival order. Waits pump the Qt event loop (posted events
// included) until a condition holds or a deadline passes, so a test never sleeps blindly.
//
//   PostedMessageRecorder recorder;                       // now the message target
//   ... start something that posts from another thread ...
//   ASSERT_TRUE(recorder.WaitForCount(WM_HOST_LINK_STATE, 2));
//   EXPECT_EQ(recorder.WParamsOf(WM_HOST_LINK_STATE), (std::vector<std::intptr_t>{1, 2}));
//
// Log lines are recorded one per line as WM_LOG_LINE records (wParam the level, text the line),
// also where the log service posts one message for a burst of lines.
//
// The destructor clears the target (pending messages to it are dropped). Only one recorder
// should exist at a time, since the posting layer has one target.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/PostedMessage.h"

namespace torvane::test {

class PostedMessageRecorder : public QObject {
public:
    struct Record {
        int id = 0;
        std::intptr_t wParam = 0;
        std::string text;  // the text of a TextPayload or MyLapsMessage payload, else empty
        std::shared_ptr<PostedPayload> payload;  // null when none was posted
    };

    PostedMessageRecorder();
    ~PostedMessageRecorder() override;

    const std::vector<Record>& Records() const { return records_; }
    std::vector<Record> RecordsOf(int id) const;
    std::vector<std::intptr_t> WParamsOf(int id) const;
    std::vector<std::string> TextsOf(int id) const;
    std::size_t CountOf(int id) const;
    void Clear() { records_.clear(); }

    // The payload of a record as T, or null when it is none or another type.
    template <typename T>
    static T* PayloadAs(const Record& record) {
        return dynamic_cast<T*>(record.payload.get());
    }

    // Delivers posted messages until done() holds or timeoutMs passes; returns done().
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
    // Waits until at least count messages with this id have arrived.
    bool WaitForCount(int id, std::size_t count, int timeoutMs = 5000);
    // Delivers posted messages for a while (to check that nothing more arrives).
    void DeliverFor(int ms);

protected:
    bool event(QEvent* event) override;

private:
    void RecordPendingLogLines();

    std::vector<Record> records_;
};

}  // namespace torvane::test
