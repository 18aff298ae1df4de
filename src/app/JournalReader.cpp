#include "app/JournalReader.h"

namespace torvane {

JournalReader::JournalReader() : windowContext_(std::make_unique<QObject>()) {}

JournalReader::~JournalReader() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void JournalReader::Run(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    // The thread starts with the first task: a run without export or replay has none.
    if (!thread_.joinable()) thread_ = std::thread(&JournalReader::Loop, this);
    wake_.notify_all();
}

void JournalReader::Loop() {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task(stopping_);
    }
}

void JournalReader::OnWindowThread(std::function<void()> work) {
    QMetaObject::invokeMethod(windowContext_.get(), std::move(work), Qt::QueuedConnection);
}

bool JournalReader::OnWindowThreadAndWait(std::function<void()> work) {
    std::uint64_t target = 0;
    {
        std::lock_guard lock(mutex_);
        target = handedOver_ + 1;
    }
    OnWindowThread([this, work = std::move(work)] {
        work();
        {
            std::lock_guard lock(mutex_);
            ++handedOver_;
        }
        wake_.notify_all();
    });
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stopping_ || handedOver_ >= target; });
    return !stopping_;
}

}  // namespace torvane
