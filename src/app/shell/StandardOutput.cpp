#include "app/shell/StandardOutput.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "base/Texts.h"

namespace torvane {
namespace {

constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;
constexpr auto kFlushLimit = std::chrono::seconds(2);

void WriteAll(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t now = ::write(STDOUT_FILENO, bytes.data() + written, bytes.size() - written);
        if (now < 0 && errno == EINTR) continue;
        if (now <= 0) return;  // a reader that has gone: nothing more can be written
        written += static_cast<std::size_t>(now);
    }
}

// Lives for the whole process: its thread is never joined, so that a reader stuck for good
// cannot hold up the program's exit.
class QueuedOutput {
public:
    QueuedOutput() {
        std::thread([this] { Run(); }).detach();
    }

    void Write(const std::string& text) {
        {
            std::lock_guard lock(mutex_);
            if (queued_.size() + text.size() > kMaxQueuedBytes) {
                droppedBytes_ += text.size();
                return;
            }
            queued_ += text;
        }
        changed_.notify_all();
    }

    void Flush() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kFlushLimit, [this] { return queued_.empty() && !writing_; });
    }

private:
    void Run() {
        for (;;) {
            std::string bytes;
            std::size_t dropped = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !queued_.empty() || droppedBytes_ > 0; });
                bytes.swap(queued_);
                dropped = std::exchange(droppedBytes_, 0);
                writing_ = true;
            }
            if (dropped > 0) {
                bytes += Format(Tr("*** The output was read too slowly: %zu bytes were not "
                                   "written here (the log file has every line)\n",
                                   "*** La sortie était lue trop lentement : %zu octets n'ont pas "
                                   "été écrits ici (le fichier de traces a toutes les lignes)\n"),
                                dropped);
            }
            WriteAll(bytes);
            {
                std::lock_guard lock(mutex_);
                writing_ = false;
            }
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string queued_;
    std::size_t droppedBytes_ = 0;
    bool writing_ = false;
};

QueuedOutput* queuedOutput() {
    static const bool terminal = ::isatty(STDOUT_FILENO) != 0;
    if (terminal) return nullptr;
    static QueuedOutput* const queued = new QueuedOutput;
    return queued;
}

}  // namespace

void WriteStandardOutput(const std::string& text) {
    if (QueuedOutput* queued = queuedOutput()) {
        queued->Write(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void FlushStandardOutput() {
    if (QueuedOutput* queued = queuedOutput()) queued->Flush();
    std::fflush(stdout);
}

}  // namespace torvane
