#pragma once

#include <deque>
#include <string>
#include <utility>

namespace torvane {

class TextListModel;

// Shows and files the posted log lines, on the user-interface thread.
class LogService {
public:
    static constexpr int kFileLevel = 120;

    explicit LogService(TextListModel& logList) : logList_(logList) {}

    // Takes every line logged since the last call, in order (the WM_LOG_LINE handler).
    void DispatchPending();
    void Dispatch(int level, const std::string& text);

    int WindowLevel() const { return windowLevel_; }
    void SetWindowLevel(int level) { windowLevel_ = level; }

    // An observer of every line that reaches the window (the headless front-end prints them).
    using LineObserver = void (*)(void* context, const std::string& shownLine);
    void SetShownLineObserver(LineObserver observer, void* context) {
        observer_ = observer;
        observerContext_ = context;
    }

    // The newest lines shown, with their levels (the web page's log).
    static constexpr std::size_t kRecentLines = 500;
    const std::deque<std::pair<int, std::string>>& RecentLines() const { return recent_; }

private:
    TextListModel& logList_;
    std::deque<std::pair<int, std::string>> recent_;
    int windowLevel_ = 50;
    LineObserver observer_ = nullptr;
    void* observerContext_ = nullptr;
};

}  // namespace torvane
