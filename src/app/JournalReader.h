#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace torvane {

// A thread of its own for the operator's long reads of the journal (export, replay), so that
// the window thread goes on acknowledging while they run. Tasks run one at a time in the order
// given; a task hands its results to the window thread with OnWindowThread. Created, used and
// destroyed on the window thread; the destruction stops the running task at its next chunk and
// waits for it, and what it had queued for the window thread is dropped.
class JournalReader {
public:
    using Task = std::function<void(const std::atomic<bool>& stopping)>;

    JournalReader();
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    void Run(Task task);

    // From a task: runs `work` on the window thread, after what is already queued there.
    void OnWindowThread(std::function<void()> work);
    // From a task: runs `work` on the window thread and waits until it is done; false (work
    // perhaps never run) when the reader is being stopped.
    bool OnWindowThreadAndWait(std::function<void()> work);

private:
    void Loop();

    std::unique_ptr<QObject> windowContext_;  // lives on the window thread
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards tasks_ and handedOver_
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    std::uint64_t handedOver_ = 0;  // window-thread works done
    std::thread thread_;
};

}  // namespace torvane
