#pragma once

// Recording stand-ins for the operator ports and the window timers, shared by core and ui tests.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "state/OperatorPorts.h"
#include "state/TimerService.h"

namespace torvane::test {

class ScriptedDialogs : public OperatorDialogs {
public:
    bool AskYesNo(const std::string& text) override { return Answer(text); }
    bool AskOkCancel(const std::string& text) override { return Answer(text); }
    void ShowMessage(const std::string& text, MessageIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }

    std::deque<bool> answers;           // next answers; "yes" when none is left
    std::function<void()> whileAsking;  // what happens while the operator thinks
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<MessageIcon> icons;

private:
    bool Answer(const std::string& text) {
        questions.push_back(text);
        if (whileAsking) whileAsking();
        if (answers.empty()) return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class RecordingStatus : public StatusDisplay {
public:
    struct Balloon {
        int iconId;
        std::string text;
    };
    void SetTrayStatus(int iconId, const std::string& tip) override {
        trayIcon = iconId;
        trayTip = tip;
        ++trayUpdates;
    }
    void ShowTrayBalloon(int iconId, const std::string& text) override {
        balloons.push_back({iconId, text});
    }
    void PlayWaveResource(int soundId) override { sounds.push_back(soundId); }
    void ShowDayOffset(int daysToAdd) override { dayOffset = daysToAdd; }
    void SetInsertButtonEnabled(bool enabled) override { insertEnabled = enabled; }
    void ShowWaitingDetections(std::size_t count) override { waitingShown.push_back(count); }

    int trayIcon = -1;
    std::string trayTip;
    int trayUpdates = 0;
    std::vector<Balloon> balloons;
    std::vector<int> sounds;
    int dayOffset = -1;
    std::optional<bool> insertEnabled;
    std::vector<std::size_t> waitingShown;
};

class ScriptedManualInput : public ManualDetectionInput {
public:
    std::optional<ManualDetection> AskManualDetection(
        const std::vector<std::string>& detectors) override {
        offered = detectors;
        ++asked;
        if (delegate) return delegate->AskManualDetection(detectors);
        return next;
    }
    std::optional<ManualDetection> next;
    ManualDetectionInput* delegate = nullptr;  // answers instead of `next` when set
    std::vector<std::string> offered;
    int asked = 0;
};

// Window timers on a virtual clock: Advance() fires what falls due, in time order.
class FakeTimers : public TimerService {
public:
    void SetTimer(int id, int intervalMs) override {
        timers_[id] = {intervalMs, now_ + intervalMs};
    }
    void KillTimer(int id) override { timers_.erase(id); }
    bool IsTimerActive(int id) const override { return timers_.count(id) != 0; }

    void Advance(long long ms) {
        const long long end = now_ + ms;
        for (;;) {
            int nextId = 0;
            long long nextDue = end + 1;
            for (const auto& [id, timer] : timers_) {
                if (timer.due < nextDue) {
                    nextDue = timer.due;
                    nextId = id;
                }
            }
            if (nextDue > end) break;
            now_ = nextDue;
            timers_[nextId].due += timers_[nextId].interval;
            Fire(nextId);
        }
        now_ = end;
    }
    long long Now() const { return now_; }

private:
    struct Timer {
        int interval;
        long long due;
    };
    std::map<int, Timer> timers_;
    long long now_ = 0;
};

}  // namespace torvane::test
