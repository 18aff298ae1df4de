#pragma once

#include "app/JournalActions.h"
#include "web/ControlPort.h"
#include "web/JournalView.h"

namespace torvane {

class Core;

// The web API's view of the running program: the core's state, lists and commands, and the
// journal through a reader of its own.
class CoreControl : public ControlPort {
public:
    explicit CoreControl(Core& core);

    QJsonObject Status() override;
    std::int64_t NewestSeq() override { return journal_.NewestSeq(); }
    std::optional<QJsonArray> Detections(std::optional<std::int64_t> after, int limit,
                                         QString& error) override;
    QJsonArray Results(int limit) override;
    QJsonArray LogLines(int limit, int level) override;
    std::unique_ptr<QIODevice> ExportCsv(QString& error) override;

    Outcome SetFlow(bool open) override;
    void Replay(const std::string& from, const std::optional<std::string>& to,
                std::function<void(Outcome)> done) override;
    Outcome Reload() override;
    Outcome Disconnect() override;
    Outcome ResendUnknown() override;
    Outcome NewRace() override;

private:
    Core& core_;
    JournalView journal_;
    JournalActions actions_;  // last: its reader thread stops first
};

}  // namespace torvane
